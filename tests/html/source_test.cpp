// The source: argument checks, text access, name ends, backward search, the
// full sequential parse and the enclosing element at the page's begin.
#include <gtest/gtest.h>

#include "html/element.h"
#include "html/tag.h"
#include "html/tag_types.h"
#include "html_test_util.h"

using hxtest::Page;

TEST(Source, ConstructorChecks) {
  Page page("<p>abc</p>");
  CSource* pSource = page.src();
  EXPECT_TRUE(CSegment::checkConstructorArgs(pSource, page.nHtmlBegin, pSource->getEnd()));
  EXPECT_FALSE(CSegment::checkConstructorArgs(nullptr, page.nHtmlBegin, pSource->getEnd()));
  EXPECT_FALSE(CSegment::checkConstructorArgs(pSource, 5, 4 + page.nHtmlBegin - page.nHtmlBegin));
  EXPECT_FALSE(CSegment::checkConstructorArgs(pSource, HX_NPOS, 4));
  EXPECT_FALSE(CSegment::checkConstructorArgs(pSource, page.nHtmlBegin - 1, pSource->getEnd()));
  EXPECT_EQ(CSegment::CREATE_NEW_INST(pSource, page.nHtmlBegin, pSource->getEnd() + 1), nullptr);
  CSegment* pSegment = CSegment::CREATE_NEW_INST(pSource, page.nHtmlBegin + 3, page.nHtmlBegin + 6);
  ASSERT_NE(pSegment, nullptr);
  EXPECT_EQ(pSegment->toString(), "abc");
  CSegment* pSame = CSegment::CREATE_NEW_INST(pSource, page.nHtmlBegin + 3, page.nHtmlBegin + 6);
  EXPECT_FALSE(*pSegment != *pSame);
}

TEST(Source, TextAccess) {
  Page page("<p>abc</p>");
  CSource* pSource = page.src();
  const HXPos b = page.nHtmlBegin;
  EXPECT_EQ(pSource->substring(b + 3, 3), "abc");
  EXPECT_EQ(pSource->substring(b + 7, 100), "/p>");
  EXPECT_EQ(pSource->substring(pSource->getEnd(), 1), "");
  EXPECT_EQ(pSource->substring(b - 1, 1), "");
  ci_string cs("stale");
  pSource->substring(pSource->getEnd(), 1, cs);
  EXPECT_TRUE(cs.empty());
  EXPECT_EQ(pSource->getNameEnd(b + 1), b + 2);
  EXPECT_EQ(pSource->getNameEnd(b), HX_NPOS);
  EXPECT_EQ(pSource->getNameEnd(pSource->getEnd()), HX_NPOS);
  // Backward search stays within the source (the header part lies before it).
  Page headers("<b>x", "<b>");
  EXPECT_EQ(headers.src()->findPreviousNoCase("<B>", headers.src()->getEnd() - 1, HX_NPOS), headers.nHtmlBegin);
  EXPECT_EQ(headers.src()->findPreviousNoCase("<B>", headers.nHtmlBegin - 1, HX_NPOS), HX_NPOS);
  EXPECT_EQ(headers.src()->findPreviousNoCase("<B>", headers.src()->getEnd() - 1, headers.nHtmlBegin), HX_NPOS);
}

TEST(Source, EmptyPage) {
  Page page("");
  EXPECT_TRUE(page.src()->fullSequentialParse().empty());
  EXPECT_TRUE(page.src()->isFullSequentialParseDone());
  EXPECT_TRUE(page.src()->getChildElements().empty());
  EXPECT_EQ(page.src()->findNextStartTag(0), nullptr);
  EXPECT_EQ(page.src()->getEnclosingElement(0), nullptr);
}

TEST(Source, FullParseRunsOnceAndReplacesEarlierSearchResults) {
  Page page(hxtest::SamplePage("premium_readmessage.html"));
  CSource* pSource = page.src();
  CStartTag* pEarly = pSource->findNextStartTag(page.pos("<body"));
  ASSERT_NE(pEarly, nullptr);
  const std::vector<CTag*>& tags = pSource->fullSequentialParse();
  EXPECT_EQ(&tags, &pSource->fullSequentialParse());
  const size_t nSegments = pSource->getSegmentCount();
  pSource->fullSequentialParse();
  EXPECT_EQ(pSource->getSegmentCount(), nSegments);
  // Tags are in page order, registered types only, and served by the cache.
  for (size_t i = 0; i < tags.size(); ++i) {
    EXPECT_FALSE(tags[i]->isUnregistered());
    if (i > 0) {
      EXPECT_LT(tags[i - 1]->getBegin(), tags[i]->getBegin());
    }
    EXPECT_EQ(CTag::getTagAt(pSource, tags[i]->getBegin()), tags[i]);
  }
  CStartTag* pLate = pSource->findNextStartTag(page.pos("<body"));
  ASSERT_NE(pLate, nullptr);
  EXPECT_EQ(pLate->getBegin(), pEarly->getBegin());
}

TEST(Source, EnclosingElementWalkStopsAtTheBegin) {
  // The first start tag sits at the source's begin (position 0 of the
  // buffer): a miss there ends the walk instead of wrapping to the page's end.
  Page page("<br>-<div id=a>x</div>", "");
  CSource* pSource = page.src();
  EXPECT_EQ(pSource->getEnclosingElement(page.pos("-")), nullptr);
  CElement* pDiv = pSource->getEnclosingElement(page.pos("x"));
  ASSERT_NE(pDiv, nullptr);
  EXPECT_EQ(ToStd(pDiv->getName()), "div");
  EXPECT_EQ(pSource->getElementById(ci_string("a")), pDiv);
  EXPECT_EQ(pSource->getElementById(ci_string("A")), nullptr);
  // The same holds with a header part in front of the HTML.
  Page withHeaders("<br>-<div>x</div>");
  EXPECT_EQ(withHeaders.src()->getEnclosingElement(withHeaders.pos("-")), nullptr);
}

TEST(Source, FindAllTagsOfASegment) {
  Page page("<p>a<!-- c --><b>x</b></p><i>");
  CSegment* pSegment = CSegment::CREATE_NEW_INST(page.src(), page.pos("a"), page.pos("<i>"));
  std::vector<CTag*> tags;
  pSegment->findAllTags(nullptr, tags);
  ASSERT_EQ(tags.size(), 4u);
  EXPECT_EQ(ToStd(tags[0]->getName()), "!--");
  pSegment->findAllTags(CStartTagTypeSingletonData::getInstance()->m_pComment, tags);
  ASSERT_EQ(tags.size(), 1u);
}
