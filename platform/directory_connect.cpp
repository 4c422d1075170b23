// The life of a directory connection: the look-up's limit, the thread's
// last failure, the bind and the password it sends, the waits on replies
// (watching a quiet kept connection meanwhile), keep-alive, and the
// connection the objects of one scope share.
#include "platform/directory_connect.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sasl/sasl.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_back_off.h"
#include "platform/directory_connections.h"
#include "platform/directory_deadline.h"
#include "platform/directory_health.h"
#include "platform/directory_password.h"
#include "platform/directory_reach.h"
#include "platform/directory_tls.h"
#include "platform/directory_uri_text.h"
#include "platform/sigpipe_hold.h"
#include "platform/standard_streams.h"


namespace {

constexpr DWORD ERROR_LOGON_FAILURE = 1326;
constexpr DWORD ERROR_DS_OPERATIONS_ERROR = 8224;
constexpr DWORD ERROR_DS_TIMELIMIT_EXCEEDED = 8226;
constexpr DWORD ERROR_DS_NO_SUCH_OBJECT = 8240;
constexpr DWORD ERROR_DS_INVALID_DN_SYNTAX = 8242;
constexpr DWORD ERROR_DS_SERVER_DOWN = 8250;
constexpr DWORD ERROR_DS_FILTER_UNKNOWN = 8254;
constexpr DWORD ERROR_DS_INSUFF_ACCESS_RIGHTS = 8344;

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

}  // namespace

LastError& ThreadLastError() { return t_lastError; }

std::string LibraryWords(int rc, LDAP* ld) {
  std::string text = ldap_err2string(rc);
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
  return text;
}

HRESULT FailText(int rc, const std::string& text) {
  if (rc == LDAP_NO_MEMORY) return E_OUTOFMEMORY;
  t_lastError.code = Win32OfLdap(rc);
  t_lastError.repeat = false;
  // The library's own words may name a URI too.
  t_lastError.text = UriWithoutUserPart(text);
  return HRESULT_FROM_WIN32(t_lastError.code);
}

HRESULT Fail(int rc, LDAP* ld, const std::string& what) { return FailText(rc, what + ": " + LibraryWords(rc, ld)); }

namespace {

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
// The start of the filter the look-up began in (DirectoryVerdictsRound).
thread_local uint64_t t_verdictsRound = 0;

}  // namespace

bool InLookUp() { return t_limited; }

bool IsBackgroundWork() { return t_background; }

bool AnsweredThisLookUp() { return t_answered; }

void StartLookUp() {
  t_answered = false;
  t_answersAtStart = DirectorySearchesAnswered();
  t_searchSilence = std::chrono::microseconds(0);
  t_verdictsRound = DirectoryVerdictsRound();
}

void NoteSearchSilence(std::chrono::steady_clock::time_point asked) {
  const auto silent = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - asked);
  t_searchSilence = std::max(t_searchSilence, silent);
}

void NoteAnswered(bool search) {
  t_answered = true;
  if (search) NoteDirectorySearchAnswered();
}

namespace {

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

}  // namespace

