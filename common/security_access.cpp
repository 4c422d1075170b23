#include "common/security_access.h"

#include <utility>

#include "common/revert_to_self_guard.h"
#include "platform/last_error.h"
#include "platform/thread_token.h"

DWORD CSecurityAccess::GetUserIdentity(std::string& accountName, std::string& domainName, std::string& sidString) {
  HANDLE token = nullptr;
  if (!OpenThreadToken(GetCurrentThread(), TOKEN_QUERY | TOKEN_QUERY_SOURCE, TRUE, &token)) return GetLastError();
  DWORD result = 0;
  {
    // The account look-up runs as the process; the token just opened is the
    // one put back.
    CRevertToSelfGuard guard(token);
    // The SID goes straight to the caller's string (set only on success),
    // whose buffer a caller may keep from one request to the next.
    if (!GetTokenUserSid(token, &sidString)) {
      result = GetLastError();
    } else {
      std::string account;
      std::string domain;
      if (!LookupAccountSidA(nullptr, sidString, &account, &domain)) {
        result = GetLastError();
      } else {
        accountName = std::move(account);
        domainName = std::move(domain);
      }
    }
  }
  CloseToken(token);
  return result;
}
