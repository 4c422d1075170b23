// The position cache: cached searches agree with uncached ones on generated
// pages, answer repeated questions from the cache, and are replaced by the
// bulk load of a full parse.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <utility>
#include <vector>
#include <string>

#include "html/element.h"
#include "html/nearby_lower_bound.h"
#include "html/position_cache.h"
#include "html/tag.h"
#include "html/tag_types.h"
#include "html_test_util.h"

using hxtest::Page;

namespace {

// A random page of markup pieces; with bWellFormed no '<' appears inside
// attribute values or declarations, so a full parse and on-demand searches
// see the same tags.
// With bEndTagsInValues, end tags also appear inside attribute values.
std::string GeneratePage(std::mt19937& rng, int nPieces, bool bWellFormed, bool bEndTagsInValues = false) {
  static const char* const kNames[] = {"div", "span", "p",  "td", "tr",   "table", "a",
                                       "b",   "li",   "ul", "x:y", "head", "html"};
  std::string s;
  for (int i = 0; i < nPieces; ++i) {
    const std::string name = kNames[rng() % (sizeof(kNames) / sizeof(kNames[0]))];
    switch (rng() % (bWellFormed ? 9 : (bEndTagsInValues ? 15 : 13))) {
      case 0: s += "<" + name + ">"; break;
      case 1: s += "<" + name + " id=i" + std::to_string(rng() % 20) + " class='c d'>"; break;
      case 2: s += "</" + name + ">"; break;
      case 3: s += "text " + std::to_string(i) + " "; break;
      case 4: s += "<!-- c " + std::to_string(i) + " -->"; break;
      case 5: s += "<% s %>"; break;
      case 6: s += "<br/>"; break;
      case 7: s += "<![cdata[ x ]]>"; break;
      case 8: s += "< notatag >"; break;
      case 9: s += "<a title=\"<b>\">"; break;
      case 10: s += "<!-- <p> -->"; break;
      case 11: s += "<" + name; break;
      case 12: s += "</" + name + " >"; break;
      case 13: s += "<" + name + " title=\"</" + name + ">\">"; break;
      default: s += "<" + name + " title='</" + name + "></" + name + ">'>in</" + name + ">"; break;
    }
  }
  return s;
}

struct Key {
  HXPos b = HX_NPOS, e = HX_NPOS;
  bool operator==(const Key&) const = default;
};
Key K(const CSegment* p) { return p != nullptr ? Key{p->getBegin(), p->getEnd()} : Key{}; }

void CompareSearches(const std::string& sHtml, std::mt19937& rng, bool bFullParseFirst) {
  Page cached(sHtml);
  Page uncached(sHtml);
  uncached.src()->setUseCaches(false);
  if (bFullParseFirst) cached.src()->fullSequentialParse();
  CSource* c = cached.src();
  CSource* u = uncached.src();
  CStartTagType* pComment = CStartTagTypeSingletonData::getInstance()->m_pComment;
  CEndTagType* pEnd = CEndTagTypeSingletonData::getInstance()->m_pNormal;
  const HXPos nBegin = cached.nHtmlBegin;
  const HXPos nEnd = c->getEnd();
  for (int q = 0; q < 400; ++q) {
    const HXPos p = nBegin + rng() % (nEnd - nBegin + 2);
    const bool bPrev = rng() % 2 == 0;
    ASSERT_EQ(K(CTag::findPreviousOrNextTag(c, p, bPrev)), K(CTag::findPreviousOrNextTag(u, p, bPrev)))
        << "any-type search at " << p << " prev " << bPrev << " page " << sHtml;
    ASSERT_EQ(K(CTag::findPreviousOrNextTag(c, p, pComment, bPrev)), K(CTag::findPreviousOrNextTag(u, p, pComment, bPrev)))
        << "comment search at " << p;
    ASSERT_EQ(K(CTag::getTagAt(c, p)), K(CTag::getTagAt(u, p))) << "tag at " << p;
    // Searches that stop short of the page's end share the memos with those
    // that run to it.
    const HXPos nLimit = p + (q % 5) * 24;
    ASSERT_EQ(K(c->findNextStartTag(p, ci_string("td"), nLimit)), K(u->findNextStartTag(p, ci_string("td"), nLimit)));
    ASSERT_EQ(K(c->findNextStartTag(p, ci_string("td"))), K(u->findNextStartTag(p, ci_string("td"))));
    ASSERT_EQ(K(CEndTag::findPreviousOrNext(c, p, ci_string("div"), pEnd, bPrev)),
              K(CEndTag::findPreviousOrNext(u, p, ci_string("div"), pEnd, bPrev)));
    const ci_string id = ToCI("i" + std::to_string(rng() % 20));
    ASSERT_EQ(K(c->findNextStartTag(p, ci_string("id"), id, true)), K(u->findNextStartTag(p, ci_string("id"), id, true)));
  }
  // Elements are matched with the same end tags.
  for (CStartTag* s = c->findNextStartTag(nBegin); s != nullptr; s = c->findNextStartTag(s->getEnd())) {
    CTag* t = u->getTagAt(s->getBegin());
    ASSERT_NE(t, nullptr);
    ASSERT_EQ(K(s->getElement()), K(t->getElement())) << "element at " << s->getBegin();
  }
}

}  // namespace

