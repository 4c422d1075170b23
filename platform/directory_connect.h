// The life of a directory connection, for the directory object model
// (adsi.cpp): the thread's look-up and its limit, the thread's last
// failure, the verdict on a failed call, a new bound connection, the waits
// on a search (watching a quiet kept connection meanwhile) and the
// connection the objects of one scope share.
#pragma once

#include <ldap.h>
#include <sys/time.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/adsi.h"
#include "platform/directory_back_off.h"
#include "platform/directory_deadline.h"
#include "platform/directory_health.h"

// The thread's last failure, as ADsGetLastError gives it.
struct LastError {
  DWORD code = 0;
  std::string text;
  bool repeat = false;
};
LastError& ThreadLastError();

// Records the extended error of a failed libldap call and gives its HRESULT.
HRESULT Fail(int rc, LDAP* ld, const std::string& what);
// The same with the whole text given.
HRESULT FailText(int rc, const std::string& text);
// libldap's words for `rc`, with the directory's diagnostic when `ld` has one.
std::string LibraryWords(int rc, LDAP* ld);

// Whether the calling thread is in a look-up (CADsTimeLimit); whether that
// is work of its own no request waits on; whether the directory answered
// the look-up (its bind or any reply).
bool InLookUp();
bool IsBackgroundWork();
bool AnsweredThisLookUp();

// A look-up begins: what it saw of its directory starts afresh.
void StartLookUp();
// A search asked at `asked` has had no answer by now.
void NoteSearchSilence(std::chrono::steady_clock::time_point asked);
// A reply came back; `search` when it answered a search.
void NoteAnswered(bool search);

// Judges a failed call of the thread's look-up on `uri` and acts on it: a
// dead or refusing directory starts its back-off (a refused bind with the
// password file it was read from, `bind`).
DirectoryVerdict ActOnFailure(const std::string& uri, int rc, bool probing, const CBindPasswordFile& bind = {});

// The deadline of the thread's look-up (fixed by its first directory
// operation), cut short with its work; a whole time limit from now outside
// a look-up.
CDeadline LookUpDeadline();

// What is left for one more operation: of the thread's look-up, else a whole
// time limit. False when nothing is left.
bool RemainingTime(timeval& left);

// The failure of a connection refused because its directory is in its
// back-off; it repeats the failure reported when the directory was lost or
// refused the credentials.
HRESULT BackOffFailure(const std::string& uri, bool refused);

// The directory URI of a path's server part: LDAPURI (read now, so that a
// changed environment counts) or libldap's configured default.
std::string DefaultUri();
// HX_LDAP_GC_URI when set and not empty, else LDAPURI.
std::string GlobalCatalogUri();

// How the module binds: SASL when a mechanism is configured, simple with a
// name and a password file when both are set, else anonymous.
struct BindConfig {
  std::string mechanism;
  const char* dn = nullptr;
  const char* passwordFile = nullptr;
};
BindConfig ConfiguredBind(LDAP* ld);

// libldap sets up its process-wide defaults on first use, unguarded: the
// first use must not happen on two request threads at once.
void InitialiseLibrary();

// libldap frees its process-wide defaults (the default URI list among them)
// when the process exits, after the exit handlers, while request threads
// may still be making connections, which copy them. From the module's exit
// handler on, no thread starts reading them, and the handler waits for
// those reading them now: a read is a copy in memory, never a wait on the
// network.
class CLibraryDefaults {
 public:
  CLibraryDefaults();
  ~CLibraryDefaults();
  CLibraryDefaults(const CLibraryDefaults&) = delete;
  CLibraryDefaults& operator=(const CLibraryDefaults&) = delete;
  // False once the process exits: the defaults are not to be read.
  bool Open() const { return m_open; }

 private:
  bool m_open;
};

// Whether a call's code came from the directory: libldap's own failures
// (no connection, a time-out, a local error) are negative.
inline bool Replied(int rc) { return rc >= 0; }

inline std::chrono::microseconds MicrosOf(const timeval& t) {
  return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
}

inline timeval TimevalOf(std::chrono::microseconds us) {
  timeval t{};
  t.tv_sec = static_cast<time_t>(us.count() / 1000000);
  t.tv_usec = static_cast<suseconds_t>(us.count() % 1000000);
  return t;
}

// A search on a kept connection that went silent, watched while a new
// connection is tried: a slow directory's late answer is taken as soon as
// it comes, and the new connection given up.
struct KeptWatch {
  LDAP* ld = nullptr;
  int msgid = -1;
  LDAPMessage* result = nullptr;
  int rc = LDAP_TIMEOUT;
  bool answered = false;
  bool closed = false;  // the kept connection failed: nothing more to watch
};

// What a wait returns when the watched kept search answered first; no code
// of libldap's.
constexpr int kKeptAnswered = -10000;

// Watches `watch` for the calling thread while it lives (null: none).
class CWatchKept {
 public:
  explicit CWatchKept(KeptWatch* watch);
  ~CWatchKept();
  CWatchKept(const CWatchKept&) = delete;
  CWatchKept& operator=(const CWatchKept&) = delete;
};
// The thread's waits no longer watch a kept search.
void StopWatchingKept();

// Waits at most `wait` for the whole answer of search `msgid`: its result
// code, LDAP_TIMEOUT, kKeptAnswered, or the connection's failure. `result`
// holds what came.
int AwaitSearch(LDAP* ld, int msgid, timeval wait, LDAPMessage*& result);

// Why a new connection failed, for the caller to judge: libldap's code
// (LDAP_SUCCESS when it failed before reaching the directory) and, for a
// refused bind, the password file it was read from.
struct ConnectFailure {
  int rc = LDAP_SUCCESS;
  CBindPasswordFile bind;
};

// A new bound connection within what is left of the limit; the back-off is
// the caller's to check. A failure is judged here (the back-off started when
// the directory is dead or refusing), unless `failed` takes it for the
// caller to judge; refused credentials are marked here all the same. With a kept search watched, the bind is given up when
// that one answers first (`failed` kKeptAnswered). A bind that waited for
// another thread's bind with credentials not yet accepted does not go out
// when that one started a back-off, unless this thread `probing` ends it.
HRESULT Connect(const std::string& uri, LDAP** out, ConnectFailure* failed = nullptr, bool probing = false);

// The thread's shared connection to `uri`, or null.
std::shared_ptr<LDAP> TakeShared(const std::string& uri);
// A new connection to `uri` becomes the one the thread shares, while it
// shares one; null otherwise (the object alone owns it).
std::shared_ptr<LDAP> Share(const std::string& uri, LDAP* ld);
// A failure on the shared connection: the next object connects anew.
void ForgetShared(const LDAP* ld);
