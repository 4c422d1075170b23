// Every edit kind of the DOM, recorded as buffer instructions and applied to
// the page the way the filter host applies them.
#include <gtest/gtest.h>

#include "dom_test_util.h"

using hxtest::Response;

namespace {

const char kPage[] =
    "<html><head><title>t</title></head><body>"
    "<div id=d1 class='a'>one<img src=x.gif><img src=y.gif/><IMG SRC=z.gif STYLE='b:1'></div>"
    "<input id=i1 disabled><input id=i2 value=\"ab\"><p id=p1>text"
    "</body></html>";

struct EditFixture {
  Response response{kPage};
  CDOMSource dom{&response.record};
  CBufferInstructionList list;
  std::string applied() const { return response.Apply(list); }
};

}  // namespace

TEST(DomEdits, InsertionsAroundStartTagsAndElements) {
  EditFixture f;
  CDOMElement div = f.dom.getElementById("d1");
  ASSERT_FALSE(div.isUndefined());
  EXPECT_EQ(div.getStartTag().insertDataAfter("[A]", &f.list), 0u);
  EXPECT_EQ(div.getStartTag().insertDataBefore("[B]", &f.list), 0u);
  EXPECT_EQ(div.appendContentData("[C]", &f.list), 0u);
  // The p element has no end tag: its content ends where the body ends it.
  CDOMElement p = f.dom.getElementById("p1");
  EXPECT_EQ(p.appendContentData("[D]", &f.list), 0u);
  const std::string out = f.applied();
  EXPECT_NE(out.find("[B]<div id=d1 class='a'>[A]one"), std::string::npos) << out;
  EXPECT_NE(out.find("STYLE='b:1'>[C]</div>"), std::string::npos) << out;
  EXPECT_NE(out.find("text[D]</body>"), std::string::npos) << out;
}

TEST(DomEdits, TwoInsertionsAtOneAddressStandNewestFirst) {
  EditFixture f;
  CDOMStartTag tag = f.dom.getElementById("i1").getStartTag();
  tag.insertDataAfter("1", &f.list);
  tag.insertDataAfter("2", &f.list);
  ASSERT_EQ(f.list.size(), 2u);
  EXPECT_STREQ(f.list.First()->m_spInstruction->m_pszText, "2");
  EXPECT_NE(f.applied().find("<input id=i1 disabled>21"), std::string::npos);
}

TEST(DomEdits, RemoveElementAndAttributes) {
  EditFixture f;
  EXPECT_EQ(f.dom.getElementById("d1").remove(&f.list), 0u);
  EXPECT_EQ(f.dom.getElementById("i2").removeAttribute("VALUE", &f.list), 0u);
  // An attribute the tag does not have: nothing recorded.
  EXPECT_EQ(f.dom.getElementById("i1").removeAttribute("value", &f.list), 0u);
  EXPECT_EQ(f.list.size(), 2u);
  const std::string out = f.applied();
  EXPECT_EQ(out.find("<div"), std::string::npos) << out;
  EXPECT_NE(out.find("<body><input id=i1 disabled><input id=i2 ><p"), std::string::npos) << out;
}

TEST(DomEdits, SetAttribute) {
  EditFixture f;
  CDOMElement div = f.dom.getElementById("d1");
  CDOMStartTagVector imgs = div.getStartTagsByTagName("img");
  ASSERT_EQ(imgs.length(), 3u);
  EXPECT_EQ(imgs.item(0).setAttribute("style", "display:none", &f.list), 0u);
  EXPECT_EQ(imgs.item(1).setAttribute("style", "x\"y", &f.list), 0u);
  EXPECT_EQ(imgs.item(2).setAttribute("style", "c:2", &f.list), 0u);
  EXPECT_EQ(div.setAttribute("CLASS", "b", &f.list), 0u);
  // Replacing an attribute: the insertion stands before the deletion.
  const CBufferInstructionNode* pLast = f.list.End()->m_pPrev;
  EXPECT_EQ(pLast->m_spInstruction->m_dwType, CBufferInstruction::TypeDelete);
  EXPECT_EQ(pLast->m_pPrev->m_spInstruction->m_dwType, CBufferInstruction::TypeInsert);
  const std::string out = f.applied();
  EXPECT_NE(out.find("<div id=d1 CLASS=\"b\">"), std::string::npos) << out;
  EXPECT_NE(out.find("<img src=x.gif style=\"display:none\">"), std::string::npos) << out;
  EXPECT_NE(out.find("<img src=y.gif/ style=\"x\"y\">"), std::string::npos) << out;
  EXPECT_NE(out.find("<IMG SRC=z.gif style=\"c:2\">"), std::string::npos) << out;
}

TEST(DomEdits, InsertValueData) {
  EditFixture f;
  CDOMAttribute value = f.dom.getElementById("i2").getAttribute("value");
  CDOMAttribute bare = f.dom.getElementById("i1").getAttribute("disabled");
  EXPECT_THROW(value.insertValueData(3, "z", &f.list), CDOMParserIllegalArgumentException);
  EXPECT_THROW(bare.insertValueData(1, "z", &f.list), CDOMParserIllegalArgumentException);
  EXPECT_EQ(f.list.size(), 0u);
  EXPECT_EQ(value.insertValueData(2, "c", &f.list), 0u);
  EXPECT_EQ(value.insertValueData(0, "_", &f.list), 0u);
  EXPECT_EQ(bare.insertValueData(0, "true", &f.list), 0u);
  const std::string out = f.applied();
  EXPECT_NE(out.find("<input id=i2 value=\"_abc\">"), std::string::npos) << out;
  EXPECT_NE(out.find("<input id=i1 disabled=\"true\" >"), std::string::npos) << out;
  try {
    value.insertValueData(HX_NPOS, "z", &f.list);
    FAIL();
  } catch (const CDOMParserException& e) {
    EXPECT_EQ(e.m_strMessage, "Illegal argument.[CDOMAttribute::insertValueData() : invalid nOffset value]");
    EXPECT_EQ(static_cast<size_t>(e.m_nPos), f.response.pos("value=\"ab\""));
  }
}

