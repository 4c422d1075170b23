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
    std::string sid;
    if (!GetTokenUserSid(token, &sid)) {
      result = GetLastError();
    } else {
      std::string account;
      std::string domain;
      if (!LookupAccountSidA(nullptr, sid, &account, &domain)) {
        result = GetLastError();
      } else {
        accountName = std::move(account);
        domainName = std::move(domain);
      }
      sidString = std::move(sid);
    }
  }
  CloseToken(token);
  return result;
}
