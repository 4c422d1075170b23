#include "platform/adsi.h"

#include <ldap.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/coarse_clock.h"
#include "platform/sigpipe_hold.h"
#include "platform/thread_local_instance.h"
#include "platform/wide_text.h"

namespace {

constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
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
  t_lastError.text = what + ": " + ldap_err2string(rc);
  char* diagnostic = nullptr;
  if (ld != nullptr && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
      diagnostic != nullptr) {
    if (*diagnostic != '\0') t_lastError.text += std::string(" (") + diagnostic + ")";
    ldap_memfree(diagnostic);
  }
  return HRESULT_FROM_WIN32(t_lastError.code);
}

bool IsUnreachable(int rc) { return rc == LDAP_SERVER_DOWN || rc == LDAP_CONNECT_ERROR || rc == LDAP_TIMEOUT; }

// A directory that could not be reached: connections to it fail at once
// until `until`; then one thread probes it (`probing`) while the others go on
// failing at once until that probe has its answer.
struct Unreachable {
  CoarseSteadyClock::time_point until;
  bool probing = false;
};

// Directories that could not be reached, by URI.
std::mutex g_backOffLock;
// Never destroyed: a request may look a directory up while the process exits.
std::map<std::string, Unreachable>& g_unreachableUntil = *new std::map<std::string, Unreachable>;
// How many directories the map holds, readable without the lock: while it
// is 0 no connection can be in its back-off.
std::atomic<size_t> g_unreachableCount{0};
// Counts the changes of the map, so that a thread can tell without the lock
// that an entry it found is still there as it was.
std::atomic<uint64_t> g_unreachableChanges{0};

// Called under the lock after each change of the map.
void NoteBackOffChange() {
  g_unreachableCount.store(g_unreachableUntil.size(), std::memory_order_relaxed);
  g_unreachableChanges.fetch_add(1, std::memory_order_release);
}

// The back-off this thread found last. While the directory is lost every
// request thread asks for it: they need not all queue for the lock.
struct KnownBackOff {
  bool set = false;
  std::string uri;
  CoarseSteadyClock::time_point until;
  uint64_t changes = 0;
};

KnownBackOff& ThreadBackOff() { return ThreadLocalInstance<KnownBackOff>(); }

// Whether connections to `uri` fail at once now. When its back-off has
// lapsed and `prober` is given, the calling thread becomes the one that
// probes the directory (*prober true) and must end the probe (EndProbe or
// MarkUnreachable); without `prober` a lapsed back-off only reads as over.
bool InBackOff(const std::string& uri, bool* prober) {
  if (prober != nullptr) *prober = false;
  KnownBackOff& known = ThreadBackOff();
  if (known.set && known.changes == g_unreachableChanges.load(std::memory_order_acquire) &&
      CoarseSteadyClock::now() < known.until && known.uri == uri) {
    return true;
  }
  std::lock_guard<std::mutex> hold(g_backOffLock);
  auto it = g_unreachableUntil.find(uri);
  if (it == g_unreachableUntil.end()) return false;
  const bool waiting = it->second.probing || CoarseSteadyClock::now() < it->second.until;
  if (waiting) {
    known.set = true;
    known.uri = uri;
    // A probe ends with a change of the map, which this thread then sees.
    known.until = it->second.probing ? CoarseSteadyClock::time_point::max() : it->second.until;
    known.changes = g_unreachableChanges.load(std::memory_order_relaxed);
    return true;
  }
  if (prober == nullptr) return false;
  it->second.probing = true;
  NoteBackOffChange();
  *prober = true;
  return false;
}

std::atomic<int64_t> g_retryIntervalMs{kADsRetryIntervalSeconds * int64_t{1000}};

// Connections carry the generation current when they were opened. A new
// generation starts when a directory is lost, when it answers again and when
// a kept connection is found dead: whatever went wrong then went wrong for
// every thread's kept connection, and each thread drops its own before it
// would wait on it.
std::atomic<uint64_t> g_connectionGeneration{1};

uint64_t CurrentGeneration() { return g_connectionGeneration.load(std::memory_order_acquire); }

uint64_t NewGeneration() { return g_connectionGeneration.fetch_add(1, std::memory_order_acq_rel) + 1; }

// Starts (or starts again) the back-off of `uri`; a probe running ends.
void MarkUnreachable(const std::string& uri) {
  const std::chrono::milliseconds interval(g_retryIntervalMs.load(std::memory_order_relaxed));
  {
    std::lock_guard<std::mutex> hold(g_backOffLock);
    g_unreachableUntil[uri] = Unreachable{CoarseSteadyClock::now() + interval};
    NoteBackOffChange();
  }
  NewGeneration();
}

