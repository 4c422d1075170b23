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
