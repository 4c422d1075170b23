// Recognition of every tag type at a page position, the register's order of
// candidates, and the positions inside comments and CDATA sections.
#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "html/attributes.h"
#include "html/html_elements.h"
#include "html/tag.h"
#include "html/tag_type_register.h"
#include "html/tag_types.h"
#include "html_test_util.h"

using hxtest::Page;

namespace {

struct RecognitionCase {
  const char* pHtml;      // the tag starts at the first byte
  const char* pType;      // description of the expected type; null: no tag
  const char* pTagText;   // the expected tag's text
  const char* pName;      // its name
};

const RecognitionCase kCases[] = {
    // normal start tags
    {"<div id=x>text", "normal", "<div id=x>", "div"},
    {"<DIV Class='a'>", "normal", "<DIV Class='a'>", "DIV"},
    {"<br/>x", "normal", "<br/>", "br"},
    {"<p/>x", "normal", "<p/>", "p"},
    {"<a title=\"x>y\" href=z>t", "normal", "<a title=\"x>y\" href=z>", "a"},
    {"<o:p></o:p>", "normal", "<o:p>", "o:p"},
    {"<td\"x\">", "unregistered", "<td\"x\">", ""},
    // comments
    {"<!-- a > b -->x", "comment", "<!-- a > b -->", "!--"},
    {"<!---->", "comment", "<!---->", "!--"},
    {"<!-- never closed >", "unregistered", "<!-- never closed >", ""},
    // XML declaration and processing instructions
    {"<?xml version=\"1.0\"?>", "XML declaration", "<?xml version=\"1.0\"?>", "?xml"},
    {"<?xmlfoo bar?>", "XML processing instruction", "<?xmlfoo bar?>", "?xmlfoo"},
    {"<?php echo 1; ?>", "XML processing instruction", "<?php echo 1; ?>", "?php"},
    // document type declarations
    {"<!doctype html [ <!ENTITY x \"a>b\"> ]>x", "document type declaration",
     "<!doctype html [ <!ENTITY x \"a>b\"> ]>", "!doctype"},
    {"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD>\">", "unregistered", "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD>", ""},
    // markup declarations
    {"<!ELEMENT x (y)>", "markup declaration", "<!ELEMENT x (y)>", "!ELEMENT"},
    {"<!attlist x a CDATA \">\">", "markup declaration", "<!attlist x a CDATA \">\">", "!attlist"},
    {"<!whatever>", "unregistered", "<!whatever>", ""},
    // CDATA sections
    {"<![cdata[ <b> ]]>", "CDATA section", "<![cdata[ <b> ]]>", "![cdata["},
    {"<![CDATA[ <b> ]]>", "unregistered", "<![CDATA[ <b>", ""},
    // server tags
    {"<% if (a < b) { %>", "common server tag", "<% if (a < b) { %>", "%"},
    {"<%-- x --%>", "common server tag", "<%-- x --%>", "%"},
    // end tags
    {"</div>", "/normal", "</div>", "div"},
    {"</TD>", "/normal", "</TD>", "TD"},
    {"</div >", "/unregistered", "</div >", "div "},
    {"</>", "/unregistered", "</>", ""},
    {"</ this end tag's text runs on well past the length of any element name >x", "/unregistered",
     "</ this end tag's text runs on well past the length of any element name >",
     " this end tag's text runs on well past the length of any element name "},
    // unregistered start tags and non-tags
    {"<1bad>", "unregistered", "<1bad>", ""},
    {"<>", "unregistered", "<>", ""},
    {"< notatag >", "unregistered", "< notatag >", ""},
    {"<div", nullptr, nullptr, nullptr},
    {"<?xml", nullptr, nullptr, nullptr},
    {"x<b>", nullptr, nullptr, nullptr},
};

}  // namespace

