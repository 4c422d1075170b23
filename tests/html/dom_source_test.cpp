// The DOM document over the host's record and the value types' queries.
#include <gtest/gtest.h>

#include <memory>

#include "dom_test_util.h"
#include "html/element.h"
#include "html/source.h"

using hxtest::Response;

namespace {

const char kPage[] =
    "<!-- OwaPage = ASP.forms_premium_readmessage_aspx -->\r\n"
    "<html><head><title>T</title><script src=a.js></script></head>\r\n"
    "<body class=b><div id=divAtt><span id=spnAtmt attid=A1>a.txt</span><span id=spnAtmt attid=A2>b.doc</span>"
    "<input type=checkbox checked></div><p>x &amp; <b>y</b> z</body></html>";

}  // namespace

TEST(DomSource, RecordWithTagAddresses) {
  Response r(kPage);
  r.record[CCommonPointers::HtmlStartTag] = r.AddrOf("<html>");
  r.record[CCommonPointers::HeadStartTag] = r.AddrOf("<head>");
  r.record[CCommonPointers::HeadEndTag] = r.AddrOf("</head>");
  r.record[CCommonPointers::BodyStartTag] = r.AddrOf("<body");
  r.record[CCommonPointers::BodyEndTag] = r.AddrOf("</body>");
  CDOMSource dom(&r.record);
  ASSERT_FALSE(dom.isUndefined());
  EXPECT_EQ(dom.getBeginPos(), r.nHtmlBegin);
  EXPECT_EQ(dom.getHtml().getBeginPos(), r.pos("<html>"));
  EXPECT_EQ(dom.getHtml().getEndPos(), r.sBuffer.size());
  EXPECT_EQ(dom.getHead().getContentEndPos(), r.pos("</head>"));
  EXPECT_EQ(dom.getBody().getEndPos(), r.pos("</html>"));
  EXPECT_EQ(ToStd(dom.getBody().tagName()), "body");
}

TEST(DomSource, ElementsFoundByNameOnFirstRequest) {
  Response r{std::string(kPage)};
  CDOMSource dom(&r.record);
  // HEAD before BODY: the head end tag is searched forwards.
  EXPECT_EQ(dom.getHead().getEndPos(), r.pos("</head>") + 7);
  EXPECT_EQ(dom.getBody().getBeginPos(), r.pos("<body"));
  EXPECT_EQ(dom.getHtml().getEndPos(), r.sBuffer.size());

  // No html end tag: the HTML element ends at the source's end.
  Response open("<html><body>x");
  CDOMSource openDom(&open.record);
  EXPECT_EQ(openDom.getHtml().getEndPos(), open.sBuffer.size());
  EXPECT_EQ(openDom.getHtml().getContentEndPos(), open.sBuffer.size());
  // A body without a body end tag is its start tag's own element.
  EXPECT_EQ(openDom.getBody().getEndPos(), open.sBuffer.size());
  // No body start tag at all: undefined, and not searched again.
  Response none("<html><p>x</html>");
  CDOMSource noneDom(&none.record);
  EXPECT_TRUE(noneDom.getBody().isUndefined());
  EXPECT_EQ(&noneDom.getBody(), &noneDom.getBody());
}

TEST(DomSource, RecordsThatMakeNoSource) {
  Response r(kPage);
  CCommonPointers bad = r.record;
  bad[CCommonPointers::FirstByte] = 0;
  CDOMSource noFirst(&bad);
  EXPECT_TRUE(noFirst.isUndefined());
  try {
    noFirst.getBody();
    FAIL();
  } catch (const CDOMParserUndefinedObjectException& e) {
    EXPECT_EQ(e.m_strMessage, "Undefined DOM object.[CDOMSource::getBody() : m_spSource is 0]");
  }
  EXPECT_THROW(noFirst.getElementById("x"), CDOMParserUndefinedObjectException);
  EXPECT_THROW(noFirst.scanForString("x", 0, HX_NPOS), CDOMParserUndefinedObjectException);
  bad = r.record;
  bad[CCommonPointers::HtmlBegin] = r.Addr(r.sBuffer.size() + 10);
  EXPECT_TRUE(CDOMSource(&bad).isUndefined());
  // Without the last byte the page is empty, with the HTML at position 0.
  bad = r.record;
  bad[CCommonPointers::LastByte] = 0;
  bad[CCommonPointers::HtmlBegin] = 0;
  CDOMSource empty(&bad);
  ASSERT_FALSE(empty.isUndefined());
  EXPECT_TRUE(empty.getBody().isUndefined());
  EXPECT_TRUE(CDOMSource(nullptr).isUndefined());
}