// The probe of `uri` had an answer: the directory is reachable again. The
// new generation, or 0 when the probe ended in a new back-off.
uint64_t EndProbe(const std::string& uri) {
  {
    std::lock_guard<std::mutex> hold(g_backOffLock);
    auto it = g_unreachableUntil.find(uri);
    if (it == g_unreachableUntil.end() || !it->second.probing) return 0;
    g_unreachableUntil.erase(it);
    NoteBackOffChange();
  }
  return NewGeneration();
}

// Ends the calling thread's probe on every way out, unless handed on.
class CProbe {
 public:
  CProbe(std::string uri, bool active) : m_uri(std::move(uri)), m_active(active) {}
  ~CProbe() {
    if (m_active) EndProbe(m_uri);
  }
  CProbe(const CProbe&) = delete;
  CProbe& operator=(const CProbe&) = delete;
  // Whether this thread probes; from now on the caller ends the probe.
  bool HandOn() {
    const bool active = m_active;
    m_active = false;
    return active;
  }

 private:
  std::string m_uri;
  bool m_active;
};

// Whether the calling thread is in a look-up (CADsTimeLimit), and that
// look-up's deadline, fixed by its first directory operation: a look-up that
// goes no further than the back-off reads no clock.
thread_local bool t_limited = false;
thread_local std::optional<std::chrono::steady_clock::time_point> t_deadline;

// What is left for one more operation: of the thread's look-up, else a whole
// time limit. False when nothing is left.
bool RemainingTime(timeval& left) {
  using std::chrono::microseconds;
  microseconds rest = std::chrono::seconds(kADsTimeLimitSeconds);
  if (t_limited) {
    const auto now = std::chrono::steady_clock::now();
    if (!t_deadline) t_deadline = now + std::chrono::seconds(kADsTimeLimitSeconds);
    rest = std::chrono::duration_cast<microseconds>(*t_deadline - now);
  }
  if (rest < std::chrono::milliseconds(1)) return false;
  left.tv_sec = static_cast<time_t>(rest.count() / 1000000);
  left.tv_usec = static_cast<suseconds_t>(rest.count() % 1000000);
  return true;
}

// How long the directory takes to answer a search, smoothed over the last
// few answers, in microseconds.
std::atomic<int64_t> g_answerMicros{0};
constexpr int kKeptSilenceFactor = 10;

void NoteAnswerTime(std::chrono::steady_clock::duration took) {
  const int64_t sample = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
  const int64_t smoothed = g_answerMicros.load(std::memory_order_relaxed);
  g_answerMicros.store(smoothed + (sample - smoothed) / 8, std::memory_order_relaxed);
}

// Of `left`, what a kept connection may stay silent before it is taken for
// dead: many times the directory's usual answer, at least
// kADsKeptSilenceMinMs, and at most half, so that a new connection can still
// answer within the look-up's limit.
timeval KeptSilence(const timeval& left) {
  using std::chrono::microseconds;
  const microseconds rest = std::chrono::seconds(left.tv_sec) + microseconds(left.tv_usec);
  microseconds allowed(g_answerMicros.load(std::memory_order_relaxed) * kKeptSilenceFactor);
  allowed = std::max<microseconds>(allowed, std::chrono::milliseconds(kADsKeptSilenceMinMs));
  allowed = std::min<microseconds>(allowed, rest / 2);
  timeval cut{};
  cut.tv_sec = static_cast<time_t>(allowed.count() / 1000000);
  cut.tv_usec = static_cast<suseconds_t>(allowed.count() % 1000000);
  return cut;
}

