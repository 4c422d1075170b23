// Every step of a new directory connection ends within the look-up's limit:
// a TLS handshake that stalls, a first host of a URI list that never
// answers or drops connection attempts, a resolver that answers late.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ldap.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "delay_proxy.h"
#include "general/host_probes.h"
#include "general/pl_general_settings.h"
#include "platform/adsi.h"
#include "platform/cache_component.h"
#include "platform/directory_reach.h"
#include "platform/directory_tls.h"
#include "platform/sigpipe_hold.h"
#include "support/temp_dir.h"
#include "test_directory.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

CTestDirectory& ReachDirectory() {
  static std::unique_ptr<CTestDirectory> directory;
  if (!directory) {
    directory = std::make_unique<CTestDirectory>();
    std::string host, full;
    ReadComputerNames(host, full);
    EXPECT_EQ(directory->Start(host), "");
  }
  return *directory;
}

class CReachSettings : public CPLGeneralSettings {
 public:
  CReachSettings() {
    ResetCacheComponent();
    EXPECT_TRUE(InitializeCache());
  }
};

// `threads` look-ups at once, each on a new thread (so on a new
// connection); the result and time of each.
struct Outcome {
  bool answered = false;  // the user's value, or the directory's word that it has none
  Clock::duration took{};
};
std::vector<Outcome> LookUpAtOnce(int threads) {
  CReachSettings s;
  std::vector<Outcome> outcomes(threads);
  std::vector<std::thread> running;
  for (int i = 0; i < threads; ++i) {
    running.emplace_back([&, i] {
      const auto start = Clock::now();
      std::string value;
      // A user of its own: look-ups of one user at once would share one search.
      const std::string user = "HEXMOOR\\reach" + std::to_string(i);
      const HRESULT hr = s.GetADProperty(ci_string(user.c_str()), "msExchUserCulture", value, "", "", false);
      outcomes[i].answered = hr == S_OK || hr == kADNoValue;
      outcomes[i].took = Clock::now() - start;
    });
  }
  for (std::thread& t : running) t.join();
  return outcomes;
}

const auto kLimit = milliseconds(kADsTimeLimitSeconds * 1000);

// A port whose listen queue is full: the kernel drops new connection
// attempts, as a directory too busy to accept does.
class CFullQueue {
 public:
  CFullQueue() {
    m_listener = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    listen(m_listener, 0);
    getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length);
    m_port = ntohs(a.sin_port);
    for (int i = 0; i < 4; ++i) {
      const int c = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
      connect(c, reinterpret_cast<sockaddr*>(&a), sizeof a);
      m_fillers.push_back(c);
    }
    std::this_thread::sleep_for(milliseconds(100));
  }
  ~CFullQueue() {
    for (int c : m_fillers) close(c);
    close(m_listener);
  }
  std::string Uri() const { return "ldap://127.0.0.1:" + std::to_string(m_port) + "/"; }

 private:
  int m_listener = -1;
  int m_port = 0;
  std::vector<int> m_fillers;
};

// A host that answers every connection with the first bytes of a bind
// reply and then nothing: libldap reads a reply that came in part. On the
// loopback, or at a local socket `path` (ldapi://).
class CHalfReply {
 public:
  explicit CHalfReply(const std::string& path = "") : m_path(path) {
    if (!path.empty()) {
      m_listener = socket(AF_UNIX, SOCK_STREAM, 0);
      sockaddr_un a{};
      a.sun_family = AF_UNIX;
      path.copy(a.sun_path, sizeof a.sun_path - 1);
      bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
      m_listener = socket(AF_INET, SOCK_STREAM, 0);
      sockaddr_in a{};
      a.sin_family = AF_INET;
      a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
      socklen_t length = sizeof a;
      bind(m_listener, reinterpret_cast<sockaddr*>(&a), sizeof a);
      getsockname(m_listener, reinterpret_cast<sockaddr*>(&a), &length);
      m_port = ntohs(a.sin_port);
    }
    listen(m_listener, 16);
    m_thread = std::thread([this] {
      for (int c; (c = accept(m_listener, nullptr, nullptr)) >= 0;) {
        m_accepted.push_back(c);
        (void)!write(c, "\x30\x0c\x02\x01\x01\x61", 6);
      }
    });
  }
  ~CHalfReply() {
    shutdown(m_listener, SHUT_RDWR);
    m_thread.join();
    for (int c : m_accepted) close(c);
    close(m_listener);
  }
  std::string Uri() const {
    if (m_path.empty()) return "ldap://127.0.0.1:" + std::to_string(m_port) + "/";
    std::string uri = "ldapi://";
    for (char c : m_path) uri += c == '/' ? std::string("%2F") : std::string(1, c);
    return uri + "/";
  }