TEST(DomSource, ScansTextAndPlainText) {
  Response r(kPage);
  CDOMSource dom(&r.record);
  const HXPos nSpan = r.pos("<span");
  EXPECT_EQ(dom.scanForString("SPNATMT", 0, HX_NPOS), r.pos("spnAtmt"));
  EXPECT_EQ(dom.scanForString("spnatmt", nSpan + 10, HX_NPOS), r.pos("spnAtmt", 1));
  EXPECT_EQ(dom.scanForString("spnatmt", nSpan, 15), HX_NPOS);
  EXPECT_EQ(dom.scanForString("spnatmt", nSpan, 16), r.pos("spnAtmt"));
  EXPECT_EQ(dom.scanForString("spnatmt", nSpan, HX_NPOS - 3), r.pos("spnAtmt"));
  EXPECT_EQ(dom.scanForString("html", r.sBuffer.size(), HX_NPOS), HX_NPOS);
  EXPECT_EQ(dom.scanForString("OwaPage", 0, 5000), r.pos("OwaPage"));
  std::string s;
  dom.substringData(r.pos("a.txt"), 5, s);
  EXPECT_EQ(s, "a.txt");
  dom.substringData(r.sBuffer.size(), 5, s);
  EXPECT_EQ(s, "");
  ci_string cs;
  dom.substringData(r.pos("a.txt"), 100000, cs);
  EXPECT_EQ(cs.size(), r.sBuffer.size() - r.pos("a.txt"));
  dom.getPlainText(r.pos("x &amp;"), r.pos("</body>"), s);
  EXPECT_EQ(s, "x &amp; y z");
  dom.getPlainText(r.pos("<p>"), r.pos("<p>"), s);
  EXPECT_EQ(s, "");
  dom.getPlainText(r.pos("<p>"), r.sBuffer.size() + 1, s);
  EXPECT_EQ(s, "");
}

TEST(DomSource, ElementQueries) {
  Response r(kPage);
  CDOMSource dom(&r.record);
  CDOMElement div = dom.getElementById("divAtt");
  ASSERT_FALSE(div.isUndefined());
  CDOMElementVector spans = div.getElementsByTagName("SPAN");
  ASSERT_EQ(spans.length(), 2u);
  EXPECT_TRUE(spans.item(2).isUndefined());
  EXPECT_EQ(div.getElementsByTagName("table").length(), 0u);
  CDOMElement first = spans.item(0);
  EXPECT_EQ(first.getAttribute("ATTID").getValue(), "A1");
  EXPECT_TRUE(first.getAttribute("nothere").isUndefined());
  CDOMElement second = first.nextSibling();
  ASSERT_FALSE(second.isUndefined());
  EXPECT_EQ(second.getAttribute("attid").getValue(), "A2");
  CDOMElement input = second.nextSibling();
  EXPECT_EQ(ToStd(input.tagName()), "input");
  EXPECT_TRUE(input.nextSibling().isUndefined());
  EXPECT_TRUE(input.nextSibling().isUndefined());
  EXPECT_EQ(first.parentNode().getBeginPos(), div.getBeginPos());
  EXPECT_TRUE(dom.getHtml().parentNode().isUndefined());
  CDOMAttribute checked = input.getAttribute("checked");
  EXPECT_FALSE(checked.hasValue());
  EXPECT_EQ(checked.getValue(), "");
  EXPECT_EQ(checked.getValueBeginPos(), HX_NPOS);
  std::string html;
  first.getStartTag().getHTML(html);
  EXPECT_EQ(html, "<span id=spnAtmt attid=A1>");
  EXPECT_EQ(first.getStartTag().getLength(), html.size());
  EXPECT_EQ(first.scanContentForString("TXT"), r.pos("txt"));
  EXPECT_EQ(input.scanContentForString("type"), HX_NPOS);
  EXPECT_EQ(input.scanForString("type"), r.pos("type"));
  EXPECT_EQ(dom.getBody().getFirstElementByTagName("b").getContentBeginPos(), r.pos("y</b>"));
  EXPECT_EQ(dom.getBody().getStartTagById("spnAtmt").getBeginPos(), r.pos("<span"));
  EXPECT_EQ(dom.getBody().getFirstStartTagByTagName("P").getBeginPos(), r.pos("<p>"));
  EXPECT_TRUE(dom.getBody().getFirstElementByName("x").isUndefined());
  EXPECT_EQ(dom.getEnclosingElement(r.pos("b.doc")).getBeginPos(), r.pos("<span", 1));
  EXPECT_EQ(dom.getBody().getStartTagsByTagName("span").item(1).getBeginPos(), r.pos("<span", 1));
}

