// The element vocabulary, the element sets and the end-tag rules.
#include <gtest/gtest.h>

#include "html/html_elements.h"

TEST(HtmlElements, NamesAndIndexes) {
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementIndex(ci_string("TABLE")), 78);
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementIndex(ci_string("Table")), 78);
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementIndex(ci_string("tables")), -1);
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementIndex(ci_string("")), -1);
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementIndex(ci_string("h7")), -1);
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementIndex(ci_string("BLOCKQUOTE")), 11);
  // Every name finds its own index, and the map agrees with the lookup.
  CHTMLElementNameSingletonData* pNames = CHTMLElementNameSingletonData::getInstance();
  ASSERT_EQ(pNames->m_vecNames.size(), 91u);
  for (int64_t i = 0; i < 91; ++i) {
    const std::string* pName = CHTMLElementNameSingletonData::getElementName(i);
    ASSERT_NE(pName, nullptr);
    EXPECT_EQ(pNames->getIndex(ci_string(pName->c_str())), i);
    EXPECT_EQ(pNames->m_mapNameIndex.at(ci_string(pName->c_str())), i);
  }
  EXPECT_EQ(*CHTMLElementNameSingletonData::getElementName(90), "var");
  EXPECT_EQ(*CHTMLElementNameSingletonData::getElementName(HtmlElementIndex::kHtml), "html");
  EXPECT_EQ(*CHTMLElementNameSingletonData::getElementName(HtmlElementIndex::kHead), "head");
  EXPECT_EQ(*CHTMLElementNameSingletonData::getElementName(HtmlElementIndex::kBody), "body");
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementName(91), nullptr);
  EXPECT_EQ(CHTMLElementNameSingletonData::getElementName(-1), nullptr);
}

TEST(HtmlElements, SetOperations) {
  CHTMLElementSet set;
  EXPECT_FALSE(set.contains(-1));
  set.add(~uint64_t{0});
  EXPECT_EQ(set.count(), 0u);
  set.add(5);
  set.add(127);
  EXPECT_TRUE(set.contains(127));
  EXPECT_FALSE(set.contains(128));
  EXPECT_FALSE(set.contains(100000));
  EXPECT_EQ(set.getWordCount(), 4u);
  set.add(200);
  EXPECT_EQ(set.getWordCount(), 8u);
  EXPECT_TRUE(set.contains(200));
  EXPECT_TRUE(set.contains(5));
  CHTMLElementSet copy(set);
  copy.subtract(CHTMLElementSet(5));
  EXPECT_FALSE(copy.contains(5));
  EXPECT_TRUE(set.contains(5));
  CHTMLElementSet small;
  small.unite(set);
  EXPECT_EQ(small.getWordCount(), 8u);
  EXPECT_TRUE(small.contains(200));
}

TEST(HtmlElements, EndTagRules) {
  CHTMLElementsSingletonData* pData = CHTMLElementsSingletonData::getInstance();
  EXPECT_EQ(pData->m_EndTagOptionalElements.count(), 15u);
  EXPECT_EQ(pData->m_EndTagRequiredElements.count(), 63u);
  EXPECT_EQ(pData->m_EndTagForbiddenElements.count(), 13u);
  EXPECT_EQ(pData->m_HasEndTagElements.count(), 78u);
  for (int64_t i = 0; i < 91; ++i) {
    const int n = pData->m_EndTagOptionalElements.contains(i) + pData->m_EndTagRequiredElements.contains(i) +
                  pData->m_EndTagForbiddenElements.contains(i);
    EXPECT_EQ(n, 1) << i;
    EXPECT_EQ(pData->m_HasEndTagElements.contains(i), !pData->m_EndTagForbiddenElements.contains(i)) << i;
  }
  EXPECT_EQ(CHTMLElementsSingletonData::getEndTagRule(25), nullptr);  // div
  EXPECT_EQ(CHTMLElementsSingletonData::getEndTagRule(-1), nullptr);
  const CEndTagRule* pP = CHTMLElementsSingletonData::getEndTagRule(63);
  ASSERT_NE(pP, nullptr);
  EXPECT_TRUE(pP->m_EndingStartTags.contains(63));
  EXPECT_TRUE(pP->m_EndingStartTags.contains(80));  // td
  EXPECT_TRUE(pP->m_EndingEndTags.contains(12));    // body
  const CEndTagRule* pTd = CHTMLElementsSingletonData::getEndTagRule(80);
  ASSERT_NE(pTd, nullptr);
  EXPECT_TRUE(pTd->m_SteppedOverElements.contains(78));  // table
  EXPECT_FALSE(pTd->m_EndingEndTags.contains(83));       // th
  EXPECT_TRUE(CHTMLElementsSingletonData::getNotNestableElements().contains(0));  // a
  EXPECT_TRUE(CHTMLElementsSingletonData::getEndTagRequiredElements().contains(25));
}