TEST(DomEdits, SourceInsertAndDeleteRanges) {
  EditFixture f;
  const HXPos nEnd = f.response.sBuffer.size();
  const HXPos nBegin = f.response.nHtmlBegin;
  EXPECT_EQ(f.dom.insertData(nEnd, "<!--end-->", &f.list), 0u);
  EXPECT_EQ(f.dom.insertData(nBegin, "<!--begin-->", &f.list), 0u);
  EXPECT_EQ(f.dom.deleteData(nEnd - 1, 1, &f.list), 0u);
  EXPECT_THROW(f.dom.insertData(nEnd + 1, "x", &f.list), CDOMParserIllegalArgumentException);
  EXPECT_THROW(f.dom.insertData(nBegin - 1, "x", &f.list), CDOMParserIllegalArgumentException);
  EXPECT_THROW(f.dom.deleteData(nEnd - 1, 2, &f.list), CDOMParserIllegalArgumentException);
  // A length that would wrap the end position around is refused too.
  EXPECT_THROW(f.dom.deleteData(nBegin, HX_NPOS - nBegin + 2, &f.list), CDOMParserIllegalArgumentException);
  try {
    f.dom.deleteData(nEnd, 1, &f.list);
    FAIL();
  } catch (const CDOMParserException& e) {
    EXPECT_EQ(e.m_strMessage, "Illegal argument.[CDOMSource::deleteData() : invalid nPos value]");
    EXPECT_EQ(static_cast<HXPos>(e.m_nPos), nEnd);
  }
  const std::string out = f.applied();
  EXPECT_EQ(out.substr(0, 18), "<!--begin--><html>");
  EXPECT_EQ(out.substr(out.size() - 16), "</html<!--end-->");
  // A null list is refused with 13 and nothing recorded.
  EXPECT_EQ(f.dom.insertData(nBegin, "x", nullptr), 13u);
  EXPECT_EQ(f.dom.getElementById("d1").remove(nullptr), 13u);
}

TEST(DomEdits, UndefinedWrappersThrowBeforeRecording) {
  EditFixture f;
  CDOMElement none = f.dom.getElementById("missing");
  ASSERT_TRUE(none.isUndefined());
  try {
    none.setAttribute("a", "b", &f.list);
    FAIL();
  } catch (const CDOMParserUndefinedObjectException& e) {
    EXPECT_EQ(e.m_strMessage, "Undefined DOM object.[CDOMElement::setAttribute() : m_pElement is 0]");
    EXPECT_EQ(e.m_nPos, -1);
  }
  EXPECT_THROW(none.remove(&f.list), CDOMParserUndefinedObjectException);
  EXPECT_THROW(none.appendContentData("x", &f.list), CDOMParserUndefinedObjectException);
  EXPECT_THROW(none.removeAttribute("x", &f.list), CDOMParserUndefinedObjectException);
  EXPECT_THROW(CDOMStartTag().insertDataAfter("x", &f.list), CDOMParserUndefinedObjectException);
  EXPECT_THROW(CDOMStartTag().insertDataBefore("x", &f.list), CDOMParserUndefinedObjectException);
  EXPECT_THROW(CDOMStartTag().setAttribute("x", "y", &f.list), CDOMParserUndefinedObjectException);
  EXPECT_THROW(CDOMAttribute().insertValueData(0, "x", &f.list), CDOMParserUndefinedObjectException);
  EXPECT_EQ(f.list.size(), 0u);
}

// A page that ends inside a tag takes no edit at all, near its start or its
// end. What only looks like an open tag at the end (in a comment, in a
// quoted value, a '>' inside quotes, a '<' before a blank) cuts nothing.
TEST(DomEdits, PageEndingInsideATagTakesNoEdit) {
  const std::string head = "<html><body><p id=p1>text</p>";
  for (const char* tail : {"<a title=\"Ada", "<a title='x>y", "<a tit", "</a", "<!-- x >", "<"}) {
    SCOPED_TRACE(tail);
    Response response(head + tail);
    CDOMSource dom(&response.record);
    CBufferInstructionList list;
    CDOMElement p = dom.getElementById("p1");
    ASSERT_FALSE(p.isUndefined());
    EXPECT_THROW(p.getStartTag().insertDataBefore("[B]", &list), CDOMParserIllegalArgumentException);
    EXPECT_THROW(p.remove(&list), CDOMParserIllegalArgumentException);
    EXPECT_THROW(dom.getBody().appendContentData("[M]", &list), CDOMParserIllegalArgumentException);
    EXPECT_THROW(dom.insertData(response.nHtmlBegin, "[S]", &list), CDOMParserIllegalArgumentException);
    EXPECT_EQ(list.size(), 0u);
  }
  for (const char* tail : {"<!-- <a title=\"x -->", "<a title='<b x=\"'>", "<a title=\"x>y\">", "a < b"}) {
    SCOPED_TRACE(tail);
    Response response(head + tail);
    CDOMSource dom(&response.record);
    CBufferInstructionList list;
    DWORD dwRet = 1;
    EXPECT_NO_THROW(dwRet = dom.getBody().appendContentData("[M]", &list));
    EXPECT_EQ(dwRet, 0u);
    EXPECT_EQ(response.Apply(list), head + tail + "[M]");
  }
}
