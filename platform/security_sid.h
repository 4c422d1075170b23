// Binary security identifiers: the string form "S-R-I-S-S..." converted and
// validated, compared, and tested against the calling request's identity.
#pragma once

#include "platform/win_types.h"

using PSID = void*;

constexpr BYTE SID_REVISION = 1;
constexpr BYTE SID_MAX_SUB_AUTHORITIES = 15;

struct SID_IDENTIFIER_AUTHORITY {
  BYTE Value[6];
};

// The binary layout: revision, sub-authority count, 48-bit big-endian
// identifier authority, then the 32-bit sub-authorities.
struct SID {
  BYTE Revision;
  BYTE SubAuthorityCount;
  SID_IDENTIFIER_AUTHORITY IdentifierAuthority;
  DWORD SubAuthority[1];
};

// Parses "S-1-<authority>-<sub>..." (at most 15 sub-authorities, every part
// decimal, the authority also "0x" plus 12 hexadecimal digits). On success *sid
// is a LocalAlloc block the caller frees with LocalFree. On failure returns
// FALSE with ERROR_INVALID_SID (ERROR_INVALID_PARAMETER for null arguments).
BOOL ConvertStringSidToSidA(const char* text, PSID* sid);
BOOL IsValidSid(PSID sid);
DWORD GetLengthSid(PSID sid);
BOOL EqualSid(PSID a, PSID b);

// Whether sid is the user or one of the groups of the calling thread's request
// identity (platform/request_identity.h). Only the thread's own identity is
// supported: token must be null (else ERROR_INVALID_HANDLE). A thread with no
// request identity runs as the process, which is in no configured group: the
// answer is FALSE with success.
BOOL CheckTokenMembership(HANDLE token, PSID sid, BOOL* isMember);
