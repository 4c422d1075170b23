// Tag searches: the tag at a position, previous and next tags, start tags by
// name and by attribute value, end tags, and agreement between the full
// sequential parse and repeated searches.
#include <gtest/gtest.h>

#include <tuple>

#include "html/attributes.h"
#include "html/element.h"
#include "html/tag.h"
#include "html/tag_types.h"
#include "html_test_util.h"

using hxtest::Page;

namespace {

using TagKey = std::tuple<HXPos, HXPos, std::string>;

TagKey Key(const CTag* pTag) { return {pTag->getBegin(), pTag->getEnd(), ToStd(pTag->getName())}; }

std::vector<TagKey> StartTagsOfFullParse(const std::string& sHtml) {
  Page page(sHtml);
  std::vector<TagKey> keys;
  for (CTag* pTag : page.src()->fullSequentialParse()) {
    if (pTag->isStartTag()) keys.push_back(Key(pTag));
  }
  return keys;
}

std::vector<TagKey> StartTagsBySearch(const std::string& sHtml) {
  Page page(sHtml);
  std::vector<TagKey> keys;
  CStartTag* pTag = page.src()->findNextStartTag(page.nHtmlBegin);
  while (pTag != nullptr) {
    keys.push_back(Key(pTag));
    pTag = page.src()->findNextStartTag(pTag->getBegin() + 1);
  }
  return keys;
}

}  // namespace

TEST(TagSearch, FullParseAndRepeatedSearchesFindTheSameStartTags) {
  for (const char* pName : {"premium_readmessage.html", "basic_readmessage.html", "premium_readmessage_long.html"}) {
    const std::string sHtml = hxtest::SamplePage(pName);
    ASSERT_FALSE(sHtml.empty()) << pName;
    const auto full = StartTagsOfFullParse(sHtml);
    const auto searched = StartTagsBySearch(sHtml);
    EXPECT_GT(full.size(), 100u) << pName;
    EXPECT_EQ(full, searched) << pName;
  }
}

TEST(TagSearch, BackwardSearchesMirrorForwardOnes) {
  Page page(hxtest::SamplePage("premium_readmessage.html"));
  std::vector<CStartTag*> forward;
  for (CStartTag* p = page.src()->findNextStartTag(0); p != nullptr; p = page.src()->findNextStartTag(p->getBegin() + 1)) {
    forward.push_back(p);
  }
  std::vector<CStartTag*> backward;
  for (CStartTag* p = page.src()->findPreviousStartTag(page.src()->getEnd()); p != nullptr;
       p = p->getBegin() > 0 ? page.src()->findPreviousStartTag(p->getBegin() - 1) : nullptr) {
    backward.insert(backward.begin(), p);
  }
  ASSERT_FALSE(forward.empty());
  // The same objects: every search hands out the cached tag of a position.
  EXPECT_EQ(forward, backward);
}

TEST(TagSearch, SearchesAfterAFullParseAnswerLikeBefore) {
  const std::string sHtml = hxtest::SamplePage("basic_readmessage.html");
  Page before(sHtml);
  Page after(sHtml);
  after.src()->fullSequentialParse();
  for (HXPos p = before.nHtmlBegin; p < before.src()->getEnd(); p += 97) {
    CTag* a = CTag::findPreviousOrNextTag(before.src(), p, false);
    CTag* b = CTag::findPreviousOrNextTag(after.src(), p, false);
    ASSERT_EQ(a == nullptr, b == nullptr) << p;
    if (a != nullptr) {
      EXPECT_EQ(Key(a), Key(b)) << p;
    }
    CTag* c = CTag::findPreviousOrNextTag(before.src(), p, true);
    CTag* d = CTag::findPreviousOrNextTag(after.src(), p, true);
    ASSERT_EQ(c == nullptr, d == nullptr) << p;
    if (c != nullptr) {
      EXPECT_EQ(Key(c), Key(d)) << p;
    }
  }
}

TEST(TagSearch, StartTagsByName) {
  Page page("<TD>a</td><td class=x>b<tdx>c<o:p>d<o:pp>");
  CSource* pSource = page.src();
  CStartTag* p = pSource->findNextStartTag(0, ci_string("td"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getBegin(), page.pos("<TD>"));
  p = pSource->findNextStartTag(p->getBegin() + 1, ci_string("td"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getBegin(), page.pos("<td class"));
  // tdx is another name; the search passes over it.
  EXPECT_EQ(pSource->findNextStartTag(p->getBegin() + 1, ci_string("td")), nullptr);
  // A name ending in ':' finds names that begin with it.
  p = pSource->findNextStartTag(0, ci_string("o:"));
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(ToStd(p->getName()), "o:p");
  p = CStartTag::findPreviousOrNext(pSource, pSource->getEnd(), ci_string("td"), true, true);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getBegin(), page.pos("<td class"));
  EXPECT_EQ(pSource->findNextStartTag(0, ci_string("/td")), nullptr);
  EXPECT_EQ(pSource->findNextStartTag(0, ci_string("")), pSource->findNextStartTag(0));
}

TEST(TagSearch, StartTagsByAttributeValue) {
  Page page("<p>lnkAtmt</p><a ID=\"LNKATMT\">x</a><a id=lnkAtmt>y</a><a name=lnkAtmt>");
  CSource* pSource = page.src();
  const ci_string id("id");
  CStartTag* p = pSource->findNextStartTag(0, id, ci_string("lnkAtmt"), true);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getBegin(), page.pos("<a id=lnkAtmt"));
  p = pSource->findNextStartTag(0, id, ci_string("lnkAtmt"), false);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getBegin(), page.pos("<a ID"));
  EXPECT_EQ(pSource->findNextStartTag(page.pos("<a name"), id, ci_string("lnkAtmt"), false), nullptr);
  p = pSource->findNextStartTag(0, ci_string("NAME"), ci_string("lnkatmt"), false);
  ASSERT_NE(p, nullptr);
  EXPECT_EQ(p->getBegin(), page.pos("<a name"));
  EXPECT_EQ(pSource->findNextStartTag(pSource->getEnd(), id, ci_string("x"), false), nullptr);
}

