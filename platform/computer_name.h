// The computer's names as the system resolver knows them.
#pragma once

#include "platform/win_types.h"

enum COMPUTER_NAME_FORMAT {
  ComputerNameNetBIOS = 0,
  ComputerNameDnsHostname = 1,
  ComputerNameDnsDomain = 2,
  ComputerNameDnsFullyQualified = 3,
};

// Copies the name and its terminator into buffer. *size is the buffer size
// in characters; a buffer too small (or null) fails with 234 and sets *size
// to the size needed, terminator included. On success *size is the length
// without the terminator.
BOOL GetComputerNameExA(COMPUTER_NAME_FORMAT format, LPSTR buffer, LPDWORD size);
