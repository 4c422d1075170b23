// Static helpers over the host's request record.
#pragma once

#include <string>

#include "filter/dll_context.h"
#include "platform/win_types.h"

class CUtil {
 public:
  // Reads a server variable through the ISAPI filter context during any of
  // the five handled notifications. Always 0: a variable that cannot be read
  // leaves value unchanged.
  static DWORD GetServerVariable(CDLLContext* pContext, const char* name, std::string& value);
};
