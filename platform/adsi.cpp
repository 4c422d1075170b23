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
  std::string text = what + ": " + ldap_err2string(rc);
  char* diagnostic = nullptr;
  if (ld != nullptr && ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS &&
      diagnostic != nullptr) {
    if (*diagnostic != '\0') text += std::string(" (") + diagnostic + ")";
    ldap_memfree(diagnostic);
  }
  if (rc == LDAP_INVALID_CREDENTIALS) {
    text += "; credentials refused, the bind is tried again after " +
            std::to_string(RetryInterval().count() / 1000) + " s";
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

// What the thread's look-up saw of its directory: whether the directory
// answered it (a bind or any reply), and how many searches any thread had
// answered when it began.
thread_local bool t_answered = false;
thread_local uint64_t t_answersAtStart = 0;

void StartLookUp() {
  t_answered = false;
  t_answersAtStart = DirectorySearchesAnswered();
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
// dead or refusing directory starts its back-off, a slow one counts.
DirectoryVerdict ActOnFailure(const std::string& uri, int rc, bool probing) {
  DirectorySeen seen;
  seen.answeredThisLookUp = t_answered;
  seen.searchAnsweredMeanwhile = DirectorySearchesAnswered() != t_answersAtStart;
  seen.probing = probing;
  seen.slowInARow = DirectorySlowInARow();
  const DirectoryVerdict verdict = JudgeDirectory(TroubleOf(rc), seen);
  if (verdict == DirectoryVerdict::Dead || verdict == DirectoryVerdict::Refusing) {
    MarkUnreachable(uri, verdict == DirectoryVerdict::Refusing);
  } else if (verdict == DirectoryVerdict::Slow) {
    NoteDirectorySlow();
  }
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
  if (rest < std::chrono::milliseconds(1)) return false;
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
  // Never destroyed: a request may fail this way while the process exits.
  static const std::string& kUnreachableText =
      *new std::string("directory unreachable; retried after " + std::to_string(kADsRetryIntervalSeconds) + " s");
  static const std::string& kRefusedText = *new std::string(
      "credentials refused by the directory; retried after " + std::to_string(kADsRetryIntervalSeconds) + " s");
  const std::string& text = refused ? kRefusedText : kUnreachableText;
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
HRESULT ReadPassword(const BindConfig& config, std::string& password) {
  if (config.passwordFile == nullptr) return S_OK;
  std::string why;
  const HRESULT hr = DirectoryPassword(config.passwordFile, password, why);
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

// Waits at most `wait` for the whole answer of search `msgid`: its result
// code, LDAP_TIMEOUT, or the connection's failure. `result` holds what came.
int AwaitSearch(LDAP* ld, int msgid, timeval wait, LDAPMessage*& result) {
  result = nullptr;
  // libldap reads nothing within a wait of zero: a look without waiting
  // waits a millisecond.
  if (wait.tv_sec == 0 && wait.tv_usec < 1000) wait.tv_usec = 1000;
  const int got = ldap_result(ld, msgid, LDAP_MSG_ALL, &wait, &result);
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

// Whether search `msgid` has had its answer by now, without waiting.
int Poll(LDAP* ld, int msgid) {
  LDAPMessage* result = nullptr;
  const int rc = AwaitSearch(ld, msgid, timeval{}, result);
  if (result != nullptr) ldap_msgfree(result);
  return rc;
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
// the caller's to check. A failure is judged here (the back-off started when
// the directory is dead or refusing), unless `failed` takes its code for
// the caller to judge.
HRESULT Connect(const std::string& uri, LDAP** out, int* failed = nullptr) {
  *out = nullptr;
  if (failed != nullptr) *failed = LDAP_SUCCESS;
  InitialiseLibrary();
  auto judged = [&](int rc, LDAP* ld, const std::string& what) {
    const HRESULT hr = Fail(rc, ld, what);
    if (failed != nullptr) {
      *failed = rc;
    } else {
      ActOnFailure(uri, rc, false);
    }
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
    int rc = ldap_search_ext_s(m_ld, m_dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr,
                               &limit, 1, &result);
    if (Replied(rc)) NoteAnswered(true);
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
    return Settle(rc, asked, result);
  }

  // One search on the thread's kept connection. Closed by the server while
  // idle, it is opened again once. Silent past its KeptSilence, the search
  // is tried on a new connection; the kept one counts as dead, and every
  // thread's kept connection with it, only when it stays silent past its
  // DeadSilence while the new one answered. `reconnected` fails when no new
  // connection could be made.
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
    if (rc == LDAP_TIMEOUT) NoteAnswerTime(silence);  // it takes at least that long
    LDAP* silent = m_ld;
    LDAP* fresh = nullptr;
    int failed = LDAP_SUCCESS;
    m_generation = CurrentGeneration();
    reconnected = Connect(m_uri, &fresh, &failed);
    if (FAILED(reconnected)) {
      // A late reply on the kept connection shows a directory that answers.
      if (rc == LDAP_TIMEOUT && Replied(Poll(silent, msgid))) NoteAnswered(true);
      if (failed != LDAP_SUCCESS) ActOnFailure(m_uri, failed, m_probing);
      m_broken = true;
      return rc;
    }
    m_ld = fresh;
    const int retried = Search(filter, attributes, result);
    if (rc == LDAP_TIMEOUT && (retried == LDAP_SUCCESS || retried == LDAP_SIZELIMIT_EXCEEDED)) {
      JudgeSilent(silent, msgid, asked, silence);
    }
    ldap_unbind_ext_s(silent, nullptr, nullptr);
    return retried;
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

  // The verdict on the directory decides whether its back-off starts; a
  // connection that may still get a late reply is not kept.
  HRESULT FailCall(int rc, const std::string& what) {
    const HRESULT hr = Fail(rc, m_ld, what);
    if (ActOnFailure(m_uri, rc, m_probing) != DirectoryVerdict::Answering) m_broken = true;
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
  if (InBackOff(uri, t_background ? nullptr : &prober, &refused)) return BackOffFailure(refused);
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
  } else {
    hr = Connect(uri, &ld);
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
  if (!ParsePath(path, parsed) || !InBackOff(UriOfPath(parsed), nullptr, &refused)) return S_OK;
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

CADsTimeLimit::CADsTimeLimit(std::chrono::milliseconds limit) : CADsTimeLimit() {
  if (!m_outermost) return;
  t_limitLength = limit;
  t_background = true;
}

CADsTimeLimit::~CADsTimeLimit() {
  if (m_outermost) {
    t_limited = false;
    t_deadline.reset();
    t_limitLength = std::chrono::seconds(kADsTimeLimitSeconds);
    t_background = false;
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

void ADsSetKeptIdleAge(std::chrono::milliseconds age) { SetKeptIdleAge(age); }

void ADsForgetAnswerTimes() { ForgetAnswerTimes(); }
