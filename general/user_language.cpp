// Resolving a user's language: the directory culture or the browser's
// Accept-Language text turned into a product language code and an LCID.
#include <algorithm>
#include <map>
#include <string>

#include "common/cookie_key.h"
#include "common/debug_log.h"
#include "general/language_tables.h"
#include "general/pl_general_settings.h"

namespace {

constexpr uint16_t kLookupNotRun = 9;
constexpr const char* kDefaultLanguage = "en";
constexpr const char* kUserCultureProperty = "msExchUserCulture";

void CutAtComma(ci_string& text) {
  const size_t comma = FindSeparator(text, ',');
  if (comma != ci_string::npos) text.erase(comma);
}

// The pieces of a browser's language list, split at ";" as the settings'
// list parser splits such lists, without copying them: the text before the
// first ";" when it is not empty, then each later piece up to the first
// empty one.
class CLanguagePieces {
 public:
  explicit CLanguagePieces(ci_string_view text) : m_text(text) {}

  bool Next(ci_string_view& piece) {
    while (!m_ended && m_pos <= m_text.size()) {
      const size_t end = std::min(FindSeparator(m_text, ';', m_pos), m_text.size());
      const bool first = m_pos == 0;
      piece = m_text.substr(m_pos, end - m_pos);
      m_pos = end + 1;
      if (!piece.empty()) return true;
      m_ended = !first;
    }
    return false;
  }

 private:
  ci_string_view m_text;
  size_t m_pos = 0;
  bool m_ended = false;
};

bool LookupLCID(const std::map<ci_string, uint16_t, std::less<>>& map, ci_string_view tag, uint16_t& lcid) {
  const auto it = map.find(tag);
  lcid = it != map.end() ? it->second : 0;
  return it != map.end();
}

}  // namespace

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetLCID(ci_string& tag, uint16_t& lcid) const {
  CutAtComma(tag);
  return LookupLCID(m_languageMap, tag, lcid);
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetBrowserLanguage(ci_string_view languages, std::string& language,
                                                   uint16_t& lcid) const {
  language = kDefaultLanguage;
  lcid = kLookupNotRun;
  CLanguagePieces pieces(languages);
  ci_string_view piece;
  // A text made only of separators splits into nothing and keeps the defaults.
  if (!pieces.Next(piece)) return false;
  // The LCID of the first item, cut at its comma as GetLCID cuts.
  const ci_string_view first = piece.substr(0, FindSeparator(piece, ','));
  LookupLCID(m_languageMap, first, lcid);
  const FindLanguagePrefix matches(m_supportedLanguages, language);
  do {
    if (matches(piece)) return !language.empty();
  } while (pieces.Next(piece));
  return false;
}

template bool CGeneralSettings<CHandlePLSettings, CResource, CEventLog>::GetLCID(ci_string&, uint16_t&) const;
template bool CGeneralSettings<CHandlePLSettings, CResource, CEventLog>::GetBrowserLanguage(ci_string_view,
                                                                                             std::string&,
                                                                                             uint16_t&) const;

bool CPLGeneralSettings::DetectUserLanguage(const std::string& userName, ci_string_view browserLanguages,
                                            std::string& language, uint16_t& lcid, ci_string_view cookie,
                                            const std::string& sid) {
  std::string value;
  bool found = false;
  // Never destroyed, as every static a request reaches: the process may end
  // under running requests.
  static const std::string& kProperty = *new std::string(kUserCultureProperty);
  const HRESULT hr = GetADProperty(ToCI(userName), kProperty, value, cookie, sid, false);
  if (FAILED(hr)) {
    DebugLog("DetectUserLanguage failed and goes with Browser language");
    found = GetBrowserLanguage(browserLanguages, language, lcid);
  } else {
    // The browser's list (which sets the defaults itself) is not consulted
    // once the directory answered.
    language = kDefaultLanguage;
    lcid = kLookupNotRun;
    ci_string culture = ToCI(value);
    CutAtComma(culture);
    GetLCID(culture, lcid);
    found = FindLanguagePrefix(m_supportedLanguages, language)(culture);
  }
  DebugLog("DetectUserLanguage User: %s Language: %s", userName.c_str(), language.c_str());
  return found;
}
