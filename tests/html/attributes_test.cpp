// The attribute state machine: values quoted and unquoted, missing blanks and
// values, rejected lists, error counting and the closing-slash rule.
#include <gtest/gtest.h>

#include <string>

#include "html/attributes.h"
#include "html/tag.h"
#include "html/tag_types.h"
#include "html_test_util.h"

using hxtest::Page;

namespace {

// The start tag at the first byte of the page, or null.
CStartTag* StartTagOf(Page& page) {
  CTag* pTag = CTag::getTagAt(page.src(), page.nHtmlBegin);
  return (pTag != nullptr && pTag->isStartTag()) ? static_cast<CStartTag*>(pTag) : nullptr;
}

std::string Text(Page& page, const CSegment* pSegment) { return pSegment ? page.text(pSegment) : "<null>"; }

}  // namespace

TEST(Attributes, QuotedUnquotedAndValuelessAttributes) {
  Page page("<div a=1 b='x y'  c>");
  CStartTag* pTag = StartTagOf(page);
  ASSERT_NE(pTag, nullptr);
  EXPECT_EQ(page.text(pTag), "<div a=1 b='x y'  c>");
  CAttributes* pAttributes = pTag->getAttributes();
  ASSERT_NE(pAttributes, nullptr);
  ASSERT_EQ(pAttributes->size(), 3u);
  CAttribute* a = pAttributes->getList()[0];
  CAttribute* b = pAttributes->getList()[1];
  CAttribute* c = pAttributes->getList()[2];
  EXPECT_EQ(Text(page, a->getValueSegment()), "1");
  EXPECT_EQ(a->getValueSegment(), a->getValueSegmentIncludingQuotes());
  EXPECT_EQ(page.text(a), "a=1");
  EXPECT_EQ(Text(page, b->getValueSegment()), "x y");
  EXPECT_EQ(Text(page, b->getValueSegmentIncludingQuotes()), "'x y'");
  EXPECT_EQ(Text(page, b->getNameSegment()), "b");
  EXPECT_EQ(ToStd(c->getName()), "c");
  EXPECT_FALSE(c->hasValue());
  EXPECT_EQ(page.text(c), "c");
  // The list runs from the first byte after the name to the last attribute.
  EXPECT_EQ(page.text(pAttributes), " a=1 b='x y'  c");
  // Names are looked up without case.
  EXPECT_EQ(pAttributes->getAttribute(ci_string("B")), b);
  EXPECT_EQ(pAttributes->getAttribute(ci_string("bb")), nullptr);
}

TEST(Attributes, ToleratedErrors) {
  {
    Page page("<a title=\"1 > 0\" href=x>t");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(page.text(pTag), "<a title=\"1 > 0\" href=x>");
    EXPECT_EQ(pTag->getAttributes()->getAttribute(ci_string("title"))->getValue(), "1 > 0");
  }
  {
    Page page("<div a=\"1\"b=\"2\">");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    ASSERT_EQ(pTag->getAttributes()->size(), 2u);
    EXPECT_EQ(pTag->getAttributes()->getList()[1]->getValue(), "2");
  }
  {
    Page page("<span a=>x");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    CAttribute* a = pTag->getAttributes()->getAttribute(ci_string("a"));
    ASSERT_NE(a, nullptr);
    ASSERT_TRUE(a->hasValue());
    EXPECT_TRUE(a->getValueSegment()->isEmpty());
    EXPECT_EQ(a->getValue(), "");
  }
  {
    Page page("<x a = 'v' >");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getAttributes()->getAttribute(ci_string("a"))->getValue(), "v");
  }
}

TEST(Attributes, ListsThatAreRejected) {
  // A '<' between attributes, inside a name, at the start of a value and
  // inside an unquoted value shows that the tag is not a tag.
  for (const char* pHtml : {"<div a=1 <b>", "<div a<b=1>", "<div a=<b>", "<div a=x<b>"}) {
    Page page(pHtml);
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr) << pHtml;
    EXPECT_TRUE(pTag->isUnregistered()) << pHtml;
  }
  // A '<' inside a quoted value is fine.
  {
    Page page("<div a='<b>'>");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_FALSE(pTag->isUnregistered());
  }
  // Two invalid name bytes are tolerated, the third rejects.
  {
    Page page("<div a$$=1>");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_FALSE(pTag->isUnregistered());
    EXPECT_EQ(ToStd(pTag->getAttributes()->getList()[0]->getName()), "a$$");
  }
  {
    Page page("<div $a$$=1>");
    EXPECT_TRUE(StartTagOf(page)->isUnregistered());
  }
  // A name followed by a byte that is neither blank nor closing.
  {
    Page page("<td\"x\">");
    EXPECT_TRUE(StartTagOf(page)->isUnregistered());
  }
  // An unclosed quote runs into the page's end.
  {
    Page page("<img src=x.gif alt=\"unterminated>");
    CTag* pTag = CTag::getTagAt(page.src(), page.nHtmlBegin);
    ASSERT_NE(pTag, nullptr);
    EXPECT_TRUE(pTag->isUnregistered());
  }
}

TEST(Attributes, ClosingSlashRule) {
  // p has an end tag: "/>" is no closing, the '/' is passed over.
  {
    Page page("<p a=1/>x");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(page.text(pTag), "<p a=1/>");
    EXPECT_EQ(pTag->getAttributes()->getList()[0]->getValue(), "1/");
  }
  {
    Page page("<p />x");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getAttributes()->size(), 0u);
  }
  // br has none: "/>" ends the attributes.
  {
    Page page("<br a=1/>x");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_EQ(pTag->getAttributes()->getList()[0]->getValue(), "1");
    EXPECT_EQ(page.text(pTag), "<br a=1/>");
  }
  // Names outside the vocabulary may be empty-element tags.
  {
    Page page("<foo/>");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    EXPECT_TRUE(pTag->isEmptyElementTag());
  }
}

TEST(Attributes, ParsingOnDemand) {
  // The attributes of a plain segment.
  {
    Page page("x a=1 b=\"2\" y");
    CSegment* pSegment = CSegment::CREATE_NEW_INST(page.src(), page.pos("a="), page.pos(" y"));
    ASSERT_NE(pSegment, nullptr);
    CAttributes* pAttributes = pSegment->parseAttributes();
    ASSERT_NE(pAttributes, nullptr);
    ASSERT_EQ(pAttributes->size(), 2u);
    EXPECT_EQ(pAttributes->getList()[1]->getValue(), "2");
  }
  // A segment that ends at the page's end never sees its closing.
  {
    Page page("x a=1");
    CSegment* pSegment = CSegment::CREATE_NEW_INST(page.src(), page.pos("a="), page.src()->getEnd());
    ASSERT_NE(pSegment, nullptr);
    EXPECT_EQ(pSegment->parseAttributes(), nullptr);
  }
  // A start tag returns the attributes it was built with.
  {
    Page page("<div id=x>");
    CStartTag* pTag = StartTagOf(page);
    EXPECT_EQ(pTag->parseAttributes(), pTag->getAttributes());
  }
  // The XML declaration has attributes of its own.
  {
    Page page("<?xml version=\"1.0\" encoding='utf-8'?>");
    CStartTag* pTag = StartTagOf(page);
    ASSERT_NE(pTag, nullptr);
    ASSERT_NE(pTag->getAttributes(), nullptr);
    EXPECT_EQ(pTag->getAttributes()->getAttribute(ci_string("encoding"))->getValue(), "utf-8");
  }
}