TEST(PositionCache, CachedAndUncachedSearchesAgreeOnGeneratedPages) {
  std::mt19937 rng(4711);
  for (int round = 0; round < 60; ++round) {
    CompareSearches(GeneratePage(rng, 10 + round * 3, false), rng, false);
  }
}

TEST(PositionCache, FullParseAndUncachedSearchesAgreeOnWellFormedPages) {
  std::mt19937 rng(815);
  for (int round = 0; round < 30; ++round) {
    CompareSearches(GeneratePage(rng, 20 + round * 5, true), rng, true);
  }
}

// Walks jump over runs of unregistered tags (end tags with attributes) that
// earlier walks passed; tags found or remembered later inside or beside such
// runs must still be met.
TEST(PositionCache, SearchesOverRunsOfUnregisteredTagsAgreeWithUncachedOnes) {
  std::mt19937 rng(1919);
  for (int round = 0; round < 40; ++round) {
    std::string sHtml;
    for (int i = 0; i < 10 + round * 2; ++i) {
      sHtml += rng() % 3 != 0 ? std::string(rng() % 2 != 0 ? "</b x='>'" : "</td x=1>") : GeneratePage(rng, 1, false);
    }
    CompareSearches(sHtml, rng, false);
  }
}

TEST(PositionCache, RepeatedSearchesAreAnsweredFromTheCache) {
  Page page("<p>some text here<b>x</b>");
  CSource* pSource = page.src();
  CSubCache* pAll = pSource->getCache().getAllTypesSubCache();
  CTag* pB = CTag::findPreviousOrNextTag(pSource, page.pos("some"), false);
  ASSERT_NE(pB, nullptr);
  EXPECT_EQ(pB->getBegin(), page.pos("<b>"));
  const size_t nSize = pAll->size();
  // A search from anywhere in the known stretch adds nothing.
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("text"), false), pB);
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("here"), false), pB);
  EXPECT_EQ(pAll->size(), nSize);
  // Nothing after the last tag: the stretch to the end becomes known.
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("</b>") + 1, false), nullptr);
  const size_t nAfter = pAll->size();
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("</b>") + 2, false), nullptr);
  EXPECT_EQ(pAll->size(), nAfter);
  // Entries stay in position order.
  const std::vector<const CCacheEntry*> entries = pAll->entries();
  for (size_t i = 1; i < entries.size(); ++i) EXPECT_LT(entries[i - 1]->nPos + 1, entries[i]->nPos + 1);
}

TEST(PositionCache, SourceAtPositionZeroAndBulkLoad) {
  Page page("<a>x< y><!-- c --></a>", "");
  CSource* pSource = page.src();
  CSubCache* pAll = pSource->getCache().getAllTypesSubCache();
  EXPECT_EQ(pAll->entries().front()->nPos, HX_NPOS);
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, 0, true)->getBegin(), 0u);
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("x"), true)->getBegin(), 0u);
  // The unregistered tag is remembered but never the answer of a search.
  EXPECT_TRUE(CTag::getTagAt(pSource, page.pos("< y"))->isUnregistered());
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("< y"), false)->getBegin(), page.pos("<!--"));
  const std::vector<CTag*>& tags = pSource->fullSequentialParse();
  ASSERT_EQ(tags.size(), 3u);
  // Every tag of the page is an entry, the unregistered one included.
  EXPECT_EQ(pAll->size(), 4u + 2u);
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("x"), false), tags[1]);
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("x"), CStartTagTypeSingletonData::getInstance()->m_pComment,
                                        false),
            tags[1]);
}

