// Load on the module's directory look-ups, for the figures of a change to
// the directory layer (not a test: bounded in time, loopback only). It runs
// a private slapd behind the tests' delaying proxy and drives
// CPLGeneralSettings::GetADProperty from 8 threads, each look-up for a name
// of its own so that every one reaches the directory.
//
//   directory_load mixed SECONDS ONE_IN   1 in ONE_IN replies held 1-2.5 s
//   directory_load ramp SECONDS           replies slowing from 20 ms to 2.3 s
//                                         over the first third, then steady
//   directory_load step SECONDS           replies at 20 ms for the first
//                                         third, then every reply 2.3 s
//   directory_load flap SECONDS           10 s windows in turn: down
//                                         (refused), up, slow (2.3 s),
//                                         silent (accepts, never answers)
//   directory_load password SECONDS       a wrong bind password for the
//                                         first two thirds and 5 s (off the
//                                         old 30 s pace), then the right one
//                                         written to the password file
//   directory_load startup READS ONE_IN   start-up reads of the OWA
//                                         configuration, 1 in ONE_IN slow
//   directory_load reread MS              every reply held MS ms: how long
//                                         until the OWA rules are read (at
//                                         start-up or in the background)
//   directory_load list SECONDS           LDAPURI a list whose first host
//                                         accepts and never answers; every
//                                         look-up on a new connection
//   directory_load resolver MS            the directory's name resolved MS
//                                         ms late, 8 look-ups at a cold start
//                                         and then for 10 s
//   directory_load tls SECONDS            ldaps:// in thirds: up, stalled (the
//                                         connections and new handshakes
//                                         hang), up again
//   directory_load untrusted SECONDS      ldaps:// whose certificate no
//                                         authority trusted issued, from 64
//                                         threads: how many connections
//                                         (each a handshake) the refusals
//                                         cost the directory
//   directory_load users SECONDS USERS    look-ups of USERS users of the
//                                         directory, each with a session of
//                                         its own: each once, then at
//                                         random; the directory requests per
//                                         look-up of the random part
#include <ldap.h>
#include <netdb.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "general/host_probes.h"
#include "general/owa_ad_config.h"
#include "general/pl_general_settings.h"
#include "platform/adsi.h"
#include "platform/cache_component.h"
#include "platform/directory_reach.h"
#include "platform/wide_text.h"
#include "directory/delay_proxy.h"
#include "directory/test_directory.h"
#include "support/temp_dir.h"

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
constexpr int kThreads = 8;
constexpr int kMostSecondsOrReads = 600;
constexpr int kMostReplyMs = 10000;

class CLoadSettings : public CPLGeneralSettings {
 public:
  CLoadSettings() {
    ResetCacheComponent();
    InitializeCache();
  }
  // Reads the OWA rules as start-up does, for `host`; whether they are read
  // after at most `within`, and how long that took.
  bool ReadRules(const std::string& host, std::chrono::seconds within, double& seconds) {
    m_strHostName = host;
    m_OWAADConfig.InitPropertyTable();
    const auto start = Clock::now();
    bool read = SUCCEEDED(ReadOWAADOrLater());
    while (!read && Clock::now() - start < within) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      read = &GetOWAADConfig() != &m_OWAADConfig;
    }
    seconds = std::chrono::duration<double>(Clock::now() - start).count();
    return read;
  }
};

// A resolver that answers g_resolverDelayMs late, with the loopback.
std::atomic<int> g_resolverDelayMs{0};
int LateResolver(const char* name, const char* service, const addrinfo* hints, addrinfo** result) {
  std::this_thread::sleep_for(std::chrono::milliseconds(g_resolverDelayMs.load()));
  addrinfo numeric = *hints;
  numeric.ai_flags = AI_NUMERICHOST;
  return getaddrinfo("127.0.0.1", service, &numeric, result);
}

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

constexpr int kMostPhases = 128;

