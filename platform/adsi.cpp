#include "platform/adsi.h"

#include <ldap.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/coarse_clock.h"
#include "platform/directory_back_off.h"
#include "platform/directory_connections.h"
#include "platform/directory_health.h"
#include "platform/directory_password.h"
#include "platform/directory_uri_text.h"
#include "platform/sigpipe_hold.h"
#include "platform/thread_local_instance.h"
#include "platform/wide_text.h"

namespace {

constexpr DWORD ERROR_LOGON_FAILURE = 1326;
constexpr DWORD ERROR_DS_OPERATIONS_ERROR = 8224;
constexpr DWORD ERROR_DS_TIMELIMIT_EXCEEDED = 8226;
constexpr DWORD ERROR_DS_NO_SUCH_OBJECT = 8240;
constexpr DWORD ERROR_DS_INVALID_DN_SYNTAX = 8242;
constexpr DWORD ERROR_DS_SERVER_DOWN = 8250;
constexpr DWORD ERROR_DS_FILTER_UNKNOWN = 8254;
constexpr DWORD ERROR_DS_INSUFF_ACCESS_RIGHTS = 8344;

struct LastError {
  DWORD code = 0;
  std::string text;
  bool repeat = false;
};
thread_local LastError t_lastError;

DWORD Win32OfLdap(int rc) {
  switch (rc) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
      return ERROR_DS_SERVER_DOWN;
    case LDAP_TIMEOUT:
    case LDAP_TIMELIMIT_EXCEEDED:
      return ERROR_DS_TIMELIMIT_EXCEEDED;
    case LDAP_NO_SUCH_OBJECT:
      return ERROR_DS_NO_SUCH_OBJECT;
    case LDAP_INVALID_DN_SYNTAX:
      return ERROR_DS_INVALID_DN_SYNTAX;
    case LDAP_FILTER_ERROR:
      return ERROR_DS_FILTER_UNKNOWN;
    case LDAP_INVALID_CREDENTIALS:
      return ERROR_LOGON_FAILURE;
    case LDAP_INSUFFICIENT_ACCESS:
      return ERROR_DS_INSUFF_ACCESS_RIGHTS;
    default:
      return ERROR_DS_OPERATIONS_ERROR;
  }
}

// Records the extended error of a failed libldap call and gives its HRESULT.
HRESULT Fail(int rc, LDAP* ld, const std::string& what) {
  if (rc == LDAP_NO_MEMORY) return E_OUTOFMEMORY;
  t_lastError.code = Win32OfLdap(rc);
  t_lastError.repeat = false;
  std::string text = what + ": " + ldap_err2string(rc);
  char* diagnostic = nullptr;
  if (ld != nullptr && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
      diagnostic != nullptr) {
    if (*diagnostic != '\0') text += std::string(" (") + diagnostic + ")";
    ldap_memfree(diagnostic);
  }
  if (rc == LDAP_INVALID_CREDENTIALS) {
    text += "; credentials refused, the bind is tried again after " +
            std::to_string(RefusedRetryInterval().count() / 1000) +
            " s or once the password file holds another password";
  }
  // The library's own words may name a URI too.
  t_lastError.text = UriWithoutUserPart(std::move(text));
  return HRESULT_FROM_WIN32(t_lastError.code);
}

// Whether the calling thread is in a look-up (CADsTimeLimit), and that
// look-up's deadline, fixed by its first directory operation: a look-up that
// goes no further than the back-off reads no clock.
thread_local bool t_limited = false;
thread_local std::optional<std::chrono::steady_clock::time_point> t_deadline;
// The length of the thread's limit, and whether it is one of its own for
// work no request waits on (which never probes a directory in its back-off).
thread_local std::chrono::milliseconds t_limitLength{std::chrono::seconds(kADsTimeLimitSeconds)};
thread_local bool t_background = false;
// Set when the thread's background work is to end now; null for none.
thread_local const std::atomic<bool>* t_cut = nullptr;

bool WorkCut() { return t_cut != nullptr && t_cut->load(std::memory_order_acquire); }

// What the thread's look-up saw of its directory: whether the directory
// answered it (a bind or any reply), how many searches any thread had
// answered when it began, and the longest one of its searches went
// unanswered.
thread_local bool t_answered = false;
thread_local uint64_t t_answersAtStart = 0;
thread_local std::chrono::microseconds t_searchSilence{0};

void StartLookUp() {
  t_answered = false;
  t_answersAtStart = DirectorySearchesAnswered();
  t_searchSilence = std::chrono::microseconds(0);
}

// A search asked at `asked` has had no answer by now.
void NoteSearchSilence(std::chrono::steady_clock::time_point asked) {
  const auto silent = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - asked);
  t_searchSilence = std::max(t_searchSilence, silent);
}

// A reply came back; `search` when it answered a search.
void NoteAnswered(bool search) {
  t_answered = true;
  if (search) NoteDirectorySearchAnswered();
}

DirectoryTrouble TroubleOf(int rc) {
  switch (rc) {
    case LDAP_SERVER_DOWN:
    case LDAP_CONNECT_ERROR:
      return DirectoryTrouble::NoAnswer;
    case LDAP_TIMEOUT:
      return DirectoryTrouble::TimedOut;
    case LDAP_INVALID_CREDENTIALS:
      return DirectoryTrouble::CredentialsRefused;
    default:
      return DirectoryTrouble::Other;
  }
}

// Judges a failed call of the thread's look-up on `uri` and acts on it: a
// dead or refusing directory starts its back-off (a refused bind with the
// password file it was read from, `bind`).
DirectoryVerdict ActOnFailure(const std::string& uri, int rc, bool probing, const CBindPasswordFile& bind = {}) {
  // Work cut short by a shutdown ran out of nothing the directory did.
  if (WorkCut()) return DirectoryVerdict::Answering;
  DirectorySeen seen;
  seen.answeredThisLookUp = t_answered;
  seen.searchAnsweredMeanwhile = DirectorySearchesAnswered() != t_answersAtStart;
  seen.probing = probing;
  seen.searchSilence = t_searchSilence;
  const DirectoryVerdict verdict = JudgeDirectory(TroubleOf(rc), seen);
  if (verdict == DirectoryVerdict::Dead) MarkUnreachable(uri);
  if (verdict == DirectoryVerdict::Refusing) MarkUnreachable(uri, &bind);
  return verdict;
}

// What is left for one more operation: of the thread's look-up, else a whole
// time limit. False when nothing is left.
bool RemainingTime(timeval& left) {
  using std::chrono::microseconds;
  microseconds rest = std::chrono::seconds(kADsTimeLimitSeconds);
  if (t_limited) {
    const auto now = std::chrono::steady_clock::now();
    if (!t_deadline) {
      t_deadline = now + t_limitLength;
      StartLookUp();
    }
    rest = std::chrono::duration_cast<microseconds>(*t_deadline - now);
  }
  if (rest < std::chrono::milliseconds(1) || WorkCut()) return false;
  left.tv_sec = static_cast<time_t>(rest.count() / 1000000);
  left.tv_usec = static_cast<suseconds_t>(rest.count() % 1000000);
  return true;
}

