// TLS on new directory connections, and what a refused certificate lacked.
#include "platform/directory_tls.h"

#include <dirent.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <gnutls/x509.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <algorithm>
#include <ctime>
#include <map>
#include <mutex>
#include <string_view>
#include <vector>

#include "platform/adsi.h"
#include "platform/directory_connect.h"
#include "platform/file_system.h"

namespace {

// How many hosts' certificates are kept shown: a few directories.
constexpr size_t kShownKept = 64;

// libldap frees a TLS context it was handed when the last connection using
// it goes: exported by libldap, declared in no public header.
extern "C" void ldap_pvt_tls_ctx_free(void* context);
// The name libldap's name check puts in place of localhost: exported by
// libldap, set once when it starts, declared in no public header.
extern "C" char* ldap_int_hostname;

// The code of a connection whose TLS set-up cannot be used: libldap's own.
constexpr int kTlsSetUpFailed = LDAP_LOCAL_ERROR;

// The string settings of libldap's TLS set-up, and the in-memory ones; a
// new connection's handle takes none of them from the process's settings
// (it takes the process's context instead, built once).
constexpr int kTlsFileOptions[] = {LDAP_OPT_X_TLS_CACERTFILE, LDAP_OPT_X_TLS_CACERTDIR, LDAP_OPT_X_TLS_CERTFILE,
                                   LDAP_OPT_X_TLS_KEYFILE,    LDAP_OPT_X_TLS_CRLFILE,   LDAP_OPT_X_TLS_DHFILE};
constexpr int kTlsTextOptions[] = {LDAP_OPT_X_TLS_CIPHER_SUITE, LDAP_OPT_X_TLS_ECNAME};
constexpr int kTlsMemoryOptions[] = {LDAP_OPT_X_TLS_CACERT, LDAP_OPT_X_TLS_CERT, LDAP_OPT_X_TLS_KEY};

// The TLS context new connections use, built from the trust and identity
// files as they are on disk: a CA file (or certificate, key, CRL file or CA
// folder) that changed, or settings naming other files, make the next
// connection build a new one; connections made before keep theirs. Never
// destroyed: a request may connect while the process exits.
struct TlsContext {
  std::mutex lock;
  bool built = false;
  std::string key;    // the settings and the files' stamps it was built from
  void* context = nullptr;  // one reference held here
  std::string fault;  // why none could be built
};
TlsContext& g_tls = *new TlsContext;

void AppendStamp(std::string& key, const char* path) {
  const CFileStamp stamp = StampOfFile(path);
  key += std::string(path) + '\n' + std::to_string(stamp.exists) + ':' + std::to_string(stamp.device) + ':' +
         std::to_string(stamp.inode) + ':' + std::to_string(stamp.size) + ':' + std::to_string(stamp.modifiedNs) +
         ':' + std::to_string(stamp.changedNs) + '\n';
}

// The CA folder's own stamp changes only when a name in it comes or goes:
// a certificate renewed in place, or through a link that now leads to
// another file, changes only its file's. The TLS library reads every file
// in the folder, so each one's stamp counts.
void AppendFolderStamps(std::string& key, const char* folder) {
  AppendStamp(key, folder);
  DIR* listing = opendir(folder);
  if (listing == nullptr) return;
  std::vector<std::string> names;
  while (const dirent* entry = readdir(listing)) names.emplace_back(entry->d_name);
  closedir(listing);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    if (name != "." && name != "..") AppendStamp(key, (std::string(folder) + '/' + name).c_str());
  }
}