 private:
  std::string m_path;
  int m_listener = -1;
  int m_port = 0;
  std::vector<int> m_accepted;
  std::thread m_thread;
};

// A resolver that answers `g_resolverDelay` late, with the loopback.
std::atomic<int> g_resolverDelayMs{0};
int LateResolver(const char* name, const char* service, const addrinfo* hints, addrinfo** result) {
  std::this_thread::sleep_for(milliseconds(g_resolverDelayMs.load()));
  addrinfo numeric = *hints;
  numeric.ai_flags = AI_NUMERICHOST;
  return getaddrinfo("127.0.0.1", service, &numeric, result);
}

// A resolver that answers 127.0.0.2 until the test says the directory moved
// to the loopback. (Asked by the test's state, not by count: a background
// refresh started earlier may ask it too.)
std::atomic<bool> g_moved{false};
int MovingResolver(const char*, const char* service, const addrinfo* hints, addrinfo** result) {
  addrinfo numeric = *hints;
  numeric.ai_flags = AI_NUMERICHOST;
  return getaddrinfo(g_moved ? "127.0.0.1" : "127.0.0.2", service, &numeric, result);
}

// A resolver that answers 127.0.0.2 and then the loopback.
int TwoAddressResolver(const char*, const char* service, const addrinfo* hints, addrinfo** result) {
  addrinfo numeric = *hints;
  numeric.ai_flags = AI_NUMERICHOST;
  addrinfo* second = nullptr;
  if (getaddrinfo("127.0.0.1", service, &numeric, &second) != 0) return EAI_FAIL;
  if (getaddrinfo("127.0.0.2", service, &numeric, result) != 0) return EAI_FAIL;
  (*result)->ai_next = second;
  return 0;
}

}  // namespace

// A directory that accepts connections and never speaks TLS: every thread
// that connects comes back within the look-up's limit, and the back-off's
// probe goes out again a second later (it is held by no stuck step).
TEST(DirectoryReach, StalledTlsHandshakeEndsWithinTheLimit) {
  ADsSetRetryInterval(std::chrono::seconds(1));
  CDelayProxy silent(ReachDirectory().Port(), CDelayProxy::kNeverAnswer);
  const std::string uri = "ldaps://127.0.0.1:" + silent.Uri().substr(std::string("ldap://127.0.0.1:").size());
  setenv("LDAPURI", uri.c_str(), 1);
  for (const Outcome& o : LookUpAtOnce(4)) {
    EXPECT_FALSE(o.answered);
    EXPECT_LT(o.took, kLimit + milliseconds(1500));
  }
  const int accepted = silent.Accepted();
  std::this_thread::sleep_for(milliseconds(1300));
  const auto probe = LookUpAtOnce(1);
  EXPECT_LT(probe[0].took, kLimit + milliseconds(1500));
  EXPECT_EQ(silent.Accepted(), accepted + 1);
  ADsSetRetryInterval(std::chrono::seconds(kADsRetryIntervalSeconds));
}

