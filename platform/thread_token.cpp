#include "platform/thread_token.h"

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "platform/last_error.h"
#include "platform/request_identity.h"
#include "platform/thread_local_instance.h"

namespace {

constexpr uint32_t kTokenMagic = 0x4B4F5458;  // "XTOK"

struct Token {
  uint32_t magic = kTokenMagic;
  // Shared with the thread's identity, never changed: opening a token on
  // every request copies no texts.
  std::shared_ptr<const CRequestIdentity> identity;
};

// SIDs seen on this process's threads, for the account look-up.
struct KnownAccounts {
  std::mutex lock;
  std::map<std::string, std::pair<std::string, std::string>> bySid;
  // Counts the changes of the map, so that a thread can tell without the
  // lock that what it wrote last is still there.
  std::atomic<uint64_t> changes{0};
};

KnownAccounts& Known() {
  static KnownAccounts* k = new KnownAccounts();
  return *k;
}

// What this file keeps per thread, in one place.
struct ThreadTokenState {
  // Set while the thread runs as the process although a request identity
  // is present (between a revert and the restore).
  bool reverted = false;
  // The identity this thread last found or wrote in the account map, held
  // so that its address names it, and the change count it saw then.
  std::shared_ptr<const CRequestIdentity> lastKnown;
  uint64_t lastKnownChanges = 0;
  // A request opens and closes tokens several times on its thread, two at
  // a time: closed tokens are kept for the next opens.
  std::unique_ptr<Token> spares[2];
};

// A request comes here a dozen times.
ThreadTokenState& State() { return ThreadLocalInstance<ThreadTokenState>(); }

// Makes the account of an identity known. Every request opens the token
// several times: an identity this thread already found in the map, with no
// change of the map since, is not looked up again.
void Remember(ThreadTokenState& state, const std::shared_ptr<const CRequestIdentity>& identity) {
  KnownAccounts& k = Known();
  if (state.lastKnown == identity && state.lastKnownChanges == k.changes.load(std::memory_order_acquire)) return;
  std::lock_guard<std::mutex> guard(k.lock);
  auto it = k.bySid.find(identity->sid);
  if (it == k.bySid.end()) {
    k.bySid.emplace(identity->sid, std::make_pair(identity->account, identity->domain));
    k.changes.fetch_add(1, std::memory_order_release);
  } else if (it->second.first != identity->account || it->second.second != identity->domain) {
    it->second = {identity->account, identity->domain};
    k.changes.fetch_add(1, std::memory_order_release);
  }
  state.lastKnown = identity;
  state.lastKnownChanges = k.changes.load(std::memory_order_relaxed);
}

Token* NewToken(ThreadTokenState& state) {
  Token* t = nullptr;
  for (std::unique_ptr<Token>& spare : state.spares) {
    if (spare != nullptr) {
      t = spare.release();
      break;
    }
  }
  if (t == nullptr) t = new (std::nothrow) Token{};
  if (t != nullptr) t->magic = kTokenMagic;
  return t;
}

void KeepOrDelete(ThreadTokenState& state, Token* t) {
  for (std::unique_ptr<Token>& spare : state.spares) {
    if (spare == nullptr) {
      spare.reset(t);
      return;
    }
  }
  delete t;
}

int s_currentThreadMarker;

Token* AsToken(HANDLE h) {
  auto* t = static_cast<Token*>(h);
  return (t != nullptr && t->magic == kTokenMagic) ? t : nullptr;
}

}  // namespace

HANDLE GetCurrentThread() { return &s_currentThreadMarker; }

BOOL OpenThreadToken(HANDLE thread, DWORD, BOOL, HANDLE* token) {
  if (token == nullptr || (thread != nullptr && thread != GetCurrentThread())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  ThreadTokenState& state = State();
  std::shared_ptr<const CRequestIdentity> identity = state.reverted ? nullptr : GetRequestIdentityRecord();
  if (identity == nullptr) {
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
  }
  Token* t = NewToken(state);
  if (t == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  if (!identity->sid.empty()) Remember(state, identity);
  t->identity = std::move(identity);
  *token = t;
  return TRUE;
}

BOOL RevertToSelf() {
  State().reverted = true;
  return TRUE;
}

BOOL SetThreadToken(HANDLE* thread, HANDLE token) {
  if (thread != nullptr && *thread != nullptr && *thread != GetCurrentThread()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (token == nullptr) {
    State().reverted = true;
    return TRUE;
  }
  Token* t = AsToken(token);
  if (t == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  State().reverted = false;
  const CRequestIdentity* current = GetRequestIdentity();
  if (current == t->identity.get()) return TRUE;
  if (current == nullptr || current->sid != t->identity->sid || current->account != t->identity->account) {
    SetRequestIdentity(*t->identity);
  }
  return TRUE;
}

BOOL CloseToken(HANDLE token) {
  Token* t = AsToken(token);
  if (t == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  t->magic = 0;
  t->identity.reset();
  KeepOrDelete(State(), t);
  return TRUE;
}

BOOL GetTokenUserSid(HANDLE token, std::string* sid) {
  Token* t = AsToken(token);
  if (t == nullptr || sid == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (t->identity->sid.empty()) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  *sid = t->identity->sid;
  return TRUE;
}

BOOL LookupAccountSidA(LPCSTR, const std::string& sid, std::string* account, std::string* domain) {
  KnownAccounts& k = Known();
  // The thread's own caller, with the map unchanged since it was found
  // there, is what the map holds for its SID.
  const ThreadTokenState& state = State();
  if (state.lastKnown != nullptr && state.lastKnownChanges == k.changes.load(std::memory_order_acquire) &&
      state.lastKnown->sid == sid) {
    if (account != nullptr) *account = state.lastKnown->account;
    if (domain != nullptr) *domain = state.lastKnown->domain;
    return TRUE;
  }
  std::lock_guard<std::mutex> guard(k.lock);
  auto it = k.bySid.find(sid);
  if (it == k.bySid.end()) {
    SetLastError(ERROR_NONE_MAPPED);
    return FALSE;
  }
  if (account != nullptr) *account = it->second.first;
  if (domain != nullptr) *domain = it->second.second;
  return TRUE;
}
