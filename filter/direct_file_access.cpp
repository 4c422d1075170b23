// Direct downloads of attachments and document-view files: the block level
// of the request's settings set decides whether one may go ahead. A refused
// download, and one that could not be decided, gets the access-denied page;
// an allowed one is rewritten so that the product's hash parameters never
// reach the mail server.
#include <algorithm>
#include <set>
#include <string>
#include <utility>

#include "common/ci_string.h"
#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "common/log_words.h"
#include "filter/auth_complete_helper.h"
#include "filter/block_levels.h"
#include "filter/decision_params.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/notifications_helper.h"
#include "filter/result_codes.h"
#include "general/pl_hx_general_settings.h"
#include "settings/handle_pl_settings.h"
#include "settings/setting_ids.h"

namespace {

constexpr DWORD kAttachmentFile = 0;
constexpr DWORD kDocumentViewFile = 1;

namespace BlockLevel {
constexpr int32_t UnlessAllowedIP = 0;
constexpr int32_t Allow = 1;
constexpr int32_t UnlessProductLinkOrAllowedIP = 2;
}  // namespace BlockLevel

constexpr WORD kEventWarning = 2;

// A level taken from the general settings is reported once per load of the
// settings file, set and criteria, not once per download.
bool FirstReportOfThisLoad(int32_t settingsId, int32_t criteriaId) {
  const std::string key = "43 general " + std::to_string(settingsId) + " " + std::to_string(criteriaId);
  return CPLHXGeneralSettings::getInstance()->GetHandleSettings().FirstReportOfThisLoad(key);
}

// A criteria without a link, a link to a missing set or a set without the
// block level takes the general level, or level 1, which allows every
// download, when there is none: the administrator must hear that the link
// did not say so.
void ReportGeneralBlockLevel(const CDLLContext* pContext, int32_t settingsId,
                             const CHandlePLSettings::LevelValue& value) {
  const int32_t criteriaId = static_cast<int32_t>(pContext->m_dwCriteriaID);
  if (!FirstReportOfThisLoad(settingsId, criteriaId)) return;
  const bool general = value.outcome != CHandlePLSettings::LevelValue::Outcome::Missing;
  const std::string used = general ? "the general level <" + value.text + "> applies"
                                   : "the general settings have none either, so direct downloads of attachments "
                                     "and documents are allowed as at level 1";
  CPLHXGeneralSettings::getInstance()->WriteEventLog(
      kEventWarning,
      "Direct file access block level of settings <%d> (criteria <%d>) cannot be read: the criteria has no link, "
      "the link names no settings set, or the set has no item 43; %s.",
      static_cast<int>(settingsId), static_cast<int>(criteriaId), used.c_str());
}

// Strips one of the product's parameters from the query string, with the
// outcome in the log.
bool RemoveProductParam(ci_string& query, const char* name) {
  const bool removed = CNotificationsHelper::RemoveParamFromQueryString(query, name) != FALSE;
  if (removed) {
    DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] Param <%s> was successfully removed from the query string.",
             name);
  } else {
    DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] Param <%s> was not found in the query string.", name);
  }
  return removed;
}

// An allowed download: the URL again without the product's parameters, when
// it carried any (or a document-view force-save id left "unresolved").
DWORD RedirectWithoutProductParams(CDLLContext* pContext, const ci_string& url, const ci_string& queryString,
                                   DWORD fileAccessType, bool& forceSaveIdRemoved) {
  ci_string stripped = queryString;
  bool redirect = false;
  if (fileAccessType == kDocumentViewFile) {
    const bool fidhRemoved = RemoveProductParam(stripped, "fidh");
    if (CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved(stripped)) {
      forceSaveIdRemoved = true;
      DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] DocumentView force-save id param was successfully removed from the query string.");
      redirect = true;
    } else {
      DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] DocumentView force-save id param is not set to unresolved. No need to remove it.");
      redirect = fidhRemoved;
    }
  } else if (fileAccessType == kAttachmentFile) {
    const bool midhRemoved = RemoveProductParam(stripped, "midh");
    const bool aidhRemoved = RemoveProductParam(stripped, "aidh");
    redirect = aidhRemoved || midhRemoved;
  } else {
    DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] Invalid file access type <%d>.",
             static_cast<int>(fileAccessType));
    return HX_RC_INVALID_DATA;
  }
  if (!redirect) return 0;
  const std::string newUrl =
      CNotificationsHelper::PathAsSent(*pContext->m_spRequestInfo, AsStdView(url)) + "?" + ToStd(stripped);
  const bool set = CBaseNotifications::SetWorkerHeader(pContext, "URL", newUrl) != FALSE;
  DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] Internal redirection to <%s> <%s>", newUrl.c_str(),
           set ? "succeeded" : "FAILED");
  return set ? 0 : HX_RC_MISSING;
}

