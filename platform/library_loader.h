// Libraries: code libraries through dlopen (a "X.dll" name loads "X.so"),
// and resource-only PE libraries loaded as data files for their resources.
#pragma once

#include <cstdint>

#include "platform/win_types.h"

constexpr DWORD LOAD_LIBRARY_AS_DATAFILE = 0x00000002;
constexpr DWORD ERROR_BAD_EXE_FORMAT = 193;

using HRSRC = void*;
using HGLOBAL = void*;
using FARPROC = void (*)();

#define MAKEINTRESOURCEA(i) (reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(static_cast<WORD>(i))))
#define RT_STRING MAKEINTRESOURCEA(6)

// A bare name is looked for beside this module first, then along the
// system's library path. Fails with the Win32 code of 126 when not found.
HMODULE LoadLibraryA(LPCSTR fileName);
// With LOAD_LIBRARY_AS_DATAFILE the file is read as a PE image and none of
// it runs; a missing file fails with 2, a damaged one with 193.
HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE reserved, DWORD flags);
FARPROC GetProcAddress(HMODULE module, LPCSTR procName);
// Releases one load; the library goes with its last load.
BOOL FreeLibrary(HMODULE module);

// Resources of a data-file module. Type and name are numeric
// (MAKEINTRESOURCEA); the language must match exactly.
HRSRC FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
DWORD SizeofResource(HMODULE module, HRSRC resource);
LPVOID LockResource(HGLOBAL data);
