// Static request and page helpers shared by the notification handlers, the
// access checks and the page forms.
#pragma once

#include <cstdint>
#include <string>

#include "filter/dll_context.h"
#include "platform/win_types.h"

class CBufferInstructionList;

class CUtil {
 public:
  // Reads a server variable through the ISAPI filter context during any of
  // the five handled notifications. Always 0: a variable that cannot be read
  // leaves value unchanged.
  static DWORD GetServerVariable(CDLLContext* pContext, const char* name, std::string& value);

  // Identifier hash that the page forms write into pages and the access
  // checks recompute: h = h * 33 + byte (byte taken as signed 8-bit), 32-bit
  // wrap-around, written in decimal.
  static std::string HashString(const char* text);

  // User-agent tests (ASCII case ignored).
  static bool IsMacClient(const std::string& userAgent);
  static bool IsPremiumIEClient(const std::string& userAgent);
  static bool IsOWAAuthWindowsClient(const std::string& userAgent);

  // Record one page edit at an address of the host's response buffer.
  static DWORD InsertHtmlStringAtPosition(uint64_t address, const char* text,
                                          CBufferInstructionList* list);
  static DWORD DeleteHtmlStringAtPosition(uint64_t address, DWORD length,
                                          CBufferInstructionList* list);
};