// What the process's TLS settings are now, with the stamps of the files
// they name.
std::string TlsSettingsKey() {
  std::string key;
  for (int option : kTlsFileOptions) {
    char* value = nullptr;
    ldap_get_option(nullptr, option, &value);
    if (value != nullptr && option == LDAP_OPT_X_TLS_CACERTDIR) {
      AppendFolderStamps(key, value);
    } else if (value != nullptr) {
      AppendStamp(key, value);
    }
    key += '\0';
    ldap_memfree(value);
  }
  for (int option : kTlsTextOptions) {
    char* value = nullptr;
    ldap_get_option(nullptr, option, &value);
    if (value != nullptr) key += value;
    key += '\0';
    ldap_memfree(value);
  }
  for (int option : kTlsMemoryOptions) {
    berval value{};
    ldap_get_option(nullptr, option, &value);
    if (value.bv_val != nullptr) key += std::to_string(std::hash<std::string_view>{}({value.bv_val, value.bv_len}));
    key += '\0';
    ber_memfree(value.bv_val);
  }
  return key;
}

// A context built from the process's settings now, with one reference, or
// null with libldap's reason.
void* BuildTlsContext(std::string& fault) {
  LDAP* scratch = nullptr;
  if (ldap_initialize(&scratch, nullptr) != LDAP_SUCCESS) {
    fault = "no handle to build the TLS set-up on";
    return nullptr;
  }
  for (int option : kTlsFileOptions) {
    char* value = nullptr;
    ldap_get_option(nullptr, option, &value);
    if (value != nullptr) ldap_set_option(scratch, option, value);
    ldap_memfree(value);
  }
  for (int option : kTlsTextOptions) {
    char* value = nullptr;
    ldap_get_option(nullptr, option, &value);
    if (value != nullptr) ldap_set_option(scratch, option, value);
    ldap_memfree(value);
  }
  for (int option : kTlsMemoryOptions) {
    berval value{};
    ldap_get_option(nullptr, option, &value);
    if (value.bv_val != nullptr) ldap_set_option(scratch, option, &value);
    ber_memfree(value.bv_val);
  }
  const int client = 0;
  void* context = nullptr;
  const int rc = ldap_set_option(scratch, LDAP_OPT_X_TLS_NEWCTX, &client);
  if (rc == LDAP_OPT_SUCCESS) ldap_get_option(scratch, LDAP_OPT_X_TLS_CTX, &context);
  if (context == nullptr) {
    char* diagnostic = nullptr;
    ldap_get_option(scratch, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic);
    fault = std::string("the TLS set-up (LDAPTLS_CACERT, LDAPTLS_CERT, LDAPTLS_KEY) cannot be used: ") +
            (diagnostic != nullptr && *diagnostic != '\0' ? diagnostic : ldap_err2string(rc == 0 ? LDAP_LOCAL_ERROR : rc));
    ldap_memfree(diagnostic);
  }
  ldap_unbind_ext_s(scratch, nullptr, nullptr);
  return context;
}

// Gives `ld` the TLS context of the settings and files as they are now;
// false with the reason when they cannot be used.
bool UseCurrentTlsContext(LDAP* ld, std::string& fault) {
  CLibraryDefaults defaults;
  if (!defaults.Open()) {
    fault = "the process is exiting";
    return false;
  }
  std::lock_guard<std::mutex> hold(g_tls.lock);
  std::string key = TlsSettingsKey();
  if (!g_tls.built || key != g_tls.key) {
    std::string why;
    void* context = BuildTlsContext(why);
    if (g_tls.context != nullptr) ldap_pvt_tls_ctx_free(g_tls.context);
    g_tls.context = context;
    g_tls.fault = why;
    g_tls.key = std::move(key);
    g_tls.built = true;
  }
  if (g_tls.context == nullptr) {
    fault = g_tls.fault;
    return false;
  }
  // The handle takes a reference of its own, let go when it is unbound.
  return ldap_set_option(ld, LDAP_OPT_X_TLS_CTX, g_tls.context) == LDAP_OPT_SUCCESS;
}