// The failure of a connection refused because its directory is in its
// back-off; it repeats the failure reported when the directory was lost or
// refused the credentials.
HRESULT BackOffFailure(bool refused) {
  LastError& last = t_lastError;
  last.code = refused ? ERROR_LOGON_FAILURE : ERROR_DS_SERVER_DOWN;
  last.repeat = true;
  const std::string& text = BackOffWords(refused);
  // Within a back-off the text is mostly there already.
  if (last.text != text) last.text = text;
  return HRESULT_FROM_WIN32(last.code);
}

// The directory URI of a path's server part: LDAPURI (read now, so that a
// changed environment counts) or libldap's configured default.
std::string DefaultUri() {
  const char* uri = std::getenv("LDAPURI");
  return uri != nullptr ? uri : "";
}

// HX_LDAP_GC_URI when set and not empty, else LDAPURI.
std::string GlobalCatalogUri() {
  const char* uri = std::getenv("HX_LDAP_GC_URI");
  return uri != nullptr && *uri != '\0' ? uri : DefaultUri();
}

// How the module binds: SASL when a mechanism is configured, simple with a
// name and a password file when both are set, else anonymous.
struct BindConfig {
  std::string mechanism;
  const char* dn = nullptr;
  const char* passwordFile = nullptr;
};

BindConfig ConfiguredBind(LDAP* ld) {
  BindConfig config;
  char* mechanism = nullptr;
  if (ldap_get_option(ld, LDAP_OPT_X_SASL_MECH, &mechanism) == LDAP_OPT_SUCCESS && mechanism != nullptr) {
    config.mechanism = mechanism;
    ldap_memfree(mechanism);
    return config;
  }
  config.dn = std::getenv("HX_LDAP_BINDDN");
  config.passwordFile = std::getenv("HX_LDAP_PASSWORD_FILE");
  if (config.dn == nullptr || config.passwordFile == nullptr) config.dn = config.passwordFile = nullptr;
  return config;
}

// The password of a simple bind. A file that cannot be used is a failure of
// its own: a bind name without a password would be refused (or, worse, taken
// as an anonymous bind) and the reason lost.
// `bind` names the file and its stamp as it was when the password was read:
// a refused bind waits for that to change.
HRESULT ReadPassword(const BindConfig& config, std::string& password, CBindPasswordFile& bind) {
  bind = CBindPasswordFile{};
  if (config.passwordFile == nullptr) return S_OK;
  bind.passwordFile = config.passwordFile;
  std::string why;
  const HRESULT hr = DirectoryPassword(config.passwordFile, password, why, &bind.stamp);
  // Of the name with the password: a password refused for one name may be
  // another's.
  bind.passwordDigest = std::hash<std::string>{}(std::string(config.dn) + '\n' + password);
  if (SUCCEEDED(hr)) return S_OK;
  t_lastError.code = static_cast<DWORD>(hr) & 0xFFFFu;
  t_lastError.repeat = false;
  t_lastError.text = "password file " + DirectoryPasswordFileName(config.passwordFile) + ": " + why;
  return hr;
}

int QuietSaslInteraction(LDAP*, unsigned, void*, void*) { return LDAP_SUCCESS; }

// libldap frees its process-wide defaults (the default URI list among them)
// when the process exits, after the exit handlers, while request threads
// may still be making connections, which copy them. From the module's exit
// handler on, no thread starts reading them, and the handler waits for
// those reading them now: a read is a copy in memory, never a wait on the
// network.
std::atomic<int> g_readingDefaults{0};
std::atomic<bool> g_defaultsClosing{false};
constexpr int kDefaultsDrainMs = 1000;

class CLibraryDefaults {
 public:
  CLibraryDefaults() {
    g_readingDefaults.fetch_add(1);
    m_open = !g_defaultsClosing.load();
  }
  ~CLibraryDefaults() { g_readingDefaults.fetch_sub(1); }
  CLibraryDefaults(const CLibraryDefaults&) = delete;
  CLibraryDefaults& operator=(const CLibraryDefaults&) = delete;
  // False once the process exits: the defaults are not to be read.
  bool Open() const { return m_open; }

 private:
  bool m_open;
};

