// File-system helpers of start-up and the debug log: existence, creation of
// a directory path level by level, and the directory of a loaded module.
// Paths use "/" as their separator.
#pragma once

#include <string>

#include "platform/win_types.h"

// True when anything exists at the path; false for a null path.
bool FileExists(const char* path);

// Creates every missing level of a directory path, in order from the root.
// 0 when the whole path exists as a directory afterwards; otherwise the
// HRESULT of what failed (E_INVALIDARG for a null or empty path, the failing
// level's error as 0x8007xxxx, and HRESULT_FROM_WIN32(183) when the path
// names an existing file). With ownerAndGroupOnly the levels made are closed
// to everybody else.
HRESULT CreateDirectoryPath(const char* path, bool ownerAndGroupOnly = false);

// The directory, ending in "/", of the module named `moduleName` (a Windows
// name such as "PL_Hexmoor.dll" names "PL_Hexmoor.so"), or of the process's
// executable with useProcess; `levelsUp` folders above it when positive.
// False when the module's file name could not be found.
bool GetModuleDirectory(std::string& directory, const char* moduleName, bool useProcess,
                        int levelsUp);

// The thread's last error as an HRESULT: a positive code becomes 0x8007xxxx
// (its low 16 bits), anything else stays as it is.
HRESULT GetLastErrorHResult();

// Index of the first `ch` in `text` at or after `start`; -1 when `start` is
// outside the text or `ch` does not occur. UTF-8 never places an ASCII byte
// inside a multi-byte sequence, so a byte scan cannot split a character.
int FindCharFrom(const char* text, char ch, int start);
