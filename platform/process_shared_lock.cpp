#include "platform/process_shared_lock.h"

#include <pthread.h>
#include <time.h>

#include <atomic>
#include <cerrno>

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

}  // namespace

CProcessSharedLock::CProcessSharedLock(const char* name) {
  bool created = false;
  if (!m_section.CreateOrOpen(name, sizeof(Shared), created)) return;
  // A creator that has not yet sized the segment leaves it empty; sizing it
  // again to the same length is harmless.
  if (!m_section.Grow(sizeof(Shared))) return;
  void* view = m_section.MapView(sizeof(Shared));
  if (view == nullptr) return;
  auto* shared = static_cast<Shared*>(view);

  uint32_t expected = kFresh;
  if (shared->state.compare_exchange_strong(expected, kSettingUp, std::memory_order_acq_rel)) {
    if (!InitMutex(&shared->mutex)) {
      shared->state.store(kFresh, std::memory_order_release);
      CSharedMemory::UnmapView(view, sizeof(Shared));
      return;
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
        return;
      }
      shared->state.store(kReady, std::memory_order_release);
    }
  }
  m_pShared = shared;
}

CProcessSharedLock::~CProcessSharedLock() {
  if (m_pShared != nullptr) CSharedMemory::UnmapView(m_pShared, sizeof(Shared));
}

void CProcessSharedLock::Lock() {
  if (m_pShared == nullptr) return;
  int rc = pthread_mutex_lock(&m_pShared->mutex);
  if (rc == EOWNERDEAD) {
    // The holder died inside its write; what it protected may be half
    // written, which the users of this lock check for themselves.
    pthread_mutex_consistent(&m_pShared->mutex);
    rc = 0;
  }
  if (rc == 0) m_bLocked.store(1, std::memory_order_release);
}

void CProcessSharedLock::Unlock() {
  if (m_pShared == nullptr) return;
  m_bLocked.store(0, std::memory_order_release);
  pthread_mutex_unlock(&m_pShared->mutex);
}

DWORD CProcessSharedLock::TryLock() {
  if (m_pShared == nullptr) return 0;
  int rc = pthread_mutex_trylock(&m_pShared->mutex);
  if (rc == EOWNERDEAD) {
    pthread_mutex_consistent(&m_pShared->mutex);
    rc = 0;
  }
  if (rc != 0) return 0;
  m_bLocked.store(1, std::memory_order_release);
  return 1;
}

bool CProcessSharedLock::Remove(const char* name) { return CSharedMemory::Remove(name); }
