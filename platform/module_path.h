// Paths of loaded libraries: the stand-ins for GetModuleHandle and
// GetModuleFileName. A module name as the Windows build spells it
// ("X.dll", or "X" without extension) names the shared object "X.so";
// names are matched against the file name of each loaded object without
// regard to case.
#pragma once

#include <string>

#include "platform/win_types.h"

// The handle of an already loaded module (no reference is taken), the main
// program for a null name, or null with error 126 when none is loaded.
HMODULE GetModuleHandleA(const char* moduleName);

// Full path of the module behind a handle from GetModuleHandleA or dlopen
// (null: the process's executable). Copies at most size - 1 characters and a
// terminating zero; returns the characters copied, or `size` with error 122
// when the path was cut, or 0 with the error set on failure.
DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size);

// Path of the loaded object (library or executable) that contains `address`.
bool GetModulePathOfAddress(const void* address, std::string& path);

// Maps a Windows module name to the file name the loader sees here.
std::string ModuleFileNameForPlatform(const char* moduleName);
