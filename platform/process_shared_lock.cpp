#include "platform/process_shared_lock.h"

#include <pthread.h>
#include <time.h>

#include <cerrno>
#include <utility>

struct CProcessSharedLock::Shared {
  // 0: fresh segment, 1: being set up, 2: ready.
  std::atomic<uint32_t> state;
  pthread_mutex_t mutex;
};

namespace {

constexpr uint32_t kFresh = 0;
constexpr uint32_t kSettingUp = 1;
constexpr uint32_t kReady = 2;

bool InitMutex(pthread_mutex_t* m) {
  pthread_mutexattr_t attr;
  if (pthread_mutexattr_init(&attr) != 0) return false;
  bool ok = pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED) == 0 &&
            pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST) == 0 &&
            pthread_mutex_init(m, &attr) == 0;
  pthread_mutexattr_destroy(&attr);
  return ok;
}

void Pause() {
  timespec ts{0, 1000000};  // 1 ms
  nanosleep(&ts, nullptr);
}

// The mutexes the calling thread holds (null for a Lock that gave up), by
// lock object, in the order taken. Plain data: a thread-local with a
// destructor would keep the log module from ever being unloaded.
struct HeldEntry {
  const CProcessSharedLock* owner;
  pthread_mutex_t* mutex;
};
constexpr int kMaxHeld = 8;
thread_local HeldEntry t_held[kMaxHeld];
thread_local int t_heldCount = 0;

bool PushHeld(const CProcessSharedLock* owner, pthread_mutex_t* mutex) {
  if (t_heldCount == kMaxHeld) return false;
  t_held[t_heldCount++] = {owner, mutex};
  return true;
}

// The latest entry of the owner, or -1.
int FindHeld(const CProcessSharedLock* owner) {
  for (int i = t_heldCount - 1; i >= 0; --i) {
    if (t_held[i].owner == owner) return i;
  }
  return -1;
}

// 0 when the mutex is ours; a holder that died leaves it to us.
int TakeOver(pthread_mutex_t* m, int rc) {
  if (rc == EOWNERDEAD) {
    // The holder died inside its write; what it protected may be half
    // written, which the users of this lock check for themselves.
    return pthread_mutex_consistent(m) == 0 ? 0 : ENOTRECOVERABLE;
  }
  return rc;
}

timespec Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t;
}

int64_t MillisecondsSince(const timespec& start) {
  const timespec now = Now(CLOCK_MONOTONIC);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// pthread_mutex_timedlock in slices of at most 100 ms against the wall
// clock, the whole wait measured on the monotonic clock: a clock set back
// cannot stretch it.
int LockWithin(pthread_mutex_t* m, int milliseconds) {
  const timespec start = Now(CLOCK_MONOTONIC);
  for (;;) {
    const int64_t left = milliseconds - MillisecondsSince(start);
    if (left <= 0) return ETIMEDOUT;
    timespec deadline = Now(CLOCK_REALTIME);
    const int64_t slice = left < 100 ? left : 100;
    deadline.tv_nsec += static_cast<long>(slice) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_nsec -= 1000000000L;
      ++deadline.tv_sec;
    }
    const int rc = pthread_mutex_timedlock(m, &deadline);
    if (rc != ETIMEDOUT) return rc;
  }
}

}  // namespace

std::unique_ptr<CProcessSharedLock::Mapping> CProcessSharedLock::Open(const std::string& name) {
  auto mapping = std::make_unique<Mapping>();
  bool created = false;
  if (!mapping->section.CreateOrOpen(name.c_str(), sizeof(Shared), created)) return nullptr;
  // A creator that has not yet sized the segment leaves it empty; sizing it
  // again to the same length is harmless.
  if (!mapping->section.Grow(sizeof(Shared))) return nullptr;
  void* view = mapping->section.MapView(sizeof(Shared));
  if (view == nullptr) return nullptr;
  auto* shared = static_cast<Shared*>(view);

  uint32_t expected = kFresh;
  if (shared->state.compare_exchange_strong(expected, kSettingUp, std::memory_order_acq_rel)) {
    if (!InitMutex(&shared->mutex)) {
      shared->state.store(kFresh, std::memory_order_release);
      CSharedMemory::UnmapView(view, sizeof(Shared));
      return nullptr;
    }
    shared->state.store(kReady, std::memory_order_release);
  } else {
    // Another process is setting it up. One that died half-way would leave
    // it in set-up for good: after two seconds this process does it.
    for (int i = 0; i < 2000 && shared->state.load(std::memory_order_acquire) != kReady; ++i) {
      Pause();
    }
    if (shared->state.load(std::memory_order_acquire) != kReady) {
      if (!InitMutex(&shared->mutex)) {
        CSharedMemory::UnmapView(view, sizeof(Shared));
        return nullptr;
      }
      shared->state.store(kReady, std::memory_order_release);
    }
  }
  mapping->shared = shared;
  return mapping;
}

