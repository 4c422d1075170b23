// Block level 2: a direct download goes ahead when it is one of the
// product's own links, whose identifier hashes verify, or comes from an
// allowed address. The product's links also carry the Open and Save rules of
// the file; a link that may offer neither was made by hand.
#include <string>
#include <utility>

#include "common/blocked_extensions.h"
#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/file_name_extensions.h"
#include "common/log_words.h"
#include "filter/auth_complete_helper.h"
#include "filter/decision_params.h"
#include "filter/dll_context.h"
#include "filter/notifications_helper.h"
#include "filter/request_flags.h"
#include "filter/request_info.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "general/owa_file_access.h"
#include "general/pl_hx_general_settings.h"
#include "settings/setting_ids.h"

namespace {

// A deciding parameter; the block level has already refused a download
// whose parameters read more than one way.
bool ReadOneWay(const CRequestInfo& info, const char* name, ci_string& value) {
  CDecisionParam param = ReadDecisionParam(info, name);
  value = std::move(param.value);
  return param.IsUnique();
}

bool HashMatches(const std::string& text, const ci_string& hash) {
  return CUtil::HashString(text.c_str()) == ToStd(hash);
}

// Settings 2 and 3 of the request's set (1 when unreadable): whether Open
// and Save may be offered at all.
void ReadOpenSaveSettings(CDLLContext* pContext, const char* method, int32_t& open, int32_t& save) {
  CPLHXGeneralSettings* pSettings = CPLHXGeneralSettings::getInstance();
  const int32_t settingsId = static_cast<int32_t>(pContext->m_dwSettingsID);
  open = 1;
  save = 1;
  for (auto [id, value] : {std::pair{SettingOpenRestriction, &open}, std::pair{SettingSaveRestriction, &save}}) {
    if (!pSettings->GetSettingFromID(id, *value, settingsId, 0)) {
      DebugLog("%s CHXGenerSettings::GetSettingFromID() failed. ID <%d> SettingID <%d>.", method, static_cast<int>(id),
               static_cast<int>(settingsId));
    }
  }
}

// A link without the product's hashes: only the client's address decides.
DWORD CheckAllowedIP(CDLLContext* pContext, const char* method, bool& enabled) {
  const DWORD dwRet = CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange(pContext, enabled);
  if (dwRet != 0) {
    DebugLog("%s CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange() failed.", method);
    enabled = false;
  }
  return dwRet;
}

constexpr const char kAttachmentCheck[] = "[CAuthCompleteHelper::CheckIfPLDirectAttachmentAccessOrAllowedIP]";
constexpr const char kDocumentCheck[] = "[CAuthCompleteHelper::CheckIfPLDirectDocumentViewFileAccessOrAllowedIP]";
constexpr const char kMenuFlags[] = "[CAuthCompleteHelper::GetPLDirectDocumentViewFileAccessMenuFlags]";

// The item hash covers the item ID and every attachment ID of the chain but
// the last; the attachment hash covers the last one.
DWORD CheckProductAttachmentLink(CDLLContext* pContext, const ci_string& midh, const ci_string& aidh, bool& enabled) {
  const CRequestInfo* pInfo = pContext->m_spRequestInfo.get();
  ci_string itemId;
  if (!ReadOneWay(*pInfo, "id", itemId)) {
    DebugLog("%s CRequestInfo::GetParamValue() failed. Param <%s>.", kAttachmentCheck, "id");
    return HX_RC_INVALID_DATA;
  }
  std::string previousIds, lastId;
  const DWORD dwRet = CNotificationsHelper::ConcatRequestParamAttIDs(pInfo, previousIds, lastId);
  if (dwRet != 0) {
    DebugLog("%s CNotificationsHelper::ConcatRequestParamAttIDs() failed.", kAttachmentCheck);
    return dwRet;
  }
  if (lastId.empty()) {
    DebugLog("%s CNotificationsHelper::ConcatRequestParamAttIDs() returned empty attachment ID.", kAttachmentCheck);
    return HX_RC_INVALID_DATA;
  }
  const bool itemValid = HashMatches(ToStd(itemId) + previousIds, midh);
  const bool attachmentValid = HashMatches(lastId, aidh);
  DebugLog("%s Item ID + prev att IDs hash value is <%s>.", kAttachmentCheck, itemValid ? "VALID" : "INVALID");
  DebugLog("%s Attachment ID hash value is <%s>.", kAttachmentCheck, attachmentValid ? "VALID" : "INVALID");
  // A wrong hash is refused even from an allowed address.
  if (!itemValid || !attachmentValid) return 0;
  int32_t open = 1, save = 1;
  ReadOpenSaveSettings(pContext, kAttachmentCheck, open, save);
  if (open == 0 && save == 0) {
    DebugLog("%s Both Open and Save are disabled. This is a manually crafted request. Return '401 Access Denied' response.",
             kAttachmentCheck);
  } else {
    enabled = true;
  }
  return 0;
}

DWORD CheckProductDocumentLink(CDLLContext* pContext, const ci_string& fidh, bool& enabled) {
  // The hash is of the name as the server reads it.
  const CDecisionParam fileUrl = ReadDocumentNameParam(*pContext->m_spRequestInfo);
  if (!fileUrl.IsUnique()) {
    DebugLog("%s CRequestInfo::GetParamValue() failed. Param <%s>.", kDocumentCheck, "URL");
    return HX_RC_INVALID_DATA;
  }
  const bool valid = HashMatches(ToStd(fileUrl.value), fidh);
  DebugLog("%s File ID hash value is <%s>.", kDocumentCheck, valid ? "VALID" : "INVALID");
  if (!valid) return 0;
  bool open = false, save = false;
  const DWORD dwRet = CAuthCompleteHelper::GetPLDirectDocumentViewFileAccessMenuFlags(pContext, open, save);
  if (dwRet != 0) {
    DebugLog("%s GetPLDirectDocumentViewFileAccessMenuFlags() failed.", kDocumentCheck);
    return dwRet;
  }
  if (!open && !save) {
    DebugLog("%s Both Open and Save are disabled. This is a manually crafted request. Return '401 Access Denied' response.",
             kDocumentCheck);
  } else {
    enabled = true;
  }
  return 0;
}

// The product's blocked list when it is switched on (setting 22), else empty.
ci_string ProductBlockedList(int32_t settingsId) {
  CPLHXGeneralSettings* pSettings = CPLHXGeneralSettings::getInstance();
  int32_t enableBlockedList = 0;
  if (!pSettings->GetSettingFromID(SettingEnableBlockedList, enableBlockedList, settingsId, 0)) {
    DebugLog("%s Failed to read enable blocked list setting. ID <%d>.", kMenuFlags, static_cast<int>(settingsId));
    enableBlockedList = 0;
  }
  ci_string blocked;
  if (enableBlockedList != 0 && !pSettings->GetSettingFromID(SettingBlockedExtensions, blocked, settingsId, 0)) {
    DebugLog("%s Failed to read blocked extensions setting. ID <%d>.", kMenuFlags, static_cast<int>(settingsId));
    blocked.clear();
  }
  DebugLog("%s Enable blocked list <%s> Blocked extensions <%s>.", kMenuFlags, YN(enableBlockedList != 0),
           blocked.c_str());
  return blocked;
}

// Open and Save as the settings allow them; the "Open restriction" line
// shows the raw values.
void OpenSaveFromSettings(CDLLContext* pContext, bool& openEnabled, bool& saveEnabled) {
  int32_t open = 1, save = 1;
  ReadOpenSaveSettings(pContext, kMenuFlags, open, save);
  DebugLog("%s Open restriction <%d> Save restriction <%d>.", kMenuFlags, static_cast<int>(open),
           static_cast<int>(save));
  openEnabled = open != 0;
  saveEnabled = save != 0;
}

// OWA's file access level of a document's name; of a name with two
// spellings the blocked level where the two readings differ in level.
DWORD LevelOfDocumentName(CDLLContext* pContext, const CDecisionParam& name, DWORD& level) {
  const bool publicClient = (pContext->m_dwRequestFlags & RequestFlag::FBAPublicClient) != 0;
  CPLHXGeneralSettings* pSettings = CPLHXGeneralSettings::getInstance();
  DWORD dwRet = pSettings->GetOWAFileAccessLevelOfName(name.value, publicClient, level);
  if (dwRet != 0 || name.otherSpelling.empty()) return dwRet;
  DWORD otherLevel = OWAFileAccessLevel::Unknown;
  dwRet = pSettings->GetOWAFileAccessLevelOfName(name.otherSpelling, publicClient, otherLevel);
  if (dwRet == 0 && otherLevel != level) {
    DebugLog("%s The file URL <%s> spelt <%s> has the levels <%d> and <%d>; it is given the blocked level.", kMenuFlags,
             name.value.c_str(), name.otherSpelling.c_str(), static_cast<int>(level), static_cast<int>(otherLevel));
    level = OWAFileAccessLevel::Blocked;
  }
  return dwRet;
}

DWORD MenuFlagsForFile(CDLLContext* pContext, const CDecisionParam& name, bool& openEnabled, bool& saveEnabled) {
  const ci_string& fileUrl = name.value;
  const size_t slash = fileUrl.rfind('/');
  const ci_string fileName = slash == ci_string::npos ? fileUrl : fileUrl.substr(slash + 1);
  const ci_string extension = ExtensionsOfFileName(fileUrl).whole;
  DebugLog("%s Requested DocumentView file URL <%s> Filename <%s> extension <%s>.", kMenuFlags, fileUrl.c_str(),
           fileName.c_str(), extension.c_str());
  // The level and the blocked list are those of every reading of the name.
  const ci_string blockedList = ProductBlockedList(static_cast<int32_t>(pContext->m_dwSettingsID));
  const bool blocked = IsFileNameInBlockedList(fileUrl, blockedList) ||
                       (!name.otherSpelling.empty() && IsFileNameInBlockedList(name.otherSpelling, blockedList));
  DebugLog("%s <%s> extension is blocked by PL <%s>.", kMenuFlags, extension.c_str(), YN(blocked));
  if (blocked) {
    DebugLog("%s <%s> Extension is blocked by PL. Both 'Open' and 'Save' are disabled.", kMenuFlags, extension.c_str());
    return 0;
  }
  DWORD level = OWAFileAccessLevel::Unknown;
  const DWORD dwRet = LevelOfDocumentName(pContext, name, level);
  if (dwRet != 0) {
    DebugLog("%s CPLHXGeneralSettings::GetOWAFileAccessLevel() failed.", kMenuFlags);
    return dwRet;
  }
  if (level < OWAFileAccessLevel::Blocked || level > OWAFileAccessLevel::Allowed) {
    DebugLog("%s Invalid file access level <%d>.", kMenuFlags, static_cast<int>(level));
    return HX_RC_INVALID_DATA;
  }
  DebugLog("%s For extension <%s> OWA file access level is <%s>.", kMenuFlags, extension.c_str(),
           OWAFileAccessLevelName(static_cast<int>(level)));
  if (level == OWAFileAccessLevel::Blocked) {
    DebugLog("%s For exension <%s> OWA file access level is set to BLOCKED. Both 'Open' and 'Save' are disabled.",
             kMenuFlags, extension.c_str());
    return 0;
  }
  // Force-save and allowed are alike here: the settings decide.
  OpenSaveFromSettings(pContext, openEnabled, saveEnabled);
  return 0;
}

}  // namespace

