#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <vector>

#include "general/pl_general_settings.h"

namespace {

// A settings object with its language tables filled as start-up fills them.
class CLanguageSettings : public CPLGeneralSettings {
 public:
  CLanguageSettings() {
    InitLanguageLCIDMap();
    InitSupportedLanguages();
  }
  void FillAgain() {
    InitLanguageLCIDMap();
    InitSupportedLanguages();
  }
};

TEST(LanguageTables, TagsAndRowsAsListed) {
  CLanguageSettings s;
  const auto& map = s.GetLanguageMap();
  EXPECT_EQ(145u, map.size());
  EXPECT_EQ(0x480A, map.at("es-hn"));  // the repeated tag keeps its first value
  EXPECT_EQ(0x340A, map.at("es-c"));
  EXPECT_EQ(0x0456, map.at("gd"));
  EXPECT_EQ(0x0816, map.at("pt"));
  EXPECT_EQ(0x0416, map.at("PT-BR"));
  EXPECT_EQ(26u, s.GetSupportedLanguages().size());
  // A second start-up leaves the tables that request threads may be reading.
  s.FillAgain();
  EXPECT_EQ(145u, s.GetLanguageMap().size());
  EXPECT_EQ(26u, s.GetSupportedLanguages().size());

  ci_string tag("FR-ca,fr;q=0.5");
  uint16_t lcid = 1;
  EXPECT_TRUE(s.GetLCID(tag, lcid));
  EXPECT_EQ(0x0C0C, lcid);
  EXPECT_EQ(ci_string("fr-ca"), tag);  // cut in place
  tag = " fr-ca";
  EXPECT_FALSE(s.GetLCID(tag, lcid));
  EXPECT_EQ(0, lcid);
}

// GetLCID answers from the table rather than the map; both must agree on
// every tag in any case and on texts that only resemble tags.
TEST(LanguageTables, LookupAgreesWithTheMap) {
  CLanguageSettings s;
  std::vector<std::string> texts = {"", "e", "en-", "en-gb-x", "div", "DIV", "es-hn", "pt-brx", "zz",
                                    std::string("en\0", 3), std::string("\0en", 3), "en\xC5", "abcdefgh"};
  for (const auto& [tag, lcid] : s.GetLanguageMap()) {
    std::string upper(tag.data(), tag.size());
    for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    texts.push_back(upper);
    texts.emplace_back(tag.data(), tag.size());
  }
  for (const std::string& text : texts) {
    ci_string tag(text.data(), text.size());
    const auto it = s.GetLanguageMap().find(tag);
    uint16_t lcid = 1;
    EXPECT_EQ(it != s.GetLanguageMap().end(), s.GetLCID(tag, lcid)) << text;
    EXPECT_EQ(it != s.GetLanguageMap().end() ? it->second : 0, lcid) << text;
  }
}

// Language and LCID are found apart: the LCID from the first piece's first
// item, the language from the first piece that begins with a supported tag.
TEST(BrowserLanguage, AcceptLanguageTexts) {
  struct Case {
    const char* list;
    uint16_t lcid;
    const char* language;
    bool found;
  };
  const std::string longItem(5000, 'x');
  const Case cases[] = {
      {"en-US,en;q=0.9", 0x0409, "en", true},
      {"zh-TW", 0x0404, "cht", true},
      {"zh-HK", 0x0C04, "chs", true},
      {"zh", 0, "cht", true},
      {"pt-BR", 0x0416, "pt-br", true},
      {"pt-PT", 0x0816, "pt", true},
      {"nb-NO,no", 0x0414, "no", true},
      {"es-419", 0, "es", true},
      {"ko", 0x0412, "en", false},
      {"ko-kr", 0, "en", false},
      {"de-DE,de;q=0.9,en;q=0.8", 0x0407, "de", true},
      {"ko-KR;q=0.9,en-US", 0, "en", false},  // a piece after a quality value never matches
      {"*", 0, "en", false},
      {" fr", 0, "en", false},
      {"", 9, "en", false},
      {";", 9, "en", false},
      {";;fr", 9, "en", false},
      {";fr-FR", 0x040C, "fr", true},           // an empty text before the first ";" is skipped
      {"ko;;fr-FR;fr", 0x0412, "en", false},    // a later empty piece ends the list
      {"ko;fr-FR;", 0x0412, "fr", true},
      {longItem.c_str(), 0, "en", false},
  };
  CLanguageSettings s;
  for (const Case& c : cases) {
    std::string language = "xx";
    uint16_t lcid = 1;
    EXPECT_EQ(c.found, s.GetBrowserLanguage(ci_string(c.list), language, lcid)) << c.list;
    EXPECT_EQ(c.language, language) << c.list;
    EXPECT_EQ(c.lcid, lcid) << c.list;
  }
}

}  // namespace
