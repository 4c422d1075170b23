// OWA's file access levels and the registry's MIME type of an extension,
// as the settings object's OWA file-access rules use them.
#pragma once

#include "common/ci_string.h"
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
