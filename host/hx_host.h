// The filter host: loads the module once, then runs requests through it,
// delivering the notifications in order and honouring the control message
// the module leaves in the record.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "host/hx_module.h"
#include "host/hx_request.h"
#include "platform/http_filter.h"

struct HxNotificationRecord {
  DWORD type = 0;
  DWORD result = 0;
  DWORD controlMessage = 0;
  DWORD requestFlags = 0;
  DWORD settingsId = 0;
};

struct HxHeaderChange {
  HxHeaderChange() = default;
  // Builds the texts in place: the host records every header call a module
  // makes, a dozen on an ordinary response.
  HxHeaderChange(DWORD notification_, bool add_, std::string_view name_, std::string_view value_, BOOL result_)
      : notification(notification_), add(add_), name(name_), value(value_), result(result_) {}

  DWORD notification = 0;  // the notification during which it was asked for
  bool add = false;        // AddHeader, else SetHeader
  std::string name;
  std::string value;
  BOOL result = FALSE;
};

enum class HxAnswerKind {
  ServerResponse,  // the response as the server sent it
  RewrittenPage,   // the response with the module's page edits applied
  ModuleResponse,  // a complete response the module sent itself (Completed)
  ReplaceBuffer,   // the module's replace buffer (Replace)
  HostRefusal,     // the host's own 400: the head or the path cannot be read safely
};

struct HxOutcome {
  bool ok = false;
  std::string error;  // when !ok: why the request could not run

  // The path as the server routes it (HxRoutePath); empty when the head or
  // the path is refused, and then pathRefusal says why and no notification
  // was delivered.
  std::string routedPath;
  std::string pathRefusal;
  uint32_t subscriptionType = 0;
  bool subscriptionFromUrl = true;
  std::vector<HxNotificationRecord> notifications;
  std::vector<HxHeaderChange> headerChanges;
  std::string originalUrl;
  std::string finalUrl;

  // Page edits submitted through SubmitBufferCommands.
  bool instructionsSubmitted = false;
  unsigned long long instructionCount = 0;
  DWORD submitResult = 0;

  HxAnswerKind answerKind = HxAnswerKind::ServerResponse;
  std::string answer;  // the complete response that goes to the client
  // The response as the server sent it, headers as they stood after send
  // response: what the answer must equal when no edit was applied.
  std::string serverResponse;
};

const char* HxNotificationName(DWORD type);
const char* HxAnswerKindName(HxAnswerKind kind);

class HxHost {
 public:
  // Called on the request's thread before the first and after the last
  // notification; the place to hand the request's identity to whatever
  // impersonation layer the module consults.
  using RequestHook = std::function<void(const HxRequest&)>;

  HxHost() = default;
  HxHost(const HxHost&) = delete;
  HxHost& operator=(const HxHost&) = delete;
  ~HxHost() { Stop(); }

  // Loads the module and calls GetFilterVersion once; false with a message
  // when either fails. A failed start's message carries, one per line, the
  // events the module reported meanwhile (the executable must export the
  // event listener, as hxhost does).
  bool Start(const std::string& modulePath, std::string& error);
  // The same with a filter that is already in the process.
  bool Start(HxModule::PFN_GetFilterVersion getFilterVersion, HxModule::PFN_HttpFilterProc httpFilterProc,
             HxModule::PFN_TerminateFilter terminateFilter, std::string& error);
  // TerminateFilter, then unload. Returns TerminateFilter's result (0 when
  // the module was not started).
  DWORD Stop();

  const HTTP_FILTER_VERSION& Version() const { return m_version; }
  bool IsStarted() const { return m_started; }

  // Runs one request; safe to call from several threads at once. A path that
  // cannot be read safely is refused with 400 before the module sees it, as
  // a server does (HxAnswerKind::HostRefusal; the outcome is still ok).
  HxOutcome Run(const HxRequest& request) const;

  RequestHook onBeginRequest;
  RequestHook onEndRequest;
  std::string virtualFolder = "X-Pellora";

 private:
  bool AfterLoad(const std::string& name, std::string& error);

  HxModule m_module;
  HTTP_FILTER_VERSION m_version{};
  bool m_started = false;
};