// A URI list whose first host accepts and never answers, drops connection
// attempts, or sends part of a reply (also over ldapi://): the look-up reaches the healthy second
// host within its limit. A list that fails names the host that did not
// answer. A name whose first address accepts and never answers costs one
// look-up: the next reaches its second address.
TEST(DirectoryReach, UriListFailsOverFromASilentOrDroppingFirstHost) {
  CDelayProxy silent(ReachDirectory().Port(), CDelayProxy::kNeverAnswer);
  CFullQueue dropping;
  CHalfReply half;
  CTempDir local;
  CHalfReply halfLocal(local.Path() + "ldapi");
  for (const std::string& first : {silent.Uri(), dropping.Uri(), half.Uri(), halfLocal.Uri()}) {
    setenv("LDAPURI", (first + " " + ReachDirectory().Uri()).c_str(), 1);
    for (const Outcome& o : LookUpAtOnce(2)) {
      EXPECT_TRUE(o.answered) << first;
      EXPECT_LT(o.took, kLimit) << first;
    }
  }
  const std::string refused = "ldap://127.0.0.1:" + std::to_string(CTestDirectory::FreePort()) + "/";
  setenv("LDAPURI", (silent.Uri() + " " + refused).c_str(), 1);
  IADs* object = nullptr;
  EXPECT_LT(ADsGetObject(L"GC://", &object), 0);
  const std::string text = ADsDescribeFailure(L"GC://");
  EXPECT_NE(text.find(silent.Uri() + ": Timed out"), std::string::npos) << text;
  EXPECT_NE(text.find(refused + ": Can't contact LDAP server (cannot connect:"), std::string::npos) << text;

  // Its kernel accepts connections; nothing reads them.
  const int second = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
  socklen_t length = sizeof a;
  ASSERT_EQ(bind(second, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  listen(second, 16);
  getsockname(second, reinterpret_cast<sockaddr*>(&a), &length);
  CDelayProxy healthy(ReachDirectory().Port(), milliseconds(0), ntohs(a.sin_port));
  ADsSetRetryInterval(std::chrono::seconds(1));
  SetDirectoryResolver(&TwoAddressResolver);
  ForgetResolvedNames();
  setenv("LDAPURI", ("ldap://directory.hexmoor.test:" + std::to_string(ntohs(a.sin_port)) + "/").c_str(), 1);
  EXPECT_LT(LookUpAtOnce(1)[0].took, kLimit + milliseconds(1000));
  std::this_thread::sleep_for(milliseconds(1300));
  EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
  // The same answer asked for again: the silent address stays passed over.
  AgeResolvedNames();
  EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
  std::this_thread::sleep_for(milliseconds(100));
  EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
  SetDirectoryResolver(nullptr);
  ForgetResolvedNames();
  ADsSetRetryInterval(std::chrono::seconds(kADsRetryIntervalSeconds));
  close(second);
  setenv("LDAPURI", ReachDirectory().Uri().c_str(), 1);
}

// The watch of a step shuts down only the step's socket: one that libldap
// closed meanwhile may have left its number to another thread's socket.
TEST(DirectoryReach, StepWatchTouchesNoOtherSocket) {
  int mine[2];
  int other[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, mine), 0);
  {
    CStepWatch watch(mine[0], CDeadline::After(milliseconds(50)));
    close(mine[0]);
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, other), 0);
    std::this_thread::sleep_for(milliseconds(200));
  }
  EXPECT_EQ(send(other[0], "x", 1, MSG_NOSIGNAL), 1);
  for (int fd : {mine[1], other[0], other[1]}) close(fd);
}

// A resolver that answers in 3 or 4.5 s costs a cold start of 8 look-ups
// nothing: names are resolved outside the bind turn, once for all threads,
// within the limit. One slower than the limit fails the look-up within its
// limit, and its late answer serves the next look-ups, also while a newer
// answer is asked for.
TEST(DirectoryReach, LateResolverCountsAgainstTheLimitOnly) {
  ADsSetRetryInterval(std::chrono::seconds(1));
  SetDirectoryResolver(&LateResolver);
  setenv("LDAPURI", ("ldap://directory.hexmoor.test:" + std::to_string(ReachDirectory().Port()) + "/").c_str(), 1);
  for (int delay : {3000, 4500}) {
    ForgetResolvedNames();
    g_resolverDelayMs = delay;
    for (const Outcome& o : LookUpAtOnce(8)) {
      EXPECT_TRUE(o.answered) << delay;
      EXPECT_LT(o.took, kLimit) << delay;
    }
  }
  ForgetResolvedNames();
  g_resolverDelayMs = 6500;
  const auto late = LookUpAtOnce(2);
  for (const Outcome& o : late) {
    EXPECT_FALSE(o.answered);
    EXPECT_LT(o.took, kLimit + milliseconds(1000));
  }
  std::this_thread::sleep_for(milliseconds(2000));
  EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
  // Due for a newer answer: the kept one serves while it is asked for.
  AgeResolvedNames();
  EXPECT_TRUE(LookUpAtOnce(1)[0].answered);

  // The directory moved: once its kept address takes no connection, the
  // back-off's probe asks the resolver again.
  ForgetResolvedNames();
  SetDirectoryResolver(&MovingResolver);
  EXPECT_FALSE(LookUpAtOnce(1)[0].answered);
  g_moved = true;
  std::this_thread::sleep_for(milliseconds(1300));
  EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
  SetDirectoryResolver(nullptr);
  ForgetResolvedNames();
  ADsSetRetryInterval(std::chrono::seconds(kADsRetryIntervalSeconds));
  setenv("LDAPURI", ReachDirectory().Uri().c_str(), 1);
}

