#include "filter/iis_parm.h"

#include <cstring>
#include <memory>
#include <new>

#include "common/debug_log.h"
#include "platform/last_error.h"

bool GetIISParmT(HTTP_FILTER_CONTEXT* pfc, PFN_GET_SERVER_VARIABLE pfnGetServerVariable, const std::string& name,
                 std::string& value) {
  if (pfnGetServerVariable == nullptr) return false;
  std::string nameBuffer(name);
  DWORD size = 0;
  IsapiClearCallError();
  if (pfnGetServerVariable(pfc, nameBuffer.data(), nullptr, &size)) return true;
  SetLastError(IsapiCallError());

  const DWORD error = GetLastError();
  if (size == 0) return false;

  if (error == ERROR_INSUFFICIENT_BUFFER) {
    const DWORD allocated = size + 1;
    std::unique_ptr<char[]> buffer(new (std::nothrow) char[allocated]());
    if (!buffer) return false;
    DWORD read = allocated;
    IsapiClearCallError();
    if (!pfnGetServerVariable(pfc, nameBuffer.data(), buffer.get(), &read)) {
      SetLastError(IsapiCallError());
      // A failed second read yields no value: keep what the caller had.
      const DWORD readError = GetLastError();
      DebugLogError(readError, "GetIISParmT %s failed Error: %d", name.c_str(), static_cast<int>(readError));
      return false;
    }
    // The server reports the size it wrote; never trust it past our buffer.
    buffer[read < allocated ? read : allocated - 1] = '\0';
    value.assign(buffer.get(), std::strlen(buffer.get()));
    return true;
  }

  if (error == ERROR_INVALID_PARAMETER || error == ERROR_NO_DATA || error == ERROR_INVALID_INDEX) {
    DebugLog("GetIISParmT %s %s Error %d", " GetServerVariable failed", name.c_str(), static_cast<int>(error));
  }
  return false;
}