void CloseLibraryDefaults() {
  g_defaultsClosing.store(true);
  for (int i = 0; i < kDefaultsDrainMs && g_readingDefaults.load() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// libldap sets up its process-wide defaults on first use, unguarded: the
// first use must not happen on two request threads at once.
void InitialiseLibrary() {
  static std::once_flag initialised;
  std::call_once(initialised, [] {
    int level = 0;
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
    // Registered after libldap set itself up: it runs before libldap's own
    // clean-up at exit.
    std::atexit(CloseLibraryDefaults);
  });
}

// Whether a call's code came from the directory: libldap's own failures
// (no connection, a time-out, a local error) are negative.
bool Replied(int rc) { return rc >= 0; }

std::chrono::microseconds MicrosOf(const timeval& t) {
  return std::chrono::seconds(t.tv_sec) + std::chrono::microseconds(t.tv_usec);
}

timeval TimevalOf(std::chrono::microseconds us) {
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
thread_local KeptWatch* t_watch = nullptr;

// What a wait returns when the watched kept search answered first; no code
// of libldap's.
constexpr int kKeptAnswered = -10000;
// How long a wait runs between looks at the watched search.
constexpr std::chrono::milliseconds kWatchSlice{20};

int AwaitSearch(LDAP* ld, int msgid, timeval wait, LDAPMessage*& result);

// Whether the watched kept search has its answer now.
bool KeptAnsweredNow() {
  KeptWatch* watch = t_watch;
  if (watch == nullptr || watch->closed) return false;
  if (watch->answered) return true;
  timeval none{};
  // The watch is off while it is looked at: the look itself waits alone.
  t_watch = nullptr;
  const int rc = AwaitSearch(watch->ld, watch->msgid, none, watch->result);
  t_watch = watch;
  if (rc == LDAP_TIMEOUT) return false;
  if (!Replied(rc)) {
    watch->closed = true;
    return false;
  }
  watch->rc = rc;
  watch->answered = true;
  return true;
}

// ldap_result for `msgid` within `wait`; with a kept search watched, in
// slices, and kKeptAnswered as soon as that one answers; for work that can
// be cut, in slices too, and out of time (0) once it is.
int WatchedResult(LDAP* ld, int msgid, timeval wait, LDAPMessage** result) {
  if (t_watch == nullptr && t_cut == nullptr) return ldap_result(ld, msgid, LDAP_MSG_ALL, &wait, result);
  using std::chrono::microseconds;
  const auto end = std::chrono::steady_clock::now() + MicrosOf(wait);
  for (;;) {
    if (KeptAnsweredNow()) return kKeptAnswered;
    if (WorkCut()) return 0;
    const auto left = std::chrono::duration_cast<microseconds>(end - std::chrono::steady_clock::now());
    timeval slice = TimevalOf(std::clamp<microseconds>(left, microseconds(1000), kWatchSlice));
    const int got = ldap_result(ld, msgid, LDAP_MSG_ALL, &slice, result);
    if (got != 0 || left <= kWatchSlice) return got;
  }
}

// Watches `watch` for the calling thread while it lives.
class CWatchKept {
 public:
  explicit CWatchKept(KeptWatch* watch) { t_watch = watch; }
  ~CWatchKept() { t_watch = nullptr; }
  CWatchKept(const CWatchKept&) = delete;
  CWatchKept& operator=(const CWatchKept&) = delete;
};

// Waits at most `wait` for the whole answer of search `msgid`: its result
// code, LDAP_TIMEOUT, kKeptAnswered, or the connection's failure. `result`
// holds what came.
int AwaitSearch(LDAP* ld, int msgid, timeval wait, LDAPMessage*& result) {
  result = nullptr;
  // libldap reads nothing within a wait of zero: a look without waiting
  // waits a millisecond.
  if (wait.tv_sec == 0 && wait.tv_usec < 1000) wait.tv_usec = 1000;
  const int got = WatchedResult(ld, msgid, wait, &result);
  if (got == kKeptAnswered) return kKeptAnswered;
  if (got == 0) return LDAP_TIMEOUT;
  if (got < 0) {
    int rc = LDAP_SERVER_DOWN;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    return rc;
  }
  int answer = LDAP_OTHER;
  const int rc = ldap_parse_result(ld, result, &answer, nullptr, nullptr, nullptr, nullptr, 0);
  return rc != LDAP_SUCCESS ? rc : answer;
}

// Waits for the result of `msgid` within what is left of the limit, and at
// most `most`.
int WaitResult(LDAP* ld, int msgid, LDAPMessage** result,
               std::chrono::microseconds most = std::chrono::microseconds::max()) {
  timeval left{};
  if (!RemainingTime(left)) return LDAP_TIMEOUT;
  if (MicrosOf(left) > most) left = TimevalOf(most);
  const int got = WatchedResult(ld, msgid, left, result);
  if (got == kKeptAnswered) return kKeptAnswered;
  if (got == 0) return LDAP_TIMEOUT;
  if (got > 0) return LDAP_SUCCESS;
  int rc = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
  return rc;
}

// A simple bind whose answer is awaited within what is left of the limit,
// and a request's limit at most also for work with a longer one: a bind
// with credentials not yet accepted holds the other threads' binds.
int SimpleBind(LDAP* ld, const char* dn, berval* credentials) {
  int msgid = 0;
  int rc = ldap_sasl_bind(ld, dn, LDAP_SASL_SIMPLE, credentials, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  LDAPMessage* result = nullptr;
  rc = WaitResult(ld, msgid, &result, std::chrono::seconds(kADsTimeLimitSeconds));
  if (rc != LDAP_SUCCESS) return rc;
  int answer = LDAP_OTHER;
  rc = ldap_parse_result(ld, result, &answer, nullptr, nullptr, nullptr, nullptr, 1);
  return rc != LDAP_SUCCESS ? rc : answer;
}

int Bind(LDAP* ld, const BindConfig& config, std::string& password) {
  if (!config.mechanism.empty()) {
    return ldap_sasl_interactive_bind_s(ld, nullptr, config.mechanism.c_str(), nullptr, nullptr, LDAP_SASL_QUIET,
                                        QuietSaslInteraction, nullptr);
  }
  berval credentials{static_cast<ber_len_t>(password.size()), password.data()};
  // Also an anonymous bind goes out now: an unreachable directory shows here,
  // within the network time limit.
  return SimpleBind(ld, config.dn, &credentials);
}

// A firewall or NAT that forgets an idle connection, or a directory that
// fails over, sends no reset: the kernel's probes find such a connection
// dead while it is idle, and it is then dropped before a look-up waits on it.
constexpr int kKeepAliveIdleSeconds = 15;
constexpr int kKeepAliveIntervalSeconds = 5;
constexpr int kKeepAliveProbes = 3;

void KeepAlive(LDAP* ld) {
  int fd = -1;
  if (ldap_get_option(ld, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0) return;
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &kKeepAliveIdleSeconds, sizeof kKeepAliveIdleSeconds);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &kKeepAliveIntervalSeconds, sizeof kKeepAliveIntervalSeconds);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &kKeepAliveProbes, sizeof kKeepAliveProbes);
}

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
// caller to judge. With a kept search watched, the bind is given up when
// that one answers first (`failed` kKeptAnswered). A bind that waited for
// another thread's bind with credentials not yet accepted does not go out
// when that one started a back-off, unless this thread `probing` ends it.
HRESULT Connect(const std::string& uri, LDAP** out, ConnectFailure* failed = nullptr, bool probing = false) {
  *out = nullptr;
  if (failed != nullptr) *failed = ConnectFailure{};
  InitialiseLibrary();
  CBindPasswordFile bindFile;
  auto judged = [&](int rc, LDAP* ld, const std::string& what) {
    const HRESULT hr = Fail(rc, ld, what);
    if (failed != nullptr) {
      failed->rc = rc;
      failed->bind = bindFile;
    }
    // A refusal is marked before the bind turn is let go: a thread waiting
    // for it must not send the refused password again.
    if (failed == nullptr || rc == LDAP_INVALID_CREDENTIALS) ActOnFailure(uri, rc, false, bindFile);
    return hr;
  };
  // A URI libldap rejects may still hold a password: texts name it cleaned.
  const std::string named = ConfiguredUriWithoutUserPart(uri);
  timeval limit{};
  if (!RemainingTime(limit)) return judged(LDAP_TIMEOUT, nullptr, "bind " + named);
  LDAP* ld = nullptr;
  int rc = LDAP_SUCCESS;
  {
    CLibraryDefaults defaults;
    if (!defaults.Open()) return Fail(LDAP_UNAVAILABLE, nullptr, "ldap_initialize: the process is exiting");
    rc = ldap_initialize(&ld, uri.empty() ? nullptr : uri.c_str());
  }
  if (rc != LDAP_SUCCESS) return Fail(rc, nullptr, "ldap_initialize " + named);
  const BindConfig config = ConfiguredBind(ld);
  std::string password;
  HRESULT unreadable = ReadPassword(config, password, bindFile);
  if (FAILED(unreadable)) {
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return unreadable;
  }
  // A password refused lately is not sent again: lock-out policies count
  // every refused bind.
  if (RefusedAlready(uri, bindFile, probing)) {
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return BackOffFailure(true);
  }
  const int version = LDAP_VERSION3;
  const int seconds = kADsTimeLimitSeconds;
  const int entries = kADsSizeLimit;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  // Reaching the directory and a SASL bind take a request's limit at most,
  // also for work with a longer one: a shutdown cannot cut them, and a bind
  // may hold the others'.
  timeval reach =
      TimevalOf(std::min<std::chrono::microseconds>(MicrosOf(limit), std::chrono::seconds(kADsTimeLimitSeconds)));
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &reach);
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &reach);
  ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &seconds);
  ldap_set_option(ld, LDAP_OPT_SIZELIMIT, &entries);
  CBindTurn turn;
  bool refused = false;
  const CBindTurn::Outcome outcome =
      turn.Take(std::chrono::steady_clock::now() + MicrosOf(limit), bindFile, uri, probing, &refused);
  if (outcome != CBindTurn::Outcome::Go) {
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return outcome == CBindTurn::Outcome::TimedOut ? Fail(LDAP_TIMEOUT, nullptr, "bind " + named)
                                                   : BackOffFailure(refused);
  }
  rc = Bind(ld, config, password);
  if (rc == LDAP_SUCCESS) turn.Accepted(bindFile);
  if (rc == kKeptAnswered) {
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    if (failed != nullptr) failed->rc = kKeptAnswered;
    return E_FAIL;
  }
  if (rc != LDAP_SUCCESS) {
    // A refusal is an answer too; the verdict tells it apart.
    if (Replied(rc)) NoteAnswered(false);
    HRESULT hr = judged(rc, ld, "bind " + named);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return hr;
  }
  NoteAnswered(false);
  KeepAlive(ld);
  *out = ld;
  return S_OK;
}

