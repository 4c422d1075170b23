// Every step of a new directory connection ends within the look-up's limit:
// a TLS handshake that stalls, a first host of a URI list that never
// answers or drops connection attempts, a resolver that answers late.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ldap.h>
#include <netdb.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <iterator>
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

// A resolver that answers the loopback until the test makes it fail, and
// counts the failed resolutions.
std::atomic<bool> g_resolverFails{false};
std::atomic<int> g_failedResolutions{0};
int FailingResolver(const char*, const char* service, const addrinfo* hints, addrinfo** result) {
  if (g_resolverFails) {
    ++g_failedResolutions;
    return EAI_AGAIN;
  }
  addrinfo numeric = *hints;
  numeric.ai_flags = AI_NUMERICHOST;
  return getaddrinfo("127.0.0.1", service, &numeric, result);
}

void IgnoreSignal(int) {}

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

// A name whose first address drops connection attempts costs the first
// new connection that address's share of the limit, not every one: the
// address that took the connection is tried first from then on. A
// resolver that fails while a kept answer serves is asked again after a
// probe's interval, not at every new connection.
TEST(DirectoryReach, DroppingFirstAddressAndFailingResolverCostOnce) {
  const int dropping = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK + 1);
  socklen_t length = sizeof a;
  ASSERT_EQ(bind(dropping, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
  listen(dropping, 0);
  getsockname(dropping, reinterpret_cast<sockaddr*>(&a), &length);
  std::vector<int> fillers;
  for (int i = 0; i < 4; ++i) {
    fillers.push_back(socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0));
    connect(fillers.back(), reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  std::this_thread::sleep_for(milliseconds(100));
  CDelayProxy healthy(ReachDirectory().Port(), milliseconds(0), ntohs(a.sin_port));
  SetDirectoryResolver(&TwoAddressResolver);
  ForgetResolvedNames();
  setenv("LDAPURI", ("ldap://directory.hexmoor.test:" + std::to_string(ntohs(a.sin_port)) + "/").c_str(), 1);
  const Outcome first = LookUpAtOnce(1)[0];
  EXPECT_TRUE(first.answered);
  EXPECT_GT(first.took, kLimit / 4);
  for (int i = 0; i < 3; ++i) {
    const Outcome next = LookUpAtOnce(1)[0];
    EXPECT_TRUE(next.answered);
    EXPECT_LT(next.took, milliseconds(1000));
  }
  for (int c : fillers) close(c);
  close(dropping);

  SetDirectoryResolver(&FailingResolver);
  ForgetResolvedNames();
  setenv("LDAPURI", ("ldap://directory.hexmoor.test:" + std::to_string(ReachDirectory().Port()) + "/").c_str(), 1);
  EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
  g_resolverFails = true;
  AgeResolvedNames();
  for (int i = 0; i < 5; ++i) {
    EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
    std::this_thread::sleep_for(milliseconds(20));
  }
  EXPECT_EQ(g_failedResolutions.load(), 1);
  g_resolverFails = false;
  SetDirectoryResolver(nullptr);
  ForgetResolvedNames();
  setenv("LDAPURI", ReachDirectory().Uri().c_str(), 1);
}

// Signals reaching a request thread 20 times a second (an empty handler,
// SA_RESTART) while it waits in libldap, on a directory that takes 200 ms
// a reply, lose no look-up: an interrupted wait goes on within its limit.
TEST(DirectoryReach, SignalsAtTheRequestThreadLoseNoLookUp) {
  struct sigaction action {};
  action.sa_handler = &IgnoreSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  struct sigaction before {};
  ASSERT_EQ(sigaction(SIGUSR1, &action, &before), 0);
  CDelayProxy slow(ReachDirectory().Port(), milliseconds(200));
  setenv("LDAPURI", slow.Uri().c_str(), 1);
  std::atomic<bool> done{false};
  int answered = 0;
  std::thread request([&] {
    for (int i = 0; i < 3; ++i) {
      CReachSettings s;
      std::string value;
      const std::string user = "HEXMOOR\\signalled" + std::to_string(i);
      const HRESULT hr = s.GetADProperty(ci_string(user.c_str()), "msExchUserCulture", value, "", "", false);
      answered += hr == S_OK || hr == kADNoValue ? 1 : 0;
    }
    done = true;
  });
  const pthread_t target = request.native_handle();
  while (!done) {
    pthread_kill(target, SIGUSR1);
    std::this_thread::sleep_for(milliseconds(50));
  }
  request.join();
  sigaction(SIGUSR1, &before, nullptr);
  EXPECT_EQ(answered, 3);
  setenv("LDAPURI", ReachDirectory().Uri().c_str(), 1);
}

namespace {

// libldap's name for this computer, which its name check compares with a
// certificate for localhost: exported by libldap, in no public header.
extern "C" char* ldap_int_hostname;

// Opens the catalog at `uri`: "opened", or the failure's text.
std::string OpenCatalog(const std::string& uri) {
  setenv("LDAPURI", uri.c_str(), 1);
  IADs* object = nullptr;
  const HRESULT hr = ADsGetObject(L"GC://", &object);
  if (object != nullptr) object->Release();
  return SUCCEEDED(hr) ? "opened" : ADsDescribeFailure(L"GC://");
}

// Runs `work` on a thread of its own while signals (an empty handler,
// SA_RESTART) reach that thread 20 times a second.
template <class Work>
void UnderSignals(Work work) {
  struct sigaction action {};
  action.sa_handler = &IgnoreSignal;
  action.sa_flags = SA_RESTART;
  sigemptyset(&action.sa_mask);
  struct sigaction before {};
  sigaction(SIGUSR1, &action, &before);
  std::atomic<bool> done{false};
  std::thread worker([&] {
    work();
    done = true;
  });
  while (!done) {
    pthread_kill(worker.native_handle(), SIGUSR1);
    std::this_thread::sleep_for(milliseconds(50));
  }
  worker.join();
  sigaction(SIGUSR1, &before, nullptr);
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
  std::string host, full;
  ReadComputerNames(host, full);
  const std::string certificate = dir.Path() + "directory.pem";
  const std::string key = dir.Path() + "directory.key";
  const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=directory.hexmoor.test "
                           "-addext subjectAltName=IP:127.0.0.1,DNS:localhost,DNS:" + host + " -keyout " + key +
                           " -out " + certificate + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(make.c_str()), 0);
  // The authorities' file names another authority until it is mended.
  const std::string authorities = dir.Path() + "authorities.pem";
  const std::string other = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=other -keyout " +
                            dir.Path() + "other.key -out " + authorities + " >/dev/null 2>&1";
  ASSERT_EQ(std::system(other.c_str()), 0);
  TrustAuthorities(authorities);
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
  // Signals while the certificate is looked at leave the words as they are.
  CDelayProxy slow(tls.Port(), milliseconds(100));
  std::string signalled;
  UnderSignals([&] { signalled = OpenCatalog(slow.Uri() + "????" + "!StartTLS"); });
  EXPECT_NE(signalled.find("certificate is not trusted"), std::string::npos) << signalled;
  // Mended on disk while the module runs: used within the back-off.
  ASSERT_EQ(std::system(("cp " + certificate + " " + authorities).c_str()), 0);
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
  // A certificate naming localhost and the host name: libldap checks this
  // computer's canonical name for localhost, which may be longer than the
  // host name, and its name check, not the module's, decides.
  char* canonical = ldap_int_hostname;
  std::string longer = host + ".canonical.hexmoor.test";
  ldap_int_hostname = longer.data();
  const std::string named = OpenCatalog("ldaps://localhost:" + port + "/");
  ldap_int_hostname = canonical;
  EXPECT_NE(named.find("certificate is not issued to the name localhost: libldap's name check compares it with "
                       "this computer's name, " + longer),
            std::string::npos)
      << named;
  // A folder of authorities whose file is renewed in place: the folder's
  // own stamp stays as it was.
  const std::string folder = dir.Path() + "authorities";
  ASSERT_EQ(std::system(("mkdir " + folder + " && " + other + " && cp " + authorities + " " + folder + "/ca.pem")
                            .c_str()),
            0);
  ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, nullptr);
  ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTDIR, folder.c_str());
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_NE(OpenCatalog(secure).find("certificate is not trusted"), std::string::npos);
  ASSERT_EQ(std::system(("cp " + certificate + " " + folder + "/ca.pem").c_str()), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  EXPECT_EQ(OpenCatalog(secure), "opened");
  ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTDIR, nullptr);
  TrustAuthorities("/etc/ssl/certs/ca-certificates.crt");
  setenv("LDAPURI", ReachDirectory().Uri().c_str(), 1);
}