DWORD DecideDirectFileAccess(CDLLContext* pContext, const ci_string& url, const ci_string& queryString,
                             DWORD fileAccessType, bool& accessDeniedSent, bool& forceSaveIdRemoved) {
  bool enabled = false;
  const DWORD checked = CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled(pContext, enabled, fileAccessType);
  if (checked != 0) {
    // A download that cannot be decided is refused, never passed on.
    DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] CheckIfDirectFileAccessIsEnabled() failed.");
    enabled = false;
  } else {
    DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] Direct file access is <%s> for this criteria.",
             enabled ? "ENABLED" : "DISABLED");
  }
  if (enabled) return RedirectWithoutProductParams(pContext, url, queryString, fileAccessType, forceSaveIdRemoved);

  const DWORD denied = CAuthCompleteHelper::SendAccessDeniedResponse(pContext);
  if (denied != 0) {
    DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] SendAccessDeniedResponse() failed.");
    // Without its page the download is refused all the same.
    CAuthCompleteHelper::RefuseUndecided(pContext);
    accessDeniedSent = true;
    return checked != 0 ? checked : denied;
  }
  accessDeniedSent = true;
  return checked;
}

// Setting 43 of the request's settings set, read as every level is: level 1
// when no level of the look-up holds it, Invalid (with the text as written in
// text) when it is no plain number or not 0, 1 or 2. A level taken from the
// general settings is reported.
int32_t ReadBlockLevel(const CDLLContext* pContext, std::string* text = nullptr) {
  const int32_t settingsId = static_cast<int32_t>(pContext->m_dwSettingsID);
  const CHandlePLSettings::LevelValue value = CPLHXGeneralSettings::getInstance()->GetHandleSettings().ReadLevel(
      SettingDirectFileAccessBlockLevel, settingsId, kGeneralEngineID);
  if (value.outcome == CHandlePLSettings::LevelValue::Outcome::Missing) {
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] CPLHXGeneralSettings::GetSettingFromID() failed. ID <%d> SettingID <%d>.",
             static_cast<int>(SettingDirectFileAccessBlockLevel), static_cast<int>(settingsId));
  }
  const int32_t level = BlockLevels::DirectFileAccessLevelOf(value);
  if (value.source == CPLSettings::SettingSource::General || value.source == CPLSettings::SettingSource::None) {
    ReportGeneralBlockLevel(pContext, settingsId, value);
  }
  if (text != nullptr) *text = value.text;
  DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] Direct file access block level is <%d>.",
           static_cast<int>(level));
  return level;
}

}  // namespace

DWORD CAuthCompleteHelper::DecideInlineAttachmentFetch(CDLLContext* pContext, bool& answerMustBeImage) {
  answerMustBeImage = false;
  const int32_t level = ReadBlockLevel(pContext);
  if (level == BlockLevel::Allow || level == BlockLevel::UnlessProductLinkOrAllowedIP) return 0;
  // Level 0 is the boundary for sites where nothing may leave the ranges: an
  // inline answer from outside them may only be an image. So is every answer
  // of a set whose level cannot be used.
  DWORD dwRet = 0;
  bool inside = false;
  if (level == BlockLevel::UnlessAllowedIP) {
    dwRet = CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange(pContext, inside);
    if (dwRet != 0) {
      DebugLog("[CAuthCompleteHelper::DecideInlineAttachmentFetch] CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange() failed.");
      inside = false;
    }
  }
  answerMustBeImage = !inside;
  DebugLog("[CAuthCompleteHelper::DecideInlineAttachmentFetch] Only an inline image may answer this request <%s>.",
           answerMustBeImage ? "Y" : "N");
  return dwRet;
}

DWORD CAuthCompleteHelper::HandleDirectFileAccessRequest(CDLLContext* pContext, const ci_string& url,
                                                         const ci_string& queryString, DWORD fileAccessType,
                                                         bool& accessDeniedSent, bool& forceSaveIdRemoved) {
  accessDeniedSent = false;
  forceSaveIdRemoved = false;
  DWORD dwRet = 0;
  DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] Started.");
  if (pContext == nullptr || !pContext->m_spRequestInfo) {
    DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] pContext and/or m_spRequestInfo is NULL.");
    dwRet = HX_RC_MISSING;
  } else {
    dwRet = DecideDirectFileAccess(pContext, url, queryString, fileAccessType, accessDeniedSent, forceSaveIdRemoved);
  }
  DebugLog("[CAuthCompleteHelper::HandleDirectFileAccessRequest] returned dwRet <%d>. Access Denied response has been sent <%s>.",
           static_cast<int>(dwRet), accessDeniedSent ? "Y" : "N");
  return dwRet;
}