// The connection that the objects a thread opens on one directory share
// while a CADsOneConnection lives; the last object or scope to let it go
// unbinds it.
struct SharedConnection {
  int depth = 0;
  std::string uri;
  std::shared_ptr<LDAP> ld;
};
thread_local SharedConnection t_shared;

void Unbind(LDAP* ld) {
  CSigPipeHold pipeHold;
  ldap_unbind_ext_s(ld, nullptr, nullptr);
}

// The thread's shared connection to `uri`, or null.
std::shared_ptr<LDAP> TakeShared(const std::string& uri) {
  return t_shared.depth > 0 && t_shared.ld && t_shared.uri == uri ? t_shared.ld : nullptr;
}

// A new connection to `uri` becomes the one the thread shares, while it
// shares one; null otherwise (the object alone owns it).
std::shared_ptr<LDAP> Share(const std::string& uri, LDAP* ld) {
  if (t_shared.depth == 0) return nullptr;
  t_shared.uri = uri;
  t_shared.ld = std::shared_ptr<LDAP>(ld, &Unbind);
  return t_shared.ld;
}

// A failure on the shared connection: the next object connects anew.
void ForgetShared(const LDAP* ld) {
  if (t_shared.ld.get() == ld) t_shared.ld.reset();
}

bool IsValidUtf8(const std::string& s) {
  std::wstring wide = WideFromBytes(s);
  return BytesFromWide(wide) == s;
}

bool IsBinaryAttribute(const std::string& lowerName) {
  return lowerName == "objectsid" || lowerName == "objectguid" || lowerName == "msexchmailboxguid" ||
         lowerName == "msexchmasteraccountsid";
}

using Values = std::vector<std::string>;

struct ParsedPath {
  bool globalCatalog = false;
  std::string server;
  std::string dn;
  bool rootDSE = false;
};

// Whether a wide text is an ASCII text, case ignored.
bool IsAsciiNoCase(const std::wstring& text, const char* ascii) {
  size_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    const uint32_t c = static_cast<uint32_t>(text[i]);
    if (c > 0x7F || std::tolower(static_cast<int>(c)) != ascii[i]) return false;
  }
  return i == text.size();
}

bool ParsePath(const std::wstring& path, ParsedPath& parsed) {
  // The global catalog is opened for every user look-up: known without a
  // conversion.
  if (IsAsciiNoCase(path, "gc:") || IsAsciiNoCase(path, "gc://")) {
    parsed.globalCatalog = true;
    return true;
  }
  const std::string text = BytesFromWide(path);
  const std::string lower = AsciiLower(text);
  if (lower == "gc:" || lower == "gc://") {
    parsed.globalCatalog = true;
    return true;
  }
  if (lower.rfind("ldap://", 0) != 0) return false;
  std::string rest = text.substr(7);
  const size_t slash = rest.find('/');
  if (slash != std::string::npos && rest.substr(0, slash).find('=') == std::string::npos) {
    parsed.server = rest.substr(0, slash);
    rest = rest.substr(slash + 1);
  }
  if (rest.empty()) return false;
  parsed.rootDSE = AsciiLower(rest) == "rootdse";
  if (!parsed.rootDSE) parsed.dn = rest;
  return true;
}

struct ColumnStorage {
  std::wstring name;
  std::vector<std::wstring> texts;
  std::vector<std::string> bytes;
  std::vector<ADSVALUE> values;
};

}  // namespace

struct ADsSearch {
  LDAPMessage* result = nullptr;
  LDAPMessage* entry = nullptr;
  bool started = false;
  std::vector<std::string> requested;
  std::vector<std::string> columns;
  size_t nextColumn = 0;
};

namespace {

// One bound object with its own connection; both interfaces in one. A
// catalog object takes its connection from the thread's kept one (`reused`)
// and gives it back when released in good order.
class CDirectoryObject final : public IADs, public IDirectorySearch {
 public:
  CDirectoryObject(LDAP* ld, std::string uri, std::string dn, uint64_t generation, bool reused = false)
      : m_ld(ld), m_uri(std::move(uri)), m_dn(std::move(dn)), m_generation(generation), m_reused(reused) {}

  // The connection goes back to the thread when the object is released.
  void KeepConnection() { m_keep = true; }
  // The connection is the thread's shared one: released with the last
  // holder, not with this object.
  void ShareConnection(std::shared_ptr<LDAP> shared) { m_shared = std::move(shared); }
  // This object's first search (or its release) ends the thread's probe of
  // the directory.
  void EndsProbe() { m_probing = true; }

  HRESULT Load(bool operational) {
    char all[] = "*";
    char plus[] = "+";
    char* attributes[] = {all, operational ? plus : nullptr, nullptr};
    LDAPMessage* result = nullptr;
    timeval limit{};
    if (!RemainingTime(limit)) return FailCall(LDAP_TIMEOUT, "read " + ObjectName());
    CSigPipeHold pipeHold;
    const auto asked = std::chrono::steady_clock::now();
    int rc = ldap_search_ext_s(m_ld, m_dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr,
                               &limit, 1, &result);
    if (Replied(rc)) NoteAnswered(true);
    if (rc == LDAP_TIMEOUT) NoteSearchSilence(asked);
    if (rc != LDAP_SUCCESS) {
      if (result != nullptr) ldap_msgfree(result);
      return FailCall(rc, "read " + ObjectName());
    }
    LDAPMessage* entry = ldap_first_entry(m_ld, result);
    if (entry == nullptr) {
      ldap_msgfree(result);
      return Fail(LDAP_NO_SUCH_OBJECT, m_ld, "read " + ObjectName());
    }
    BerElement* ber = nullptr;
    for (char* name = ldap_first_attribute(m_ld, entry, &ber); name != nullptr;
         name = ldap_next_attribute(m_ld, entry, ber)) {
      Values& values = m_properties[AsciiLower(name)];
      berval** raw = ldap_get_values_len(m_ld, entry, name);
      for (int i = 0; raw != nullptr && raw[i] != nullptr; ++i) values.emplace_back(raw[i]->bv_val, raw[i]->bv_len);
      ldap_value_free_len(raw);
      ldap_memfree(name);
    }
    if (ber != nullptr) ber_free(ber, 0);
    ldap_msgfree(result);
    return S_OK;
  }

  // How failures name the object read.
  std::string ObjectName() const { return m_dn.empty() ? "rootDSE" : m_dn; }