// The StartTLS request's answer within `step`: LDAP_SUCCESS, the
// directory's refusal, or libldap's failure.
int AskStartTls(LDAP* ld, const CDeadline& step) {
  int msgid = -1;
  int rc = ldap_start_tls(ld, nullptr, nullptr, &msgid);
  if (rc != LDAP_SUCCESS) return rc;
  LDAPMessage* result = nullptr;
  timeval wait = step.LeftTimeval();
  const int got = ldap_result(ld, msgid, LDAP_MSG_ALL, &wait, &result);
  if (got == 0) return LDAP_TIMEOUT;
  if (got < 0) {
    rc = LDAP_SERVER_DOWN;
    ldap_get_option(ld, LDAP_OPT_RESULT_CODE, &rc);
    return rc;
  }
  int answer = LDAP_OTHER;
  rc = ldap_parse_result(ld, result, &answer, nullptr, nullptr, nullptr, nullptr, 1);
  return rc != LDAP_SUCCESS ? rc : answer;
}

// TLS as the host asks for it; `stalled` when the deadline ended it. A
// handle without a context of its own takes the current one; `fault` says
// why there is none.
int StartTls(LDAP* ld, int fd, const DirectoryHost& host, const CDeadline& step, bool& stalled,
             std::string* fault = nullptr) {
  stalled = false;
  if (!host.startTls && strcasecmp(host.scheme.c_str(), "ldaps") != 0) return LDAP_SUCCESS;
  if (fault != nullptr && !UseCurrentTlsContext(ld, *fault)) return kTlsSetUpFailed;
  // libldap's handshake has no time-out of its own: the watch ends it. It
  // spins on a socket that does not block, so the socket blocks for the
  // handshake alone.
  CStepWatch watch(fd, step);
  int rc = host.startTls ? AskStartTls(ld, step) : LDAP_SUCCESS;
  if (rc == LDAP_SUCCESS) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    // libldap takes a signal in the handshake for its failure: signals wait
    // for its end (the watch ends it at the deadline).
    sigset_t all;
    sigset_t before;
    sigfillset(&all);
    pthread_sigmask(SIG_BLOCK, &all, &before);
    rc = ldap_install_tls(ld);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    fcntl(fd, F_SETFL, flags);
  }
  stalled = rc != LDAP_SUCCESS && (rc == LDAP_TIMEOUT || watch.Fired());
  return rc;
}

// Whether `certificate` verifies against the authorities the module's
// handshakes trust: those of LDAPTLS_CACERT or LDAPTLS_CACERTDIR (TLS_CACERT,
// TLS_CACERTDIR), else the system's.
bool Trusted(gnutls_x509_crt_t certificate) {
  gnutls_x509_trust_list_t authorities = nullptr;
  if (gnutls_x509_trust_list_init(&authorities, 0) != 0) return false;
  char* file = nullptr;
  char* folder = nullptr;
  {
    CLibraryDefaults defaults;
    if (defaults.Open()) {
      ldap_get_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, &file);
      ldap_get_option(nullptr, LDAP_OPT_X_TLS_CACERTDIR, &folder);
    }
  }
  if (file != nullptr) gnutls_x509_trust_list_add_trust_file(authorities, file, nullptr, GNUTLS_X509_FMT_PEM, 0, 0);
  if (folder != nullptr) gnutls_x509_trust_list_add_trust_dir(authorities, folder, nullptr, GNUTLS_X509_FMT_PEM, 0, 0);
  if (file == nullptr && folder == nullptr) gnutls_x509_trust_list_add_system_trust(authorities, 0, 0);
  unsigned status = 1;
  const bool trusted =
      gnutls_x509_trust_list_verify_crt(authorities, &certificate, 1, 0, &status, nullptr) == 0 && status == 0;
  ldap_memfree(file);
  ldap_memfree(folder);
  gnutls_x509_trust_list_deinit(authorities, 1);
  return trusted;
}

