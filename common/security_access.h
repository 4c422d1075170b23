// Reads the identity of the user the calling thread impersonates.
#pragma once

#include <string>

#include "platform/win_types.h"

class CSecurityAccess {
 public:
  virtual ~CSecurityAccess() = default;
  // 0 on success; the system's error otherwise (1008 on a thread that
  // impersonates nobody), with the outputs unchanged.
  DWORD GetUserIdentity(std::string& accountName, std::string& domainName, std::string& sidString);
};