  // Searches go below `dn` from now on; the attributes read are dropped.
  void SearchFrom(std::string dn) {
    m_dn = std::move(dn);
    m_properties.clear();
  }

  // The first value of an attribute, empty when absent.
  std::string First(const char* name) const {
    auto it = m_properties.find(AsciiLower(name));
    return it == m_properties.end() || it->second.empty() ? std::string() : it->second.front();
  }

  HRESULT Get(const std::wstring& name, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    const Values* values = Find(name);
    if (values == nullptr) return E_ADS_PROPERTY_NOT_FOUND;
    VariantInit(value);
    BSTR text = SysAllocStringLen(values->front().data(), static_cast<UINT>(values->front().size()));
    if (text == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = text;
    return S_OK;
  }

  HRESULT GetEx(const std::wstring& name, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    const Values* values = Find(name);
    if (values == nullptr) return E_ADS_PROPERTY_NOT_FOUND;
    SAFEARRAYBOUND bound{static_cast<ULONG>(values->size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (array == nullptr) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(values->size()); ++i) {
      _variant_t element;
      BSTR text = SysAllocStringLen((*values)[i].data(), static_cast<UINT>((*values)[i].size()));
      if (text == nullptr) {
        SafeArrayDestroy(array);
        return E_OUTOFMEMORY;
      }
      element.vt = VT_BSTR;
      element.bstrVal = text;
      HRESULT hr = SafeArrayPutElement(array, &i, &element);
      if (FAILED(hr)) {
        SafeArrayDestroy(array);
        return hr;
      }
    }
    VariantInit(value);
    value->vt = VT_ARRAY | VT_VARIANT;
    value->parray = array;
    return S_OK;
  }

  HRESULT SetSearchPreference(const ADS_SEARCHPREF_INFO* prefs, DWORD count) override {
    if (prefs == nullptr && count > 0) return E_POINTER;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < count; ++i) {
      const bool scope = prefs[i].dwSearchPref == ADS_SEARCHPREF_SEARCH_SCOPE &&
                         prefs[i].vValue.dwType == ADSTYPE_INTEGER && prefs[i].vValue.Integer <= ADS_SCOPE_SUBTREE;
      if (!scope) {
        hr = E_ADS_BAD_PARAMETER;
        continue;
      }
      const DWORD chosen = prefs[i].vValue.Integer;
      m_scope = chosen == ADS_SCOPE_BASE       ? LDAP_SCOPE_BASE
                : chosen == ADS_SCOPE_ONELEVEL ? LDAP_SCOPE_ONELEVEL
                                               : LDAP_SCOPE_SUBTREE;
    }
    return hr;
  }

  HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                        ADS_SEARCH_HANDLE* handle) override {
    if (filter == nullptr || handle == nullptr || (attributes == nullptr && count > 0)) return E_POINTER;
    *handle = nullptr;
    auto search = std::make_unique<ADsSearch>();
    for (DWORD i = 0; i < count; ++i) search->requested.push_back(BytesFromWide(attributes[i]));
    std::vector<char*> names;
    for (std::string& name : search->requested) names.push_back(name.data());
    names.push_back(nullptr);
    const std::string filterText = BytesFromWide(filter);
    char** asked = count > 0 ? names.data() : nullptr;
    // A kept connection may have died without a word: it is given up when it
    // stays silent much longer than the directory takes to answer.
    const bool reused = m_reused;
    m_reused = false;
    HRESULT reconnected = S_OK;
    const int rc = reused ? SearchKept(filterText, asked, search->result, reconnected)
                          : Search(filterText, asked, search->result);
    if (FAILED(reconnected)) return SettleProbe(reconnected);
    // A search that hit the size limit keeps the entries it got.
    if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) return SettleProbe(FailCall(rc, "search " + filterText));
    *handle = search.release();
    return SettleProbe(S_OK);
  }

  HRESULT GetFirstRow(ADS_SEARCH_HANDLE handle) override {
    if (handle == nullptr) return E_ADS_BAD_PARAMETER;
    handle->started = true;
    return EnterRow(handle, ldap_first_entry(m_ld, handle->result));
  }

  HRESULT GetNextRow(ADS_SEARCH_HANDLE handle) override {
    if (handle == nullptr) return E_ADS_BAD_PARAMETER;
    if (!handle->started) return GetFirstRow(handle);
    if (handle->entry == nullptr) return S_ADS_NOMORE_ROWS;
    return EnterRow(handle, ldap_next_entry(m_ld, handle->entry));
  }

  HRESULT GetNextColumnName(ADS_SEARCH_HANDLE handle, wchar_t** name) override {
    if (handle == nullptr || name == nullptr) return E_POINTER;
    *name = nullptr;
    if (handle->entry == nullptr) return E_ADS_BAD_PARAMETER;
    if (handle->nextColumn >= handle->columns.size()) return S_ADS_NOMORE_COLUMNS;
    const std::wstring wide = WideFromBytes(handle->columns[handle->nextColumn++]);
    auto* copy = static_cast<wchar_t*>(std::malloc((wide.size() + 1) * sizeof(wchar_t)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::wmemcpy(copy, wide.c_str(), wide.size() + 1);
    *name = copy;
    return S_OK;
  }

  HRESULT GetColumn(ADS_SEARCH_HANDLE handle, const wchar_t* name, ADS_SEARCH_COLUMN* column) override {
    if (handle == nullptr || name == nullptr || column == nullptr) return E_POINTER;
    std::memset(column, 0, sizeof *column);
    if (handle->entry == nullptr) return E_ADS_BAD_PARAMETER;
    const std::string attribute = BytesFromWide(name);
    const std::string lower = AsciiLower(attribute);
    Values values = RowValues(handle->entry, attribute);
    ADSTYPE type = IsBinaryAttribute(lower) ? ADSTYPE_OCTET_STRING : ADSTYPE_CASE_IGNORE_STRING;
    if (values.empty() && lower == "distinguishedname") {
      // Directories that do not keep the name as an attribute still have it.
      char* dn = ldap_get_dn(m_ld, handle->entry);
      if (dn != nullptr) values.emplace_back(dn);
      ldap_memfree(dn);
    }
    if (lower == "distinguishedname") type = ADSTYPE_DN_STRING;
    if (values.empty()) return E_ADS_COLUMN_NOT_SET;
    for (const std::string& v : values) {
      if (type != ADSTYPE_OCTET_STRING && !IsValidUtf8(v)) type = ADSTYPE_OCTET_STRING;
    }
    auto storage = std::make_unique<ColumnStorage>();
    storage->name = name;
    storage->bytes = std::move(values);
    storage->values.resize(storage->bytes.size());
    storage->texts.reserve(storage->bytes.size());
    for (size_t i = 0; i < storage->bytes.size(); ++i) {
      ADSVALUE& v = storage->values[i];
      v.dwType = type;
      if (type == ADSTYPE_OCTET_STRING) {
        v.OctetString.dwLength = static_cast<DWORD>(storage->bytes[i].size());
        v.OctetString.lpValue = reinterpret_cast<BYTE*>(storage->bytes[i].data());
      } else {
        storage->texts.push_back(WideFromBytes(storage->bytes[i]));
        v.CaseIgnoreString = storage->texts.back().data();
      }
    }
    column->pszAttrName = storage->name.data();
    column->dwADsType = type;
    column->pADsValues = storage->values.data();
    column->dwNumValues = static_cast<DWORD>(storage->values.size());
    column->hReserved = storage.release();
    return S_OK;
  }

  HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) override {
    if (column == nullptr) return E_POINTER;
    delete static_cast<ColumnStorage*>(column->hReserved);
    std::memset(column, 0, sizeof *column);
    return S_OK;
  }

  HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE handle) override {
    if (handle == nullptr) return E_ADS_BAD_PARAMETER;
    if (handle->result != nullptr) ldap_msgfree(handle->result);
    delete handle;
    return S_OK;
  }