DWORD CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled(CDLLContext* pContext, bool& enabled,
                                                            DWORD fileAccessType) {
  DWORD dwRet = 0;
  enabled = false;
  DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] Started.");
  if (pContext == nullptr || !pContext->m_spRequestInfo) {
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] pContext and/or m_spRequestInfo is NULL.");
    return HX_RC_MISSING;
  }
  const int32_t settingsId = static_cast<int32_t>(pContext->m_dwSettingsID);
  std::string levelText;
  const int32_t level = ReadBlockLevel(pContext, &levelText);

  const bool restricted = level == BlockLevel::UnlessAllowedIP || level == BlockLevel::UnlessProductLinkOrAllowedIP;
  if (restricted && !DecisionParamsReadOneWay(*pContext->m_spRequestInfo)) {
    // The server could fetch another file than the one decided on.
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] The download's parameters are repeated, hold a control byte or lie in a body; it cannot be decided.");
    dwRet = HX_RC_INVALID_DATA;
  } else if (restricted && fileAccessType == kDocumentViewFile &&
             !ReadDocumentNameParam(*pContext->m_spRequestInfo).IsUnique()) {
    // The product always names the document in the query; without it the
    // server takes a "URL" from where the module cannot see it (a cookie
    // its parameter look-up falls back to), or none.
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] The document's 'URL' is not in the query string; it cannot be decided.");
    dwRet = HX_RC_INVALID_DATA;
  } else if (level == BlockLevel::UnlessAllowedIP) {
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] Block direct file access, unless it occurs from a specified IP address.");
    dwRet = CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange(pContext, enabled);
    if (dwRet != 0) {
      DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange() failed.");
    }
  } else if (level == BlockLevel::Allow) {
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] Allow direct file access.");
    enabled = true;
  } else if (level == BlockLevel::UnlessProductLinkOrAllowedIP) {
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] Block direct file access, unless it is an PL request or the request occurs from a specified IP address.");
    if (fileAccessType == kAttachmentFile) {
      dwRet = CheckIfPLDirectAttachmentAccessOrAllowedIP(pContext, enabled);
      if (dwRet != 0) {
        DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] CheckIfPLDirectAttachmentAccessOrAllowedIP() failed.");
      }
    } else if (fileAccessType == kDocumentViewFile) {
      dwRet = CheckIfPLDirectDocumentViewFileAccessOrAllowedIP(pContext, enabled);
      if (dwRet != 0) {
        DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] CheckIfPLDirectDocumentViewFileAccessOrAllowedIP() failed.");
      }
    } else {
      DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] Invalid file type <%d>.",
               static_cast<int>(fileAccessType));
      dwRet = HX_RC_INVALID_DATA;
    }
  } else {
    DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] invalid direct file access level <%d>.",
             static_cast<int>(level));
    BlockLevels::ReportInvalidDirectFileAccessLevel(*CPLHXGeneralSettings::getInstance(), settingsId, levelText);
    dwRet = HX_RC_INVALID_DATA;
  }
  // No failure may leave a download allowed.
  if (dwRet != 0) enabled = false;
  DebugLog("[CAuthCompleteHelper::CheckIfDirectFileAccessIsEnabled] returns. dwRet <%d> bDirectFileAccessEnabled <%s>.",
           static_cast<int>(dwRet), TrueFalse(enabled));
  return dwRet;
}

bool CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved(ci_string& queryString) {
  static const ci_string& kUnresolved = *new ci_string("unresolved");  // never destroyed, as above
  bool removed = false;
  size_t begin = 0;
  size_t valueBegin = 0;
  if (queryString.compare(0, 3, "id=") == 0) {
    valueBegin = 3;
  } else {
    begin = queryString.find("&id=");
    valueBegin = begin + 4;
  }
  if (begin == ci_string::npos) {
    DebugLog("[CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved] Param <%s> was not found in query string <%s>.",
             "id", queryString.c_str());
  } else {
    const size_t valueEnd = std::min(queryString.find('&', valueBegin), queryString.size());
    if (queryString.compare(valueBegin, valueEnd - valueBegin, kUnresolved) == 0) {
      DebugLog("[CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved] Param <%s> is set to 'unresolved'. Remove param from query string <%s>.",
               "id", queryString.c_str());
      queryString.erase(begin, valueEnd - begin);
      if (!queryString.empty() && queryString[0] == '&') queryString.erase(0, 1);
      DebugLog("[CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved] New query string <%s>.",
               queryString.c_str());
      removed = true;
    } else {
      DebugLog("[CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved] Param <%s> was found in query string <%s> but its value is not set to 'unresolved'. There's nothing to do, return.",
               "id", queryString.c_str());
    }
  }
  DebugLog("[CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved] returned <%s>.", TrueFalse(removed));
  return removed;
}
