#include <gtest/gtest.h>

#include <atomic>
#include <map>
#include <thread>
#include <vector>
#include <string>

#include "general/page_char_set.h"
#include "general/resource.h"
#include "general/resource_strings.h"
#include "log_capture.h"

namespace {

std::string Encode(const char16_t* text, size_t capacity = 256) {
  CByteBuffer buffer(capacity);
  HtmlEncodeToUTF8(buffer, text);
  return buffer.str();
}

TEST(HtmlEncodeToUTF8, EscapesMarkupAndEncodesUtf8) {
  EXPECT_EQ(Encode(u"a<b>"), "a&lt;b&gt;");
  EXPECT_EQ(Encode(u"a<b>").size(), 10u);
  EXPECT_EQ(Encode(u"\""), "&quot;");
  EXPECT_EQ(Encode(u"&'"), "&'");
  EXPECT_EQ(Encode(u"\u00E9"), "\xC3\xA9");
  EXPECT_EQ(Encode(u"\u20AC"), "\xE2\x82\xAC");
  EXPECT_EQ(Encode(u"\u07FF\u0800"), "\xDF\xBF\xE0\xA0\x80");  // the last of two bytes, the first of three
  EXPECT_EQ(Encode(u"\U0001F600"), "\xF0\x9F\x98\x80");
  // A lone surrogate has no UTF-8 form.
  const char16_t lone[] = {0xD800, u'x', 0};
  EXPECT_EQ(Encode(lone), "\xEF\xBF\xBDx");
  EXPECT_EQ(Encode(u""), "");
}

TEST(HtmlEncodeToUTF8, GrowsToTwiceOrWhatIsNeeded) {
  CByteBuffer small(2);
  HtmlEncodeToUTF8(small, u"abc");
  EXPECT_EQ(small.Capacity(), 4u);  // twice 2 covers 3
  CByteBuffer tiny(1);
  HtmlEncodeToUTF8(tiny, u"<");  // 4 bytes needed at once
  EXPECT_EQ(tiny.Capacity(), 4u);
  EXPECT_EQ(tiny.str(), "&lt;");
}

class ResourceStrings : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(resource.LoadModule(HX_TEST_STRINGS_DLL));
    charSets.Init();
  }
  CResource resource;
  CPageCharSet charSets;
};

TEST_F(ResourceStrings, UnknownIdIsLeftOutAndFails) {
  CLogCapture log;
  std::map<int32_t, std::string> out;
  EXPECT_FALSE(GetResourceStrings(resource, charSets, {107, 999}, out, 1, 0x1009, "utf-8"));
  ASSERT_EQ(out.size(), 1u);
  EXPECT_EQ(out[107], "Open &lt;it&gt;");
  EXPECT_TRUE(log.Has("GetResources didn't find res ID 999 LANGID 4105, it looked for Englich version 0"));
  EXPECT_TRUE(log.Has("GetResources can not get res ID 999 for LANGID 4105."));
}

TEST_F(ResourceStrings, EnglishStandsInForAMissingLanguage) {
  CLogCapture log;
  std::map<int32_t, std::string> out;
  EXPECT_TRUE(GetResourceStrings(resource, charSets, {107, 200}, out, 1, 0x040C, "utf-8"));
  EXPECT_EQ(out[107], "Ouvrir");
  EXPECT_EQ(out[200], "English only");
  EXPECT_TRUE(log.Has("GetResources didn't find res ID 200 LANGID 1036, it looked for Englich version 1"));
  // Existing entries keep their text.
  out[109] = "kept";
  EXPECT_TRUE(GetResourceStrings(resource, charSets, {109}, out, 1, 0x1009, "utf-8"));
  EXPECT_EQ(out[109], "kept");
}

TEST_F(ResourceStrings, ModesTwoAndThreeConvertToThePageCharSet) {
  std::map<int32_t, std::string> out;
  EXPECT_TRUE(GetResourceStrings(resource, charSets, {107, 203}, out, 2, 0x1009, "windows-1250"));
  EXPECT_EQ(out[107], "Open <it>");  // no escaping outside UTF-8
  EXPECT_EQ(out[203], "\xE9\x80");   // é and the euro sign in code page 1250
  out.clear();
  EXPECT_TRUE(GetResourceStrings(resource, charSets, {107}, out, 3, 0x1009, "UTF-8"));
  EXPECT_EQ(out[107], "Open &lt;it&gt;");
  out.clear();
  CLogCapture log;
  EXPECT_FALSE(GetResourceStrings(resource, charSets, {107, 109}, out, 2, 0x1009, "x-unknown"));
  EXPECT_TRUE(out.empty());
  EXPECT_TRUE(log.Has("GetResources can not translate the res ID 107 LANGID 4105, CharSet x-unknown"));
  // Modes other than 2 and 3 ignore the character set.
  EXPECT_TRUE(GetResourceStrings(resource, charSets, {203}, out, 1, 0x1009, "x-unknown"));
  EXPECT_EQ(out[203], "\xC3\xA9\xE2\x82\xAC");
}

TEST_F(ResourceStrings, Utf8StringNeedsFourBytes) {
  std::string text = "unchanged";
  EXPECT_EQ(GetUTF8ResourceStringOf(resource, 109, text, 0x1009), 0);  // "OK"
  EXPECT_EQ(text, "unchanged");
  EXPECT_EQ(GetUTF8ResourceStringOf(resource, 110, text, 0x1009), 1);
  EXPECT_EQ(text, "Fine");
  EXPECT_EQ(GetUTF8ResourceStringOf(resource, 111, text, 0x1009), 1);
  EXPECT_EQ(text, "a&lt;b");
  // No English fallback here.
  CLogCapture log;
  EXPECT_EQ(GetUTF8ResourceStringOf(resource, 191, text, 0x040C), 0);
  EXPECT_TRUE(log.Has("[GetUTF8ResourceString] Unable to load resource RES 191 LANGID 1036"));
}

TEST(ResourceScriptVariables, TableRows) {
  ASSERT_EQ(std::size(ResourceScriptVariableTable), 17u);
  EXPECT_EQ(ResourceScriptVariableTable[2].id, 110);
  EXPECT_STREQ(ResourceScriptVariableTable[2].prefix, "var g_szRichText = \"");
  EXPECT_EQ(ResourceScriptVariableTable[3].id, 109);
  EXPECT_STREQ(ResourceScriptVariableTable[3].prefix, "var g_szTextText = \"");
  for (const ResourceScriptVariable& row : ResourceScriptVariableTable) {
    const std::string prefix = row.prefix;
    EXPECT_EQ(prefix.substr(prefix.size() - 4), " = \"") << row.id;
  }
}

}  // namespace

namespace {

// Request threads read strings at once without a lock of their own.
TEST(ResourceStringsConcurrent, ManyThreadsReadTheLibrary) {
  CResource resource;
  ASSERT_TRUE(resource.LoadModule(HX_TEST_STRINGS_DLL));
  CPageCharSet charSets;
  charSets.Init();
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 200; ++i) {
        std::map<int32_t, std::string> out;
        const bool ok = GetResourceStrings(resource, charSets, {107, 200, 203}, out, t % 2 == 0 ? 1 : 2,
                                           t % 2 == 0 ? 0x040C : 0x1009, "windows-1250");
        if (!ok || out.size() != 3) ++wrong;
        LANGID lang = 0;
        if (!resource.DetectLanguage("de", lang) || lang != 0x0407) ++wrong;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