  void Release() override {
    SettleProbe(S_OK);
    CKeptConnection& kept = ThreadConnection();
    if (m_keep && !m_broken && kept.ld == nullptr) {
      kept.ld = m_ld;
      kept.uri = m_uri;
      kept.base = m_dn;
      kept.generation = m_generation;
      kept.idleSince = CoarseSteadyClock::now();
      m_ld = nullptr;
    }
    delete this;
  }

 private:
  ~CDirectoryObject() override {
    if (m_shared) {
      if (m_broken) ForgetShared(m_shared.get());
      return;
    }
    if (m_ld != nullptr) {
      CSigPipeHold pipeHold;
      ldap_unbind_ext_s(m_ld, nullptr, nullptr);
    }
  }

  // One search within what is left of the limit; `result` holds what came
  // back (freed here on failure).
  int Search(const std::string& filter, char** attributes, LDAPMessage*& result) {
    result = nullptr;
    timeval limit{};
    if (!RemainingTime(limit)) return LDAP_TIMEOUT;
    CSigPipeHold pipeHold;
    const auto asked = std::chrono::steady_clock::now();
    int msgid = -1;
    int rc = SendSearch(filter, attributes, limit, msgid);
    if (rc == LDAP_SUCCESS) rc = AwaitSearch(m_ld, msgid, limit, result);
    if (rc == LDAP_TIMEOUT) GiveUp(msgid, asked);
    return Settle(rc, asked, result);
  }

  // A search of this connection had no answer in time: its late answer is
  // dropped when it comes, so that a slow directory's connection can be
  // kept for the next look-up.
  void GiveUp(int msgid, std::chrono::steady_clock::time_point asked) {
    NoteSearchSilence(asked);
    ldap_abandon_ext(m_ld, msgid, nullptr, nullptr);
  }

  // The kept search `msgid` has the rest of the limit on its own.
  int AwaitRest(int msgid, std::chrono::steady_clock::time_point asked, LDAPMessage*& result) {
    timeval left{};
    int rc = LDAP_TIMEOUT;
    if (RemainingTime(left)) rc = AwaitSearch(m_ld, msgid, left, result);
    if (rc == LDAP_TIMEOUT) GiveUp(msgid, asked);
    return Settle(rc, asked, result);
  }

  // One search on the thread's kept connection. Closed by the server while
  // idle, it is opened again once. Silent past its KeptSilence, the search
  // is tried on a new connection while the kept one is still watched: when
  // the kept one answers first (a slow directory), its answer is taken, its
  // time learned and the new connection dropped. The kept one counts as
  // dead, and every thread's kept connection with it, only when it stays
  // silent past its DeadSilence while the new one answered. A new
  // connection that cannot be made leaves the kept one the rest of the
  // limit, and no new connection is tried while the directory is in its
  // back-off. `reconnected` fails when the look-up failed for want of a
  // new connection.
  int SearchKept(const std::string& filter, char** attributes, LDAPMessage*& result, HRESULT& reconnected) {
    using std::chrono::microseconds;
    reconnected = S_OK;
    result = nullptr;
    timeval limit{};
    if (!RemainingTime(limit)) return LDAP_TIMEOUT;
    const microseconds silence = KeptSilence(MicrosOf(limit));
    CSigPipeHold pipeHold;
    const auto asked = std::chrono::steady_clock::now();
    int msgid = -1;
    int rc = SendSearch(filter, attributes, limit, msgid);
    if (rc == LDAP_SUCCESS) rc = AwaitSearch(m_ld, msgid, TimevalOf(silence), result);
    if (rc != LDAP_SERVER_DOWN && rc != LDAP_TIMEOUT) return Settle(rc, asked, result);
    if (result != nullptr) ldap_msgfree(result);
    result = nullptr;
    const bool silent = rc == LDAP_TIMEOUT;
    if (silent) {
      NoteAnswerTime(silence);  // it takes at least that long
      if (InBackOff(m_uri, nullptr)) return AwaitRest(msgid, asked, result);
    }
    KeptWatch watch;
    watch.ld = m_ld;
    watch.msgid = msgid;
    CWatchKept watching(silent ? &watch : nullptr);
    LDAP* kept = m_ld;
    LDAP* fresh = nullptr;
    ConnectFailure failed;
    m_generation = CurrentGeneration();
    // Closed or silent, the kept connection may have gone with a directory
    // restarted with another password: the new bind goes alone.
    NoteConnectionLost();
    reconnected = Connect(m_uri, &fresh, &failed);
    if (watch.answered) {
      reconnected = S_OK;
      return TakeKeptAnswer(watch, asked, result);
    }
    if (FAILED(reconnected)) {
      if (silent) {
        t_watch = nullptr;
        const int late = AwaitRest(msgid, asked, result);
        if (Replied(late)) {
          reconnected = S_OK;
          return late;
        }
      }
      if (failed.rc != LDAP_SUCCESS && failed.rc != LDAP_INVALID_CREDENTIALS) {
        ActOnFailure(m_uri, failed.rc, m_probing);
      }
      m_broken = true;
      return silent ? LDAP_TIMEOUT : rc;
    }
    m_ld = fresh;
    const int retried = Search(filter, attributes, result);
    if (watch.answered) {
      if (result != nullptr) ldap_msgfree(result);
      result = nullptr;
      ldap_unbind_ext_s(fresh, nullptr, nullptr);
      m_ld = kept;
      return TakeKeptAnswer(watch, asked, result);
    }
    t_watch = nullptr;
    if (silent && (retried == LDAP_SUCCESS || retried == LDAP_SIZELIMIT_EXCEEDED)) {
      JudgeSilent(kept, msgid, asked, silence);
    }
    // The kept search stayed silent as long as the look-up ran.
    if (silent && retried == LDAP_TIMEOUT) NoteSearchSilence(asked);
    ldap_unbind_ext_s(kept, nullptr, nullptr);
    return retried;
  }

  // The kept search answered while a new connection was tried: the kept
  // connection goes on, and the directory's time is learned.
  int TakeKeptAnswer(KeptWatch& watch, std::chrono::steady_clock::time_point asked, LDAPMessage*& result) {
    t_watch = nullptr;
    result = watch.result;
    watch.result = nullptr;
    return Settle(watch.rc, asked, result);
  }