TEST(TagRecognition, EachTagTypeAtAPosition) {
  for (const RecognitionCase& c : kCases) {
    Page page(c.pHtml);
    CTag* pTag = CTag::getTagAt(page.src(), page.nHtmlBegin);
    if (c.pType == nullptr) {
      EXPECT_EQ(pTag, nullptr) << c.pHtml;
      continue;
    }
    ASSERT_NE(pTag, nullptr) << c.pHtml;
    EXPECT_EQ(pTag->getTagType()->getDescription(), c.pType) << c.pHtml;
    EXPECT_EQ(page.text(pTag), c.pTagText) << c.pHtml;
    EXPECT_EQ(ToStd(pTag->getName()), c.pName) << c.pHtml;
    EXPECT_EQ(pTag->isStartTag(), c.pType[0] != '/') << c.pHtml;
  }
}

TEST(TagRecognition, TagsCarryTheirElementIndex) {
  Page page("<TABLE><tables><h7></Table>");
  EXPECT_EQ(CTag::getTagAt(page.src(), page.pos("<TABLE>"))->getElementIndex(), 78);
  EXPECT_EQ(CTag::getTagAt(page.src(), page.pos("<tables>"))->getElementIndex(), -1);
  EXPECT_EQ(CTag::getTagAt(page.src(), page.pos("<h7>"))->getElementIndex(), -1);
  EXPECT_EQ(CTag::getTagAt(page.src(), page.pos("</Table>"))->getElementIndex(), 78);
}

// Names read from the page a word at a time are folded per byte as the byte
// path folds them: only A-Z change, and bytes next to them ('@', '[') or
// above 127 stay themselves.
TEST(TagRecognition, ElementIndexOfANameInThePageIgnoresOnlyAsciiCase) {
  auto inPage = [](const std::string& sName, size_t nRoom) {
    const std::string sBuffer = sName + std::string(nRoom, '>');
    return CHTMLElementNameSingletonData::getElementIndexInBuffer(sBuffer.data(), sName.size(),
                                                                  sBuffer.data() + sBuffer.size());
  };
  for (int64_t i = 0; i < 91; ++i) {
    std::string sName = *CHTMLElementNameSingletonData::getElementName(i);
    for (size_t k = 0; k < sName.size(); k += 2) sName[k] = static_cast<char>(std::toupper(sName[k]));
    EXPECT_EQ(inPage(sName, 16), i) << sName;
    EXPECT_EQ(inPage(sName, 0), i) << sName;  // too near the end for a word
  }
  for (const char* pName : {"T@BLE", "T[BLE", "t\xc1" "ble", "bloCkquotes", "", "h7"}) {
    EXPECT_EQ(inPage(pName, 16), -1) << pName;
  }
}

