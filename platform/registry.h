// The registry, read from a text file in the ".reg" export format
// ("Windows Registry Editor Version 5.00"). Key and value names ignore case.
// A missing or unreadable file reads as a registry without keys.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

struct HKEY__;
using HKEY = HKEY__*;

#define HKEY_CLASSES_ROOT (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000000u)))
#define HKEY_CURRENT_USER (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000001u)))
#define HKEY_LOCAL_MACHINE (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000002u)))
#define HKEY_USERS (reinterpret_cast<HKEY>(static_cast<uintptr_t>(0x80000003u)))

constexpr DWORD REG_NONE = 0;
constexpr DWORD REG_SZ = 1;
constexpr DWORD REG_EXPAND_SZ = 2;
constexpr DWORD REG_BINARY = 3;
constexpr DWORD REG_DWORD = 4;
constexpr DWORD REG_MULTI_SZ = 7;
constexpr DWORD REG_QWORD = 11;

constexpr DWORD KEY_QUERY_VALUE = 0x0001;
constexpr DWORD KEY_READ = 0x20019;

// Opens root\subKey (root may also be a key opened before). Returns 0, or
// 2 when the key does not exist.
LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD options, DWORD samDesired, HKEY* result);
// Reads a value. data may be null to ask for the size; a buffer that is too
// small gives 234 with the needed size in *cbData. Text values carry their
// terminating zero. Missing value: 2.
LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type, BYTE* data,
                      LPDWORD cbData);
LONG RegCloseKey(HKEY key);

// Where the registry file is: the environment variable HX_REGISTRY_FILE, else
// "registry.reg" at the top of the install tree, four levels above the module
// file (<install>/Quenlith/Pellora/bin/PL_Hexmoor.so -> <install>/registry.reg).
std::string RegistryFilePath();
// Why the registry file cannot be read, in words ("it is missing"), or
// empty when it can. Without it every key reads as absent.
std::string RegistryFileProblem();
// Points the registry at another file (empty: back to the default).
void SetRegistryFilePath(const std::string& path);
