// The settings object's OWA file-access rules: what OWA itself lets a public
// or a private client do with a file type, so that the product never offers
// a file that OWA would refuse. Reads only the OWA configuration loaded from
// the directory at start-up and, for MIME types, the registry at call time.
#include "general/owa_file_access.h"

#include <vector>

#include "common/debug_log.h"
#include "common/log_words.h"
#include "general/pl_hx_general_settings.h"
#include "platform/registry.h"

namespace {

// One of OWA's three lists: its file types and MIME types, and the words of
// its log lines.
struct OWAList {
  const char* method;  // "[CPLHXGeneralSettings::IsExtensionInOWA...List]"
  const char* verdict; // what a hit means, as logged
  const std::vector<ci_string>& fileTypes;
  const std::vector<ci_string>& mimeTypes;
};

bool FindEntry(const std::vector<ci_string>& entries, const ci_string& text) {
  for (const ci_string& entry : entries) {
    if (entry == text) return true;
  }
  return false;
}

bool IsExtensionInList(const OWAList& list, const ci_string& dottedExtension) {
  DebugLog("%s Starts. csExt <%s>.", list.method, dottedExtension.c_str());
  bool found = false;
  if (dottedExtension.empty() || dottedExtension[0] != '.') {
    DebugLog("%s Invalid extension <%s>.", list.method, dottedExtension.c_str());
  } else if (FindEntry(list.fileTypes, dottedExtension)) {
    DebugLog("%s  Extension %s, %s by OWA", list.method, dottedExtension.c_str(), list.verdict);
    found = true;
  } else if (!list.mimeTypes.empty()) {
    // The registry is read only when there is a MIME list to match.
    ci_string mimeType;
    if (IdentifyContentType(dottedExtension.c_str(), mimeType) && FindEntry(list.mimeTypes, mimeType)) {
      DebugLog("%s Extension %s with MIME type %s, %s by OWA", list.method, dottedExtension.c_str(),
               mimeType.c_str(), list.verdict);
      found = true;
    }
  }
  DebugLog("%s returned bReturn <%s>.", list.method, TrueFalse(found));
  return found;
}

// The level OWA gives files that no list names; 0 for a value it does not
// define.
DWORD LevelForUnknownFiles(int action) {
  switch (static_cast<uint32_t>(action)) {
    case 0:
      return OWAFileAccessLevel::Allowed;
    case 2:
      return OWAFileAccessLevel::Blocked;
    case 0xFFFFFFFFu:
      return OWAFileAccessLevel::ForceSave;
    default:
      return OWAFileAccessLevel::Unknown;
  }
}

// Closes the key on every road.
struct CRegKey {
  HKEY handle = nullptr;
  ~CRegKey() {
    if (handle != nullptr) RegCloseKey(handle);
  }
};

}  // namespace

const char* OWAFileAccessLevelName(int level) {
  switch (level) {
    case OWAFileAccessLevel::Blocked:
      return "blocked";
    case OWAFileAccessLevel::ForceSave:
      return "force-save";
    case OWAFileAccessLevel::Allowed:
      return "allowed";
    default:
      return "unknown";
  }
}

bool IdentifyContentType(const char* dottedExtension, ci_string& mimeType) {
  CRegKey key;
  LONG error = RegOpenKeyExA(HKEY_CLASSES_ROOT, dottedExtension, 0, KEY_READ, &key.handle);
  if (error != 0) {
    DebugLogError(static_cast<DWORD>(error), "IdentifyContentType error. Can not open  HKEY_CLASSES_ROOT for %s error %d",
                  dottedExtension, static_cast<int>(error));
    return false;
  }
  BYTE buffer[256] = {};
  DWORD size = sizeof buffer;
  DWORD type = REG_NONE;
  error = RegQueryValueExA(key.handle, "Content Type", nullptr, &type, buffer, &size);
  if (error == 0 && type != REG_SZ && type != REG_EXPAND_SZ) error = ERROR_INVALID_DATA;
  if (error == 0 && size > 0 && buffer[size - 1] != 0) error = ERROR_INVALID_DATA;
  if (error != 0) {
    DebugLogError(static_cast<DWORD>(error), "IdentifyContentType error. Can not open  HKEY_CLASSES_ROOT for %s error %d",
                  "Content Type", static_cast<int>(error));
    return false;
  }
  mimeType = reinterpret_cast<const char*>(buffer);
  return true;
}

namespace {

OWAList AllowListOf(const COWAADConfig& owa) {
  return {"[CPLHXGeneralSettings::IsExtensionInOWAAllowList]", "allowed", owa.m_vAllowedFileTypes,
          owa.m_vAllowedMimeTypes};
}

OWAList BlockListOf(const COWAADConfig& owa) {
  return {"[CPLHXGeneralSettings::IsExtensionInOWABlockList]", "blocked", owa.m_vBlockedFileTypes,
          owa.m_vBlockedMIMETypes};
}

OWAList ForceSaveListOf(const COWAADConfig& owa) {
  return {"[CPLHXGeneralSettings::IsExtensionInOWAForceSaveList]", "set to \"Force-save\"", owa.m_vForceSaveFileTypes,
          owa.m_vForceSaveMimeTypes};
}

}  // namespace

