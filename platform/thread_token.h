// Impersonation tokens over the request identity: a thread that serves a
// request carries the caller's identity (it "impersonates"); a thread without
// one, or one that reverted to itself, runs as the process. A token is a copy
// of the identity it was opened on.
#pragma once

#include <string>

#include "platform/win_types.h"

constexpr DWORD TOKEN_DUPLICATE = 0x0002;
constexpr DWORD TOKEN_IMPERSONATE = 0x0004;
constexpr DWORD TOKEN_QUERY = 0x0008;
constexpr DWORD TOKEN_QUERY_SOURCE = 0x0010;

HANDLE GetCurrentThread();
// Fails with 1008 (no token) on a thread that impersonates nobody.
BOOL OpenThreadToken(HANDLE thread, DWORD desiredAccess, BOOL openAsSelf, HANDLE* token);
// Drops the calling thread's impersonation.
BOOL RevertToSelf();
// Puts a token on the calling thread (null: drop the impersonation). The
// thread argument must be null or the current thread.
BOOL SetThreadToken(HANDLE* thread, HANDLE token);
BOOL CloseToken(HANDLE token);

// The token's user as a SID string ("S-1-5-21-..."); false with 87 for a bad
// token, 1337 when the identity has no SID.
BOOL GetTokenUserSid(HANDLE token, std::string* sid);
// The account and domain of a SID, looked up among the identities this
// process knows; false with 1332 (none mapped) otherwise.
BOOL LookupAccountSidA(LPCSTR systemName, const std::string& sid, std::string* account, std::string* domain);

constexpr DWORD ERROR_NONE_MAPPED = 1332;