// The failure of a connection refused because its directory is in its
// back-off; it repeats the failure reported when the directory was lost.
HRESULT BackOffFailure() {
  LastError& last = t_lastError;
  last.code = ERROR_DS_SERVER_DOWN;
  last.repeat = true;
  // Never destroyed: a request may fail this way while the process exits.
  static const std::string& kBackOffText =
      *new std::string("directory unreachable; retried after " + std::to_string(kADsRetryIntervalSeconds) + " s");
  // Within a back-off the text is mostly there already.
  if (last.text != kBackOffText) last.text = kBackOffText;
  return HRESULT_FROM_WIN32(ERROR_DS_SERVER_DOWN);
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

// The first line of the password file; false (errno set) when it cannot be
// opened.
bool ReadFirstLine(const char* path, std::string& line) {
  std::ifstream in(path);
  if (!in) return false;
  std::getline(in, line);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return true;
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

// The password of a simple bind. A file that cannot be read is a failure of
// its own: a bind without the password would be refused (or, worse, taken as
// an anonymous one) and the reason lost.
HRESULT ReadPassword(const BindConfig& config, std::string& password) {
  if (config.passwordFile == nullptr || ReadFirstLine(config.passwordFile, password)) return S_OK;
  const int error = errno;
  t_lastError.code = error == EACCES ? ERROR_ACCESS_DENIED : ERROR_FILE_NOT_FOUND;
  t_lastError.repeat = false;
  t_lastError.text = std::string("password file ") + config.passwordFile + ": " + std::strerror(error);
  return HRESULT_FROM_WIN32(t_lastError.code);
}

int QuietSaslInteraction(LDAP*, unsigned, void*, void*) { return LDAP_SUCCESS; }

// libldap sets up its process-wide defaults on first use, unguarded: the
// first use must not happen on two request threads at once.
void InitialiseLibrary() {
  static std::once_flag initialised;
  std::call_once(initialised, [] {
    int level = 0;
    ldap_get_option(nullptr, LDAP_OPT_DEBUG_LEVEL, &level);
  });
}

// Waits for the result of `msgid` within what is left of the limit.
int WaitResult(LDAP* ld, int msgid, LDAPMessage** result) {
  timeval left{};
  if (!RemainingTime(left)) return LDAP_TIMEOUT;
  const int got = ldap_result(ld, msgid, LDAP_MSG_ALL, &left, result);
  if (got == 0) return LDAP_TIMEOUT;
  if (got > 0) return LDAP_SUCCESS;
  int rc = LDAP_OTHER;
  ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
  return rc;
}

// A simple bind whose answer is awaited within what is left of the limit.
int SimpleBind(LDAP* ld, const char* dn, berval* credentials) {
  int msgid = 0;
  int rc = ldap_sasl_bind(ld, dn, LDAP_SASL_SIMPLE, credentials, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  LDAPMessage* result = nullptr;
  rc = WaitResult(ld, msgid, &result);
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

// A new bound connection within what is left of the limit; the back-off is
// the caller's to check.
HRESULT Connect(const std::string& uri, LDAP** out) {
  *out = nullptr;
  InitialiseLibrary();
  timeval limit{};
  if (!RemainingTime(limit)) {
    MarkUnreachable(uri);
    return Fail(LDAP_TIMEOUT, nullptr, "bind " + uri);
  }
  LDAP* ld = nullptr;
  int rc = ldap_initialize(&ld, uri.empty() ? nullptr : uri.c_str());
  if (rc != LDAP_SUCCESS) return Fail(rc, nullptr, "ldap_initialize " + uri);
  const BindConfig config = ConfiguredBind(ld);
  std::string password;
  HRESULT unreadable = ReadPassword(config, password);
  if (FAILED(unreadable)) {
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return unreadable;
  }
  const int version = LDAP_VERSION3;
  const int seconds = kADsTimeLimitSeconds;
  const int entries = kADsSizeLimit;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  ldap_set_option(ld, LDAP_OPT_REFERRALS, LDAP_OPT_OFF);
  ldap_set_option(ld, LDAP_OPT_NETWORK_TIMEOUT, &limit);
  ldap_set_option(ld, LDAP_OPT_TIMEOUT, &limit);
  ldap_set_option(ld, LDAP_OPT_TIMELIMIT, &seconds);
  ldap_set_option(ld, LDAP_OPT_SIZELIMIT, &entries);
  rc = Bind(ld, config, password);
  if (rc != LDAP_SUCCESS) {
    HRESULT hr = Fail(rc, ld, "bind " + uri);
    if (IsUnreachable(rc)) MarkUnreachable(uri);
    ldap_unbind_ext_s(ld, nullptr, nullptr);
    return hr;
  }
  KeepAlive(ld);
  *out = ld;
  return S_OK;
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

// The catalog connection a thread keeps between look-ups, with the search
// base the catalog's root named, so that a look-up on it is one search.
struct CKeptConnection {
  LDAP* ld = nullptr;
  std::string uri;
  std::string base;
  uint64_t generation = 0;
  CoarseSteadyClock::time_point idleSince;

  CKeptConnection() = default;
  CKeptConnection(const CKeptConnection&) = delete;
  CKeptConnection& operator=(const CKeptConnection&) = delete;
  ~CKeptConnection() { Drop(); }
  void Drop() {
    // Unbinding writes to a connection the directory may have closed.
    if (ld != nullptr) {
      CSigPipeHold pipeHold;
      ldap_unbind_ext_s(ld, nullptr, nullptr);
    }
    ld = nullptr;
  }
};

CKeptConnection& ThreadConnection() { return ThreadLocalInstance<CKeptConnection>(); }

// The search base each catalog's root named, by URI: read on the first
// connection only, so that a new connection costs a bind and no more.
// Never destroyed: a request may look a directory up while the process exits.
std::mutex g_catalogBaseLock;
std::map<std::string, std::string>& g_catalogBase = *new std::map<std::string, std::string>;

bool KnownCatalogBase(const std::string& uri, std::string& base) {
  std::lock_guard<std::mutex> hold(g_catalogBaseLock);
  auto it = g_catalogBase.find(uri);
  if (it == g_catalogBase.end()) return false;
  base = it->second;
  return true;
}

void NoteCatalogBase(const std::string& uri, const std::string& base) {
  std::lock_guard<std::mutex> hold(g_catalogBaseLock);
  g_catalogBase[uri] = base;
}

// Whether an idle connection has something to read: the server closed it
// or said it would. Either way it is not used again.
bool PeerClosed(LDAP* ld) {
  int fd = -1;
  if (ldap_get_option(ld, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0) return true;
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  return poll(&p, 1, 0) != 0;
}

// One bound object with its own connection; both interfaces in one. A
// catalog object takes its connection from the thread's kept one (`reused`)
// and gives it back when released in good order.
class CDirectoryObject final : public IADs, public IDirectorySearch {
 public:
  CDirectoryObject(LDAP* ld, std::string uri, std::string dn, uint64_t generation, bool reused = false)
      : m_ld(ld), m_uri(std::move(uri)), m_dn(std::move(dn)), m_generation(generation), m_reused(reused) {}

  // The connection goes back to the thread when the object is released.
  void KeepConnection() { m_keep = true; }
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
    int rc = ldap_search_ext_s(m_ld, m_dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr,
                               &limit, 1, &result);
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
    int rc = Search(filterText, asked, search->result, reused);
    if (reused && (rc == LDAP_SERVER_DOWN || rc == LDAP_TIMEOUT)) {
      // Closed by the server while idle, or lost silently: opened again
      // once before the directory counts as unreachable.
      HRESULT hr = Reconnect();
      if (FAILED(hr)) return SettleProbe(hr);
      // A new connection answered where the kept one did not: the other
      // threads' kept connections are as dead as this one was.
      if (rc == LDAP_TIMEOUT) m_generation = NewGeneration();
      rc = Search(filterText, asked, search->result, false);
    }
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
    if (m_ld != nullptr) {
      CSigPipeHold pipeHold;
      ldap_unbind_ext_s(m_ld, nullptr, nullptr);
    }
  }

  // One search within what is left of the limit (on a kept connection,
  // within its KeptSilence); `result` holds what came back (freed here on
  // failure).
  int Search(const std::string& filter, char** attributes, LDAPMessage*& result, bool kept) {
    result = nullptr;
    timeval limit{};
    if (!RemainingTime(limit)) return LDAP_TIMEOUT;
    if (kept) limit = KeptSilence(limit);
    CSigPipeHold pipeHold;
    const auto asked = std::chrono::steady_clock::now();
    int rc = ldap_search_ext_s(m_ld, m_dn.c_str(), m_scope, filter.c_str(), attributes, 0, nullptr, nullptr, &limit,
                               kADsSizeLimit, &result);
    const bool answered = rc == LDAP_SUCCESS || rc == LDAP_SIZELIMIT_EXCEEDED;
    if (answered) NoteAnswerTime(std::chrono::steady_clock::now() - asked);
    if (!answered && result != nullptr) {
      ldap_msgfree(result);
      result = nullptr;
    }
    return rc;
  }

  HRESULT Reconnect() {
    CSigPipeHold pipeHold;
    LDAP* fresh = nullptr;
    m_generation = CurrentGeneration();
    HRESULT hr = Connect(m_uri, &fresh);
    if (FAILED(hr)) {
      m_broken = true;
      return hr;
    }
    ldap_unbind_ext_s(m_ld, nullptr, nullptr);
    m_ld = fresh;
    return S_OK;
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

  // A directory that stops answering in the middle is unreachable as well;
  // a connection that may still get a late reply is not kept.
  HRESULT FailCall(int rc, const std::string& what) {
    if (IsUnreachable(rc)) {
      MarkUnreachable(m_uri);
      m_broken = true;
    }
    return Fail(rc, m_ld, what);
  }

  LDAP* m_ld;
  std::string m_uri;
  std::string m_dn;
  uint64_t m_generation;
  bool m_reused;
  bool m_keep = false;
  bool m_broken = false;
  bool m_probing = false;
  int m_scope = LDAP_SCOPE_SUBTREE;
  std::map<std::string, Values> m_properties;
};

std::string UriOfPath(const ParsedPath& parsed) {
  return parsed.globalCatalog ? GlobalCatalogUri() : parsed.server.empty() ? DefaultUri() : "ldap://" + parsed.server;
}

std::atomic<int64_t> g_keptIdleMs{kADsKeptIdleSeconds * int64_t{1000}};

// Whether a kept connection may be used again: to the same directory, of
// the current generation, not idle too long and not closed by the server.
bool KeptUsable(const CKeptConnection& kept, const std::string& uri) {
  const std::chrono::milliseconds idleAge(g_keptIdleMs.load(std::memory_order_relaxed));
  return kept.uri == uri && kept.generation == CurrentGeneration() &&
         CoarseSteadyClock::now() - kept.idleSince < idleAge && !PeerClosed(kept.ld);
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
  if (InBackOff(uri, &prober)) return BackOffFailure();
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
  HRESULT hr = Connect(uri, &ld);
  if (FAILED(hr)) return hr;
  auto* opened = new CDirectoryObject(ld, uri, parsed.dn, generation);
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
  if (g_unreachableCount.load(std::memory_order_relaxed) == 0) return S_OK;
  ParsedPath parsed;
  if (!ParsePath(path, parsed) || !InBackOff(UriOfPath(parsed), nullptr)) return S_OK;
  return BackOffFailure();
}

bool ADsLastFailureIsRepeat() { return t_lastError.repeat; }

namespace {

// When the next failure may be claimed for a report, on the coarse clock.
std::atomic<int64_t> g_nextReport{0};

// A URI without what may precede "@" in its server part.
std::string WithoutUserPart(std::string uri) {
  for (size_t at = uri.find("://"); at != std::string::npos; at = uri.find("://", at)) {
    at += 3;
    const size_t end = uri.find_first_of("/ ,", at);
    const size_t sign = uri.find('@', at);
    if (sign != std::string::npos && sign < end) uri.erase(at, sign + 1 - at);
  }
  return uri;
}

// The URI libldap connects to for a path without a server of its own.
std::string EffectiveUri(const std::string& uri) {
  if (!uri.empty()) return uri;
  InitialiseLibrary();
  char* configured = nullptr;
  std::string text = "libldap's default";
  if (ldap_get_option(nullptr, LDAP_OPT_URI, &configured) == LDAP_OPT_SUCCESS && configured != nullptr) {
    text += " " + std::string(configured);
    ldap_memfree(configured);
  }
  return text;
}

std::string DescribeBind() {
  InitialiseLibrary();
  const BindConfig config = ConfiguredBind(nullptr);
  if (!config.mechanism.empty()) return "SASL mechanism " + config.mechanism;
  if (config.dn == nullptr) return "anonymous bind";
  return "bind name " + std::string(config.dn) + ", password file " + config.passwordFile;
}

}  // namespace

bool ADsClaimFailureReport() {
  if (t_lastError.repeat) return false;
  const int64_t now = CoarseSteadyClock::now().time_since_epoch().count();
  const int64_t gap = std::chrono::nanoseconds(std::chrono::milliseconds(g_retryIntervalMs.load())).count() / 2;
  int64_t next = g_nextReport.load();
  while (now >= next) {
    if (g_nextReport.compare_exchange_weak(next, now + gap)) return true;
  }
  return false;
}

std::string ADsDescribeFailure(const std::wstring& path) {
  ParsedPath parsed;
  const std::string uri = ParsePath(path, parsed) ? EffectiveUri(UriOfPath(parsed)) : BytesFromWide(path);
  std::string text = "directory " + WithoutUserPart(uri) + ", " + DescribeBind();
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

CADsTimeLimit::~CADsTimeLimit() {
  if (m_outermost) {
    t_limited = false;
    t_deadline.reset();
  }
}

void ADsSetRetryInterval(std::chrono::milliseconds interval) {
  g_retryIntervalMs.store(interval.count(), std::memory_order_relaxed);
  g_nextReport.store(0);
}

void ADsSetKeptIdleAge(std::chrono::milliseconds age) { g_keptIdleMs.store(age.count(), std::memory_order_relaxed); }