bool CPLHXGeneralSettings::IsExtensionInOWAAllowList(const ci_string& dottedExtension) {
  return IsExtensionInList(AllowListOf(GetOWAADConfig()), dottedExtension);
}

bool CPLHXGeneralSettings::IsExtensionInOWABlockList(const ci_string& dottedExtension) {
  return IsExtensionInList(BlockListOf(GetOWAADConfig()), dottedExtension);
}

bool CPLHXGeneralSettings::IsExtensionInOWAForceSaveList(const ci_string& dottedExtension) {
  return IsExtensionInList(ForceSaveListOf(GetOWAADConfig()), dottedExtension);
}

DWORD CPLHXGeneralSettings::GetOWAFileAccessLevel(const ci_string& extension, bool publicClient, DWORD& level) {
  DWORD dwRet = 0;
  level = OWAFileAccessLevel::Unknown;
  DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] Starts. csExt <%s> Public client <%s>.", extension.c_str(),
           YN(publicClient));
  // One configuration for the whole decision: one read again in the
  // background may be published while it is made.
  const COWAADConfig& owa = GetOWAADConfig();
  const int accessControl = publicClient ? owa.m_nFileAccessControlOnPublicComputers
                                         : owa.m_nFileAccessControlOnPrivateComputers;
  if ((accessControl & 1) == 0) {
    // OWA gives this client class no files at all; no list can change that.
    level = OWAFileAccessLevel::Blocked;
    DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] Direct file access is disabled for <%s> clients.",
             publicClient ? "public" : "private");
  } else if (!extension.empty() && extension[0] == '.') {
    DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] Invalid extension <%s>.", extension.c_str());
    dwRet = ERROR_INVALID_DATA;
  } else {
    if (!extension.empty()) {
      const ci_string dotted = "." + extension;
      if (IsExtensionInList(AllowListOf(owa), dotted)) {
        level = OWAFileAccessLevel::Allowed;
      } else if (IsExtensionInList(BlockListOf(owa), dotted)) {
        level = OWAFileAccessLevel::Blocked;
      } else if (IsExtensionInList(ForceSaveListOf(owa), dotted)) {
        level = OWAFileAccessLevel::ForceSave;
      }
    }
    if (level == OWAFileAccessLevel::Unknown) {
      level = LevelForUnknownFiles(owa.m_nActionForUnknownFileAndMIMETypes);
      if (level == OWAFileAccessLevel::Unknown) {
        DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] Default OWA access level for unknown files is invalid <%d>.",
                 static_cast<int>(level));
        dwRet = ERROR_INVALID_DATA;
      } else {
        DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] Default OWA access level for unknown files is <%d> <%s>.",
                 static_cast<int>(level), OWAFileAccessLevelName(static_cast<int>(level)));
      }
    }
  }
  DebugLog("[CPLHXGeneralSettings::GetOWAFileAccessLevel] returns dwRet <%d>. For extension <%s> nOWAFileAccessLevel is <%d> <%s>.",
           static_cast<int>(dwRet), extension.c_str(), static_cast<int>(level),
           OWAFileAccessLevelName(static_cast<int>(level)));
  return dwRet;
}

DWORD CPLHXGeneralSettings::GetOWAFileAccessLevelOfName(ci_string_view fileName, bool publicClient, DWORD& level) {
  return OWAFileAccessLevelOfName(
      fileName, COWANamedExtensions(GetOWAADConfig()),
      [&](const ci_string& extension, DWORD& l) { return GetOWAFileAccessLevel(extension, publicClient, l); }, level);
}

bool COWANamedExtensions::Names(const ci_string& extension) const {
  if (extension.empty()) return false;
  const ci_string dotted = "." + extension;
  const bool fileType = FindEntry(m_owa.m_vAllowedFileTypes, dotted) || FindEntry(m_owa.m_vBlockedFileTypes, dotted) ||
                        FindEntry(m_owa.m_vForceSaveFileTypes, dotted);
  if (fileType) return true;
  // The registry is read only when there is a MIME list to match.
  if (m_owa.m_vAllowedMimeTypes.empty() && m_owa.m_vBlockedMIMETypes.empty() && m_owa.m_vForceSaveMimeTypes.empty()) {
    return false;
  }
  ci_string mimeType;
  return IdentifyContentType(dotted.c_str(), mimeType) &&
         (FindEntry(m_owa.m_vAllowedMimeTypes, mimeType) || FindEntry(m_owa.m_vBlockedMIMETypes, mimeType) ||
          FindEntry(m_owa.m_vForceSaveMimeTypes, mimeType));
}

std::vector<ci_string> COWANamedExtensions::BeginningWith(const ci_string& prefix) const {
  std::vector<ci_string> found;
  for (const std::vector<ci_string>* list : {&m_owa.m_vBlockedFileTypes, &m_owa.m_vForceSaveFileTypes}) {
    for (const ci_string& dotted : *list) {
      if (dotted.size() > 1 && dotted[0] == '.' && ci_string_view(dotted).substr(1, prefix.size()) == prefix) {
        found.push_back(dotted.substr(1));
      }
    }
  }
  return found;
}
