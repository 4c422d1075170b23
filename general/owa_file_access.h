// OWA's file access levels and the registry's MIME type of an extension,
// as the settings object's OWA file-access rules use them.
#pragma once

#include <algorithm>
#include <vector>

#include "common/ci_string.h"
#include "common/file_name_extensions.h"
#include "general/owa_ad_config.h"
#include "platform/win_types.h"

namespace OWAFileAccessLevel {
constexpr DWORD Unknown = 0;  // only together with a failure result
constexpr DWORD Blocked = 1;
constexpr DWORD ForceSave = 2;
constexpr DWORD Allowed = 3;
}  // namespace OWAFileAccessLevel

// "blocked", "force-save", "allowed", or "unknown" for any other value.
const char* OWAFileAccessLevelName(int level);

// The "Content Type" registered for a dotted extension under
// HKEY_CLASSES_ROOT; false when the key or a usable text value is missing.
bool IdentifyContentType(const char* dottedExtension, ci_string& mimeType);

// What OWA's configuration names: whether a list (file types or, by the
// registered MIME type, MIME types) names an extension, and the blocked and
// force-saved file types that begin with a text. A reading of a name other
// than its own extension counts only where it lands on a named extension:
// the others are text no reader takes as an extension.
class COWANamedExtensions {
 public:
  explicit COWANamedExtensions(const COWAADConfig& owa) : m_owa(owa) {}
  // `extension` without its dot.
  bool Names(const ci_string& extension) const;
  // Without their dots; every named one when `prefix` is empty.
  std::vector<ci_string> BeginningWith(const ci_string& prefix) const;

 private:
  const COWAADConfig& m_owa;
};

// OWA's file access level of a file by its name: the level of its own
// extension, made stricter by each other reading that OWA's lists name
// (ExtensionsOfFileName), so that "http://sp/evil.exe#.pdf" and "evil.exe."
// are blocked as "evil.exe" while "Report.pdf?version=2.0" and "Minutes
// 10:30.pdf" keep the level of ".pdf". A short name ("REPORT~1.HTM") is
// also read by every named extension that begins with its own (".html").
// `levelOf(extension, level)` gives one extension's level; its failure is
// the result, and a level outside 1 to 3 is handed on as it is for the
// caller to refuse.
template <class LevelOf>
DWORD OWAFileAccessLevelOfName(ci_string_view fileName, const COWANamedExtensions& named, LevelOf&& levelOf,
                               DWORD& level) {
  const CFileNameExtensions extensions = ExtensionsOfFileName(fileName);
  DWORD dwRet = levelOf(extensions.whole, level);
  const auto valid = [](DWORD l) { return l >= OWAFileAccessLevel::Blocked && l <= OWAFileAccessLevel::Allowed; };
  // False once the decision is made: a failure or a level outside the rules.
  const auto stricter = [&](const ci_string& extension) {
    if (dwRet != 0 || !valid(level)) return false;
    DWORD otherLevel = OWAFileAccessLevel::Unknown;
    dwRet = levelOf(extension, otherLevel);
    level = dwRet != 0 || !valid(otherLevel) ? otherLevel : std::min(level, otherLevel);
    return dwRet == 0 && valid(level);
  };
  if (dwRet != 0 || !valid(level)) return dwRet;
  for (const ci_string& other : extensions.others) {
    if (other != extensions.whole && named.Names(other) && !stricter(other)) return dwRet;
  }
  for (const ci_string& prefix : extensions.shortNameExtensions) {
    for (const ci_string& longer : named.BeginningWith(prefix)) {
      if (!stricter(longer)) return dwRet;
    }
  }
  return dwRet;
}