namespace {

// Opens the catalog at `uri`: "opened", or the failure's text.
std::string OpenCatalog(const std::string& uri) {
  setenv("LDAPURI", uri.c_str(), 1);
  IADs* object = nullptr;
  const HRESULT hr = ADsGetObject(L"GC://", &object);
  if (object != nullptr) object->Release();
  return SUCCEEDED(hr) ? "opened" : ADsDescribeFailure(L"GC://");
}

// The authorities libldap trusts from now on (LDAPTLS_CACERT's setting).
void TrustAuthorities(const std::string& file) {
  ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, file.c_str());
  const int client = 0;
  ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &client);
}

}  // namespace

// The directory's certificate is verified: refused when no authority
// trusted issued it or when it is not issued to the name connected to, and
// the failure says which. A refused certificate stays refused until the
// set-up is mended: look-ups within its back-off open no connection and
// repeat what failed, with when it is tried again. Once trusted, ldaps://
// and StartTLS (the URL's extension) both work.
TEST(DirectoryReach, RefusedCertificateSaysWhy) {
  CTempDir dir;
  const std::string certificate = dir.Path() + "directory.pem";
  const std::string key = dir.Path() + "directory.key";
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=directory.hexmoor.test "
                           "-addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + certificate +
                           " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  std::string host, full;
  ReadComputerNames(host, full);
  CTestDirectory tls;
  ASSERT_EQ(tls.Start(host, "", {}, certificate, key), "");
  const std::string port = std::to_string(tls.SecurePort());
  const std::string secure = "ldaps://127.0.0.1:" + port + "/";

  const std::string untrusted = OpenCatalog(secure);
  EXPECT_NE(untrusted.find(secure + ": the directory's certificate is not trusted"), std::string::npos) << untrusted;
  EXPECT_NE(untrusted.find("tried again 1 s after it was refused"), std::string::npos) << untrusted;
  EXPECT_NE(ADsBackOffFailure(L"GC://"), S_OK);
  const std::string repeated = ADsDescribeFailure(L"GC://");
  EXPECT_NE(repeated.find(secure + ": the directory's certificate is not trusted"), std::string::npos) << repeated;
  const std::string startTls = tls.Uri() + "????" + "!StartTLS";
  EXPECT_NE(OpenCatalog(startTls).find("certificate is not trusted"), std::string::npos);
  TrustAuthorities(certificate);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(OpenCatalog(secure), "opened");
  EXPECT_EQ(OpenCatalog(startTls), "opened");
  // The socket blocks for the handshake alone: a reply that comes in part
  // is then read as far as it goes, and the wait ends at its time-out.
  std::vector<DirectoryHost> hosts;
  std::string why;
  ASSERT_TRUE(DirectoryHostsOf(secure, hosts, why));
  const CDeadline step = CDeadline::After(kLimit);
  const int fd = ConnectToHost(hosts[0].host, hosts[0].port, step, why);
  LDAP* ld = nullptr;
  ASSERT_EQ(ldap_init_fd(fd, kLdapProtoTcp, secure.c_str(), &ld), LDAP_SUCCESS);
  EXPECT_EQ(SecureConnection(ld, fd, hosts[0], step, why), LDAP_SUCCESS) << why;
  EXPECT_NE(fcntl(fd, F_GETFL) & O_NONBLOCK, 0);
  ldap_unbind_ext_s(ld, nullptr, nullptr);
  // A handshake cut off by a connection that closed, while the directory's
  // certificate verifies, is no refused certificate.
  const int closing = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ASSERT_EQ(bind(closing, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  listen(closing, 1);
  getsockname(closing, reinterpret_cast<sockaddr*>(&a), &length);
  const int cut = ConnectToHost("127.0.0.1", ntohs(a.sin_port), step, why);
  close(accept(closing, nullptr, nullptr));
  close(closing);
  ASSERT_EQ(ldap_init_fd(cut, kLdapProtoTcp, secure.c_str(), &ld), LDAP_SUCCESS);
  CSigPipeHold pipeHold;
  EXPECT_NE(SecureConnection(ld, cut, hosts[0], step, why), kCertificateRefused);
  EXPECT_EQ(why.rfind("TLS handshake failed", 0), 0u) << why;
  ldap_unbind_ext_s(ld, nullptr, nullptr);
  const std::string named = OpenCatalog("ldaps://localhost:" + port + "/");
  EXPECT_NE(named.find("certificate is not issued to the name localhost"), std::string::npos) << named;
  TrustAuthorities("/etc/ssl/certs/ca-certificates.crt");
  setenv("LDAPURI", ReachDirectory().Uri().c_str(), 1);
}
