#include "platform/request_identity.h"

#include <memory>

#include "platform/last_error.h"
#include "platform/local_memory.h"
#include "platform/security_sid.h"

namespace {

struct SidBlock {
  void operator()(void* p) const { LocalFree(p); }
};
using SidPtr = std::unique_ptr<void, SidBlock>;

// The thread's identity with its SIDs already converted, so that membership
// tests compare bytes only.
struct ThreadIdentity {
  bool set = false;
  CRequestIdentity identity;
  std::vector<SidPtr> sids;  // user first, then the groups that converted
};

thread_local ThreadIdentity t_identity;

bool AddSid(const std::string& text, std::vector<SidPtr>* sids) {
  PSID sid = nullptr;
  if (text.empty() || !ConvertStringSidToSidA(text.c_str(), &sid)) return false;
  sids->emplace_back(sid);
  return true;
}

}  // namespace

bool SetRequestIdentity(const CRequestIdentity& identity) {
  ThreadIdentity next;
  next.set = true;
  next.identity = identity;
  bool allConverted = AddSid(identity.sid, &next.sids);
  for (const std::string& group : identity.groupSids) allConverted = AddSid(group, &next.sids) && allConverted;
  t_identity = std::move(next);
  return allConverted;
}

void ClearRequestIdentity() { t_identity = ThreadIdentity(); }

const CRequestIdentity* GetRequestIdentity() { return t_identity.set ? &t_identity.identity : nullptr; }

CRequestIdentityScope::CRequestIdentityScope(const CRequestIdentity& identity)
    : m_bHadPrevious(t_identity.set), m_previous(t_identity.identity) {
  SetRequestIdentity(identity);
}

CRequestIdentityScope::~CRequestIdentityScope() {
  if (m_bHadPrevious) {
    SetRequestIdentity(m_previous);
  } else {
    ClearRequestIdentity();
  }
}

BOOL CheckTokenMembership(HANDLE token, PSID sid, BOOL* isMember) {
  if (sid == nullptr || isMember == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (token != nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (!IsValidSid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  *isMember = FALSE;
  for (const SidPtr& own : t_identity.sids) {
    if (EqualSid(own.get(), sid)) {
      *isMember = TRUE;
      break;
    }
  }
  return TRUE;
}
