// Elements: end-tag matching (required, optional, forbidden, repaired), the
// element tree and the searches below an element.
#include <gtest/gtest.h>

#include "html/element.h"
#include "html/tag.h"
#include "html/tag_types.h"
#include "html_test_util.h"

using hxtest::Page;

namespace {

CElement* ElementAt(Page& page, const std::string& sText, int n = 0) {
  CTag* pTag = CTag::getTagAt(page.src(), page.pos(sText, n));
  return (pTag != nullptr && pTag->isStartTag()) ? pTag->getElement() : nullptr;
}

}  // namespace

TEST(Elements, OptionalEndTags) {
  Page page("<p>one<p>two");
  CElement* p1 = ElementAt(page, "<p>");
  CElement* p2 = ElementAt(page, "<p>", 1);
  ASSERT_NE(p1, nullptr);
  ASSERT_NE(p2, nullptr);
  EXPECT_EQ(p1->getEnd(), page.pos("<p>", 1));
  EXPECT_EQ(p1->getEndTag(), nullptr);
  EXPECT_EQ(p1->getContentEnd(), page.pos("<p>", 1));
  EXPECT_EQ(p2->getEnd(), page.src()->getEnd());

  Page list("<ul><li>a<ul><li>x<li>y</ul><li>b</ul>");
  CElement* li = ElementAt(list, "<li>");
  ASSERT_NE(li, nullptr);
  EXPECT_EQ(li->getEnd(), list.pos("<li>b"));

  Page table("<table><tr><td>a<table><tr><td>in</table><td>b</table>");
  CElement* td = ElementAt(table, "<td>a");
  ASSERT_NE(td, nullptr);
  EXPECT_EQ(td->getEnd(), table.pos("<td>b"));
  CElement* tr = ElementAt(table, "<tr>");
  ASSERT_NE(tr, nullptr);
  EXPECT_EQ(tr->getEnd(), table.pos("</table>", 1));
  // An end tag of its own closes an optional element.
  Page own("<p>x</P>y");
  CElement* p = ElementAt(own, "<p>");
  ASSERT_NE(p->getEndTag(), nullptr);
  EXPECT_EQ(p->getEnd(), own.pos("y"));
}

TEST(Elements, RequiredForbiddenAndRepairedEndTags) {
  Page page("<br><div/>x</div><foo/><a>1<a>2</a><span>open<!-- c -->");
  CElement* br = ElementAt(page, "<br>");
  ASSERT_NE(br, nullptr);
  EXPECT_EQ(br->getEnd(), br->getStartTag()->getEnd());
  EXPECT_TRUE(br->getChildElements().empty());
  CElement* div = ElementAt(page, "<div/>");
  ASSERT_NE(div, nullptr);
  EXPECT_EQ(div->getEnd(), page.pos("<foo/>"));
  CElement* foo = ElementAt(page, "<foo/>");
  EXPECT_EQ(foo->getEnd(), page.pos("<a>"));
  CElement* a1 = ElementAt(page, "<a>");
  EXPECT_EQ(a1->getEnd(), page.pos("<a>", 1));
  EXPECT_EQ(a1->getEndTag(), nullptr);
  CElement* a2 = ElementAt(page, "<a>", 1);
  EXPECT_EQ(a2->getEnd(), page.pos("<span>"));
  CElement* span = ElementAt(page, "<span>");
  EXPECT_EQ(span->getEnd(), span->getStartTag()->getEnd());
  CElement* comment = ElementAt(page, "<!--");
  ASSERT_NE(comment, nullptr);
  EXPECT_EQ(comment->getEndTag(), nullptr);
  // The same objects when asked again.
  EXPECT_EQ(ElementAt(page, "<a>", 1), a2);
  EXPECT_EQ(&a2->getChildElements(), &a2->getChildElements());
  // End tags know the element they close, and remember when they close none.
  auto* pEnd = static_cast<CEndTag*>(CTag::getTagAt(page.src(), page.pos("</a>")));
  EXPECT_EQ(pEnd->getElement(), a2);
  Page stray("<b>x</i></b>");
  auto* pStray = static_cast<CEndTag*>(CTag::getTagAt(stray.src(), stray.pos("</i>")));
  EXPECT_EQ(pStray->getElement(), nullptr);
  EXPECT_TRUE(pStray->isElementCached());
}

TEST(Elements, TreeAndParents) {
  Page page("<html><head><title>t</title></head><body><p>a<b>b</p>c</b><% s %><div>d</div></body></html>");
  CSource* pSource = page.src();
  pSource->fullSequentialParse();
  const std::vector<CElement*>& top = pSource->getChildElements();
  ASSERT_EQ(top.size(), 1u);
  EXPECT_EQ(ToStd(top[0]->getName()), "html");
  EXPECT_TRUE(top[0]->isParentKnown());
  EXPECT_EQ(top[0]->getParentElement(), nullptr);
  const std::vector<CElement*>& html = top[0]->getChildElements();
  ASSERT_EQ(html.size(), 2u);
  CElement* body = html[1];
  const std::vector<CElement*>& bodyKids = body->getChildElements();
  // The server tag is stepped over; b extends beyond p but stays its child.
  ASSERT_EQ(bodyKids.size(), 2u);
  EXPECT_EQ(ToStd(bodyKids[0]->getName()), "p");
  EXPECT_EQ(ToStd(bodyKids[1]->getName()), "div");
  ASSERT_EQ(bodyKids[0]->getChildElements().size(), 1u);
  CElement* b = bodyKids[0]->getChildElements()[0];
  EXPECT_GT(b->getEnd(), bodyKids[0]->getEnd());
  EXPECT_EQ(b->getParentElement(), bodyKids[0]);
}