DWORD CAuthCompleteHelper::CheckIfPLDirectAttachmentAccessOrAllowedIP(CDLLContext* pContext, bool& enabled) {
  DWORD dwRet = 0;
  enabled = false;
  DebugLog("%s Starts.", kAttachmentCheck);
  ci_string midh, aidh;
  const CRequestInfo* pInfo = pContext->m_spRequestInfo.get();
  if (!ReadOneWay(*pInfo, "midh", midh) || !ReadOneWay(*pInfo, "aidh", aidh)) {
    dwRet = CheckAllowedIP(pContext, kAttachmentCheck, enabled);
  } else {
    dwRet = CheckProductAttachmentLink(pContext, midh, aidh, enabled);
  }
  if (dwRet != 0) enabled = false;
  DebugLog("%s returned. dwRet <%d> bDirectAttachmentAccessEnabled <%s>.", kAttachmentCheck, static_cast<int>(dwRet),
           TrueFalse(enabled));
  return dwRet;
}

DWORD CAuthCompleteHelper::CheckIfPLDirectDocumentViewFileAccessOrAllowedIP(CDLLContext* pContext, bool& enabled) {
  DWORD dwRet = 0;
  enabled = false;
  DebugLog("%s Starts.", kDocumentCheck);
  ci_string fidh;
  if (!ReadOneWay(*pContext->m_spRequestInfo, "fidh", fidh)) {
    dwRet = CheckAllowedIP(pContext, kDocumentCheck, enabled);
  } else {
    dwRet = CheckProductDocumentLink(pContext, fidh, enabled);
  }
  if (dwRet != 0) enabled = false;
  DebugLog("%s returned. dwRet <%d> bDirectFileAccessEnabled <%s>.", kDocumentCheck, static_cast<int>(dwRet),
           TrueFalse(enabled));
  return dwRet;
}