namespace {

// Runs this test program's `test` in a new process whose environment also
// holds `env` (libldap reads its settings when it starts): its exit status,
// and its output in `output`.
int RunInNewProcess(const std::string& test, const std::vector<std::string>& env, std::string& output) {
  CTempDir scratch;
  const std::string outputFile = scratch.Path() + "output";
  std::vector<std::string> all = env;
  for (char** e = environ; *e != nullptr; ++e) all.emplace_back(*e);
  std::vector<char*> envp;
  for (std::string& e : all) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string exe = "/proc/self/exe";
  std::string filter = "--gtest_filter=" + test;
  char* argv[] = {exe.data(), filter.data(), nullptr};
  const pid_t pid = fork();
  if (pid == 0) {
    if (std::freopen(outputFile.c_str(), "w", stdout) == nullptr) _exit(126);
    execve(exe.c_str(), argv, envp.data());
    _exit(127);
  }
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  std::ifstream in(outputFile);
  output.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

// Run by the test below in a process of its own: the look-up answers, or
// fails naming the SASL mechanism, as HX_TEST_SASL_EXPECT says.
TEST(DirectorySasl, LookUpInNewProcess) {
  const char* expect = std::getenv("HX_TEST_SASL_EXPECT");
  if (expect == nullptr) GTEST_SKIP() << "run by DirectorySasl.ConfiguredMechanismIsTheIdentity";
  const char* mechanism = std::getenv("LDAPSASL_MECH");
  const std::string uri = std::getenv("LDAPURI");
  if (std::string(expect) == "answered") {
    EXPECT_TRUE(LookUpAtOnce(1)[0].answered);
    EXPECT_EQ(OpenCatalog(uri), "opened");
  } else if (mechanism == nullptr) {
    EXPECT_FALSE(LookUpAtOnce(1)[0].answered);
  } else {
    EXPECT_FALSE(LookUpAtOnce(1)[0].answered);
    const std::string text = OpenCatalog(uri);
    EXPECT_NE(text.find(std::string("SASL bind with mechanism ") + mechanism + " failed: "), std::string::npos)
        << text;
    if (std::getenv("HX_LDAP_BINDDN") != nullptr) {
      EXPECT_NE(text.find("HX_LDAP_BINDDN is not used while a SASL mechanism is set"), std::string::npos) << text;
    }
  }
}

// A SASL mechanism set for libldap (LDAPSASL_MECH, as SASL_MECH in the file
// LDAPCONF names) is the identity the module binds with: EXTERNAL over a
// local socket reads a directory only bound users may read; a mechanism
// that cannot bind fails the look-up with words naming it, and no bind of a
// lower identity goes out.
TEST(DirectorySasl, ConfiguredMechanismIsTheIdentity) {
  if (geteuid() != 0) GTEST_SKIP() << "the directory maps root's local credentials";
  std::string host, full;
  ReadComputerNames(host, full);
  CTestDirectory bound;
  bound.OnlyBoundUsersRead();
  ASSERT_EQ(bound.Start(host), "");
  const std::string uri = "LDAPURI=" + bound.LocalUri();
  const std::string test = "DirectorySasl.LookUpInNewProcess";
  std::string output;
  // Anonymous, as without a mechanism: the directory lets it read nothing.
  EXPECT_EQ(RunInNewProcess(test, {uri, "HX_TEST_SASL_EXPECT=nothing"}, output), 0) << output;
  EXPECT_EQ(RunInNewProcess(test, {uri, "LDAPSASL_MECH=EXTERNAL", "HX_TEST_SASL_EXPECT=answered"}, output), 0)
      << output;
  EXPECT_GT(bound.CountLogged("mech=EXTERNAL"), 0);
  const int simple = bound.CountLogged("method=128");
  // A bind name set as well is not what binds, and the words say so.
  EXPECT_EQ(RunInNewProcess(test,
                            {uri, "LDAPSASL_MECH=GSSAPI", "HX_LDAP_BINDDN=cn=reader,dc=hexmoor,dc=test",
                             "HX_LDAP_PASSWORD_FILE=/etc/hostname", "HX_TEST_SASL_EXPECT=failed"},
                            output),
            0)
      << output;
  EXPECT_EQ(bound.CountLogged("method=128"), simple);
  // An identity to act as (SASL_AUTHZID) that the directory does not grant
  // is no bind as the connection's own identity.
  EXPECT_EQ(RunInNewProcess(test,
                            {uri, "LDAPSASL_MECH=EXTERNAL", "LDAPSASL_AUTHZID=dn:cn=nobody,dc=hexmoor,dc=test",
                             "HX_TEST_SASL_EXPECT=failed"},
                            output),
            0)
      << output;
}

// New TLS connections on many threads while the trusted authorities' file
// is replaced: each takes the set-up as it is then, and a connection
// made with the one before keeps it.
TEST(DirectoryReachConcurrent, TlsConnectionsWhileTheTrustFileChanges) {
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
  const std::string authorities = dir.Path() + "authorities.pem";
  // Replaced whole, as a renewal is written.
  const std::string copy = "cp " + certificate + " " + authorities + ".new && mv " + authorities + ".new " +
                           authorities;
  ASSERT_EQ(std::system(copy.c_str()), 0);
  TrustAuthorities(authorities);
  setenv("LDAPURI", ("ldaps://127.0.0.1:" + std::to_string(tls.SecurePort()) + "/").c_str(), 1);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    while (!done) {
      EXPECT_EQ(std::system(copy.c_str()), 0);
      std::this_thread::sleep_for(milliseconds(10));
    }
  });
  for (int round = 0; round < 3; ++round) {
    for (const Outcome& o : LookUpAtOnce(8)) EXPECT_TRUE(o.answered) << round;
  }
  done = true;
  writer.join();
  TrustAuthorities("/etc/ssl/certs/ca-certificates.crt");
  setenv("LDAPURI", ReachDirectory().Uri().c_str(), 1);
}