struct Tally {
  std::atomic<int> lookUps{0};
  std::atomic<int> failed{0};
  std::atomic<int> failedAtOnce{0};  // refused within a back-off
  std::atomic<int64_t> slowestUs{0};
  // By phase of the load (set by the tick), as the look-up began: how many,
  // how many failed, and when the first of them answered, in ms after the
  // phase began (-1: none).
  std::atomic<int> phase{0};
  Clock::time_point phaseStart[kMostPhases];
  std::atomic<int> phaseLookUps[kMostPhases] = {};
  std::atomic<int> phaseFailed[kMostPhases] = {};
  std::atomic<int64_t> phaseFirstOkMs[kMostPhases];
  Tally() {
    for (auto& first : phaseFirstOkMs) first = -1;
  }
  // Starts phase `p` now (from the tick only).
  void Enter(int p) {
    phaseStart[p] = Clock::now();
    phase = p;
  }
};

// `count` threads look users up for `seconds`; `tick` runs on the main
// thread every 100 ms with the time elapsed.
void Drive(CLoadSettings& s, int seconds, Tally& tally, const std::function<void(double)>& tick,
           int count = kThreads) {
  std::atomic<bool> stop{false};
  tally.Enter(0);
  std::vector<std::thread> threads;
  for (int t = 0; t < count; ++t) {
    threads.emplace_back([&, t] {
      // A name of its own each time: every look-up is one search.
      for (int i = 0; !stop.load(); ++i) {
        const std::string cookie = "UserContext=load-" + std::to_string(t) + "-" + std::to_string(i);
        std::string value;
        const auto asked = Clock::now();
        const int phase = tally.phase.load();
        const std::string user = "DOM\\load-" + std::to_string(t) + "-" + std::to_string(i);
        const HRESULT hr = s.GetADProperty(ci_string(user.c_str()), "msExchUserCulture", value,
                                           ci_string(cookie.c_str()), "", false);
        const int64_t us = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - asked).count();
        int64_t slowest = tally.slowestUs.load();
        while (us > slowest && !tally.slowestUs.compare_exchange_weak(slowest, us)) {
        }
        ++tally.lookUps;
        ++tally.phaseLookUps[phase];
        if (FAILED(hr) && hr != kADNoValue) {
          ++tally.failed;
          ++tally.phaseFailed[phase];
          if (ADsLastFailureIsRepeat()) {
            ++tally.failedAtOnce;
            // A request refused at once is cheap; a loop of them would only
            // load the machine.
            std::this_thread::sleep_for(1ms);
          }
        } else {
          const int64_t ms =
              std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - tally.phaseStart[phase]).count();
          int64_t first = tally.phaseFirstOkMs[phase].load();
          while ((first < 0 || ms < first) && !tally.phaseFirstOkMs[phase].compare_exchange_weak(first, ms)) {
          }
        }
      }
    });
  }
  const auto start = tally.phaseStart[0];
  while (Clock::now() - start < std::chrono::seconds(seconds)) {
    std::this_thread::sleep_for(100ms);
    tick(Seconds(Clock::now() - start));
  }
  stop = true;
  for (std::thread& t : threads) t.join();
}

// The user of number `i` of the users mode.
std::string LoadUserName(int i) { return "load-user-" + std::to_string(i); }

std::string LoadUsersLdif(int users) {
  std::string ldif;
  for (int i = 0; i < users; ++i) {
    const std::string name = LoadUserName(i);
    ldif += "dn: cn=" + name + ",cn=Users," + std::string(CTestDirectory::kBase) +
            "\nobjectClass: user\ncn: " + name + "\nobjectCategory: person\nsAMAccountName: " + name +
            "\nmsExchUserCulture: de-DE\n\n";
  }
  return ldif;
}

