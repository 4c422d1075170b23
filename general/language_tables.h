// The language tables of user-language resolution: language tags to Windows
// LCIDs, and browser language tags to the product's language codes, with the
// prefix match over the latter.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/ci_string.h"

struct LanguageLCID {
  const char* tag;
  uint16_t lcid;
};

struct SupportedLanguage {
  const char* browserTag;
  const char* productCode;
};

// The rows in the order they go into the map; an insertion never replaces a
// tag already there, so the first of two rows for one tag stands.
extern const LanguageLCID kLanguageLCIDs[146];
// The order decides every match: the first row whose tag begins the text wins.
extern const SupportedLanguage kSupportedLanguages[26];

using SupportedLanguageTable = std::vector<std::pair<std::string, std::string>>;

// Applied to one browser-language entry: the first row whose browser tag
// begins the entry, ASCII case ignored, sets the output language to its
// product code. An empty entry matches no row with a tag.
class FindLanguagePrefix {
 public:
  FindLanguagePrefix(const SupportedLanguageTable& table, std::string& language)
      : m_table(table), m_language(language) {}
  // True when a row matched; the language is left as it was otherwise.
  bool operator()(ci_string_view entry) const;

 private:
  const SupportedLanguageTable& m_table;
  std::string& m_language;
};
