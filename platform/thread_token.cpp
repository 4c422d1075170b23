#include "platform/thread_token.h"

#include <map>
#include <memory>
#include <mutex>
#include <new>

#include "platform/last_error.h"
#include "platform/request_identity.h"

namespace {

struct Token {
  uint32_t magic = 0x4B4F5458;  // "XTOK"
  // Shared with the thread's identity, never changed: opening a token on
  // every request copies no texts.
  std::shared_ptr<const CRequestIdentity> identity;
};

// Set while the thread runs as the process although a request identity is
// present (between a revert and the restore).
thread_local bool t_reverted = false;

std::shared_ptr<const CRequestIdentity> Impersonated() {
  return t_reverted ? nullptr : GetRequestIdentityRecord();
}

// SIDs seen on this process's threads, for the account look-up.
struct KnownAccounts {
  std::mutex lock;
  std::map<std::string, std::pair<std::string, std::string>> bySid;
};

KnownAccounts& Known() {
  static KnownAccounts* k = new KnownAccounts();
  return *k;
}

int s_currentThreadMarker;

Token* AsToken(HANDLE h) {
  auto* t = static_cast<Token*>(h);
  return (t != nullptr && t->magic == 0x4B4F5458) ? t : nullptr;
}

}  // namespace

HANDLE GetCurrentThread() { return &s_currentThreadMarker; }

BOOL OpenThreadToken(HANDLE thread, DWORD, BOOL, HANDLE* token) {
  if (token == nullptr || (thread != nullptr && thread != GetCurrentThread())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  std::shared_ptr<const CRequestIdentity> identity = Impersonated();
  if (identity == nullptr) {
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
  }
  auto* t = new (std::nothrow) Token{};
  if (t == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  t->identity = identity;
  if (!identity->sid.empty()) {
    KnownAccounts& k = Known();
    std::lock_guard<std::mutex> guard(k.lock);
    // Every request opens the token several times: a known account is not
    // written again.
    auto it = k.bySid.find(identity->sid);
    if (it == k.bySid.end()) {
      k.bySid.emplace(identity->sid, std::make_pair(identity->account, identity->domain));
    } else if (it->second.first != identity->account || it->second.second != identity->domain) {
      it->second = {identity->account, identity->domain};
    }
  }
  *token = t;
  return TRUE;
}

BOOL RevertToSelf() {
  t_reverted = true;
  return TRUE;
}

BOOL SetThreadToken(HANDLE* thread, HANDLE token) {
  if (thread != nullptr && *thread != nullptr && *thread != GetCurrentThread()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (token == nullptr) {
    t_reverted = true;
    return TRUE;
  }
  Token* t = AsToken(token);
  if (t == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  t_reverted = false;
  const CRequestIdentity* current = GetRequestIdentity();
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
  delete t;
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
