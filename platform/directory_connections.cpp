// Kept catalog connections, their generations and the adaptive wait on them.
#include "platform/directory_connections.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <map>
#include <mutex>

#include "platform/adsi.h"
#include "platform/sigpipe_hold.h"
#include "platform/thread_local_instance.h"

namespace {

std::atomic<uint64_t> g_connectionGeneration{1};
std::atomic<int64_t> g_keptIdleMs{kADsKeptIdleSeconds * int64_t{1000}};

// Never destroyed: a request may look a directory up while the process exits.
std::mutex g_catalogBaseLock;
std::map<std::string, std::string>& g_catalogBase = *new std::map<std::string, std::string>;

// The directory's answer time smoothed over the last few answers, and its
// recent slowest answer, fading to nothing over kSlowestFade, in
// microseconds. Updated without a lock: a lost update only shifts an
// estimate.
std::atomic<int64_t> g_answerMicros{0};
std::atomic<int64_t> g_slowestMicros{0};
std::atomic<int64_t> g_slowestAtMicros{0};
constexpr int kKeptSilenceFactor = 10;
constexpr int kSlowestFactor = 2;
constexpr std::chrono::seconds kSlowestFade{60};

int64_t NowMicros() {
  return std::chrono::duration_cast<std::chrono::microseconds>(CoarseSteadyClock::now().time_since_epoch()).count();
}

// The recent slowest answer as it has faded by `now`.
int64_t FadedSlowest(int64_t now) {
  const int64_t fade = std::chrono::duration_cast<std::chrono::microseconds>(kSlowestFade).count();
  const int64_t age = std::clamp<int64_t>(now - g_slowestAtMicros.load(std::memory_order_relaxed), 0, fade);
  const int64_t slowest = g_slowestMicros.load(std::memory_order_relaxed);
  return static_cast<int64_t>(static_cast<double>(slowest) * static_cast<double>(fade - age) / static_cast<double>(fade));
}
constexpr int kDeadSilenceFactor = 2;
// Half a look-up: more than a healthy directory's slow replies take.
constexpr std::chrono::milliseconds kDeadSilenceMin{kADsTimeLimitSeconds * 1000 / 2};

// Whether an idle connection has something to read: the server closed it
// or said it would. Either way it is not used again.
bool PeerClosed(LDAP* ld) {
  int fd = -1;
  if (ldap_get_option(ld, LDAP_OPT_DESC, &fd) != LDAP_OPT_SUCCESS || fd < 0) return true;
  pollfd p{fd, POLLIN | POLLRDHUP, 0};
  return poll(&p, 1, 0) != 0;
}

}  // namespace

uint64_t CurrentGeneration() { return g_connectionGeneration.load(std::memory_order_acquire); }

uint64_t NewGeneration() { return g_connectionGeneration.fetch_add(1, std::memory_order_acq_rel) + 1; }

void CKeptConnection::Drop() {
  // Unbinding writes to a connection the directory may have closed.
  if (ld != nullptr) {
    CSigPipeHold pipeHold;
    ldap_unbind_ext_s(ld, nullptr, nullptr);
  }
  ld = nullptr;
}

CKeptConnection& ThreadConnection() { return ThreadLocalInstance<CKeptConnection>(); }

bool KeptUsable(const CKeptConnection& kept, const std::string& uri) {
  const std::chrono::milliseconds idleAge(g_keptIdleMs.load(std::memory_order_relaxed));
  return kept.uri == uri && kept.generation == CurrentGeneration() &&
         CoarseSteadyClock::now() - kept.idleSince < idleAge && !PeerClosed(kept.ld);
}

void SetKeptIdleAge(std::chrono::milliseconds age) { g_keptIdleMs.store(age.count(), std::memory_order_relaxed); }

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

void NoteAnswerTime(std::chrono::steady_clock::duration took) {
  const int64_t sample = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
  const int64_t smoothed = g_answerMicros.load(std::memory_order_relaxed);
  g_answerMicros.store(smoothed + (sample - smoothed) / 8, std::memory_order_relaxed);
  const int64_t now = NowMicros();
  if (sample >= FadedSlowest(now)) {
    g_slowestMicros.store(sample, std::memory_order_relaxed);
    g_slowestAtMicros.store(now, std::memory_order_relaxed);
  }
}

void ForgetAnswerTimes() {
  g_answerMicros.store(0, std::memory_order_relaxed);
  g_slowestMicros.store(0, std::memory_order_relaxed);
  g_slowestAtMicros.store(0, std::memory_order_relaxed);
}

std::chrono::microseconds KeptSilence(std::chrono::microseconds left) {
  using std::chrono::microseconds;
  microseconds allowed(std::max(g_answerMicros.load(std::memory_order_relaxed) * kKeptSilenceFactor,
                                FadedSlowest(NowMicros()) * kSlowestFactor));
  allowed = std::max<microseconds>(allowed, std::chrono::milliseconds(kADsKeptSilenceMinMs));
  return std::min<microseconds>(allowed, left / 2);
}

std::chrono::microseconds DeadSilence(std::chrono::microseconds silence) {
  return std::max<std::chrono::microseconds>(silence * kDeadSilenceFactor, kDeadSilenceMin);
}