  // The kept connection stayed silent while a new one answered. Silent
  // through its DeadSilence (within the look-up's limit), it was dead, and
  // so are the other threads' kept connections: they are retired. A late
  // reply shows a slow directory, whose time the wait learns.
  void JudgeSilent(LDAP* silent, int msgid, std::chrono::steady_clock::time_point asked,
                   std::chrono::microseconds silence) {
    using std::chrono::microseconds;
    const auto spent = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - asked);
    microseconds wait = std::max(DeadSilence(silence) - spent, microseconds(0));
    timeval left{};
    wait = RemainingTime(left) ? std::min(wait, MicrosOf(left)) : microseconds(0);
    LDAPMessage* late = nullptr;
    const int rc = AwaitSearch(silent, msgid, TimevalOf(wait), late);
    if (late != nullptr) ldap_msgfree(late);
    if (Replied(rc)) {
      NoteAnswerTime(std::chrono::steady_clock::now() - asked);
      return;
    }
    m_generation = NewGeneration();
  }

  int SendSearch(const std::string& filter, char** attributes, timeval limit, int& msgid) {
    return ldap_search_ext(m_ld, m_dn.c_str(), m_scope, filter.c_str(), attributes, 0, nullptr, nullptr, &limit,
                           kADsSizeLimit, &msgid);
  }

  // What a search came to: an answer teaches the wait; a failure frees what
  // came back.
  static int Settle(int rc, std::chrono::steady_clock::time_point asked, LDAPMessage*& result) {
    if (Replied(rc)) NoteAnswered(true);
    const bool answered = rc == LDAP_SUCCESS || rc == LDAP_SIZELIMIT_EXCEEDED;
    if (answered) NoteAnswerTime(std::chrono::steady_clock::now() - asked);
    if (!answered && result != nullptr) {
      ldap_msgfree(result);
      result = nullptr;
    }
    return rc;
  }

  // The directory has answered (or has been found unreachable again, which
  // ended the probe already).
  HRESULT SettleProbe(HRESULT hr) {
    if (m_probing) {
      // The connection that answered the probe is of the new generation.
      const uint64_t generation = EndProbe(m_uri);
      if (generation != 0) m_generation = generation;
    }
    m_probing = false;
    return hr;
  }

  const Values* Find(const std::wstring& name) const {
    auto it = m_properties.find(AsciiLower(BytesFromWide(name)));
    return it == m_properties.end() || it->second.empty() ? nullptr : &it->second;
  }

  Values RowValues(LDAPMessage* entry, const std::string& attribute) {
    Values values;
    berval** raw = ldap_get_values_len(m_ld, entry, attribute.c_str());
    for (int i = 0; raw != nullptr && raw[i] != nullptr; ++i) values.emplace_back(raw[i]->bv_val, raw[i]->bv_len);
    ldap_value_free_len(raw);
    return values;
  }

  // The row's columns: the requested attributes it holds, in request order
  // (the distinguished name always).
  HRESULT EnterRow(ADS_SEARCH_HANDLE handle, LDAPMessage* entry) {
    handle->entry = entry;
    handle->columns.clear();
    handle->nextColumn = 0;
    if (entry == nullptr) return S_ADS_NOMORE_ROWS;
    for (const std::string& name : handle->requested) {
      if (AsciiLower(name) == "distinguishedname" || !RowValues(entry, name).empty()) handle->columns.push_back(name);
    }
    return S_OK;
  }

  // The verdict on the directory decides whether its back-off starts. The
  // connection of a slow directory that answered this look-up is kept (its
  // late answer dropped): a new one would cost a bind as slow as the rest.
  HRESULT FailCall(int rc, const std::string& what) {
    const HRESULT hr = Fail(rc, m_ld, what);
    const DirectoryVerdict verdict = ActOnFailure(m_uri, rc, m_probing);
    const bool slowButTalking = verdict == DirectoryVerdict::Slow && t_answered && rc == LDAP_TIMEOUT;
    if (verdict != DirectoryVerdict::Answering && !slowButTalking) m_broken = true;
    return hr;
  }

  LDAP* m_ld;
  std::string m_uri;
  std::string m_dn;
  uint64_t m_generation;
  bool m_reused;
  bool m_keep = false;
  bool m_broken = false;
  bool m_probing = false;
  std::shared_ptr<LDAP> m_shared;
  int m_scope = LDAP_SCOPE_SUBTREE;
  std::map<std::string, Values> m_properties;
};

std::string UriOfPath(const ParsedPath& parsed) {
  return parsed.globalCatalog ? GlobalCatalogUri() : parsed.server.empty() ? DefaultUri() : "ldap://" + parsed.server;
}

// The thread's kept catalog connection to `uri` as an object, when it has
// one still usable; null otherwise.
CDirectoryObject* TakeKeptCatalog(const std::string& uri) {
  CKeptConnection& kept = ThreadConnection();
  if (kept.ld != nullptr && !KeptUsable(kept, uri)) kept.Drop();
  if (kept.ld == nullptr) return nullptr;
  auto* opened = new CDirectoryObject(kept.ld, uri, kept.base, kept.generation, true);
  kept.ld = nullptr;
  return opened;
}

// Whether the thread holds a connection to `uri` bound before, of the kind
// the path is opened on: its kept catalog connection, or the one it shares.
bool HasBoundConnection(const ParsedPath& parsed, const std::string& uri) {
  if (!parsed.globalCatalog) return TakeShared(uri) != nullptr;
  const CKeptConnection& kept = ThreadConnection();
  return kept.ld != nullptr && KeptUsable(kept, uri);
}

// Opens the object of a path; `load` reads its attributes (and so checks
// that it exists).
HRESULT Open(const std::wstring& path, bool load, CDirectoryObject** object) {
  *object = nullptr;
  t_lastError.repeat = false;
  ParsedPath parsed;
  if (!ParsePath(path, parsed)) {
    t_lastError = LastError{};
    return E_ADS_BAD_PATHNAME;
  }
  const std::string uri = UriOfPath(parsed);
  bool prober = false;
  bool refused = false;
  if (!t_limited) StartLookUp();
  // Work no request waits on never probes: the probe is a request's, within
  // a request's limit, so that requests fail at once no longer than that.
  // Refused credentials refuse new binds only: a connection the thread bound
  // before still answers.
  const bool boundOnly = InBackOff(uri, t_background ? nullptr : &prober, &refused);
  if (boundOnly && !(refused && HasBoundConnection(parsed, uri))) return BackOffFailure(refused);
  // Only now is the directory written to: a look-up in the back-off costs no
  // system call for the signal.
  CSigPipeHold pipeHold;
  CProbe probe(uri, prober);
  // A probe goes out on a new connection: a kept one may be what was lost.
  if (prober) ThreadConnection().Drop();
  CDirectoryObject* kept = parsed.globalCatalog ? TakeKeptCatalog(uri) : nullptr;
  if (kept != nullptr) {
    kept->KeepConnection();
    *object = kept;
    return S_OK;
  }
  LDAP* ld = nullptr;
  const uint64_t generation = CurrentGeneration();
  std::shared_ptr<LDAP> shared = parsed.globalCatalog ? nullptr : TakeShared(uri);
  HRESULT hr = S_OK;
  if (shared) {
    ld = shared.get();
  } else if (boundOnly) {
    // The bound connection was retired meanwhile: no new bind goes out.
    return BackOffFailure(refused);
  } else {
    hr = Connect(uri, &ld, nullptr, prober);
    if (FAILED(hr)) return hr;
    if (!parsed.globalCatalog) shared = Share(uri, ld);
  }
  auto* opened = new CDirectoryObject(ld, uri, parsed.dn, generation);
  if (shared) opened->ShareConnection(std::move(shared));
  if (probe.HandOn()) opened->EndsProbe();
  std::string base;
  if (parsed.globalCatalog && KnownCatalogBase(uri, base)) {
    opened->SearchFrom(base);
  } else if (parsed.globalCatalog) {
    // The catalog is searched from the forest's root, which its rootDSE names.
    hr = opened->Load(true);
    base = opened->First("rootDomainNamingContext");
    if (base.empty()) base = opened->First("defaultNamingContext");
    if (base.empty()) base = opened->First("namingContexts");
    opened->SearchFrom(base);
    if (SUCCEEDED(hr) && !base.empty()) NoteCatalogBase(uri, base);
  } else if (load) {
    hr = opened->Load(parsed.rootDSE);
  }
  if (FAILED(hr)) {
    opened->Release();
    return hr;
  }
  if (parsed.globalCatalog) opened->KeepConnection();
  *object = opened;
  return S_OK;
}

}  // namespace