// The name libldap's name check compares a certificate with: the URI's
// host, but this computer's own name for localhost (or no host); with the
// words that say so.
std::string NameLibraryChecks(const std::string& host, std::string& words) {
  const std::string named = host.empty() ? "localhost" : host;
  words = "the directory's certificate is not issued to the name " + named;
  if (strcasecmp(named.c_str(), "localhost") != 0) return named;
  // libldap's name for this computer is the canonical one it resolved when
  // it started, which may be longer than the host name.
  std::string own = ldap_int_hostname != nullptr ? ldap_int_hostname : "";
  char system[256] = {};
  if (own.empty() && gethostname(system, sizeof system - 1) == 0) own = system;
  if (own.empty()) return named;
  words += ": libldap's name check compares it with this computer's name, " + own;
  return own;
}

// What is wrong with the certificate `der` for the URI's `host`; empty when
// nothing is: a handshake that failed with it failed for another reason.
std::string CertificateFault(const berval& der, const std::string& host) {
  std::string notIssued;
  const std::string name = NameLibraryChecks(host, notIssued);
  gnutls_x509_crt_t certificate = nullptr;
  if (gnutls_x509_crt_init(&certificate) != 0) return "the directory's certificate was refused";
  gnutls_datum_t data{reinterpret_cast<unsigned char*>(der.bv_val), static_cast<unsigned>(der.bv_len)};
  std::string fault = "the directory's certificate was refused";
  if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_DER) == 0) {
    const time_t now = std::time(nullptr);
    if (gnutls_x509_crt_check_hostname(certificate, name.c_str()) == 0) {
      fault = notIssued;
    } else if (gnutls_x509_crt_get_expiration_time(certificate) < now) {
      fault = "the directory's certificate has expired";
    } else if (gnutls_x509_crt_get_activation_time(certificate) > now) {
      fault = "the directory's certificate is not valid yet";
    } else if (Trusted(certificate)) {
      fault.clear();
    } else {
      fault = "the directory's certificate is not trusted: its issuer is in neither LDAPTLS_CACERT (TLS_CACERT) "
              "nor the system's authorities";
    }
  }
  gnutls_x509_crt_deinit(certificate);
  return fault;
}

// A directory's certificate as a handshake that verified nothing showed it
// lately: what was wrong with it (empty: nothing), and when.
struct ShownCertificate {
  std::chrono::steady_clock::time_point at;
  std::string fault;
};

// One thread at a time shows a certificate, and threads whose handshakes
// failed together take its finding: the directory sees one such handshake
// however many look-ups failed at once. Never destroyed: a request may
// connect while the process exits.
std::mutex g_shownLock;
std::condition_variable& g_shownFree = *new std::condition_variable;
bool g_showing = false;  // a thread shows a certificate; under g_shownLock
// By host URL, under g_shownLock.
std::map<std::string, ShownCertificate>& g_shown = *new std::map<std::string, ShownCertificate>;

// The turn of the thread that shows a certificate, let go on every way out.
class CShowingTurn {
 public:
  ~CShowingTurn() {
    if (!m_held) return;
    {
      std::lock_guard<std::mutex> hold(g_shownLock);
      g_showing = false;
    }
    g_shownFree.notify_all();
  }
  void Hold() { m_held = true; }

 private:
  bool m_held = false;
};

