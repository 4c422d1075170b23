#include <cstring>
#include <string>

#include "common/debug_log.h"
#include "filter/notifications.h"
#include "filter/notifications_helper.h"
#include "filter/util.h"

namespace {

// The module's result for a host entry or header read that is missing.
constexpr DWORD kMissingHostEntry = 7;

// Only these notifications carry a structure whose header calls may be used.
bool MayChangeHeaders(DWORD notificationType) {
  return notificationType == SF_NOTIFY_SEND_RESPONSE || notificationType == SF_NOTIFY_PREPROC_HEADERS ||
         notificationType == SF_NOTIFY_AUTH_COMPLETE;
}

// The pre-process-headers, send-response and authentication-complete
// structures all begin with GetHeader, SetHeader, AddHeader.
const HTTP_FILTER_PREPROC_HEADERS* HeaderCalls(const CDLLContext* pContext) {
  return static_cast<const HTTP_FILTER_PREPROC_HEADERS*>(pContext->m_pNotification);
}

enum class HeaderCall { Add, Set };

// A writable, terminated copy of a header text for the host's LPSTR
// parameters (a host may write into what it is given): on the stack for texts
// of ordinary length, as every header call of a response pays for it.
class CWritableText {
 public:
  explicit CWritableText(const std::string& text) {
    if (text.size() < sizeof m_local) {
      std::memcpy(m_local, text.c_str(), text.size() + 1);
      m_text = m_local;
    } else {
      m_long = text;
      m_text = m_long.data();
    }
  }
  CWritableText(const CWritableText&) = delete;
  CWritableText& operator=(const CWritableText&) = delete;

  char* Data() { return m_text; }

 private:
  char m_local[256];
  std::string m_long;
  char* m_text;
};

BOOL CallHost(CDLLContext* pContext, const HTTP_FILTER_PREPROC_HEADERS* calls, HeaderCall call, char* name,
              char* value) {
  if (call == HeaderCall::Add && calls->AddHeader != nullptr) {
    return calls->AddHeader(pContext->m_pFilterContext, name, value);
  }
  if (call == HeaderCall::Set && calls->SetHeader != nullptr) {
    return calls->SetHeader(pContext->m_pFilterContext, name, value);
  }
  return FALSE;
}

BOOL CallHeader(CDLLContext* pContext, HeaderCall call, const std::string& name, const std::string& value) {
  const char* label = call == HeaderCall::Add ? "AddWorkerHeader" : "SetHeader";
  if (pContext == nullptr || !MayChangeHeaders(pContext->m_dwNotificationType)) {
    DebugLog("[%s] for header: %s return %d", label, name.c_str(), 0);
    return FALSE;
  }
  if (!CBaseNotifications::IsSafeHeaderText(name) || !CBaseNotifications::IsSafeHeaderText(value)) {
    DebugLog("[%s] for header: %s refused: the name or value holds CR, LF or NUL. return %d", label, name.c_str(), 0);
    return FALSE;
  }
  BOOL result = FALSE;
  const HTTP_FILTER_PREPROC_HEADERS* calls = HeaderCalls(pContext);
  if (pContext->m_pFilterContext != nullptr && calls != nullptr) {
    CWritableText nameBuffer(name);
    CWritableText valueBuffer(value);
    result = CallHost(pContext, calls, call, nameBuffer.Data(), valueBuffer.Data());
  }
  DebugLog("[%s] for header: %s return %d", label, name.c_str(), static_cast<int>(result));
  return result;
}

}  // namespace

DWORD CBaseNotifications::SendResponse(CDLLContext* pContext, const char* response, const char* label,
                                       DWORD length) {
  DebugLog("[CBaseNotifications::SendResponse] SendResponse %s", label != nullptr ? label : "");
  if (pContext == nullptr || pContext->m_pCoreServices == nullptr ||
      pContext->m_pCoreServices->SendResponse == nullptr) {
    return kMissingHostEntry;
  }
  DWORD lengthCopy = length;
  pContext->m_pCoreServices->SendResponse(pContext, response, &lengthCopy, pContext->m_pCoreServices);
  pContext->m_dwControlMessage = ControlMessageCompleted;
  return ERROR_SUCCESS;
}

bool CBaseNotifications::IsSafeHeaderText(const std::string& text) {
  // The span before the first CR or LF ends at the first NUL too: it covers
  // the whole text exactly when the text holds none of the three.
  return std::strcspn(text.c_str(), "\r\n") == text.size();
}

BOOL CBaseNotifications::AddWorkerHeader(CDLLContext* pContext, const std::string& name, const std::string& value) {
  return CallHeader(pContext, HeaderCall::Add, name, value);
}

BOOL CBaseNotifications::SetWorkerHeader(CDLLContext* pContext, const std::string& name, const std::string& value) {
  return CallHeader(pContext, HeaderCall::Set, name, value);
}

bool CBaseNotifications::GetWorkerHeader(CDLLContext* pContext, const std::string& name, std::string& value) {
  value.clear();
  if (pContext == nullptr || !MayChangeHeaders(pContext->m_dwNotificationType) || pContext->m_pFilterContext == nullptr ||
      HeaderCalls(pContext) == nullptr || HeaderCalls(pContext)->GetHeader == nullptr || !IsSafeHeaderText(name)) {
    return false;
  }
  const PFN_GET_HEADER getHeader = HeaderCalls(pContext)->GetHeader;
  CWritableText nameBuffer(name);
  // An ordinary value fits the stack; a longer one gets a second call with
  // the size the first one asked for. Every 200 answer asks for a few
  // headers, most of them absent.
  char local[256];
  DWORD size = sizeof local;
  if (getHeader(pContext->m_pFilterContext, nameBuffer.Data(), local, &size) != FALSE) {
    value.assign(local, strnlen(local, sizeof local));
    return true;
  }
  if (size <= sizeof local) return false;
  std::string buffer(size, '\0');
  if (getHeader(pContext->m_pFilterContext, nameBuffer.Data(), buffer.data(), &size) == FALSE) return false;
  value.assign(buffer.c_str());
  return true;
}

BOOL AddSafeWorkerHeader(CDLLContext* pContext, char* name, char* value) {
  if (pContext == nullptr || !MayChangeHeaders(pContext->m_dwNotificationType)) {
    DebugLog("[AddWorkerHeader] for header: %s return %d", name, 0);
    return FALSE;
  }
  const HTTP_FILTER_PREPROC_HEADERS* calls = HeaderCalls(pContext);
  const BOOL result =
      pContext->m_pFilterContext != nullptr && calls != nullptr ? CallHost(pContext, calls, HeaderCall::Add, name, value)
                                                                : FALSE;
  DebugLog("[AddWorkerHeader] for header: %s return %d", name, static_cast<int>(result));
  return result;
}

DWORD CBaseNotifications::GetServerVariable(CDLLContext* pContext, const std::string& name, std::string& value) {
  return CUtil::GetServerVariable(pContext, name.c_str(), value);
}

void LogNotificationFinished(const char* handler, DWORD result, const CDLLContext* pContext) {
  DebugLog("[CNotifications::%s] finished.  Win32 RC=%d.  Control Message=<%s>", handler, static_cast<int>(result),
           pContext != nullptr ? ControlMessageName(pContext->m_dwControlMessage) : kControlMessageNotAvailable);
}
