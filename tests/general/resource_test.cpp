#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "general/resource.h"
#include "platform/library_loader.h"
#include "platform/pe_image.h"
#include "support/temp_dir.h"

namespace {

std::vector<std::string> g_trace;
std::vector<std::pair<WORD, std::string>> g_errors;
void Trace(const char* text) { g_trace.emplace_back(text); }
void Error(WORD type, const char* text) { g_errors.emplace_back(type, text); }

class ResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_trace.clear();
    g_errors.clear();
    ResourceTraceHook.store(&Trace);
    ResourceErrorHook.store(&Error);
  }
  void TearDown() override {
    ResourceTraceHook.store(nullptr);
    ResourceErrorHook.store(nullptr);
  }
  static std::u16string Load(const CResource& r, int32_t id, LANGID lang) {
    std::u16string text;
    if (!r.LoadString(id, text, lang)) return u"<none>";
    return text;
  }
};

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

TEST_F(ResourceTest, StringIdsMapToBlockAndEntry) {
  CResource r;
  ASSERT_TRUE(r.LoadModule(HX_TEST_STRINGS_DLL));
  // 0: block 1 entry 0; 16: block 2 entry 0; 191: block 12 entry 15.
  EXPECT_EQ(Load(r, 0, 0x1009), u"zero");
  EXPECT_EQ(Load(r, 16, 0x1009), u"sixteen");
  EXPECT_EQ(Load(r, 191, 0x1009), u"Access denied");
  EXPECT_EQ(Load(r, 0, 0x040C), u"zéro");
  EXPECT_EQ(Load(r, 205, 0x1009), u"中文");
  EXPECT_TRUE(g_trace.empty());
}

TEST_F(ResourceTest, MissingStringsAndLanguages) {
  CResource r;
  ASSERT_TRUE(r.LoadModule(HX_TEST_STRINGS_DLL));
  // Block 12 exists in French, but its entry 15 is empty: false, no trace.
  EXPECT_EQ(Load(r, 191, 0x040C), u"<none>");
  EXPECT_TRUE(g_trace.empty());
  // A block the language lacks is traced.
  EXPECT_EQ(Load(r, 16, 0x040C), u"<none>");
  ASSERT_EQ(g_trace.size(), 1u);
  EXPECT_EQ(g_trace[0].rfind("Resource Class LoadString failed. It couldn't find the resource 16 error 181", 0), 0u);
  CResource none;
  EXPECT_EQ(Load(none, 0, 0x1009), u"<none>");
  EXPECT_EQ(g_trace.back(), "Resource class NULL handler LoadString");
}

TEST_F(ResourceTest, DetectLanguageMatchesCodesExactly) {
  CResource r;
  LANGID lang = 0;
  EXPECT_TRUE(r.DetectLanguage("pt-br", lang));
  EXPECT_EQ(lang, 0x0416);
  EXPECT_TRUE(r.DetectLanguage("es", lang));
  EXPECT_EQ(lang, 0x0C0A);
  EXPECT_TRUE(r.DetectLanguage("en", lang));
  EXPECT_EQ(lang, 0x1009);
  EXPECT_FALSE(r.DetectLanguage("PT-BR", lang));
  EXPECT_EQ(lang, 0x1009);
  lang = 0;
  EXPECT_FALSE(r.DetectLanguage("zh", lang));
  EXPECT_EQ(lang, 0x1009);
  EXPECT_EQ(g_trace.back(), "Resource class can not find language zh. Set english as default");
  EXPECT_EQ(r.Languages().size(), 20u);
}

TEST_F(ResourceTest, FailedLoadReportsAndLeavesNothingLoaded) {
  CResource r;
  ASSERT_TRUE(r.LoadModule(HX_TEST_STRINGS_DLL));
  EXPECT_FALSE(r.LoadModule("/nonexistent/PelrRes64.dll"));
  EXPECT_FALSE(r.IsLoaded());
  EXPECT_TRUE(r.Path().empty());
  ASSERT_EQ(g_errors.size(), 1u);
  EXPECT_EQ(g_errors[0].first, 1);
  EXPECT_EQ(g_errors[0].second,
            " Resource Class LoadModule failed  /nonexistent/PelrRes64.dll error 2   "
            "The system cannot find the file specified.");
  ASSERT_EQ(g_trace.size(), 1u);
  EXPECT_EQ(g_trace[0],
            "Resource Class LoadModule failed  /nonexistent/PelrRes64.dll error 2, "
            "The system cannot find the file specified.");
  EXPECT_TRUE(r.UnloadModule());
}

