#include "platform/request_identity.h"

#include <dlfcn.h>

#include <cstring>
#include <memory>

#include "platform/last_error.h"
#include "platform/local_memory.h"
#include "platform/security_sid.h"
#include "platform/thread_local_instance.h"

namespace {

struct SidBlock {
  void operator()(void* p) const { LocalFree(p); }
};
using SidPtr = std::unique_ptr<void, SidBlock>;
using SidList = std::vector<SidPtr>;

// The thread's identity with its SIDs already converted, so that membership
// tests compare bytes only.
struct ThreadIdentity {
  bool set = false;
  // Shared with the tokens opened from it, which keep it as it was.
  std::shared_ptr<const CRequestIdentity> identity;
  // User first, then the groups that converted; never null while set.
  // Shared with the callers' SID sets, which keep it as it was.
  std::shared_ptr<const SidList> sids;
};

struct ThreadIdentities {
  ThreadIdentity own;
  // The host's record as converted by the last look on this thread.
  ThreadIdentity host;
};

// A request asks several times.
ThreadIdentities& Identities() { return ThreadLocalInstance<ThreadIdentities>(); }

bool AddSid(const std::string& text, std::vector<SidPtr>* sids) {
  PSID sid = nullptr;
  if (text.empty() || !ConvertStringSidToSidA(text.c_str(), &sid)) return false;
  sids->emplace_back(sid);
  return true;
}

PFN_HxGetRequestIdentity HostIdentityFunction() {
  static const PFN_HxGetRequestIdentity fn =
      reinterpret_cast<PFN_HxGetRequestIdentity>(dlsym(RTLD_DEFAULT, HX_REQUEST_IDENTITY_EXPORT));
  return fn;
}

const char* Text(const char* s) { return s != nullptr ? s : ""; }

uint32_t GroupCount(const HX_REQUEST_IDENTITY& record) {
  return record.groupSids != nullptr ? record.groupCount : 0;
}

// Whether a text taken from a host record is the record's text now (both
// are C texts, so no length is needed first).
bool SameText(const std::string& known, const char* now) { return std::strcmp(known.c_str(), Text(now)) == 0; }

// Whether the host's record says, text for text, what `known` was made from.
bool SameIdentity(const ThreadIdentity& known, const HX_REQUEST_IDENTITY& record) {
  if (!known.set) return false;
  const CRequestIdentity& id = *known.identity;
  if (!SameText(id.sid, record.sid) || !SameText(id.account, record.account) ||
      !SameText(id.domain, record.domain) || id.groupSids.size() != GroupCount(record)) {
    return false;
  }
  for (size_t i = 0; i < id.groupSids.size(); ++i) {
    if (!SameText(id.groupSids[i], record.groupSids[i])) return false;
  }
  return true;
}

// This module's record, else the host's (converted once per record).
const ThreadIdentity* CurrentIdentity() {
  ThreadIdentities& identities = Identities();
  ThreadIdentity& own = identities.own;
  if (own.set) return &own;
  ThreadIdentity& host = identities.host;
  const PFN_HxGetRequestIdentity fn = HostIdentityFunction();
  const HX_REQUEST_IDENTITY* record = fn != nullptr ? fn() : nullptr;
  if (record == nullptr) {
    if (host.set) host = ThreadIdentity();
    return nullptr;
  }
  // One request asks several times; a host may also reuse one record for the
  // next request with other texts, so the texts are compared, not the
  // record's address, and only a changed record is converted again.
  if (SameIdentity(host, *record)) return &host;
  auto identity = std::make_shared<CRequestIdentity>();
  ThreadIdentity next;
  next.set = true;
  identity->account = Text(record->account);
  identity->domain = Text(record->domain);
  identity->sid = Text(record->sid);
  auto sids = std::make_shared<SidList>();
  AddSid(identity->sid, sids.get());
  for (uint32_t i = 0; i < GroupCount(*record); ++i) {
    identity->groupSids.emplace_back(Text(record->groupSids[i]));
    AddSid(identity->groupSids.back(), sids.get());
  }
  next.identity = std::move(identity);
  next.sids = std::move(sids);
  host = std::move(next);
  return &host;
}

}  // namespace

bool SetRequestIdentity(const CRequestIdentity& identity) {
  ThreadIdentity next;
  next.set = true;
  next.identity = std::make_shared<const CRequestIdentity>(identity);
  auto sids = std::make_shared<SidList>();
  bool allConverted = AddSid(identity.sid, sids.get());
  for (const std::string& group : identity.groupSids) allConverted = AddSid(group, sids.get()) && allConverted;
  next.sids = std::move(sids);
  Identities().own = std::move(next);
  return allConverted;
}

void ClearRequestIdentity() { Identities().own = ThreadIdentity(); }

const CRequestIdentity* GetRequestIdentity() {
  const ThreadIdentity* current = CurrentIdentity();
  return current != nullptr ? current->identity.get() : nullptr;
}

std::shared_ptr<const CRequestIdentity> GetRequestIdentityRecord() {
  const ThreadIdentity* current = CurrentIdentity();
  return current != nullptr ? current->identity : nullptr;
}

CCallerSids::CCallerSids() {
  const ThreadIdentity* current = CurrentIdentity();
  if (current == nullptr) return;
  m_sids = current->sids;
}

BOOL CCallerSids::CheckMembership(void* sid, BOOL* isMember) const {
  if (sid == nullptr || isMember == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!IsValidSid(sid)) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  *isMember = FALSE;
  if (m_sids == nullptr) return TRUE;
  for (const SidPtr& own : *static_cast<const SidList*>(m_sids.get())) {
    if (EqualSid(own.get(), sid)) {
      *isMember = TRUE;
      break;
    }
  }
  return TRUE;
}

CRequestIdentityScope::CRequestIdentityScope(const CRequestIdentity& identity)
    : m_bHadPrevious(Identities().own.set),
      m_previous(Identities().own.set ? *Identities().own.identity : CRequestIdentity()) {
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
  const ThreadIdentity* current = CurrentIdentity();
  if (current == nullptr) return TRUE;
  for (const SidPtr& own : *current->sids) {
    if (EqualSid(own.get(), sid)) {
      *isMember = TRUE;
      break;
    }
  }
  return TRUE;
}
