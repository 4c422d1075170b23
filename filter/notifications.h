// The notification handlers. CNotifications is built on the stack of
// HttpFilterProc for one call; the handlers keep no state of their own, a
// request's state lives in the host's record.
#pragma once

#include <string>

#include "filter/dll_context.h"
#include "platform/win_types.h"

class CBaseNotifications {
 public:
  virtual ~CBaseNotifications() = default;
  virtual DWORD NotifyAuthComplete(CDLLContext* pContext) = 0;
  virtual DWORD NotifyPreProcHeaders(CDLLContext* pContext) = 0;
  virtual DWORD NotifySendResponse(CDLLContext* pContext) = 0;
  virtual DWORD NotifySendRawData(CDLLContext* pContext) = 0;
  virtual DWORD NotifyEndOfRequest(CDLLContext* pContext) = 0;

  // Sends a complete response through the host; 0 and control Completed, or 7
  // when the host offers no sender. label only names the response in the log.
  static DWORD SendResponse(CDLLContext* pContext, const char* response, const char* label, DWORD length);
  // Add or replace a header through the ISAPI notification structure; only
  // the send-response, pre-process-headers and authentication-complete
  // notifications may. The header name "URL" replaces the request URL.
  static BOOL AddWorkerHeader(CDLLContext* pContext, const std::string& name, const std::string& value);
  static BOOL SetWorkerHeader(CDLLContext* pContext, const std::string& name, const std::string& value);
  // A header through the notification structure's GetHeader, named as
  // ISAPI names it ("Content-Type:"; during send response a header of the
  // server's response); false when it is absent or cannot be read.
  static bool GetWorkerHeader(CDLLContext* pContext, const std::string& name, std::string& value);
  // A name or value with CR, LF or NUL would split the header or cut it
  // short; the two calls above refuse such text (0, without calling the host).
  static bool IsSafeHeaderText(const std::string& text);
  // Always 0; value is assigned only when the variable was read.
  static DWORD GetServerVariable(CDLLContext* pContext, const std::string& name, std::string& value);
  // The client's address: with setting 85 at 1 the forwarded-for address
  // first, then the remote-client variable, then the connection's address.
  static std::string GetClientIP(CDLLContext* pContext);
};

class CNotifications : public CBaseNotifications {
 public:
  DWORD NotifyAuthComplete(CDLLContext* pContext) override;
  DWORD NotifyPreProcHeaders(CDLLContext* pContext) override;
  DWORD NotifySendResponse(CDLLContext* pContext) override;
  DWORD NotifySendRawData(CDLLContext* pContext) override;
  DWORD NotifyEndOfRequest(CDLLContext* pContext) override;
};

// For tests only: when set, called as the pre-process steps begin, so that a
// test can make them fail. The module never sets it, and no request can.
extern void (*g_pfnPreProcHeadersTestFault)();

// The last line of every handler, on every path: result and control message
// ("N/A" without a record).
void LogNotificationFinished(const char* handler, DWORD result, const CDLLContext* pContext);