TEST_F(ResourceTest, ProductLibraryHoldsEveryLanguage) {
  CResource r;
  ASSERT_TRUE(r.LoadModule(HX_PRODUCT_RESOURCE_DLL));
  for (const CResource::LanguageRow& row : r.Languages()) {
    for (int32_t id : {104, 107, 108, 109, 110, 171, 181, 183, 187, 188, 189, 191, 192, 193, 197, 199, 202, 214,
                       600, 601}) {
      std::u16string text;
      EXPECT_TRUE(r.LoadString(id, text, row.langId)) << row.code << " " << id;
      EXPECT_EQ(text.find(u'"'), std::u16string::npos) << row.code << " " << id;
    }
  }
}

// Damaged files fail cleanly: at load, or at the look-up, never by reading
// outside the file (the sanitizer build checks the reads).
TEST_F(ResourceTest, TruncatedOrCorruptLibrariesFailCleanly) {
  const std::vector<uint8_t> good = ReadAll(HX_TEST_STRINGS_DLL);
  ASSERT_GT(good.size(), 512u);
  CTempDir dir;
  const std::string path = dir.Path() + "cut.dll";
  for (size_t cut = 0; cut < good.size(); cut += 61) {
    WriteAll(path, std::vector<uint8_t>(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(cut)));
    CResource r;
    if (r.LoadModule(path)) {
      std::u16string text;
      for (int32_t id : {0, 16, 191, 205}) r.LoadString(id, text, 0x1009);
    }
  }
  // Overwrite bytes of the resource section with garbage.
  for (size_t at = 0; at < good.size(); at += 7) {
    std::vector<uint8_t> bad = good;
    for (size_t k = at; k < at + 4 && k < bad.size(); ++k) bad[k] = 0xFF;
    WriteAll(path, bad);
    CResource r;
    if (r.LoadModule(path)) {
      std::u16string text;
      for (int32_t id : {0, 16, 191, 205}) r.LoadString(id, text, 0x1009);
    }
  }
  WriteAll(path, {'M', 'Z'});
  CResource r;
  EXPECT_FALSE(r.LoadModule(path));
  ASSERT_FALSE(g_errors.empty());
  EXPECT_NE(g_errors.back().second.find("error 193"), std::string::npos);
}

// A string block whose entry lengths run past its end: the walk stops at
// the block's end instead of reading beyond it.
TEST_F(ResourceTest, LoadStringStaysInsideTheBlock) {
  std::vector<uint8_t> bytes = ReadAll(HX_TEST_STRINGS_DLL);
  CPEImage image;
  DWORD error = 0;
  ASSERT_TRUE(image.LoadBytes(bytes, &error));
  const uint8_t* entry = nullptr;
  ASSERT_TRUE(image.FindResource(6, 1, 0x1009, &entry, &error));
  CPEImage::ResourceData data;
  ASSERT_TRUE(image.EntryData(entry, &data));
  // Block 1 holds id 0 only: entry 0 "zero", then 15 empty entries. Make
  // entry 1 claim far more units than the block has and ask for id 2.
  size_t offset = 0;
  for (size_t i = 0; i + data.size <= bytes.size(); ++i) {
    if (std::equal(data.data, data.data + data.size, bytes.begin() + static_cast<std::ptrdiff_t>(i))) {
      offset = i;
      break;
    }
  }
  ASSERT_NE(offset, 0u);
  const size_t entry1 = offset + 2 + 2 * 4;  // after "zero"
  bytes[entry1] = 0xFF;
  bytes[entry1 + 1] = 0x7F;
  CTempDir dir;
  const std::string path = dir.Path() + "long.dll";
  WriteAll(path, bytes);
  CResource r;
  ASSERT_TRUE(r.LoadModule(path));
  std::u16string text;
  EXPECT_FALSE(r.LoadString(1, text, 0x1009));
  EXPECT_FALSE(r.LoadString(2, text, 0x1009));
  EXPECT_FALSE(r.LoadString(15, text, 0x1009));
  EXPECT_TRUE(r.LoadString(0, text, 0x1009));
  EXPECT_EQ(text, u"zero");
}

}  // namespace