// The process's resident memory in KB, from /proc.
long ResidentKb() {
  std::ifstream status("/proc/self/status");
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

// Looks up each of `users` once (the cache fills as far as it can), then 8
// threads look up users at random for `seconds`: the directory requests per
// look-up of that second part is what a look-up costs at that many users.
void DriveUsers(CLoadSettings& s, int seconds, int users, CTestDirectory& directory, CDelayProxy& proxy) {
  std::atomic<bool> stop{false};
  std::atomic<int64_t> lookUps{0};
  std::atomic<int64_t> failed{0};
  auto lookUp = [&](int i) {
    const std::string cookie = "UserContext=session-of-" + std::to_string(i);
    const std::string user = "DOM\\" + LoadUserName(i);
    std::string value;
    const HRESULT hr =
        s.GetADProperty(ci_string(user.c_str()), "msExchUserCulture", value, ci_string(cookie.c_str()), "", false);
    if (FAILED(hr)) ++failed;
    ++lookUps;
  };
  proxy.SetDelay(0ms);
  const long residentBefore = ResidentKb();
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = t; i < users; i += kThreads) lookUp(i);
    });
  }
  for (std::thread& t : threads) t.join();
  threads.clear();
  std::printf("users: resident memory %ld KB before, %ld KB after each user was looked up once\n", residentBefore,
              ResidentKb());
  proxy.SetDelay(20ms);
  auto requests = [&] { return directory.CountLogged("SRCH base=") + directory.CountLogged("BIND dn="); };
  std::this_thread::sleep_for(300ms);  // slapd's log
  const int atStart = requests();
  const int64_t filled = lookUps.exchange(0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      std::mt19937 random(static_cast<unsigned>(t) + 1);
      std::uniform_int_distribution<int> pick(0, users - 1);
      while (!stop.load()) lookUp(pick(random));
    });
  }
  std::this_thread::sleep_for(std::chrono::seconds(seconds));
  stop = true;
  for (std::thread& t : threads) t.join();
  std::this_thread::sleep_for(300ms);
  const int64_t all = lookUps.load();
  std::printf("users: %d users looked up once (%lld look-ups), then %d s at random: %lld look-ups, %lld failed, "
              "%.3f directory requests a look-up\n",
              users, static_cast<long long>(filled), seconds, static_cast<long long>(all),
              static_cast<long long>(failed.load()), all ? double(requests() - atStart) / double(all) : 0.0);
}

void Report(const char* what, const Tally& tally, CTestDirectory& directory, int searchesBefore, int bindsBefore,
            const CDelayProxy& proxy, double seconds) {
  std::this_thread::sleep_for(300ms);  // slapd's log
  const int searches = directory.CountLogged("SRCH base=") - searchesBefore;
  const int binds = directory.CountLogged("BIND dn=") - bindsBefore;
  std::printf("%s: %.0f s, %d look-ups, %d failed (%d at once in a back-off), slowest %.2f s; %d connections "
              "(%.1f a minute), %d searches and %d binds (%.3f directory requests a look-up)\n",
              what, seconds, tally.lookUps.load(), tally.failed.load(), tally.failedAtOnce.load(),
              tally.slowestUs.load() / 1e6, proxy.Accepted(), proxy.Accepted() * 60.0 / seconds, searches, binds,
              tally.lookUps.load() ? double(searches + binds) / tally.lookUps.load() : 0.0);
}

