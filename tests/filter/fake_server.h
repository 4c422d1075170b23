// A request record with a scripted ISAPI server behind it, for calling the
// handlers directly.
#pragma once

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "filter/dll_context.h"

struct FakeServer {
  struct HeaderCall {
    std::string op;
    std::string name;
    std::string value;
  };

  CDLLContext record;
  HTTP_FILTER_CONTEXT fc{};
  HTTP_FILTER_PREPROC_HEADERS headers{};
  COutboundContext* outbound = nullptr;
  std::vector<HeaderCall> calls;
  int failAddHeaderAt = 0;  // 1-based call number that fails; 0 never
  std::map<std::string, std::string> variables;
  std::map<std::string, std::string> responseHeaders;  // by name with its colon, as asked for

  explicit FakeServer(DWORD notification) {
    fc.ServerContext = this;
    fc.GetServerVariable = &GetServerVariable;
    headers.GetHeader = nullptr;
    headers.SetHeader = &SetHeader;
    headers.AddHeader = &AddHeader;
    record.m_dwNotificationType = notification;
    record.m_pFilterContext = &fc;
    record.m_pNotification = &headers;
  }

  void WithStatus(DWORD status) {
    outbound = new COutboundContext;
    outbound->m_dwStatusCode = status;
    record.m_spOutboundContext = CCountedPtr<COutboundContext>(outbound);
  }

  // Answers GetHeader from responseHeaders from now on.
  void WithResponseHeader(const std::string& name, const std::string& value) {
    headers.GetHeader = &GetHeader;
    responseHeaders[name] = value;
  }

  static FakeServer* Of(HTTP_FILTER_CONTEXT* pfc) { return static_cast<FakeServer*>(pfc->ServerContext); }

  static BOOL AddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value) {
    FakeServer* s = Of(pfc);
    s->calls.push_back({"add", name, value});
    return static_cast<int>(s->calls.size()) == s->failAddHeaderAt ? FALSE : TRUE;
  }
  static BOOL SetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value) {
    Of(pfc)->calls.push_back({"set", name, value});
    return TRUE;
  }
  static BOOL GetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
    return CopyOut(Of(pfc)->responseHeaders, name, buffer, size);
  }
  static BOOL GetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
    return CopyOut(Of(pfc)->variables, name, buffer, size);
  }
  static BOOL CopyOut(const std::map<std::string, std::string>& values, LPSTR name, LPVOID buffer, LPDWORD size) {
    auto it = values.find(name);
    if (it == values.end()) {
      IsapiSetCallError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const DWORD needed = static_cast<DWORD>(it->second.size() + 1);
    if (buffer == nullptr || *size < needed) {
      *size = needed;
      IsapiSetCallError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, it->second.c_str(), needed);
    *size = needed;
    return TRUE;
  }
};
