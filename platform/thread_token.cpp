#include "platform/thread_token.h"

#include <map>
#include <mutex>
#include <new>
#include <optional>

#include "platform/last_error.h"

namespace {

struct Identity {
  std::string account;
  std::string domain;
  std::string sid;
};

struct Token {
  uint32_t magic = 0x4B4F5458;  // "XTOK"
  Identity identity;
};

thread_local std::optional<Identity> t_identity;

// SIDs seen on this process's threads, for the account look-up.
struct KnownAccounts {
  std::mutex lock;
  std::map<std::string, Identity> bySid;
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

void ImpersonateIdentity(const std::string& account, const std::string& domain, const std::string& sid) {
  if (account.empty() && sid.empty()) {
    t_identity.reset();
    return;
  }
  t_identity = Identity{account, domain, sid};
  if (!sid.empty()) {
    KnownAccounts& k = Known();
    std::lock_guard<std::mutex> guard(k.lock);
    k.bySid[sid] = *t_identity;
  }
}

HANDLE GetCurrentThread() { return &s_currentThreadMarker; }

BOOL OpenThreadToken(HANDLE thread, DWORD, BOOL, HANDLE* token) {
  if (token == nullptr || (thread != nullptr && thread != GetCurrentThread())) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!t_identity) {
    SetLastError(ERROR_NO_TOKEN);
    return FALSE;
  }
  auto* t = new (std::nothrow) Token{};
  if (t == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return FALSE;
  }
  t->identity = *t_identity;
  *token = t;
  return TRUE;
}

BOOL RevertToSelf() {
  t_identity.reset();
  return TRUE;
}

BOOL SetThreadToken(HANDLE* thread, HANDLE token) {
  if (thread != nullptr && *thread != nullptr && *thread != GetCurrentThread()) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (token == nullptr) {
    t_identity.reset();
    return TRUE;
  }
  Token* t = AsToken(token);
  if (t == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  t_identity = t->identity;
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
  if (t->identity.sid.empty()) {
    SetLastError(ERROR_INVALID_SID);
    return FALSE;
  }
  *sid = t->identity.sid;
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
  if (account != nullptr) *account = it->second.account;
  if (domain != nullptr) *domain = it->second.domain;
  return TRUE;
}