DWORD CAuthCompleteHelper::GetPLDirectDocumentViewFileAccessMenuFlags(CDLLContext* pContext, bool& openEnabled,
                                                                     bool& saveEnabled) {
  DWORD dwRet = 0;
  openEnabled = false;
  saveEnabled = false;
  DebugLog("%s Starts.", kMenuFlags);
  if (pContext == nullptr || !pContext->m_spRequestInfo) {
    dwRet = HX_RC_MISSING;
  } else if (const CDecisionParam fileUrl = ReadDocumentNameParam(*pContext->m_spRequestInfo);
             fileUrl.reading == CDecisionParam::Absent) {
    OpenSaveFromSettings(pContext, openEnabled, saveEnabled);
    DebugLog("%s 'URL' query string parameter does not exist, take only 'Open' and 'Save' retriction settings into account.",
             kMenuFlags);
  } else if (!fileUrl.IsUnique()) {
    // The server could fetch another file than the one the rules were asked about.
    DebugLog("%s The 'URL' parameter is repeated or reads two ways.", kMenuFlags);
    dwRet = HX_RC_INVALID_DATA;
  } else {
    dwRet = MenuFlagsForFile(pContext, fileUrl, openEnabled, saveEnabled);
  }
  if (dwRet != 0) openEnabled = saveEnabled = false;
  DebugLog("%s returned dwRet <%d> Open enabled <%s> Save enabled <%s>.", kMenuFlags, static_cast<int>(dwRet),
           YN(openEnabled), YN(saveEnabled));
  return dwRet;
}