TEST(PositionCache, TypedSearchFindsADelimiterThatRunsPastARememberedPosition) {
  // The first search remembers the position inside the comment's "<!--";
  // the second must still find the comment that begins just before it.
  Page page("<p>text<!-- c -->");
  CSource* pSource = page.src();
  CStartTagType* pComment = CStartTagTypeSingletonData::getInstance()->m_pComment;
  EXPECT_EQ(CTag::findPreviousOrNextTag(pSource, page.pos("<!--") + 1, pComment, false), nullptr);
  CTag* pTag = CTag::findPreviousOrNextTag(pSource, page.pos("text"), pComment, false);
  ASSERT_NE(pTag, nullptr);
  EXPECT_EQ(pTag->getBegin(), page.pos("<!--"));
}

namespace {

// Every start tag's element (and its end tag) when the elements are asked
// for outermost first on a cached source, and innermost first on an uncached
// one: the first order lets each walk and end tag search reuse what earlier
// ones learned, the second asks each start tag on its own. With
// bCachedInnermostFirst the cached source is asked innermost first too, so
// that outer matchings pass elements already matched.
void CompareElementOrders(const std::string& sHtml, bool bCachedInnermostFirst = false) {
  Page cached(sHtml);
  Page uncached(sHtml);
  uncached.src()->setUseCaches(false);
  std::vector<CStartTag*> vecCached;
  for (CStartTag* s = cached.src()->findNextStartTag(0); s != nullptr; s = cached.src()->findNextStartTag(s->getEnd())) {
    vecCached.push_back(s);
  }
  std::vector<CStartTag*> vecUncached;
  for (CStartTag* s = uncached.src()->findNextStartTag(0); s != nullptr;
       s = uncached.src()->findNextStartTag(s->getEnd())) {
    vecUncached.push_back(s);
  }
  ASSERT_EQ(vecCached.size(), vecUncached.size());
  if (bCachedInnermostFirst) {
    for (size_t i = vecCached.size(); i-- > 0;) vecCached[i]->getElement();
  } else {
    for (CStartTag* s : vecCached) s->getElement();
  }
  for (size_t i = vecUncached.size(); i-- > 0;) vecUncached[i]->getElement();
  for (size_t i = 0; i < vecCached.size(); ++i) {
    CElement* c = vecCached[i]->getElement();
    CElement* u = vecUncached[i]->getElement();
    ASSERT_EQ(K(c), K(u)) << "element at " << vecCached[i]->getBegin() << " page " << sHtml.substr(0, 200);
    ASSERT_EQ(K(c != nullptr ? c->getEndTag() : nullptr), K(u != nullptr ? u->getEndTag() : nullptr))
        << "end tag of the element at " << vecCached[i]->getBegin();
  }
}

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

TEST(PositionCache, DeepUnclosedPagesMatchLikeEachStartTagOnItsOwn) {
  for (const char* pUnit : {"<div>", "<a>", "<table><tr><td>", "<ul><li>", "<div><span>", "<DIV><div/>", "<p>"}) {
    const std::string sUnit = pUnit;
    // Nothing closed; closed once at the end; closed once in the middle; a
    // second run of the unit inside a closed one.
    CompareElementOrders(Repeat(sUnit, 300) + "core");
    CompareElementOrders(Repeat(sUnit, 300) + "core</div></a></td></tr></table></li></ul></span>");
    CompareElementOrders(Repeat(sUnit, 150) + "</div></a></td></li></span>" + Repeat(sUnit, 150));
    CompareElementOrders("<div>" + Repeat(sUnit, 100) + "</div></div>" + Repeat(sUnit, 100) + "</div>");
  }
  std::mt19937 rng(2024);
  for (int round = 0; round < 40; ++round) CompareElementOrders(GeneratePage(rng, 20 + round * 10, round % 2 == 0));
  // The searches themselves agree on such a page too.
  CompareSearches(Repeat("<div>", 200) + "<a>" + Repeat("<div>x</div>", 20) + "</a>", rng, false);
}

// Pages a fuzzer stopped on, with its control byte first: a start tag holds
// end tags of its name and another start tag of the name in an attribute
// value. The matching of an element that passes an inner element matched
// before goes on after that start tag, as the matching through it does, not
// after the inner element's end tag.
TEST(PositionCache, ElementAskedAfterOneInsideItEndsAsWithoutTheCache) {
  const std::string sSlash("\x3c<div/> <div><div i='</div></div>\r\0<div ax' >pt</div>pp", 55);
  const std::string sNoSlash(
      "\x4f" "CY\"<div>// \"<div>\"ript--<div i='\x88\xcf</div>\r=\"1\"b=k</div>a\x00\xff\xff>\r\n<div "
      "tito>hr8.1y</div>>\r\nm\nt'tml>",
      95);
  for (const std::string& sInput : {sSlash, sNoSlash}) {
    CompareElementOrders(sInput.substr(1), true);
    CompareElementOrders(sInput.substr(1), false);
  }
  // A div written with "/>" is not empty (its end tag is required): the
  // last end tag closes it, whichever element was asked for first.
  Page page(sSlash.substr(1));
  CTag* pOuter = page.src()->getTagAt(page.pos("<div/>"));
  ASSERT_NE(pOuter, nullptr);
  ASSERT_NE(page.src()->findNextStartTag(pOuter->getEnd())->getElement(), nullptr);
  ASSERT_NE(pOuter->getElement(), nullptr);
  EXPECT_EQ(pOuter->getElement()->getEnd(), page.pos("pp"));

  // The same through what a form asks: an element by id, then the element
  // that encloses a position, which asks the nearest start tags first.
  const std::string sForm =
      "<div id=o><div><div id=divAtt><div title='</div></div><div x'>t</div>u</div>v</div>w</div>";
  for (const std::string sAt : {"t<", "u<", "v<", "w<"}) {
    Page cached(sForm);
    Page uncached(sForm);
    uncached.src()->setUseCaches(false);
    cached.src()->getElementById(ci_string("divAtt"));
    const HXPos p = cached.pos(sAt);
    EXPECT_EQ(K(cached.src()->getEnclosingElement(p)), K(uncached.src()->getEnclosingElement(p))) << sAt;
  }
}

// An end tag's element is that of the nearest start tag before it whose
// element ends with it, whichever element was matched first; and without the
// cache too, where every search makes new tag objects.
TEST(PositionCache, EndTagElementIsTheNearestThatEndsWithIt) {
  Page uncached("<div><div>in</div>out</div>");
  uncached.src()->setUseCaches(false);
  CTag* pInnerEnd = uncached.src()->getTagAt(uncached.pos("</div>"));
  ASSERT_NE(pInnerEnd, nullptr);
  ASSERT_NE(pInnerEnd->getElement(), nullptr);
  EXPECT_EQ(pInnerEnd->getElement()->getBegin(), uncached.pos("<div>in"));
  // Both heads end with the one end tag (a fuzzer's page); the inner one is
  // matched first.
  Page page("<head><head></head>");
  CTag* pInner = page.src()->getTagAt(page.pos("<head>", 1));
  CTag* pOuter = page.src()->getTagAt(page.pos("<head>"));
  ASSERT_NE(pInner->getElement(), nullptr);
  ASSERT_NE(pOuter->getElement(), nullptr);
  ASSERT_EQ(pOuter->getElement()->getEndTag(), pInner->getElement()->getEndTag());
  EXPECT_EQ(page.src()->getTagAt(page.pos("</head>"))->getElement(), pInner->getElement());
}

namespace {

// Each start tag's element and end tag, after asking for the elements in the
// given order on a fresh source.
std::vector<std::pair<Key, Key>> ElementsInOrder(const std::string& sHtml, const std::vector<size_t>& vecOrder,
                                                 bool bFullParse) {
  Page page(sHtml);
  if (bFullParse) page.src()->fullSequentialParse();
  std::vector<CStartTag*> vecTags;
  for (CStartTag* s = page.src()->findNextStartTag(0); s != nullptr; s = page.src()->findNextStartTag(s->getEnd())) {
    vecTags.push_back(s);
  }
  for (size_t i : vecOrder) {
    if (i < vecTags.size()) vecTags[i]->getElement();
  }
  std::vector<std::pair<Key, Key>> out;
  for (CStartTag* s : vecTags) {
    CElement* e = s->getElement();
    out.emplace_back(K(e), K(e != nullptr ? e->getEndTag() : nullptr));
  }
  return out;
}

}  // namespace

TEST(PositionCache, ElementsDoNotDependOnTheOrderTheyAreAskedFor) {
  // The inner div's own matching starts after its start tag, so the end tag
  // in its title is not its end, whichever element is asked for first.
  const std::string sShown = "<div id=o><div title=\"</div>\">inner</div>after</div>";
  EXPECT_EQ(ElementsInOrder(sShown, {0, 1}, false), ElementsInOrder(sShown, {1, 0}, false));
  Page page(sShown);
  CStartTag* pOuter = page.src()->findNextStartTag(0);
  CStartTag* pInner = page.src()->findNextStartTag(pOuter->getEnd());
  pOuter->getElement();
  ASSERT_NE(pInner->getElement(), nullptr);
  EXPECT_EQ(pInner->getElement()->getEnd(), page.pos("after"));

  std::mt19937 rng(1907);
  for (int round = 0; round < 40; ++round) {
    const std::string sHtml = GeneratePage(rng, 20 + round * 8, false, true);
    std::vector<size_t> vecOrder(sHtml.size() / 4);
    for (size_t i = 0; i < vecOrder.size(); ++i) vecOrder[i] = i;
    // A full parse sees no tag inside another, so it is compared with
    // itself only.
    const bool bFullParse = round % 2 == 0;
    const auto outermostFirst = ElementsInOrder(sHtml, vecOrder, bFullParse);
    std::reverse(vecOrder.begin(), vecOrder.end());
    ASSERT_EQ(ElementsInOrder(sHtml, vecOrder, bFullParse), outermostFirst) << sHtml;
    std::shuffle(vecOrder.begin(), vecOrder.end(), rng);
    ASSERT_EQ(ElementsInOrder(sHtml, vecOrder, bFullParse), outermostFirst) << sHtml;
    // And each as if it were the only one asked for, on a page of its own.
    if (round % 8 != 1) continue;
    for (size_t i = 0; i < outermostFirst.size(); ++i) {
      ASSERT_EQ(ElementsInOrder(sHtml, {i}, bFullParse)[i], outermostFirst[i]) << sHtml;
    }
  }
}

namespace {

// The element tree of a fully parsed page as text: every start tag's element
// (begin, end, end tag) with its parent and children, then the top level.
std::string ElementTree(const std::string& sHtml, bool bFromParseIndex) {
  Page page(sHtml);
  CSource* pSource = page.src();
  const std::vector<CTag*>& tags = pSource->fullSequentialParse();
  // Turning the cache's bulk load into entries makes the element matching
  // search the page's text again, as it does before a full parse.
  if (!bFromParseIndex) pSource->getCache().getAllTypesSubCache()->entries();
  EXPECT_EQ(pSource->parseIndex() != nullptr, bFromParseIndex);
  auto pos = [](const CSegment* p) { return p != nullptr ? std::to_string(p->getBegin()) + "-" + std::to_string(p->getEnd()) : std::string("none"); };
  std::string out;
  for (CElement* pTop : pSource->getChildElements()) out += "top " + pos(pTop) + "\n";
  for (CTag* pTag : tags) {
    if (!pTag->isStartTag()) continue;
    CElement* e = pTag->getElement();
    out += pos(pTag) + ": " + pos(e);
    if (e == nullptr) continue;
    out += " end " + pos(e->getEndTag()) + " parent " + pos(e->getParentElement()) + " children";
    for (CElement* c : e->getChildElements()) out += " " + pos(c);
    out += "\n";
  }
  return out;
}

}  // namespace

TEST(PositionCache, ElementTreeFromTheParseIndexEqualsTheOneFromTextSearches) {
  std::mt19937 rng(777);
  for (int round = 0; round < 60; ++round) {
    const std::string sHtml = GeneratePage(rng, 30 + round * 10, round % 3 == 0, round % 3 == 1);
    ASSERT_EQ(ElementTree(sHtml, true), ElementTree(sHtml, false)) << sHtml;
  }
  for (const char* pUnit : {"<div>", "<a>", "<table><tr><td>", "<ul><li>", "<div><span>", "<DIV><div/>", "<p>"}) {
    const std::string sDeep = Repeat(pUnit, 200) + "core</div></a></td></tr></table></li></ul></span>" + Repeat(pUnit, 100);
    ASSERT_EQ(ElementTree(sDeep, true), ElementTree(sDeep, false)) << pUnit;
  }
}

// The look-up from a near element answers what a search from the root does,
// from every element (and none) to every key, the ends and gaps included.
TEST(PositionCache, NearbyLowerBoundAgreesWithLowerBoundFromEveryStart) {
  std::map<HXPos, int> map;
  for (HXPos k = 10; k <= 400; k += 10) map.emplace(k, 0);
  std::vector<std::map<HXPos, int>::iterator> vecStarts{map.end()};
  for (auto it = map.begin(); it != map.end(); ++it) vecStarts.push_back(it);
  for (const auto& itNear : vecStarts) {
    for (HXPos key = 0; key <= 410; ++key) {
      ASSERT_EQ(NearbyLowerBound(map, itNear, key), map.lower_bound(key))
          << "key " << key << " from " << (itNear == map.end() ? HXPos(0) : itNear->first);
    }
  }
}
