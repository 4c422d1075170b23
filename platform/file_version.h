// Version information of a file. The module's own file carries the version
// it was built with; other files have none (1813).
#pragma once

#include "platform/win_types.h"

// Version and product version of this build.
#define HX_FILE_VERSION "6.0.0.0"
#define HX_PRODUCT_VERSION "6.0.0.0"
// Language and code page of its version strings (U.S. English, Unicode).
constexpr WORD kVersionLanguage = 0x0409;
constexpr WORD kVersionCodePage = 0x04B0;

// fileName: a path, or a bare name of a loaded module ("X.dll" stands for
// "X.so"). The size is 0 on failure, with the Win32 code set.
DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle);
BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD handle, DWORD len, LPVOID data);
// Sub-blocks: "\VarFileInfo\Translation" (a language WORD then a code-page
// WORD) and "\StringFileInfo\<lang><cp, 8 hex digits>\<name>" (text with its
// terminator; len counts characters with the terminator).
BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* len);