HRESULT ADsGetObject(const std::wstring& path, IADs** object) {
  if (object == nullptr) return E_POINTER;
  CDirectoryObject* opened = nullptr;
  HRESULT hr = Open(path, true, &opened);
  *object = opened;
  return hr;
}

HRESULT ADsGetObject(const std::wstring& path, IDirectorySearch** object) {
  if (object == nullptr) return E_POINTER;
  CDirectoryObject* opened = nullptr;
  HRESULT hr = Open(path, false, &opened);
  *object = opened;
  return hr;
}

HRESULT ADsOpenObject(const std::wstring& path, const wchar_t* user, const wchar_t* password, DWORD flags,
                      IDirectorySearch** object) {
  return ADsGetObject(path, object);
}

void FreeADsMem(void* memory) { std::free(memory); }

HRESULT ADsBackOffFailure(const std::wstring& path) {
  if (!AnyBackOff()) return S_OK;
  ParsedPath parsed;
  bool refused = false;
  if (!ParsePath(path, parsed)) return S_OK;
  const std::string uri = UriOfPath(parsed);
  if (!InBackOff(uri, nullptr, &refused)) return S_OK;
  // Refused credentials refuse new binds only: the thread's connection bound
  // before may still answer.
  if (refused && HasBoundConnection(parsed, uri)) return S_OK;
  return BackOffFailure(refused);
}

bool ADsLastFailureIsRepeat() { return t_lastError.repeat; }

namespace {

// When the next failure may be claimed for a report, on the coarse clock.
std::atomic<int64_t> g_nextReport{0};

// The URI libldap connects to for a path without a server of its own, as
// texts name it: cleaned, while the words that say it is libldap's default
// stay.
std::string NamedEffectiveUri(const std::string& uri) {
  if (!uri.empty()) return ConfiguredUriWithoutUserPart(uri);
  InitialiseLibrary();
  char* configured = nullptr;
  std::string text = "libldap's default";
  CLibraryDefaults defaults;
  if (defaults.Open() && ldap_get_option(nullptr, LDAP_OPT_URI, &configured) == LDAP_OPT_SUCCESS &&
      configured != nullptr) {
    text += " " + ConfiguredUriWithoutUserPart(configured);
    ldap_memfree(configured);
  }
  return text;
}

std::string DescribeBind() {
  InitialiseLibrary();
  CLibraryDefaults defaults;
  if (!defaults.Open()) return "bind not known (the process is exiting)";
  const BindConfig config = ConfiguredBind(nullptr);
  if (!config.mechanism.empty()) return "SASL mechanism " + config.mechanism;
  if (config.dn == nullptr) return "anonymous bind";
  return "bind name " + std::string(config.dn) + ", password file " + DirectoryPasswordFileName(config.passwordFile);
}

}  // namespace

bool ADsClaimFailureReport() {
  if (t_lastError.repeat) return false;
  const int64_t now = CoarseSteadyClock::now().time_since_epoch().count();
  const int64_t gap = std::chrono::nanoseconds(RetryInterval()).count() / 2;
  int64_t next = g_nextReport.load();
  while (now >= next) {
    if (g_nextReport.compare_exchange_weak(next, now + gap)) return true;
  }
  return false;
}

std::string ADsDescribeFailure(const std::wstring& path) {
  ParsedPath parsed;
  const std::string named = ParsePath(path, parsed) ? NamedEffectiveUri(UriOfPath(parsed))
                                                    : ConfiguredUriWithoutUserPart(BytesFromWide(path));
  std::string text = "directory " + named + ", " + DescribeBind();
  if (t_lastError.code != 0) text += ": " + t_lastError.text;
  return text;
}

HRESULT ADsGetLastError(DWORD* error, wchar_t* text, DWORD textSize, wchar_t* provider, DWORD providerSize) {
  if (error == nullptr || text == nullptr || provider == nullptr || textSize == 0 || providerSize == 0) {
    return E_POINTER;
  }
  auto copy = [](const std::wstring& from, wchar_t* to, DWORD size) {
    const size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::wmemcpy(to, from.data(), n);
    to[n] = L'\0';
  };
  *error = t_lastError.code;
  copy(WideFromBytes(t_lastError.text), text, textSize);
  copy(L"LDAP Provider", provider, providerSize);
  return S_OK;
}

CADsTimeLimit::CADsTimeLimit() : m_outermost(!t_limited) {
  t_limited = true;
  if (m_outermost) t_lastError = LastError{};
}

CADsTimeLimit::CADsTimeLimit(std::chrono::milliseconds limit, const std::atomic<bool>* cut) : CADsTimeLimit() {
  if (!m_outermost) return;
  t_limitLength = limit;
  t_background = true;
  t_cut = cut;
}

CADsTimeLimit::~CADsTimeLimit() {
  if (m_outermost) {
    t_limited = false;
    t_deadline.reset();
    t_limitLength = std::chrono::seconds(kADsTimeLimitSeconds);
    t_background = false;
    t_cut = nullptr;
  }
}

CADsOneConnection::CADsOneConnection() { ++t_shared.depth; }

CADsOneConnection::~CADsOneConnection() {
  if (--t_shared.depth == 0) {
    t_shared.ld.reset();
    t_shared.uri.clear();
  }
}

void ADsSetRetryInterval(std::chrono::milliseconds interval) {
  SetRetryInterval(interval);
  g_nextReport.store(0);
}

void ADsSetRefusedRetryInterval(std::chrono::milliseconds interval) {
  SetRefusedRetryInterval(interval);
  g_nextReport.store(0);
}

void ADsSetKeptIdleAge(std::chrono::milliseconds age) { SetKeptIdleAge(age); }

void ADsForgetAnswerTimes() { ForgetAnswerTimes(); }
