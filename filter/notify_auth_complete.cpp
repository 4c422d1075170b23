#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/log_words.h"
#include "common/secret_text.h"
#include "filter/auth_complete_helper.h"
#include "filter/block_levels.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/pl_hx_context.h"
#include "filter/request_flags.h"
#include "filter/request_info.h"
#include "filter/result_codes.h"
#include "general/pl_hx_general_settings.h"
#include "settings/setting_ids.h"

namespace {

// A direct file request can arrive with two cookie headers folded into one
// with a comma, which the mail server then refuses; only the longer side is
// kept (the part before the comma on a tie).
std::string RepairFoldedCookie(std::string_view cookie, size_t comma) {
  const size_t n = cookie.size();
  std::string kept(comma < n - comma - 1 ? cookie.substr(comma + 1) : cookie.substr(0, comma));
  static const char kBlanks[] = " \r\n\t";
  kept.erase(0, kept.find_first_not_of(kBlanks));
  const size_t last = kept.find_last_not_of(kBlanks);
  kept.erase(last == std::string::npos ? 0 : last + 1);
  return kept;
}

enum FileAccessType : DWORD { AttachmentFile = 0, DocumentViewFile = 1 };

void RefuseDownloadAfterFailure(CPLHXGeneralSettings* pSettings, CDLLContext* pContext) noexcept;

// A step failed before the request was decided: a download, or a fetch whose
// answer must be an inline image, must not go on unchecked; any other
// request goes on untouched.
DWORD StopUndecided(CPLHXGeneralSettings* pSettings, CDLLContext* pContext, DWORD dwRet) {
  pContext->m_dwControlMessage = ControlMessageIgnore;
  RefuseDownloadAfterFailure(pSettings, pContext);
  return dwRet;
}

// A request to the attachment handler that is no download: it goes on, and
// where only an inline image may answer it send response checks the answer.
DWORD DecideInlineFetch(CDLLContext* pContext) {
  bool imageOnly = false;
  const DWORD dwRet = CAuthCompleteHelper::DecideInlineAttachmentFetch(pContext, imageOnly);
  pContext->m_pMyOwnContext->m_bAnswerMustBeInlineImage = imageOnly;
  if (!imageOnly) pContext->m_dwControlMessage = ControlMessageIgnore;
  return dwRet;
}

bool IsInlineFetch(const CDLLContext* pContext) {
  return pContext->m_dwSubscriptionType == SubscriptionType::OwaAttachment &&
         (pContext->m_dwRequestFlags & RequestFlag::DirectAttachmentAccess) == 0;
}

// The steps after the record checks; returns the handler's result and leaves
// the control message in the record.
DWORD AuthCompleteSteps(CPLHXGeneralSettings* pSettings, CDLLContext* pContext) {
  DWORD dwRet = 0;
  CRequestInfo& info = *pContext->m_spRequestInfo;

  int32_t settingsId = static_cast<int32_t>(pContext->m_dwSettingsID);
  pSettings->GetLinkCriteriaSetting(static_cast<int32_t>(pContext->m_dwCriteriaID), settingsId);
  pContext->m_dwSettingsID = static_cast<DWORD>(settingsId);
  DebugLog("[CNotifications::NotifyAuthComplete] Criteria ID <%d> is mapped to Setting ID <%d>.",
           static_cast<int>(pContext->m_dwCriteriaID), static_cast<int>(settingsId));

  BOOL bypass = FALSE;
  dwRet = pSettings->GetHandleSettings().CheckByPassList(bypass);
  if (dwRet != 0) {
    DebugLog("[CNotifications::NotifyAuthComplete] CPLSettings::CheckByPassList() failed.");
    return StopUndecided(pSettings, pContext, dwRet);
  }
  if (bypass) {
    DebugLog("[CNotifications::NotifyAuthComplete] Hexmoor has to be bypassed for this group or user! Ignore further notifications.");
    pContext->m_dwControlMessage = ControlMessageIgnore;
    return 0;
  }

  const bool directAttachment = (pContext->m_dwRequestFlags & RequestFlag::DirectAttachmentAccess) != 0;
  const bool documentViewFile = (pContext->m_dwRequestFlags & RequestFlag::DocumentViewDirectFileAccess) != 0;

  // The values are read where the request holds them; only a repaired
  // cookie is a string of its own.
  const std::string* queryValue = info.FindHeaderValue("QUERY_STRING");
  if (queryValue == nullptr) {
    DebugLog("[CNotifications::NotifyAuthComplete] Reading QURERY_STRING header failed.");
    return StopUndecided(pSettings, pContext, HX_RC_MISSING);
  }
  const std::string* urlValue = info.FindHeaderValue("URL");
  if (urlValue == nullptr || urlValue->empty()) {
    DebugLog("[CNotifications::NotifyAuthComplete] Reading URL header failed.");
    return StopUndecided(pSettings, pContext, HX_RC_MISSING);
  }
  const std::string_view queryText = *queryValue;
  const std::string_view urlText = *urlValue;
  std::string_view requestCookie;
  if (const std::string* cookieValue = info.FindHeaderValue("HTTP_COOKIE")) {
    requestCookie = *cookieValue;
  } else {
    DebugLog("[CNotifications::NotifyAuthComplete] Reading HTTP_COOKIE header failed.");
  }

  // The steps below see the repaired cookie; the request keeps its own.
  std::string receivedCookie;
  std::string repairedCookie;
  bool cookieRepaired = false;
  const size_t comma = requestCookie.find(',');
  if ((directAttachment || documentViewFile) && comma != std::string::npos) {
    // Setting the header may change the value the request holds.
    receivedCookie.assign(requestCookie.data(), requestCookie.size());
    requestCookie = receivedCookie;
    DebugLog("[CNotifications::NotifyAuthComplete] This is a direct file access, and ',' character was found in cookie header value <%s>.",
             CookieForLog(receivedCookie).c_str());
    repairedCookie = RepairFoldedCookie(requestCookie, comma);
    if (!CBaseNotifications::IsSafeHeaderText(repairedCookie)) {
      // Copied into the header it would start a header of the client's own.
      DebugLog("[CNotifications::NotifyAuthComplete] The repaired cookie value holds CR, LF or NUL; the cookie header is left as it is.");
    } else if (CBaseNotifications::SetWorkerHeader(pContext, "Cookie:", repairedCookie) == 0) {
      DebugLog("[CNotifications::NotifyAuthComplete] CBaseNotifications::SetWorkerHeader() failed when setting cookie header value.");
      return StopUndecided(pSettings, pContext, HX_RC_MISSING);
    } else {
      DebugLog("[CNotifications::NotifyAuthComplete] Cookie header value was set successfully to <%s>.",
               CookieForLog(repairedCookie).c_str());
      cookieRepaired = true;
    }
  }
  const std::string_view cookie = cookieRepaired ? std::string_view(repairedCookie) : requestCookie;

  if (DebugLogEnabled()) {
    DebugLog("[CNotifications::NotifyAuthComplete] URL <%.*s> QueryString <%.*s> Cookie <%s>", LogLength(urlText.size()),
             urlText.data(), LogLength(queryText.size()), queryText.data(), CookieForLog(cookie).c_str());
  }

  if (!cookie.empty()) {
    pContext->m_dwRequestFlags |= CAuthCompleteHelper::GetFBAClientFlags(pContext, cookie);
    DebugLog("[CNotifications::NotifyAuthComplete] FBA client <%s> FBA Public client <%s>.",
             YN(pContext->m_dwRequestFlags & RequestFlag::FBAClient),
             YN(pContext->m_dwRequestFlags & RequestFlag::FBAPublicClient));
  }

  std::string language = "en";
  WORD lcid = 0x0409;
  dwRet = CAuthCompleteHelper::DetectUserLanguage(pContext, requestCookie, language, lcid);
  if (dwRet != 0) {
    DebugLog("[CNotifications::NotifyAuthComplete] CAuthCompleteHelper::DetectUserLanguage() failed.");
    return StopUndecided(pSettings, pContext, dwRet);
  }

  pContext->m_pMyOwnContext = CPLHXContext::Create(language, lcid, cookie);
  DebugLog("[CNotifications::NotifyAuthComplete] m_pMyOwnContext: %p", static_cast<void*>(pContext->m_pMyOwnContext));

  // Only redirects and direct file requests read the URL and the query
  // string again; most requests need no copies of them.
  ci_string url;
  ci_string query;
  const bool pseudoRequest = (pContext->m_dwRequestFlags & RequestFlag::PelloraVirtualFolder) != 0;
  if (directAttachment || documentViewFile || pseudoRequest) {
    url.assign(urlText.data(), urlText.size());
    query.assign(queryText.data(), queryText.size());
  }
  DWORD fileAccessType = AttachmentFile;
  if (directAttachment) {
    DebugLog("[CNotifications::NotifyAuthComplete] This is a direct attachment access request.");
    fileAccessType = AttachmentFile;
  } else if (documentViewFile) {
    DebugLog("[CNotifications::NotifyAuthComplete] This is a premium documentview direct file access request.");
    fileAccessType = DocumentViewFile;
  } else if (IsInlineFetch(pContext)) {
    return DecideInlineFetch(pContext);
  } else {
    if (pseudoRequest) {
      int32_t cacheMultimedia = 0;
      if (!pSettings->GetSettingFromID(SettingCacheMultimedia, cacheMultimedia, settingsId, 7)) {
        DebugLog("[CNotifications::NotifyAuthComplete] CPLHXGeneralSettings::GetSettingFromID() failed. ID <%d> EngineID <%d> SettingID <%d>.",
                 static_cast<int>(SettingCacheMultimedia), 7, static_cast<int>(settingsId));
      }
      const DWORD redirected =
          CAuthCompleteHelper::RedirectPelloraFakeRequest(pContext, url, query, cacheMultimedia != 0);
      if (redirected != 0) {
        DebugLog("[CNotifications::NotifyAuthComplete] CAuthCompleteHelper::RedirectPelloraFakeRequest failed.");
        dwRet = redirected;
      }
    }
    if (pContext->m_dwRequestFlags & RequestFlag::AttachFile) {
      DebugLog("[CNotifications::NotifyAuthComplete] This is an attach file dialog request.");
      const int32_t blockLevel = BlockLevels::ReadAttachmentButtonsLevel(*pSettings, settingsId);
      DebugLog("[CNotifications::NotifyAuthComplete] Attachment buttons block level is <%d>.", static_cast<int>(blockLevel));
      if (blockLevel == 1 || blockLevel == 2) {
        // The page leaves the control message as the host must act on it
        // (Completed, or Replace when the host has no response sender).
        const DWORD denied = CAuthCompleteHelper::SendAccessDeniedResponse(pContext);
        if (denied == 0) return 0;
        DebugLog("[CNotifications::NotifyAuthComplete] CNotifyAuthCompleteHelper::SendAccessDeniedResponse() failed.");
        dwRet = denied;
      }
    }
    if (dwRet != 0) pContext->m_dwControlMessage = ControlMessageIgnore;
    return dwRet;
  }

  bool accessDeniedSent = false;
  bool forceSaveIdRemoved = false;
  dwRet = CAuthCompleteHelper::HandleDirectFileAccessRequest(pContext, url, query, fileAccessType, accessDeniedSent,
                                                             forceSaveIdRemoved);
  if (dwRet != 0) {
    DebugLog("[CNotifications::NotifyAuthComplete] CAuthCompleteHelper::HandleDirectFileAccessRequest() failed.");
  }
  // A refusal, also of a download that could not be decided, keeps the
  // page's control message, so the download never reaches the server.
  if (accessDeniedSent) return dwRet;
  if (dwRet == 0 && documentViewFile && forceSaveIdRemoved) {
    pContext->m_dwRequestFlags |= RequestFlag::DocumentViewForceSave;
  } else {
    pContext->m_dwControlMessage = ControlMessageIgnore;
  }
  return dwRet;
}

// After an exception or a failed step the request's decision is unknown. A
// download at a level that restricts downloads (or an unreadable or invalid
// level) is refused; only level 1, which allows every download, lets it go
// on. An inline fetch from the attachment handler goes on at levels 1 and 2,
// which let every such fetch go on. The criteria is mapped again: the
// exception may have come before the mapping.
void RefuseDownloadAfterFailure(CPLHXGeneralSettings* pSettings, CDLLContext* pContext) noexcept {
  const DWORD downloadFlags = RequestFlag::DirectAttachmentAccess | RequestFlag::DocumentViewDirectFileAccess;
  const bool inlineFetch = IsInlineFetch(pContext);
  if ((pContext->m_dwRequestFlags & downloadFlags) == 0 && !inlineFetch) return;
  try {
    int32_t settingsId = static_cast<int32_t>(pContext->m_dwSettingsID);
    pSettings->GetLinkCriteriaSetting(static_cast<int32_t>(pContext->m_dwCriteriaID), settingsId);
    const CHandlePLSettings::LevelValue value =
        pSettings->GetHandleSettings().ReadLevel(SettingDirectFileAccessBlockLevel, settingsId, kGeneralEngineID);
    const bool read = value.outcome == CHandlePLSettings::LevelValue::Outcome::Read;
    if (read && (value.level == 1 || (inlineFetch && value.level == 2))) return;
  } catch (...) {
    DebugLog("[CNotifications::NotifyAuthComplete] The download's level could not be read after an exception.");
  }
  CAuthCompleteHelper::RefuseUndecided(pContext);
}

// Ignore unless the refusal's page is on its way; never a success.
DWORD AfterInternalFailure(CPLHXGeneralSettings* pSettings, CDLLContext* pContext) noexcept {
  pContext->m_dwControlMessage = ControlMessageIgnore;
  RefuseDownloadAfterFailure(pSettings, pContext);
  return HX_RC_INTERNAL_ERROR;
}

}  // namespace

