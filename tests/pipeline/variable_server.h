// A request record whose ISAPI filter context answers server variables from
// a map, for calling the request helpers directly.
#pragma once

#include <cstring>
#include <map>
#include <string>

#include "filter/dll_context.h"
#include "platform/http_filter.h"

struct VariableServer {
  CDLLContext record;
  HTTP_FILTER_CONTEXT fc{};
  std::map<std::string, std::string> variables;

  VariableServer() {
    fc.ServerContext = this;
    fc.GetServerVariable = &Get;
    record.m_pFilterContext = &fc;
    record.m_dwNotificationType = 0x04000000;
  }
  static BOOL Get(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
    auto* self = static_cast<VariableServer*>(pfc->ServerContext);
    auto it = self->variables.find(name);
    if (it == self->variables.end()) {
      IsapiSetCallError(ERROR_INVALID_PARAMETER);
      return FALSE;
    }
    const DWORD need = static_cast<DWORD>(it->second.size() + 1);
    if (buffer == nullptr || *size < need) {
      *size = need;
      IsapiSetCallError(ERROR_INSUFFICIENT_BUFFER);
      return FALSE;
    }
    std::memcpy(buffer, it->second.c_str(), need);
    *size = need;
    return TRUE;
  }
};