// Whether a handshake that failed failed for the certificate: a second one
// that verifies nothing, after which nothing is sent but the unbind, shows
// the directory's certificate, and what is wrong with it (`fault`). A
// certificate with nothing wrong was not what failed the first handshake.
// A finding younger than the first retry of a back-off is taken as it is.
bool CertificateRefused(const DirectoryHost& host, const CDeadline& step, std::string& fault) {
  CShowingTurn turn;
  {
    std::unique_lock<std::mutex> hold(g_shownLock);
    if (!g_shownFree.wait_until(hold, step.At(), [] { return !g_showing; })) return false;
    auto known = g_shown.find(host.url);
    if (known != g_shown.end() && std::chrono::steady_clock::now() - known->second.at <
                                      std::chrono::milliseconds(kADsFirstRetryMs)) {
      if (known->second.fault.empty()) return false;
      fault = known->second.fault;
      return true;
    }
    g_showing = true;
    turn.Hold();
  }
  const auto now = std::chrono::steady_clock::now();
  std::string why;
  const int fd = ConnectToHost(host.host, host.port, step, why);
  if (fd < 0) return false;
  LDAP* ld = nullptr;
  {
    CLibraryDefaults defaults;
    if (!defaults.Open() || ldap_init_fd(fd, kLdapProtoTcp, host.url.c_str(), &ld) != LDAP_SUCCESS) {
      close(fd);
      return false;
    }
  }
  const int version = LDAP_VERSION3;
  const int allow = LDAP_OPT_X_TLS_ALLOW;
  const int client = 0;
  ldap_set_option(ld, LDAP_OPT_PROTOCOL_VERSION, &version);
  // A signal while the StartTLS answer is awaited is no lost directory
  // here either: the refused certificate's words would give way to a
  // failed handshake's.
  ldap_set_option(ld, LDAP_OPT_RESTART, LDAP_OPT_ON);
  ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &allow);
  ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &client);
  bool stalled = false;
  berval der{};
  const bool shown = StartTls(ld, fd, host, step, stalled) == LDAP_SUCCESS &&
                     ldap_get_option(ld, LDAP_OPT_X_TLS_PEERCERT, &der) == LDAP_OPT_SUCCESS && der.bv_val != nullptr;
  std::string seen;
  if (shown) seen = CertificateFault(der, host.host);
  ber_memfree(der.bv_val);
  ldap_unbind_ext_s(ld, nullptr, nullptr);
  if (shown) {
    std::lock_guard<std::mutex> hold(g_shownLock);
    if (g_shown.size() >= kShownKept) g_shown.clear();
    g_shown[host.url] = ShownCertificate{now, seen};
  }
  if (seen.empty()) return false;
  fault = seen;
  return true;
}

}  // namespace

namespace {

// libldap's words for the failure of the handshake on `ld`; empty for none.
// (libldap puts its own codes through the TLS library's words, which know
// them not: those say nothing.)
std::string HandshakeWords(LDAP* ld) {
  char* diagnostic = nullptr;
  std::string words;
  if (ldap_get_option(ld, LDAP_OPT_DIAGNOSTIC_MESSAGE, &diagnostic) == LDAP_OPT_SUCCESS && diagnostic != nullptr) {
    words = diagnostic;
  }
  ldap_memfree(diagnostic);
  return words == "(unknown error code)" ? std::string() : words;
}

}  // namespace

int SecureConnection(LDAP* ld, int fd, const DirectoryHost& host, const CDeadline& step, std::string& why) {
  bool stalled = false;
  std::string setUp;
  const int rc = StartTls(ld, fd, host, step, stalled, &setUp);
  if (rc == LDAP_SUCCESS) return rc;
  if (rc == kTlsSetUpFailed && !setUp.empty()) {
    why = setUp;
    return rc;
  }
  if (stalled) {
    why = std::string(ldap_err2string(LDAP_TIMEOUT)) + " (no TLS handshake within the look-up's limit)";
    return LDAP_TIMEOUT;
  }
  if (Replied(rc)) {
    why = std::string("StartTLS refused: ") + ldap_err2string(rc);
    return rc;
  }
  // libldap's verdict stands: the module's own look at the certificate only
  // adds what was wrong with it.
  const std::string library = HandshakeWords(ld);
  if (CertificateRefused(host, step, why)) {
    why += std::string(" (libldap: ") + ldap_err2string(rc) + (library.empty() ? "" : ", " + library) + ")";
    return kCertificateRefused;
  }
  why = std::string("TLS handshake failed: ") + ldap_err2string(rc) + (library.empty() ? "" : " (" + library + ")");
  return rc;
}