TEST(TagSearch, EndTagsByNameAndType) {
  Page page("<td>a</td >b</TD>c</td>");
  CSource* pSource = page.src();
  CEndTagType* pNormal = CEndTagTypeSingletonData::getInstance()->m_pNormal;
  CEndTag* e = pSource->findNextEndTag(0, ci_string("td"), pNormal);
  ASSERT_NE(e, nullptr);
  // "</td >" is not found by name: the closing must follow the name.
  EXPECT_EQ(e->getBegin(), page.pos("</TD>"));
  e = CEndTag::findPreviousOrNext(pSource, pSource->getEnd(), ci_string("td"), pNormal, true);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->getBegin(), page.pos("</td>"));
  // Without a name: the next end tag of the type.
  e = pSource->findNextEndTag(0, ci_string(), CEndTagTypeSingletonData::getInstance()->m_pUnregistered);
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->getBegin(), page.pos("</td >"));
  EXPECT_EQ(pSource->findNextEndTag(0, ci_string("td"), nullptr), nullptr);
}

TEST(TagSearch, PreviousAndNextTagsSkipUnregisteredOnes) {
  Page page("<b>< x><!-- c --><i>");
  CSource* pSource = page.src();
  CTag* t = CTag::findPreviousOrNextTag(pSource, page.pos("< x"), false);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ToStd(t->getName()), "!--");
  t = CTag::findPreviousOrNextTag(pSource, page.pos("<!--") - 1, true);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(ToStd(t->getName()), "b");
  // The unregistered tag is still the tag at its position.
  ASSERT_NE(pSource->getTagAt(page.pos("< x")), nullptr);
  EXPECT_TRUE(pSource->getTagAt(page.pos("< x"))->isUnregistered());
  // Typed search, and the enclosing tag of a position inside a comment.
  CStartTagType* pComment = CStartTagTypeSingletonData::getInstance()->m_pComment;
  t = CTag::findPreviousOrNextTag(pSource, 0, pComment, false);
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(pSource->findEnclosingTag(page.pos(" c "), pComment), t);
  EXPECT_EQ(pSource->findEnclosingTag(page.pos("<i>"), pComment), nullptr);
  // The uncached searches with a bound.
  EXPECT_EQ(CTag::findPreviousOrNextTagUncached(pSource, page.pos("< x"), false, page.pos("<!--")), nullptr);
  EXPECT_EQ(CTag::findPreviousOrNextTagUncached(pSource, pSource->getEnd(), true, page.pos("<!--")),
            pSource->getTagAt(page.pos("<i>")));
}

TEST(TagSearch, NestedEndTagMatching) {
  Page page("<div id=1><div id=2><div/><div id=3></div></div>x</div><div id=4></div>");
  CSource* pSource = page.src();
  auto* pOuter = static_cast<CStartTag*>(pSource->getTagAt(page.pos("<div id=1")));
  CEndTagType* pNormal = CEndTagTypeSingletonData::getInstance()->m_pNormal;
  CEndTag* pFirstEnd = pSource->findNextEndTag(pOuter->getEnd(), ci_string("div"), pNormal);
  CStartTag* pNext = nullptr;
  // "<div/>" counts as an element of its own only when empty-element tags
  // are not passed over.
  CEndTag* pMatch = CStartTag::findEndTagNested(pOuter, pFirstEnd, true, &pNext);
  ASSERT_NE(pMatch, nullptr);
  EXPECT_EQ(pMatch->getBegin(), page.pos("</div>", 2));
  ASSERT_NE(pNext, nullptr);
  EXPECT_EQ(pNext->getBegin(), page.pos("<div id=4"));
  EXPECT_EQ(CStartTag::findEndTagNested(pOuter, pFirstEnd, false, &pNext), nullptr);
  EXPECT_EQ(CStartTag::findEndTagNested(pOuter, nullptr, true, &pNext), nullptr);
  EXPECT_EQ(pNext, nullptr);
}