TEST(TagRecognition, RegisterOrdersCandidatesLongestDelimiterFirst) {
  auto candidates = [](const char* pHtml) {
    Page page(pHtml);
    std::vector<std::string> v;
    CProspectiveTagTypeIterator it(page.src(), page.nHtmlBegin);
    while (it.hasNext()) v.push_back(it.getNextTagType()->getDescription());
    return v;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(candidates("<!-- x -->"), (V{"comment", "markup declaration", "normal", "unregistered"}));
  EXPECT_EQ(candidates("<!doctype x>"), (V{"document type declaration", "markup declaration", "normal", "unregistered"}));
  EXPECT_EQ(candidates("<![cdata[x]]>"), (V{"CDATA section", "markup declaration", "normal", "unregistered"}));
  EXPECT_EQ(candidates("<?xml ?>"), (V{"XML declaration", "XML processing instruction", "normal", "unregistered"}));
  EXPECT_EQ(candidates("<% %>"), (V{"common server tag", "normal", "unregistered"}));
  EXPECT_EQ(candidates("</a>"), (V{"/normal", "/unregistered", "normal", "unregistered"}));
  EXPECT_EQ(candidates("<a>"), (V{"normal", "unregistered"}));
  // Capitals do not descend: the register compares the page bytes exactly.
  EXPECT_EQ(candidates("<!DOCTYPE x>"), (V{"markup declaration", "normal", "unregistered"}));
  // A delimiter cut by the end of the page.
  EXPECT_EQ(candidates("<!-"), (V{"markup declaration", "normal", "unregistered"}));
  EXPECT_TRUE(candidates("a<b>").empty());
}

TEST(TagRecognition, AddingATypeTwiceKeepsOneEntryAtTheFront) {
  CTagTypeRegister root(nullptr, 0);
  CStartTagTypeSingletonData* pTypes = CStartTagTypeSingletonData::getInstance();
  root.addTagType(pTypes->m_pNormal);
  root.addTagType(pTypes->m_pComment);
  root.addTagType(pTypes->m_pNormal);
  root.addTagType(nullptr);
  ASSERT_EQ(root.m_lstTagTypes.size(), 2u);
  EXPECT_EQ(root.m_lstTagTypes.front(), pTypes->m_pNormal);
}

TEST(TagRecognition, NoTagBeginsInsideACommentOrCDATASection) {
  Page page("<p>a<!-- <b>x</b> <% y %> --><i>z</i><![cdata[ <u> ]]><s>");
  CSource* pSource = page.src();
  EXPECT_EQ(CTag::getTagAt(pSource, page.pos("<b>")), nullptr);
  EXPECT_EQ(CTag::getTagAt(pSource, page.pos("</b>")), nullptr);
  EXPECT_EQ(CTag::getTagAt(pSource, page.pos("<u>")), nullptr);
  // Server tags are found anywhere; a tag right at a comment's end is valid.
  CTag* pServer = CTag::getTagAt(pSource, page.pos("<%"));
  ASSERT_NE(pServer, nullptr);
  EXPECT_TRUE(pServer->getTagType()->isServerTag());
  ASSERT_NE(CTag::getTagAt(pSource, page.pos("<i>")), nullptr);
  ASSERT_NE(CTag::getTagAt(pSource, page.pos("<s>")), nullptr);
  // With nested tags assumed away the position check is skipped.
  EXPECT_NE(CTagType::getTagAt(pSource, page.pos("<b>"), true), nullptr);
  // The full parse agrees.
  std::vector<std::string> names;
  for (CTag* pTag : pSource->fullSequentialParse()) names.push_back(ToStd(pTag->getName()));
  EXPECT_EQ(names, (std::vector<std::string>{"p", "!--", "%", "i", "i", "![cdata[", "s"}));
}

TEST(TagRecognition, StartTagsAnswerAboutTheirType) {
  Page page("<div a=1>x</div><% s %><!-- c -->< x>");
  CStartTagTypeSingletonData* pTypes = CStartTagTypeSingletonData::getInstance();
  auto* pDiv = static_cast<CStartTag*>(CTag::getTagAt(page.src(), page.pos("<div")));
  EXPECT_EQ(pDiv->getTagType(), pTypes->m_pNormal);
  EXPECT_FALSE(pDiv->isUnregistered());
  EXPECT_EQ(pDiv->getStartTagType()->getCorrespondingEndTagType(), CEndTagTypeSingletonData::getInstance()->m_pNormal);
  EXPECT_EQ(CEndTagTypeSingletonData::getInstance()->m_pNormal->getCorrespondingStartTagType(), pTypes->m_pNormal);
  EXPECT_EQ(CEndTagTypeSingletonData::getInstance()->m_pUnregistered->getCorrespondingStartTagType(), nullptr);
  EXPECT_TRUE(CTag::getTagAt(page.src(), page.pos("< x>"))->isUnregistered());
  auto* pEnd = CTag::getTagAt(page.src(), page.pos("</div>"));
  EXPECT_FALSE(pEnd->isStartTag());
  EXPECT_EQ(findNextNormalEndTag(page.src(), 0, ci_string("DIV")), pEnd);
  EXPECT_EQ(findPreviousNormalEndTag(page.src(), page.src()->getEnd(), ci_string("div")), pEnd);
  // Null sources are refused without a crash.
  EXPECT_EQ(CTag::getTagAt(nullptr, 0), nullptr);
  EXPECT_EQ(pTypes->m_pNormal->constructTagAt(nullptr, 0), nullptr);
  EXPECT_FALSE(pTypes->m_pComment->isValidPosition(nullptr, 0));
}
