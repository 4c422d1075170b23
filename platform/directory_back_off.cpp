// Directories in their back-off, by URI, and the probe that ends it.
#include "platform/directory_back_off.h"

#include <atomic>
#include <map>
#include <mutex>

#include "platform/adsi.h"
#include "platform/coarse_clock.h"
#include "platform/directory_connections.h"
#include "platform/thread_local_instance.h"

namespace {

// A directory in its back-off: connections to it fail at once until
// `until`; then one thread probes it (`probing`).
struct Unreachable {
  CoarseSteadyClock::time_point until;
  bool probing = false;
  bool refused = false;
};

std::mutex g_backOffLock;
// Never destroyed: a request may look a directory up while the process exits.
std::map<std::string, Unreachable>& g_unreachableUntil = *new std::map<std::string, Unreachable>;
// How many directories the map holds, readable without the lock: while it
// is 0 no connection can be in its back-off.
std::atomic<size_t> g_unreachableCount{0};
// Counts the changes of the map, so that a thread can tell without the lock
// that an entry it found is still there as it was.
std::atomic<uint64_t> g_unreachableChanges{0};
std::atomic<int64_t> g_retryIntervalMs{kADsRetryIntervalSeconds * int64_t{1000}};
std::atomic<void (*)()> g_answersAgain{nullptr};

// Called under the lock after each change of the map.
void NoteBackOffChange() {
  g_unreachableCount.store(g_unreachableUntil.size(), std::memory_order_relaxed);
  g_unreachableChanges.fetch_add(1, std::memory_order_release);
}

// The back-off this thread found last. While the directory is lost every
// request thread asks for it: they need not all queue for the lock.
struct KnownBackOff {
  bool set = false;
  bool refused = false;
  std::string uri;
  CoarseSteadyClock::time_point until;
  uint64_t changes = 0;
};

KnownBackOff& ThreadBackOff() { return ThreadLocalInstance<KnownBackOff>(); }

}  // namespace

bool InBackOff(const std::string& uri, bool* prober, bool* refused) {
  if (prober != nullptr) *prober = false;
  KnownBackOff& known = ThreadBackOff();
  if (known.set && known.changes == g_unreachableChanges.load(std::memory_order_acquire) &&
      CoarseSteadyClock::now() < known.until && known.uri == uri) {
    if (refused != nullptr) *refused = known.refused;
    return true;
  }
  std::lock_guard<std::mutex> hold(g_backOffLock);
  auto it = g_unreachableUntil.find(uri);
  if (it == g_unreachableUntil.end()) return false;
  const bool waiting = it->second.probing || CoarseSteadyClock::now() < it->second.until;
  if (waiting) {
    known.set = true;
    known.refused = it->second.refused;
    known.uri = uri;
    // A probe ends with a change of the map, which this thread then sees.
    known.until = it->second.probing ? CoarseSteadyClock::time_point::max() : it->second.until;
    known.changes = g_unreachableChanges.load(std::memory_order_relaxed);
    if (refused != nullptr) *refused = it->second.refused;
    return true;
  }
  if (prober == nullptr) return false;
  it->second.probing = true;
  NoteBackOffChange();
  *prober = true;
  return false;
}

bool AnyBackOff() { return g_unreachableCount.load(std::memory_order_relaxed) != 0; }

void MarkUnreachable(const std::string& uri, bool refused) {
  {
    std::lock_guard<std::mutex> hold(g_backOffLock);
    g_unreachableUntil[uri] = Unreachable{CoarseSteadyClock::now() + RetryInterval(), false, refused};
    NoteBackOffChange();
  }
  NewGeneration();
}

uint64_t EndProbe(const std::string& uri) {
  {
    std::lock_guard<std::mutex> hold(g_backOffLock);
    auto it = g_unreachableUntil.find(uri);
    if (it == g_unreachableUntil.end() || !it->second.probing) return 0;
    g_unreachableUntil.erase(it);
    NoteBackOffChange();
  }
  void (*answersAgain)() = g_answersAgain.load(std::memory_order_acquire);
  if (answersAgain != nullptr) answersAgain();
  return NewGeneration();
}

std::chrono::milliseconds RetryInterval() {
  return std::chrono::milliseconds(g_retryIntervalMs.load(std::memory_order_relaxed));
}

void SetRetryInterval(std::chrono::milliseconds interval) {
  g_retryIntervalMs.store(interval.count(), std::memory_order_relaxed);
}

void SetDirectoryAnswersAgainCallback(void (*callback)()) {
  g_answersAgain.store(callback, std::memory_order_release);
}
