// OWA's file access levels and the registry's MIME type of an extension,
// as the settings object's OWA file-access rules use them.
#pragma once

#include <algorithm>

#include "common/ci_string.h"
#include "common/file_name_extensions.h"
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

// OWA's file access level of a file by its name: the stricter (the lower) of
// the levels of the extensions it is read by (ExtensionsOfFileName), so that
// "http://sp/evil.exe#.pdf" and "evil.exe." are blocked as "evil.exe" and
// "Rev 1.2 #final.pdf" has the level of ".pdf"; a short name ("MACRO~1.DOC")
// is blocked. `levelOf(extension, level)`
// gives one extension's level; its failure is the result, and a level
// outside 1 to 3 is handed on as it is for the caller to refuse.
template <class LevelOf>
DWORD OWAFileAccessLevelOfName(ci_string_view fileName, LevelOf&& levelOf, DWORD& level) {
  const CFileNameExtensions extensions = ExtensionsOfFileName(fileName);
  DWORD dwRet = levelOf(extensions.whole, level);
  const auto valid = [](DWORD l) { return l >= OWAFileAccessLevel::Blocked && l <= OWAFileAccessLevel::Allowed; };
  for (const ci_string& other : extensions.others) {
    if (dwRet != 0 || !valid(level)) return dwRet;
    DWORD otherLevel = OWAFileAccessLevel::Unknown;
    dwRet = levelOf(other, otherLevel);
    level = dwRet != 0 || !valid(otherLevel) ? otherLevel : std::min(level, otherLevel);
  }
  // A short name's own extension is not known.
  if (dwRet == 0 && valid(level) && extensions.shortName) level = OWAFileAccessLevel::Blocked;
  return dwRet;
}
