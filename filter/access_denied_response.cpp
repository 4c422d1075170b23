// The module's own "401" page for refused downloads and attach-file dialogs:
// one short HTML page with the product's name and a localised message.
#include <cstring>
#include <string>

#include "common/debug_log.h"
#include "filter/auth_complete_helper.h"
#include "filter/control_message.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/pl_hx_context.h"
#include "filter/result_codes.h"
#include "general/pl_hx_general_settings.h"

namespace {

constexpr DWORD kAccessDeniedTextID = 191;
constexpr const char kAccessDeniedText[] = "You are not authorized to view this file.";
constexpr const char kProductName[] = "Quenlith Pellora";

// Resource string 191 in the user's language, HTML-escaped UTF-8; English
// when the language has no strings of its own, the built-in text when the
// library has none at all.
std::string AccessDeniedMessage(const std::string& language) {
  CPLHXGeneralSettings* pSettings = CPLHXGeneralSettings::getInstance();
  LANGID langId = kEnglishLangId;
  if (!pSettings->GetResource().DetectLanguage(language, langId)) {
    DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] CResource::DetectLanguage failed!");
    langId = kEnglishLangId;
  }
  std::string message = kAccessDeniedText;
  if (!pSettings->GetUTF8ResourceString(kAccessDeniedTextID, message, langId)) {
    DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] CPLGeneralSetting::GetUTF8ResourceString() failed.");
    message = kAccessDeniedText;
  }
  return message;
}

std::string BuildAccessDeniedResponse(const std::string& message) {
  std::string body;
  body.reserve(256);
  body += "<HTML><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\">\n"
          "<HEAD><TITLE>Pellora</TITLE></HEAD>\n<BODY><P align=center><b>";
  body += kProductName;
  body += "</b><br></P><P align=center><FONT FACE=\"Verdana\" SIZE=\"2\"><b>";
  body += message;
  body += "</b></P></BODY></HTML>";
  std::string response;
  response.reserve(body.size() + 128);
  response += "HTTP/1.0 401 OK\r\nContent-Length: ";
  response += std::to_string(body.size());
  response += "\r\n";
  response += "Content-Type: text/html\r\n\r\n";
  response += body;
  return response;
}

// Without a response sender the page goes to the host as the replace buffer,
// so that a refused download is still refused.
void HandOverAsReplaceBuffer(CDLLContext* pContext, const std::string& response) {
  delete[] pContext->m_pReplaceBuffer;
  pContext->m_pReplaceBuffer = new BYTE[response.size()];
  std::memcpy(pContext->m_pReplaceBuffer, response.data(), response.size());
  pContext->m_dwReplaceBufferLength = static_cast<DWORD>(response.size());
  pContext->m_dwControlMessage = ControlMessageReplace;
  DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] The page was handed over as the replace buffer.");
}

}  // namespace

DWORD CAuthCompleteHelper::SendAccessDeniedResponse(CDLLContext* pContext) {
  DWORD dwRet = 0;
  DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] started.");
  if (pContext == nullptr || pContext->m_pMyOwnContext == nullptr) {
    DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] pContext is NULL or invalid");
    dwRet = HX_RC_MISSING;
  } else {
    const std::string response = BuildAccessDeniedResponse(AccessDeniedMessage(pContext->m_pMyOwnContext->m_sUserLanguage));
    if (CBaseNotifications::SendResponse(pContext, response.data(), "401 Access Denied",
                                         static_cast<DWORD>(response.size())) != 0) {
      DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] CBaseNotifications::SendResponse() failed.");
      HandOverAsReplaceBuffer(pContext, response);
    }
  }
  DebugLog("[CAuthCompleteHelper::SendAccessDeniedResponse] returned. dwRet <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

void CAuthCompleteHelper::RefuseUndecided(CDLLContext* pContext) noexcept {
  try {
    if (pContext->m_pMyOwnContext == nullptr) pContext->m_pMyOwnContext = CPLHXContext::Create("en", 0x0409, "");
    if (SendAccessDeniedResponse(pContext) == 0) return;
  } catch (...) {
  }
  DebugLog("[CAuthCompleteHelper::RefuseUndecided] The access-denied page could not be made; the request ends without an answer.");
  pContext->m_dwControlMessage = ControlMessageCompleted;
}
