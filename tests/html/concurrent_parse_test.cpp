// Sixteen threads parse pages at once from a cold start: the first of them
// builds the process-wide tag-type tables, the others must wait for it and
// then read them without locks. Run under ThreadSanitizer.
#include <gtest/gtest.h>

#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "html/attributes.h"
#include "html/element.h"
#include "html/tag.h"
#include "html_test_util.h"

using hxtest::Page;

namespace {

// A fingerprint of one page's parse: tags, attributes and a few elements.
std::string ParseFingerprint(const std::string& sHtml, bool bFullParse) {
  Page page(sHtml);
  std::string sOut;
  if (bFullParse) {
    for (CTag* pTag : page.src()->fullSequentialParse()) {
      sOut += ToStd(pTag->getName());
      CAttributes* pAttributes = pTag->parseAttributes();
      if (pAttributes != nullptr) sOut += std::to_string(pAttributes->size());
      sOut += ';';
    }
  } else {
    for (CStartTag* p = page.src()->findNextStartTag(0); p != nullptr; p = page.src()->findNextStartTag(p->getEnd())) {
      sOut += ToStd(p->getName()) + ';';
    }
  }
  CElement* pDiv = page.src()->getElementById(ci_string("divAtt"));
  if (pDiv != nullptr) sOut += std::to_string(pDiv->getEnd() - pDiv->getBegin());
  return sOut;
}

}  // namespace

TEST(HtmlParserConcurrent, SixteenThreadsParseFromAColdStart) {
  const std::string sHtml = hxtest::SamplePage("premium_readmessage.html");
  const std::string sBasic = hxtest::SamplePage("basic_readmessage.html");
  ASSERT_FALSE(sHtml.empty());
  constexpr int kThreads = 16;
  std::latch start(kThreads);
  std::vector<std::string> results(kThreads);
  std::vector<std::thread> threads;
  for (int i = 0; i < kThreads; ++i) {
    threads.emplace_back([&, i] {
      start.arrive_and_wait();
      // Half the threads search on demand, half parse fully: both reach the
      // tables through different first accesses.
      const std::string& sPage = (i % 4 < 2) ? sHtml : sBasic;
      results[i] = ParseFingerprint(sPage, i % 2 == 0);
      for (int round = 0; round < 3; ++round) {
        if (ParseFingerprint(sPage, i % 2 == 0) != results[i]) results[i] = "mismatch";
      }
    });
  }
  for (std::thread& t : threads) t.join();
  for (int i = 0; i < kThreads; ++i) {
    EXPECT_FALSE(results[i].empty());
    EXPECT_EQ(results[i], results[i % 4]) << i;
  }
}
