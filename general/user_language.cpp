// Resolving a user's language: the directory culture or the browser's
// Accept-Language text turned into a product language code and an LCID.
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/string_operation.h"
#include "general/language_tables.h"
#include "general/pl_general_settings.h"

namespace {

constexpr uint16_t kLookupNotRun = 9;
constexpr const char* kDefaultLanguage = "en";
constexpr const char* kUserCultureProperty = "msExchUserCulture";

void CutAtComma(ci_string& text) {
  const size_t comma = text.find(',');
  if (comma != ci_string::npos) text.erase(comma);
}

}  // namespace

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetLCID(ci_string& tag, uint16_t& lcid) const {
  CutAtComma(tag);
  const auto it = m_languageMap.find(tag);
  lcid = it != m_languageMap.end() ? it->second : 0;
  return it != m_languageMap.end();
}

template <class H, class R, class E>
bool CGeneralSettings<H, R, E>::GetBrowserLanguage(const ci_string& languages, std::string& language,
                                                   uint16_t& lcid) const {
  language = kDefaultLanguage;
  lcid = kLookupNotRun;
  std::vector<ci_string> pieces;
  // A text made only of separators splits into nothing and keeps the defaults.
  if (!CStringOperation::Parse(languages, ";", pieces, true) || pieces.empty()) return false;
  ci_string first = pieces.front();
  GetLCID(first, lcid);
  const FindLanguagePrefix matches(m_supportedLanguages, language);
  for (const ci_string& piece : pieces) {
    if (matches(piece)) return !language.empty();
  }
  return false;
}

template bool CGeneralSettings<CHandlePLSettings, CResource, CEventLog>::GetLCID(ci_string&, uint16_t&) const;
template bool CGeneralSettings<CHandlePLSettings, CResource, CEventLog>::GetBrowserLanguage(const ci_string&,
                                                                                             std::string&,
                                                                                             uint16_t&) const;

bool CPLGeneralSettings::DetectUserLanguage(const std::string& userName, const ci_string& browserLanguages,
                                            std::string& language, uint16_t& lcid, const ci_string& cookie,
                                            const std::string& sid) {
  language = kDefaultLanguage;
  lcid = kLookupNotRun;
  std::string value;
  bool found = false;
  const HRESULT hr = GetADProperty(ToCI(userName), kUserCultureProperty, value, cookie, sid, false);
  if (FAILED(hr)) {
    DebugLog("DetectUserLanguage failed and goes with Browser language");
    found = GetBrowserLanguage(browserLanguages, language, lcid);
  } else {
    // The browser's list is not consulted once the directory answered.
    ci_string culture = ToCI(value);
    CutAtComma(culture);
    GetLCID(culture, lcid);
    found = FindLanguagePrefix(m_supportedLanguages, language)(culture);
  }
  DebugLog("DetectUserLanguage User: %s Language: %s", userName.c_str(), language.c_str());
  return found;
}
