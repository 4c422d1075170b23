// The identity of the request a thread is serving: the filter host sets it
// for each request (account, domain, user SID and group SIDs), and the
// membership test of the bypass list reads it. It is per thread, so a request
// sees only its own caller.
#pragma once

#include <string>
#include <vector>

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
// The calling thread's identity, or null when none is set.
const CRequestIdentity* GetRequestIdentity();

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
