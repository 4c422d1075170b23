// The identity of the request a thread is serving (account, domain, user SID
// and group SIDs), read by the membership test of the bypass list. It is per
// thread, so a request sees only its own caller.
//
// Two ways in, the first that has one wins:
// - a record set on the thread inside this module (SetRequestIdentity or the
//   scope below), for code linked together with the module;
// - the filter host's own record: the module exports nothing but its entry
//   points, so a host that loads it as a shared library publishes the
//   identity instead, as the operating system publishes a thread's token. It
//   exports, with C linkage and default visibility (an executable needs
//   -rdynamic / ENABLE_EXPORTS), a function named HX_REQUEST_IDENTITY_EXPORT
//   of type PFN_HxGetRequestIdentity that returns the calling thread's record,
//   or null while the thread serves no request. The record is read during
//   the module's call and not kept.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/win_types.h"

extern "C" {
struct HX_REQUEST_IDENTITY {
  const char* account;
  const char* domain;
  const char* sid;                // string SID of the user
  const char* const* groupSids;   // groupCount string SIDs of the user's groups
  uint32_t groupCount;
};
typedef const HX_REQUEST_IDENTITY* (*PFN_HxGetRequestIdentity)();
}
#define HX_REQUEST_IDENTITY_EXPORT "HxGetRequestIdentity"

struct CRequestIdentity {
  std::string account;
  std::string domain;
  std::string sid;                     // string SID of the user
  std::vector<std::string> groupSids;  // string SIDs of the user's groups
};

// Sets the calling thread's identity. SIDs that do not convert are kept in the
// record but match nothing; returns false when any SID failed to convert.
bool SetRequestIdentity(const CRequestIdentity& identity);
void ClearRequestIdentity();
// The calling thread's identity (this module's record, else the host's), or
// null when there is none.
const CRequestIdentity* GetRequestIdentity();
// The same as a shared record that stays as it is when the thread's identity
// changes later (a token keeps it so), or null.
std::shared_ptr<const CRequestIdentity> GetRequestIdentityRecord();

// The calling thread's identity with its SIDs converted once, for several
// membership tests in a row: CheckTokenMembership converts the host's record
// anew on every call. Made and used on one thread.
class CCallerSids {
 public:
  CCallerSids();
  // The answer and failures of CheckTokenMembership(null, sid, isMember) for
  // the identity as it was when this was made.
  BOOL CheckMembership(void* sid, BOOL* isMember) const;

 private:
  // The thread's converted SIDs (user first, then groups) as they were when
  // this was made; shared, not copied. Null without an identity.
  std::shared_ptr<const void> m_sids;
};

// Sets an identity for a scope and restores the thread's previous one (or
// none) on leaving.
class CRequestIdentityScope {
 public:
  explicit CRequestIdentityScope(const CRequestIdentity& identity);
  ~CRequestIdentityScope();
  CRequestIdentityScope(const CRequestIdentityScope&) = delete;
  CRequestIdentityScope& operator=(const CRequestIdentityScope&) = delete;

 private:
  bool m_bHadPrevious;
  CRequestIdentity m_previous;
};