DWORD CNotifications::NotifyAuthComplete(CDLLContext* pContext) {
  CPLHXGeneralSettings* pSettings = CPLHXGeneralSettings::getInstance();
  DWORD dwRet = 0;
  if (pContext == nullptr) {
    DebugLog("[CNotifications::NotifyAuthComplete] CDLLContext pointer is NULL.");
    dwRet = HX_RC_INVALID_DATA;
    LogNotificationFinished("NotifyAuthComplete", dwRet, pContext);
    return dwRet;
  }
  if (!pContext->m_spRequestInfo) {
    DebugLog("[CNotifications::NotifyAuthComplete] CDLLContext.m_spRequestInfo is NULL.");
    dwRet = HX_RC_INVALID_DATA;
    pContext->m_dwControlMessage = ControlMessageIgnore;
    LogNotificationFinished("NotifyAuthComplete", dwRet, pContext);
    return dwRet;
  }

  try {
    dwRet = AuthCompleteSteps(pSettings, pContext);
  } catch (const std::exception& e) {
    DebugLog("[CNotifications::NotifyAuthComplete] Runtime exception: %s", e.what());
    dwRet = AfterInternalFailure(pSettings, pContext);
  } catch (...) {
    DebugLog("[CNotifications::NotifyAuthComplete] Unexpected exception");
    dwRet = AfterInternalFailure(pSettings, pContext);
  }
  LogNotificationFinished("NotifyAuthComplete", dwRet, pContext);
  return dwRet;
}
