// What start-up learns about the machine: the Exchange generation, SSL
// off-loading, the computer's names, the user part of a login name, and the
// rules for the debug log's file name.
#pragma once

#include <string>
#include <vector>

#include "common/ci_string.h"
#include "platform/win_types.h"

// Exchange generation of a NewestBuild value: 1 (4001-5999), 2 (6001-9999),
// 4 (10000-10399), 8 (10400 and above), else 0.
DWORD ExchangeGenerationOfBuild(DWORD newestBuild);
// A registry file that cannot be read is one warning: every key then reads
// as absent, which changes what the module decides.
void ReportUnreadableRegistryFile();
// Reads the Exchange setup key of the registry; 0 when there is none.
DWORD ReadExchangeGeneration();
// Reads "SSLOffloaded": 0, or 13 when the value is not a REG_DWORD (the flag
// is then left as it was); a missing key or value leaves it too.
DWORD ReadSSLOffloaded(DWORD& offloaded);
// The computer's fully qualified and host names; true when the host name was
// obtained.
bool ReadComputerNames(std::string& hostName, std::string& fullyQualifiedName);
// Keeps the user part of DOMAIN\user, user@domain or DOMAIN/user.
bool ExtractUserNameInPlace(ci_string& userName);

// The device names no log file may be called.
const std::vector<std::string>& ReservedDeviceNames();
// Trims blanks and replaces \ / : " ? * < > | by "_".
void SanitizeFileName(ci_string& fileName);
// Trims blanks (in place); false for reserved device names and COMn / LPTn
// names (alone or before a ".").
bool IsAllowedFileName(ci_string& fileName, const std::vector<std::string>& reservedNames = ReservedDeviceNames());