CProcessSharedLock::CProcessSharedLock(const char* name) : m_name(name != nullptr ? name : "") {
  std::unique_ptr<Mapping> mapping = Open(m_name);
  if (!mapping) return;
  m_pShared.store(mapping->shared, std::memory_order_release);
  m_mappings.push_back(std::move(mapping));
}

CProcessSharedLock::~CProcessSharedLock() {
  for (const auto& m : m_mappings) CSharedMemory::UnmapView(m->shared, sizeof(Shared));
}

void CProcessSharedLock::Recreate(Shared* broken) {
  std::lock_guard<std::mutex> guard(m_recreateLock);
  // Another thread of this process may have done it already.
  if (m_pShared.load(std::memory_order_acquire) != broken) return;
  // Another process may have made it anew already; then that one is shared.
  for (const auto& m : m_mappings) {
    if (m->shared == broken && m->section.IsNamed(m_name.c_str())) CSharedMemory::Remove(m_name.c_str());
  }
  std::unique_ptr<Mapping> mapping = Open(m_name);
  if (!mapping) return;  // the next Lock tries again
  m_pShared.store(mapping->shared, std::memory_order_release);
  m_mappings.push_back(std::move(mapping));
}

void CProcessSharedLock::Lock() {
  Shared* shared = m_pShared.load(std::memory_order_acquire);
  if (shared == nullptr) return;
  const int rc = TakeOver(&shared->mutex, LockWithin(&shared->mutex, kProcessSharedLockWaitMs));
  if (rc == 0) {
    if (PushHeld(this, &shared->mutex)) {
      m_bLocked.store(1, std::memory_order_release);
    } else {
      pthread_mutex_unlock(&shared->mutex);  // nested too deep to track: not taken
      PushHeld(this, nullptr);
    }
    return;
  }
  // Stuck, overwritten or unrecoverable: this line goes without the lock,
  // and the lock is made anew for the next.
  PushHeld(this, nullptr);
  Recreate(shared);
}

void CProcessSharedLock::Unlock() {
  const int i = FindHeld(this);
  if (i < 0) return;
  pthread_mutex_t* mutex = t_held[i].mutex;
  for (int k = i; k + 1 < t_heldCount; ++k) t_held[k] = t_held[k + 1];
  --t_heldCount;
  if (mutex != nullptr) {
    m_bLocked.store(0, std::memory_order_release);
    pthread_mutex_unlock(mutex);
  }
}

DWORD CProcessSharedLock::TryLock() {
  Shared* shared = m_pShared.load(std::memory_order_acquire);
  if (shared == nullptr) return 0;
  const int rc = TakeOver(&shared->mutex, pthread_mutex_trylock(&shared->mutex));
  if (rc != 0) {
    if (rc != EBUSY) Recreate(shared);
    return 0;
  }
  if (!PushHeld(this, &shared->mutex)) {
    pthread_mutex_unlock(&shared->mutex);
    return 0;
  }
  m_bLocked.store(1, std::memory_order_release);
  return 1;
}

DWORD CProcessSharedLock::IsLocked() {
  const int i = FindHeld(this);
  return i >= 0 && t_held[i].mutex != nullptr ? 1 : 0;
}

bool CProcessSharedLock::Remove(const char* name) { return CSharedMemory::Remove(name); }