DirectoryVerdict ActOnFailure(const std::string& uri, int rc, bool probing, const CBindPasswordFile& bind) {
  // Work cut short by a shutdown ran out of nothing the directory did.
  if (WorkCut()) return DirectoryVerdict::Answering;
  // A look-up of a start that ended since judges nothing for the new one:
  // a refusal it saw may have been mended meanwhile.
  if (t_deadline && t_verdictsRound != DirectoryVerdictsRound()) return DirectoryVerdict::Answering;
  // A refused certificate stays refused until the set-up is mended: each
  // look-up would cost the directory a connection and two handshakes.
  if (rc == kCertificateRefused) {
    t_lastError.text = MarkCertificateRefused(uri, t_lastError.text);
    return DirectoryVerdict::Dead;
  }
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

CDeadline LookUpDeadline() {
  if (!t_limited) return CDeadline::After(std::chrono::seconds(kADsTimeLimitSeconds));
  if (!t_deadline) {
    t_deadline = std::chrono::steady_clock::now() + t_limitLength;
    StartLookUp();
  }
  return CDeadline(*t_deadline, t_cut);
}

bool RemainingTime(timeval& left) {
  const CDeadline deadline = LookUpDeadline();
  if (deadline.Over()) return false;
  left = deadline.LeftTimeval();
  return true;
}

HRESULT BackOffFailure(const std::string& uri, bool refused) {
  LastError& last = t_lastError;
  bool certificate = false;
  const std::string& text = BackOffWords(uri, refused, &certificate);
  // The code of the failure the back-off repeats.
  last.code = refused ? ERROR_LOGON_FAILURE : certificate ? Win32OfLdap(kCertificateRefused) : ERROR_DS_SERVER_DOWN;
  last.repeat = true;
  // Within a back-off the text is mostly there already.
  if (last.text != text) last.text = text;
  return HRESULT_FROM_WIN32(last.code);
}

std::string DefaultUri() {
  const char* uri = std::getenv("LDAPURI");
  return uri != nullptr ? uri : "";
}

std::string GlobalCatalogUri() {
  const char* uri = std::getenv("HX_LDAP_GC_URI");
  return uri != nullptr && *uri != '\0' ? uri : DefaultUri();
}

BindConfig ConfiguredBind(LDAP* ld) {
  BindConfig config;
  // libldap answers the SASL settings of a handle only: its process-wide
  // ones (SASL_MECH in ldap.conf or LDAPCONF's file, LDAPSASL_MECH) are read
  // through a handle that takes them, as every new connection's does.
  LDAP* scratch = nullptr;
  if (ld == nullptr && ldap_initialize(&scratch, nullptr) == LDAP_SUCCESS) ld = scratch;
  char* mechanism = nullptr;
  const bool sasl = ld != nullptr && ldap_get_option(ld, LDAP_OPT_X_SASL_MECH, &mechanism) == LDAP_OPT_SUCCESS &&
                    mechanism != nullptr && *mechanism != '\0';
  if (sasl) config.mechanism = mechanism;
  ldap_memfree(mechanism);
  if (scratch != nullptr) ldap_unbind_ext_s(scratch, nullptr, nullptr);
  if (sasl) return config;
  config.dn = std::getenv("HX_LDAP_BINDDN");
  config.passwordFile = std::getenv("HX_LDAP_PASSWORD_FILE");
  if (config.dn == nullptr || config.passwordFile == nullptr) config.dn = config.passwordFile = nullptr;
  return config;
}

namespace {

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

// The identities libldap's settings give a SASL bind (SASL_AUTHZID,
// SASL_AUTHCID and SASL_REALM, in ldap.conf or as LDAPSASL_AUTHZID and the
// like): libldap hands them to no mechanism by itself. Given through the
// interaction, the bind is made as the configured identity or fails, and
// is never made as the connection's own identity instead.
struct SaslIdentity {
  std::optional<std::string> authzid;
  std::optional<std::string> authcid;
  std::optional<std::string> realm;
};

std::optional<std::string> SaslSetting(LDAP* ld, int option) {
  char* value = nullptr;
  std::optional<std::string> setting;
  if (ldap_get_option(ld, option, &value) == LDAP_OPT_SUCCESS && value != nullptr) setting = value;
  ldap_memfree(value);
  return setting;
}

// Asks nobody: what is not configured stays unanswered, as the mechanism
// then does without it or fails (a password is never made up).
int QuietSaslInteraction(LDAP*, unsigned, void* defaults, void* prompts) {
  const auto& identity = *static_cast<const SaslIdentity*>(defaults);
  for (auto* prompt = static_cast<sasl_interact_t*>(prompts); prompt->id != SASL_CB_LIST_END; ++prompt) {
    const std::optional<std::string>* value = nullptr;
    if (prompt->id == SASL_CB_USER) value = &identity.authzid;
    if (prompt->id == SASL_CB_AUTHNAME) value = &identity.authcid;
    if (prompt->id == SASL_CB_GETREALM) value = &identity.realm;
    if (value == nullptr || !value->has_value()) continue;
    prompt->result = (*value)->c_str();
    prompt->len = static_cast<unsigned>((*value)->size());
  }
  return LDAP_SUCCESS;
}

std::atomic<int> g_readingDefaults{0};
std::atomic<bool> g_defaultsClosing{false};
constexpr int kDefaultsDrainMs = 1000;

void CloseLibraryDefaults() {
  g_defaultsClosing.store(true);
  for (int i = 0; i < kDefaultsDrainMs && g_readingDefaults.load() != 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

}  // namespace

CLibraryDefaults::CLibraryDefaults() {
  g_readingDefaults.fetch_add(1);
  m_open = !g_defaultsClosing.load();
}

CLibraryDefaults::~CLibraryDefaults() { g_readingDefaults.fetch_sub(1); }

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

namespace {

thread_local KeptWatch* t_watch = nullptr;

// How long a wait runs between looks at the watched search.
constexpr std::chrono::milliseconds kWatchSlice{20};

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

// Whether a wait for the bind turn is over: the watched kept search
// answered, or the work was cut.
bool TurnWaitOver() { return KeptAnsweredNow() || WorkCut(); }

}  // namespace

CWatchKept::CWatchKept(KeptWatch* watch) { t_watch = watch; }

CWatchKept::~CWatchKept() { t_watch = nullptr; }

void StopWatchingKept() { t_watch = nullptr; }

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

namespace {

// Waits for the result of `msgid` until `step`.
int WaitResult(LDAP* ld, int msgid, LDAPMessage** result, const CDeadline& step) {
  if (step.Over()) return LDAP_TIMEOUT;
  const int got = WatchedResult(ld, msgid, step.LeftTimeval(), result);
  if (got == kKeptAnswered) return kKeptAnswered;
  if (got == 0) return LDAP_TIMEOUT;
  if (got > 0) return LDAP_SUCCESS;
  int rc = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
  return rc;
}

// A simple bind whose answer is awaited until `step`: a bind going out
// alone holds the other threads' binds.
int SimpleBind(LDAP* ld, const char* dn, berval* credentials, const CDeadline& step) {
  int msgid = 0;
  int rc = ldap_sasl_bind(ld, dn, LDAP_SASL_SIMPLE, credentials, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  LDAPMessage* result = nullptr;
  rc = WaitResult(ld, msgid, &result, step);
  if (rc != LDAP_SUCCESS) return rc;
  int answer = LDAP_OTHER;
  rc = ldap_parse_result(ld, result, &answer, nullptr, nullptr, nullptr, nullptr, 1);
  return rc != LDAP_SUCCESS ? rc : answer;
}

int Bind(LDAP* ld, const BindConfig& config, std::string& password, const CDeadline& step) {
  if (!config.mechanism.empty()) {
    // libldap waits for each SASL step by itself: the watch ends it at the
    // step's deadline.
    int fd = -1;
    ldap_get_option(ld, LDAP_OPT_DESC, &fd);
    std::optional<CStepWatch> watch;
    if (fd >= 0) watch.emplace(fd, step);
    SaslIdentity identity{SaslSetting(ld, LDAP_OPT_X_SASL_AUTHZID), SaslSetting(ld, LDAP_OPT_X_SASL_AUTHCID),
                          SaslSetting(ld, LDAP_OPT_X_SASL_REALM)};
    const int rc = ldap_sasl_interactive_bind_s(ld, nullptr, config.mechanism.c_str(), nullptr, nullptr,
                                                LDAP_SASL_QUIET, QuietSaslInteraction, &identity);
    return rc != LDAP_SUCCESS && watch && watch->Fired() ? LDAP_TIMEOUT : rc;
  }
  berval credentials{static_cast<ber_len_t>(password.size()), password.data()};
  // Also an anonymous bind goes out now: an unreachable directory shows here.
  return SimpleBind(ld, config.dn, &credentials, step);
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

}  // namespace

namespace {

// The host of a URI list that answered last, by list: new connections try
// it first, so that a list whose first host is lost costs one look-up its
// share of the limit, not every look-up.
std::mutex g_firstHostLock;
std::map<std::string, size_t>& g_firstHost = *new std::map<std::string, size_t>;

size_t FirstHost(const std::string& uri, size_t count) {
  std::lock_guard<std::mutex> hold(g_firstHostLock);
  auto it = g_firstHost.find(uri);
  return it == g_firstHost.end() || it->second >= count ? 0 : it->second;
}

void NoteFirstHost(const std::string& uri, size_t index) {
  std::lock_guard<std::mutex> hold(g_firstHostLock);
  g_firstHost[uri] = index;
}

// How one host of the list ended: libldap's code (kCertificateRefused for
// a refused certificate) and what happened, for the failure's text.
struct HostOutcome {
  int rc = LDAP_SUCCESS;
  std::string why;
};

// A connection to `host`, reached and secured within `step`, with the
// module's options; null with `outcome` when it could not be made.
LDAP* OpenHost(const DirectoryHost& host, const CDeadline& step, HostOutcome& outcome) {
  LDAP* ld = nullptr;
  int fd = -1;
  const bool local = strcasecmp(host.scheme.c_str(), "ldapi") == 0 || strcasecmp(host.scheme.c_str(), "cldap") == 0;
  if (!local) {
    std::string why;
    fd = ConnectToHost(host.host, host.port, step, why);
    if (fd < 0) {
      outcome.rc = step.Over() ? LDAP_TIMEOUT : LDAP_SERVER_DOWN;
      outcome.why = std::string(ldap_err2string(outcome.rc)) + " (" + why + ")";
      return nullptr;
    }
  }
  {
    CLibraryDefaults defaults;
    outcome.rc = !defaults.Open() ? LDAP_UNAVAILABLE
                 : local          ? ldap_initialize(&ld, host.url.c_str())
                                  : ldap_init_fd(fd, kLdapProtoTcp, host.url.c_str(), &ld);
  }
  if (outcome.rc != LDAP_SUCCESS) {
    if (fd >= 0) close(fd);
    outcome.why = std::string("ldap_initialize: ") + ldap_err2string(outcome.rc);
    return nullptr;
  }
  const int version = LDAP_VERSION3;
  const int seconds = kADsTimeLimitSeconds;
  const int entries = kADsSizeLimit;
  timeval wait = step.LeftTimeval();
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  // A signal that reaches the thread while libldap waits is no answer of
  // the directory's: the wait goes on within its time-out.
  ldap_set_option(ld, LDAP_OPT_RESTART, LDAP_OPT_ON);
  // libldap's own network time-out turns its TLS handshake non-blocking,
  // where it may spin: the handshake blocks, and the step's watch ends it.
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, local ? &wait : nullptr);
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &wait);
  ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &seconds);
  ldap_set_option(ld, LDAP_OPT_SIZELIMIT, &entries);
  if (!local) {
    outcome.rc = SecureConnection(ld, fd, host, step, outcome.why);
    if (outcome.rc != LDAP_SUCCESS) {
      if (outcome.rc == LDAP_TIMEOUT) PassOverAddress(host.host, fd);
      ldap_unbind_ext_s(ld, nullptr, nullptr);
      return nullptr;
    }
  } else if (strcasecmp(host.scheme.c_str(), "ldapi") == 0) {
    // libldap makes a local socket that blocks: made now, it stops
    // blocking, as ConnectToHost's do, before anything is read from it.
    {
      // The connection is kept: never as one of the standard streams.
      CStandardStreamsHeld held;
      outcome.rc = ldap_connect(ld);
    }
    if (outcome.rc == LDAP_SUCCESS && ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS && fd >= 0) {
      fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    } else if (outcome.rc != LDAP_SUCCESS) {
      outcome.why = LibraryWords(outcome.rc, ld);
      ldap_unbind_ext_s(ld, nullptr, nullptr);
      return nullptr;
    }
  }
  return ld;
}

// The failure of every host tried: certificate refusals (the directory
// answered) before time-outs before hosts not reached.
int WorstOf(int kept, int next) {
  auto rank = [](int rc) { return rc == kCertificateRefused || Replied(rc) ? 2 : rc == LDAP_TIMEOUT ? 1 : 0; };
  return rank(next) >= rank(kept) ? next : kept;
}

}  // namespace

HRESULT Connect(const std::string& uri, LDAP** out, ConnectFailure* failed, bool probing) {
  *out = nullptr;
  if (failed != nullptr) *failed = ConnectFailure{};
  InitialiseLibrary();
  CBindPasswordFile bindFile;
  auto judged = [&](int rc, const std::string& text) {
    const HRESULT hr = FailText(rc, text);
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
  // Reaching the directory and binding take a request's limit at most, also
  // for work with a longer one: a bind may hold the others'.
  const CDeadline reach = LookUpDeadline().AtMost(std::chrono::seconds(kADsTimeLimitSeconds));
  if (reach.Over()) return judged(LDAP_TIMEOUT, "bind " + named + ": " + ldap_err2string(LDAP_TIMEOUT));
  std::string uris = uri;
  BindConfig config;
  {
    CLibraryDefaults defaults;
    if (!defaults.Open()) return Fail(LDAP_UNAVAILABLE, nullptr, "ldap_initialize: the process is exiting");
    char* configured = nullptr;
    if (uris.empty() && ldap_get_option(nullptr, LDAP_OPT_URI, &configured) == LDAP_OPT_SUCCESS &&
        configured != nullptr) {
      uris = configured;
      ldap_memfree(configured);
    }
    config = ConfiguredBind(nullptr);
  }
  std::vector<DirectoryHost> hosts;
  std::string unreadableUri;
  if (!DirectoryHostsOf(uris.empty() ? "ldap://localhost/" : uris, hosts, unreadableUri)) {
    return FailText(LDAP_PARAM_ERROR, "ldap_initialize " + named + ": " + unreadableUri);
  }
  std::string password;
  HRESULT unreadable = ReadPassword(config, password, bindFile);
  if (FAILED(unreadable)) return unreadable;
  // A password refused lately is not sent again: lock-out policies count
  // every refused bind.
  if (RefusedAlready(uri, bindFile, probing)) return BackOffFailure(uri, true);
  const size_t first = FirstHost(uri, hosts.size());
  std::optional<CBindTurn> turn;
  std::string failures;
  std::string lastWhy;
  int worst = LDAP_SERVER_DOWN;
  for (size_t n = 0; n < hosts.size(); ++n) {
    turn.reset();
    const size_t index = (first + n) % hosts.size();
    const DirectoryHost& host = hosts[index];
    // The hosts left share the time left: a silent one leaves the next its share.
    const CDeadline step = reach.Share(static_cast<int>(hosts.size() - n));
    const std::string hostNamed = ConfiguredUriWithoutUserPart(host.url);
    HostOutcome outcome;
    LDAP* ld = OpenHost(host, step, outcome);
    int rc = outcome.rc;
    if (ld != nullptr) {
      // Resolution, connection and TLS came first: only the bind holds the
      // turn, and the judgement of the last failure (which waiting binds
      // then see).
      bool refused = false;
      // A kept search that answers meanwhile, or a shutdown, ends the wait.
      bool (*over)() = t_watch != nullptr || t_cut != nullptr ? &TurnWaitOver : nullptr;
      const CBindTurn::Outcome taken = turn.emplace().Take(step.At(), bindFile, uri, probing, &refused, over);
      // Another thread's first bind outlasted this host's share (a silent
      // host holds it): the next host gets what is left.
      if (taken == CBindTurn::Outcome::TimedOut && n + 1 < hosts.size()) {
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        failures += (failures.empty() ? "" : "; ") + hostNamed + ": " + ldap_err2string(LDAP_TIMEOUT);
        worst = n == 0 ? LDAP_TIMEOUT : WorstOf(worst, LDAP_TIMEOUT);
        continue;
      }
      if (taken == CBindTurn::Outcome::GivenUp) {
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        if (WorkCut()) return FailText(LDAP_TIMEOUT, "bind " + named + ": " + ldap_err2string(LDAP_TIMEOUT));
        if (failed != nullptr) failed->rc = kKeptAnswered;
        return E_FAIL;
      }
      if (taken != CBindTurn::Outcome::Go) {
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        return taken == CBindTurn::Outcome::TimedOut
                   ? FailText(LDAP_TIMEOUT, "bind " + named + ": " + ldap_err2string(LDAP_TIMEOUT))
                   : BackOffFailure(uri, refused);
      }
      rc = Bind(ld, config, password, step);
      if (rc == LDAP_SUCCESS) {
        turn->Accepted(bindFile);
        NoteAnswered(false);
        KeepAlive(ld);
        if (index != first) NoteFirstHost(uri, index);
        *out = ld;
        return S_OK;
      }
      if (rc == kKeptAnswered) {
        ldap_unbind_ext_s(ld, nullptr, nullptr);
        if (failed != nullptr) failed->rc = kKeptAnswered;
        return E_FAIL;
      }
      // A refusal is an answer too; the verdict tells it apart.
      if (Replied(rc)) NoteAnswered(false);
      int fd = -1;
      if (rc == LDAP_TIMEOUT && ldap_get_option(ld, LDAP_OPT_DESC, &fd) == LDAP_OPT_SUCCESS) {
        PassOverAddress(host.host, fd);
      }
      // A SASL bind that fails is not made with a lower identity: the
      // failure names the mechanism the configuration asks for.
      outcome.why = (config.mechanism.empty() ? "" : "SASL bind with mechanism " + config.mechanism + " failed: ") +
                    LibraryWords(rc, ld);
      ldap_unbind_ext_s(ld, nullptr, nullptr);
    }
    failures += (failures.empty() ? "" : "; ") + hostNamed + ": " + outcome.why;
    lastWhy = outcome.why;
    worst = n == 0 ? rc : WorstOf(worst, rc);
    // Refused credentials are the same on every host of the list: another
    // refusal would only count against the account.
    if (rc == LDAP_INVALID_CREDENTIALS || reach.Over()) break;
  }
  // One host is named as configured; a list names each host and how it failed.
  return judged(worst, "bind " + (hosts.size() > 1 ? failures : named + ": " + lastWhy));
}

namespace {

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

}  // namespace

std::shared_ptr<LDAP> TakeShared(const std::string& uri) {
  return t_shared.depth > 0 && t_shared.ld && t_shared.uri == uri ? t_shared.ld : nullptr;
}

std::shared_ptr<LDAP> Share(const std::string& uri, LDAP* ld) {
  if (t_shared.depth == 0) return nullptr;
  t_shared.uri = uri;
  t_shared.ld = std::shared_ptr<LDAP>(ld, &Unbind);
  return t_shared.ld;
}

void ForgetShared(const LDAP* ld) {
  if (t_shared.ld.get() == ld) t_shared.ld.reset();
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
