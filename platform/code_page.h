// Code-page conversion between UTF-16 and the Windows code pages, on ICU's
// converters (ucnv). A code page that has no converter fails with 87
// ("cannot convert").
#pragma once

#include "platform/win_types.h"

constexpr UINT CP_ACP = 0;
constexpr UINT CP_UTF8 = 65001;

// The code page CP_ACP stands for.
constexpr UINT kAnsiCodePage = 1252;

// As the Win32 calls: cch / cb of -1 means zero-terminated (the terminator is
// converted and counted); an output size of 0 asks for the size needed; a
// buffer too small fails with 122. Characters the code page lacks become the
// code page's replacement character ("?") unless defaultChar names another.
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wide, int cchWide, LPSTR out, int cbOut,
                        LPCSTR defaultChar, BOOL* usedDefaultChar);
// Bytes that are not valid in the code page fail with 1113.
int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR bytes, int cbBytes, WCHAR* out, int cchOut);

// Whether a converter for the code page is at hand.
bool IsCodePageAvailable(UINT codePage);
