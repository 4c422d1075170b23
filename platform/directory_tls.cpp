// TLS on new directory connections, and what a refused certificate lacked.
#include "platform/directory_tls.h"

#include <fcntl.h>
#include <gnutls/x509.h>
#include <strings.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <ctime>
#include <map>
#include <mutex>

#include "platform/adsi.h"
#include "platform/directory_connect.h"

namespace {

// How many hosts' certificates are kept shown: a few directories.
constexpr size_t kShownKept = 64;

// libldap sets its TLS up at the first handshake, unguarded: threads that
// connect at once must not do it together. Made once, from the process's
// TLS settings, as the first handshake would.
void InitialiseTls() {
  static std::once_flag initialised;
  std::call_once(initialised, [] {
    CLibraryDefaults defaults;
    if (!defaults.Open()) return;
    const int client = 0;
    ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &client);
  });
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

// TLS as the host asks for it; `stalled` when the deadline ended it.
int StartTls(LDAP* ld, int fd, const DirectoryHost& host, const CDeadline& step, bool& stalled) {
  stalled = false;
  if (!host.startTls && strcasecmp(host.scheme.c_str(), "ldaps") != 0) return LDAP_SUCCESS;
  InitialiseTls();
  // libldap's handshake has no time-out of its own: the watch ends it. It
  // spins on a socket that does not block, so the socket blocks for the
  // handshake alone.
  CStepWatch watch(fd, step);
  int rc = host.startTls ? AskStartTls(ld, step) : LDAP_SUCCESS;
  if (rc == LDAP_SUCCESS) {
    const int flags = fcntl(fd, F_GETFL);
    fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    rc = ldap_install_tls(ld);
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

// What is wrong with the certificate `der` for `name`; empty when nothing
// is: a handshake that failed with it failed for another reason.
std::string CertificateFault(const berval& der, const std::string& name) {
  gnutls_x509_crt_t certificate = nullptr;
  if (gnutls_x509_crt_init(&certificate) != 0) return "the directory's certificate was refused";
  gnutls_datum_t data{reinterpret_cast<unsigned char*>(der.bv_val), static_cast<unsigned>(der.bv_len)};
  std::string fault = "the directory's certificate was refused";
  if (gnutls_x509_crt_import(certificate, &data, GNUTLS_X509_FMT_DER) == 0) {
    const time_t now = std::time(nullptr);
    if (gnutls_x509_crt_check_hostname(certificate, name.c_str()) == 0) {
      fault = "the directory's certificate is not issued to the name " + name;
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
  ldap_set_option(ld, LDAP_OPT_X_TLS_REQUIRE_CERT, &allow);
  ldap_set_option(ld, LDAP_OPT_X_TLS_NEWCTX, &client);
  bool stalled = false;
  berval der{};
  const bool shown = StartTls(ld, fd, host, step, stalled) == LDAP_SUCCESS &&
                     ldap_get_option(ld, LDAP_OPT_X_TLS_PEERCERT, &der) == LDAP_OPT_SUCCESS && der.bv_val != nullptr;
  std::string seen;
  if (shown) seen = CertificateFault(der, host.host.empty() ? "localhost" : host.host);
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

int SecureConnection(LDAP* ld, int fd, const DirectoryHost& host, const CDeadline& step, std::string& why) {
  bool stalled = false;
  const int rc = StartTls(ld, fd, host, step, stalled);
  if (rc == LDAP_SUCCESS) return rc;
  if (stalled) {
    why = std::string(ldap_err2string(LDAP_TIMEOUT)) + " (no TLS handshake within the look-up's limit)";
    return LDAP_TIMEOUT;
  }
  if (Replied(rc)) {
    why = std::string("StartTLS refused: ") + ldap_err2string(rc);
    return rc;
  }
  if (CertificateRefused(host, step, why)) return kCertificateRefused;
  why = std::string("TLS handshake failed: ") + ldap_err2string(rc);
  return rc;
}