TEST(Elements, SearchesBelowAnElement) {
  Page page(
      "<div id=outer><span id=s1 name=n1>a</span><% x %><span ID=S2>b<span id=s3>c</span></span>"
      "<input name=N1></div><span id=after>");
  CElement* outer = ElementAt(page, "<div");
  ASSERT_NE(outer, nullptr);
  EXPECT_EQ(outer->getFirstChildOrNestedChildElementById(ci_string("s3")), ElementAt(page, "<span id=s3"));
  // Ids are compared exactly; values differing in case are passed over.
  EXPECT_EQ(outer->getFirstChildOrNestedStartTagById(ci_string("s2")), nullptr);
  EXPECT_EQ(outer->getFirstChildOrNestedChildElementById(ci_string("after")), nullptr);
  EXPECT_EQ(outer->findFirstChildOrNestedChildElementByName(ci_string("SPAN")), ElementAt(page, "<span id=s1"));
  EXPECT_EQ(outer->findFirstChildOrNestedStartTagByNameAttribute(ci_string("N1"))->getBegin(), page.pos("<input"));
  EXPECT_EQ(outer->findFirstChildOrNestedChildElementByNameAttribute(ci_string("n1")), ElementAt(page, "<span id=s1"));
  std::vector<CElement*> spans;
  outer->findAllChildOrNestedChildElementsByName(ci_string("span"), spans);
  ASSERT_EQ(spans.size(), 3u);
  EXPECT_EQ(spans[2], ElementAt(page, "<span id=s3"));
  std::vector<CStartTag*> tags;
  outer->findAllChildOrNestedStartTagsByName(ci_string("span"), tags);
  EXPECT_EQ(tags.size(), 3u);
  CElement* br = ElementAt(page, "<span id=after");
  br->findAllChildOrNestedStartTagsByName(ci_string("span"), tags);
  EXPECT_TRUE(tags.empty());
}

// A search below an element looks between its start tag and its end tag
// only; what it learns there must not change the answers of searches that
// run on to the page's end, with or without the position cache and after a
// full parse.
TEST(Elements, SearchesBelowAnElementStopAtItsEnd) {
  const std::string sHtml =
      "<div id=well><span class=wvsn> (1 KB)</span><span class=wvsn> (2 KB)<a id=wvLnk name=l>x</a></span></div>"
      "<p><a id=wvLnk name=l href=#>after</a><img id=wvLnk>";
  for (int nMode = 0; nMode < 3; ++nMode) {
    SCOPED_TRACE(nMode);
    Page page(sHtml);
    if (nMode == 1) page.src()->setUseCaches(false);
    if (nMode == 2) page.src()->fullSequentialParse();
    CElement* well = ElementAt(page, "<div");
    CElement* bare = ElementAt(page, "<span");
    CElement* linked = ElementAt(page, "<span", 1);
    ASSERT_NE(well, nullptr);
    ASSERT_NE(bare, nullptr);
    ASSERT_NE(linked, nullptr);
    // Without the cache each search makes tags of its own: compare where
    // they begin.
    const HXPos nLink = page.pos("<a id=wvLnk name=l>x");
    const auto at = [](const CStartTag* pTag) { return pTag != nullptr ? pTag->getBegin() : HX_NPOS; };

    // Nothing after the span's end is found from inside it, by any search.
    EXPECT_EQ(bare->getFirstChildOrNestedStartTagById(ci_string("wvLnk")), nullptr);
    EXPECT_EQ(bare->findFirstChildOrNestedStartTagByName(ci_string("a")), nullptr);
    EXPECT_EQ(bare->findFirstChildOrNestedStartTagByName(ci_string("")), nullptr);
    EXPECT_EQ(bare->findFirstChildOrNestedChildElementByNameAttribute(ci_string("l")), nullptr);
    std::vector<CStartTag*> vecTags;
    bare->findAllChildOrNestedStartTagsByName(ci_string("a"), vecTags);
    EXPECT_TRUE(vecTags.empty());
    // The page-wide searches from the same place still find what follows,
    // and the element's searches still stop after them.
    const HXPos nInside = bare->getContentBegin();
    EXPECT_EQ(at(page.src()->findNextStartTag(nInside, ci_string("a"))), nLink);
    EXPECT_EQ(at(page.src()->findNextStartTag(nInside, ci_string("id"), ci_string("wvLnk"), true)), nLink);
    EXPECT_EQ(bare->findFirstChildOrNestedStartTagByName(ci_string("a")), nullptr);
    EXPECT_EQ(bare->getFirstChildOrNestedStartTagById(ci_string("wvLnk")), nullptr);

    // What lies inside is found; a miss inside the well does not hide the
    // image that follows it from a page-wide search.
    EXPECT_EQ(at(linked->getFirstChildOrNestedStartTagById(ci_string("wvLnk"))), nLink);
    EXPECT_EQ(at(linked->findFirstChildOrNestedStartTagByName(ci_string("A"))), nLink);
    well->findAllChildOrNestedStartTagsByName(ci_string("a"), vecTags);
    ASSERT_EQ(vecTags.size(), 1u);
    EXPECT_EQ(at(vecTags[0]), nLink);
    EXPECT_EQ(well->findFirstChildOrNestedStartTagByName(ci_string("img")), nullptr);
    EXPECT_EQ(at(page.src()->findNextStartTag(well->getContentBegin(), ci_string("img"))), page.pos("<img"));
    EXPECT_EQ(page.src()->findNextStartTag(nInside, ci_string("a"), nLink), nullptr);
    EXPECT_EQ(at(page.src()->findNextStartTag(nInside, ci_string("a"), nLink + 1)), nLink);
  }
}