TEST(DomSource, UndefinedWrappersThrowTheirOwnDetail) {
  CDOMElement e;
  CDOMStartTag t;
  CDOMAttribute a;
  auto detail = [](auto fn) -> std::string {
    try {
      fn();
    } catch (const CDOMParserUndefinedObjectException& ex) {
      EXPECT_EQ(ex.m_nPos, -1);
      return ex.m_strMessage;
    }
    return "no exception";
  };
  EXPECT_EQ(detail([&] { e.getBeginPos(); }), "Undefined DOM object.[CDOMElement::getBeginPos() : m_pElement is 0]");
  EXPECT_EQ(detail([&] { e.nextSibling(); }), "Undefined DOM object.[CDOMElement::nextSibling() : m_pElement is 0]");
  EXPECT_EQ(detail([&] { e.getElementsByTagName("x"); }),
            "Undefined DOM object.[CDOMElement::getElementsByTagName() : m_pElement is 0]");
  std::string s;
  EXPECT_EQ(detail([&] { t.getHTML(s); }), "Undefined DOM object.[CDOMStartTag::getHTML() : m_pStartTag is 0]");
  EXPECT_EQ(detail([&] { a.getValue(); }), "Undefined DOM object.[CDOMAttribute::getValue() : m_pAttribute is 0]");
  EXPECT_EQ(detail([&] { a.hasValue(); }), "Undefined DOM object.[CDOMAttribute::hasValue() : m_pAttribute is 0]");
  // Vectors never throw.
  EXPECT_EQ(CDOMElementVector().length(), 0u);
  EXPECT_TRUE(CDOMElementVector().item(0).isUndefined());
  EXPECT_TRUE(CDOMStartTagVector().item(0).isUndefined());
}

TEST(DomSource, AWrapperKeepsThePageAlive) {
  auto pResponse = std::make_unique<Response>(kPage);
  CDOMElement kept;
  {
    CDOMSource dom(&pResponse->record);
    kept = dom.getElementById("divAtt");
    ASSERT_EQ(dom.getSourcePtr().UseCount(), 5u);  // the document, its three elements and the copy
  }
  EXPECT_EQ(ToStd(kept.tagName()), "div");
  EXPECT_EQ(kept.getElementsByTagName("span").length(), 2u);
}

TEST(DomSource, TopLevelSiblingWalkKeepsTheElementTree) {
  Response r("<!-- c --><html><body><div id=a><span id=s>x</span><b>y</b></div></body></html><p>after");
  CDOMSource dom(&r.record);
  CDOMElement before = dom.getElementById("s");
  CDOMElement html = dom.getElementById("a").parentNode().parentNode();
  ASSERT_EQ(ToStd(html.tagName()), "html");
  EXPECT_EQ(ToStd(html.nextSibling().tagName()), "p");
  // Elements found after the top-level walk are those of the tree.
  CDOMElement s = dom.getElementById("s");
  EXPECT_EQ(s.getParserElement(), before.getParserElement());
  EXPECT_EQ(s.parentNode().getBeginPos(), r.pos("<div"));
  EXPECT_EQ(ToStd(s.nextSibling().tagName()), "b");
  EXPECT_EQ(ToStd(dom.getHtml().getFirstElementByTagName("b").parentNode().tagName()), "div");
}