// The figures of each phase: look-ups begun in it, failed, and the first
// answer in it.
void ReportPhases(const Tally& tally, const std::function<std::string(int)>& name) {
  for (int p = 0; p <= tally.phase.load(); ++p) {
    const int64_t first = tally.phaseFirstOkMs[p].load();
    std::printf("  %-14s %5d look-ups, %5d failed, first answer %s\n", name(p).c_str(), tally.phaseLookUps[p].load(),
                tally.phaseFailed[p].load(), first < 0 ? "none" : (std::to_string(first) + " ms in").c_str());
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: directory_load mixed|ramp|password|startup|reread|users N [ONE_IN|USERS]\n");
    return 2;
  }
  const std::string mode = argv[1];
  const int n = std::atoi(argv[2]);
  const int oneIn = argc > 3 ? std::atoi(argv[3]) : 20;
  // Bounded, as the header says: a mistyped count must not load the machine
  // for hours.
  const int most = mode == "reread" || mode == "resolver" ? kMostReplyMs : kMostSecondsOrReads;
  if (n < 1 || n > most || oneIn < 1) {
    std::fprintf(stderr, "N from 1 to %d, ONE_IN at least 1\n", most);
    return 2;
  }
  std::string host, full;
  ReadComputerNames(host, full);
  const int users = mode == "users" ? (argc > 3 ? std::atoi(argv[3]) : 10000) : 0;
  if (users < 0 || users > 100000) {
    std::fprintf(stderr, "USERS from 1 to 100000\n");
    return 2;
  }
  CTestDirectory directory;
  CTempDir scratchTls;
  std::string certificate, key;
  if (mode == "tls" || mode == "untrusted") {
    certificate = scratchTls.Path() + "directory.pem";
    key = scratchTls.Path() + "directory.key";
    const std::string make = "openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=directory.hexmoor.test "
                             "-addext subjectAltName=IP:127.0.0.1 -keyout " + key + " -out " + certificate +
                             " >/dev/null 2>&1";
    if (std::system(make.c_str()) != 0) return 1;
  }
  if (mode == "tls") {
    ldap_set_option(nullptr, LDAP_OPT_X_TLS_CACERTFILE, certificate.c_str());
    const int client = 0;
    ldap_set_option(nullptr, LDAP_OPT_X_TLS_NEWCTX, &client);
  }
  const std::string error = directory.Start(host, LoadUsersLdif(users), {}, certificate, key);
  if (!error.empty()) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  CDelayProxy proxy(directory.Port(), 20ms);
  setenv("LDAPURI", proxy.Uri().c_str(), 1);
  const int searchesBefore = directory.CountLogged("SRCH base=");
  const int bindsBefore = directory.CountLogged("BIND dn=");
  if (mode == "reread") {
    proxy.SetDelay(std::chrono::milliseconds(n));
    CLoadSettings s;
    double seconds = 0;
    const bool read = s.ReadRules(host, 80s, seconds);
    std::printf("reread: every reply %d ms: rules %s after %.1f s, %d connections\n", n,
                read ? "read" : "not read", seconds, proxy.Accepted());
    return 0;
  }
  if (mode == "startup") {
    proxy.SetSlowReplies(oneIn, 1000ms, 2500ms);
    int overran = 0;
    double slowest = 0;
    for (int i = 0; i < n; ++i) {
      COWAADConfig config;
      config.InitPropertyTable();
      config.m_wstrServerName = WideFromBytes(host);
      const auto start = Clock::now();
      const HRESULT hr = config.ReadProperties(L"");
      slowest = std::max(slowest, Seconds(Clock::now() - start));
      if (FAILED(hr)) ++overran;
    }
    std::printf("startup: %d reads, 1 in %d replies 1-2.5 s: %d failed, slowest %.2f s\n", n, oneIn, overran, slowest);
    return 0;
  }
  CLoadSettings s;
  if (mode == "users") {
    DriveUsers(s, n, users, directory, proxy);
    return 0;
  }
  Tally tally;
  if (mode == "mixed") {
    proxy.SetSlowReplies(oneIn, 1000ms, 2500ms);
    Drive(s, n, tally, [](double) {});
  } else if (mode == "ramp") {
    Drive(s, n, tally, [&](double at) {
      const double ramp = n / 3.0;
      const double share = at >= ramp ? 1.0 : at / ramp;
      proxy.SetDelay(std::chrono::milliseconds(20 + static_cast<int>(share * 2280)));
    });
  } else if (mode == "step") {
    Drive(s, n, tally, [&](double at) {
      if (tally.phase.load() == 0 && at >= n / 3.0) {
        proxy.SetDelay(2300ms);
        tally.Enter(1);
      }
    });
    ReportPhases(tally, [](int p) { return std::string(p == 0 ? "20 ms" : "2.3 s"); });
  } else if (mode == "flap") {
    const char* kWindows[] = {"down", "up", "slow", "silent"};
    int applied = -1;
    Drive(s, n, tally, [&](double at) {
      const int window = std::min(static_cast<int>(at / 10), kMostPhases - 1);
      if (window == applied) return;
      applied = window;
      switch (window % 4) {
        case 0:
          proxy.BlackHoleNew(false);
          proxy.Refuse(true);
          break;
        case 1:
          proxy.SetDelay(20ms);
          proxy.Refuse(false);
          break;
        case 2:
          proxy.SetDelay(2300ms);
          break;
        default:
          proxy.BlackHoleExisting();
          proxy.BlackHoleNew(true);
          break;
      }
      if (window != 0) tally.Enter(window);
    });
    ReportPhases(tally, [&](int p) { return std::to_string(p * 10) + " s " + kWindows[p % 4]; });
  } else if (mode == "password") {
    // In a directory of its own: a fixed name in /tmp could be another
    // user's link to a file of ours.
    CTempDir scratch;
    const std::string file = scratch.Write("password", "Wr0ng-S3cret\n");
    setenv("HX_LDAP_BINDDN", ("cn=Service," + std::string(CTestDirectory::kBase)).c_str(), 1);
    setenv("HX_LDAP_PASSWORD_FILE", file.c_str(), 1);
    // Refused binds counted in each 10 s.
    std::vector<int> refused;
    int counted = 0;
    Drive(s, n, tally, [&](double at) {
      if (static_cast<int>(at / 10) > static_cast<int>(refused.size())) {
        const int now = directory.CountLogged("RESULT tag=97 err=49");
        refused.push_back(now - counted);
        counted = now;
      }
      if (tally.phase.load() == 0 && at >= n * 2 / 3.0 + 5) {
        scratch.Write("password", "C0rrect-S3cret\n");
        tally.Enter(1);
      }
    });
    std::printf("refused binds by 10 s:");
    for (int r : refused) std::printf(" %d", r);
    std::printf("\n");
    ReportPhases(tally, [](int p) { return std::string(p == 0 ? "wrong password" : "corrected"); });
  } else if (mode == "tls") {
    CDelayProxy secure(directory.SecurePort(), 20ms);
    setenv("LDAPURI", ("ldaps://127.0.0.1:" + secure.Uri().substr(17)).c_str(), 1);
    Drive(s, n, tally, [&](double at) {
      if (tally.phase.load() == 0 && at >= n / 3.0) {
        secure.BlackHoleExisting();
        secure.BlackHoleNew(true);
        tally.Enter(1);
      } else if (tally.phase.load() == 1 && at >= n * 2 / 3.0) {
        secure.BlackHoleNew(false);
        tally.Enter(2);
      }
    });
    const char* kThirds[] = {"up", "stalled", "up again"};
    ReportPhases(tally, [&](int p) { return std::string(kThirds[p]); });
  } else if (mode == "untrusted") {
    constexpr int kUntrustedThreads = 64;
    CDelayProxy secure(directory.SecurePort(), 0ms);
    setenv("LDAPURI", ("ldaps://127.0.0.1:" + secure.Uri().substr(17)).c_str(), 1);
    Drive(s, n, tally, [](double) {}, kUntrustedThreads);
    std::printf("untrusted: %d threads, %d ldaps connections (each a TLS handshake)\n", kUntrustedThreads,
                secure.Accepted());
  } else if (mode == "list") {
    CDelayProxy silent(directory.Port(), CDelayProxy::kNeverAnswer);
    setenv("LDAPURI", (silent.Uri() + " " + proxy.Uri()).c_str(), 1);
    ADsSetKeptIdleAge(0ms);
    Drive(s, n, tally, [](double) {});
    ADsSetKeptIdleAge(std::chrono::seconds(kADsKeptIdleSeconds));
  } else if (mode == "resolver") {
    g_resolverDelayMs = n;
    SetDirectoryResolver(&LateResolver);
    setenv("LDAPURI", ("ldap://directory.hexmoor.test:" + proxy.Uri().substr(17)).c_str(), 1);
    Drive(s, 10, tally, [](double) {});
    SetDirectoryResolver(nullptr);
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  Report(mode.c_str(), tally, directory, searchesBefore, bindsBefore, proxy, mode == "resolver" ? 10 : n);
  return 0;
}
