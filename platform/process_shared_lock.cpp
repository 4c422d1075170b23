#include "platform/process_shared_lock.h"

#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <time.h>

#include <cerrno>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

struct CProcessSharedLock::Shared {
  // 0: fresh segment, 1: being set up, 2: ready.
  std::atomic<uint32_t> state;
  pthread_mutex_t mutex;
  // The pid namespace of the first opener, and whether any opener ran in
  // another: a holder's thread id is judged only where every opener sees
  // the same ids.
  std::atomic<uint64_t> pidNamespace;
  std::atomic<uint32_t> mixedNamespaces;
  // How often the mutex was set up again: of several openers that found it
  // broken, only one does it, and none sets up one that was set up since
  // (and may be held already).
  std::atomic<uint32_t> repairs;
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

// Sets a fresh mutex up, once among all openers: whoever wins the state
// word does it, the others wait for it. One that died half-way would leave
// it in set-up for good: after two seconds the waiter does it.
void SetUp(std::atomic<uint32_t>& state, pthread_mutex_t* m) {
  uint32_t expected = kFresh;
  if (state.compare_exchange_strong(expected, kSettingUp, std::memory_order_acq_rel)) {
    InitMutex(m);
    state.store(kReady, std::memory_order_release);
    return;
  }
  for (int i = 0; i < 2000 && state.load(std::memory_order_acquire) != kReady; ++i) Pause();
  if (state.load(std::memory_order_acquire) != kReady) {
    InitMutex(m);
    state.store(kReady, std::memory_order_release);
  }
}

// Takes over the mutex a dead holder left (EOWNERDEAD): 0 when it is ours.
// The thread checker counts a trylock that ended so as taken, but not a
// timed lock (timed): it is told.
int TakeOver(pthread_mutex_t* m, bool timed) {
  if (pthread_mutex_consistent(m) != 0) {
    pthread_mutex_unlock(m);
    return ENOTRECOVERABLE;
  }
#if defined(__SANITIZE_THREAD__)
  if (timed) {
    __tsan_mutex_pre_lock(m, 0);
    __tsan_mutex_post_lock(m, 0, 0);
  }
#else
  (void)timed;
#endif
  return 0;
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

timespec Now(clockid_t clock) {
  timespec t{};
  clock_gettime(clock, &t);
  return t;
}

int64_t MillisecondsSince(const timespec& start) {
  const timespec now = Now(CLOCK_MONOTONIC);
  return (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
}

// The kernel ends a wait on a wall-clock deadline only when the wall clock
// gets there: one set back an hour during the wait would stretch it by the
// hour. The monotonic clock cannot be set; the thread checker knows only
// the wall-clock call, so its builds keep that one.
#if defined(__SANITIZE_THREAD__)
constexpr clockid_t kWaitClock = CLOCK_REALTIME;
int TimedLock(pthread_mutex_t* m, const timespec* deadline) { return pthread_mutex_timedlock(m, deadline); }
#else
constexpr clockid_t kWaitClock = CLOCK_MONOTONIC;
int TimedLock(pthread_mutex_t* m, const timespec* deadline) {
  return pthread_mutex_clocklock(m, CLOCK_MONOTONIC, deadline);
}
#endif

timespec DeadlineIn(int64_t milliseconds) {
  timespec deadline = Now(kWaitClock);
  deadline.tv_nsec += static_cast<long>(milliseconds) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_nsec -= 1000000000L;
    ++deadline.tv_sec;
  }
  return deadline;
}

uint64_t OwnPidNamespace() {
  struct stat st{};
  return stat("/proc/self/ns/pid", &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
}

#ifdef __GLIBC__
// The kind word every mutex set up by InitMutex carries.
int OurKind() {
  static const int kind = [] {
    pthread_mutex_t m;
    if (!InitMutex(&m)) return -1;
    const int k = m.__data.__kind;
    pthread_mutex_destroy(&m);
    return k;
  }();
  return kind;
}
#endif

// The thread id the lock word names as holder (in the holder's pid
// namespace); 0 when free or not known.
int HolderOf(pthread_mutex_t* m) {
#ifdef __GLIBC__
  return std::atomic_ref<int>(m->__data.__lock).load(std::memory_order_relaxed) & FUTEX_TID_MASK;
#else
  (void)m;
  return 0;
#endif
}

// Whether the mutex is plainly not one InitMutex set up, or is held by a
// thread that is gone: the robust mutex keeps its holder's thread id in its
// lock word, and the kernel clears it there when that thread ends, so an id
// of no living thread means the word was written over. Thread ids are judged
// only where every opener sees the same ones.
bool LooksBroken(pthread_mutex_t* m, bool judgeHolder) {
#ifdef __GLIBC__
  if (std::atomic_ref<int>(m->__data.__kind).load(std::memory_order_relaxed) != OurKind()) return true;
  if (!judgeHolder) return false;
  const pid_t holder = HolderOf(m);
  // One that let go and ended between the two looks is no sign.
  return holder > 0 && kill(holder, 0) != 0 && errno == ESRCH && HolderOf(m) == holder;
#else
  (void)m;
  (void)judgeHolder;
  return false;
#endif
}

}  // namespace

// Sets the broken mutex up again where it lies, unless another opener did
// since `seen` was read.
void CProcessSharedLock::Repair(uint32_t seen) {
  Shared* s = m_pShared;
  if (!s->repairs.compare_exchange_strong(seen, seen + 1, std::memory_order_acq_rel)) return;
  s->state.store(kSettingUp, std::memory_order_release);
  InitMutex(&s->mutex);
  s->state.store(kReady, std::memory_order_release);
}

CProcessSharedLock::CProcessSharedLock(const char* name, int waitLimitMs)
    : m_name(name != nullptr ? name : ""), m_waitLimitMs(waitLimitMs) {
  bool created = false;
  if (!m_section.CreateOrOpen(m_name.c_str(), sizeof(Shared), created)) return;
  // A creator that has not yet sized the segment leaves it empty (and one of
  // an older version smaller); sizing it again is harmless. Its page is
  // backed before it is touched: on a full /dev/shm (any user can fill it)
  // the first touch would kill the process instead of failing here.
  if (!m_section.Grow(sizeof(Shared)) || !m_section.Commit(0, sizeof(Shared))) return;
  auto* shared = static_cast<Shared*>(m_section.MapView(sizeof(Shared)));
  if (shared == nullptr) return;
  if (shared->state.load(std::memory_order_acquire) != kReady) SetUp(shared->state, &shared->mutex);

  const uint64_t ns = OwnPidNamespace();
  uint64_t first = 0;
  if (ns == 0 || (!shared->pidNamespace.compare_exchange_strong(first, ns, std::memory_order_acq_rel) && first != ns)) {
    shared->mixedNamespaces.store(1, std::memory_order_release);
  }
  m_pShared = shared;
}

CProcessSharedLock::~CProcessSharedLock() { CSharedMemory::UnmapView(m_pShared, sizeof(Shared)); }

int CProcessSharedLock::Acquire(int milliseconds) {
  Shared* s = m_pShared;
  const timespec start = Now(CLOCK_MONOTONIC);
  bool brokenBefore = false;
  for (;;) {
    const int64_t left = milliseconds - MillisecondsSince(start);
    if (left <= 0) return ETIMEDOUT;
    if (s->state.load(std::memory_order_acquire) != kReady) {
      SetUp(s->state, &s->mutex);  // another process sets it up again
      continue;
    }
    const uint32_t repairs = s->repairs.load(std::memory_order_acquire);
    // Slices of at most 100 ms, the whole wait measured on the monotonic
    // clock.
    const timespec deadline = DeadlineIn(left < 100 ? left : 100);
    const int rc = TimedLock(&s->mutex, &deadline);
    if (rc == 0) return 0;
    // The holder died inside its write; what it protected may be half
    // written, which the users of this lock check for themselves.
    if (rc == EOWNERDEAD && TakeOver(&s->mutex, true) == 0) return 0;
    if (rc == EOWNERDEAD) continue;
    if (rc == EINVAL || rc == ENOTRECOVERABLE) {
      // Its bytes were written over: set up again in the same place, so
      // every opener keeps sharing it.
      Repair(repairs);
      Pause();
      continue;
    }
    if (rc != ETIMEDOUT) return rc;
    // Held. Broken twice in a row (a holder does not just hand over): nobody
    // holds it, so it is set up again in place.
    if (!LooksBroken(&s->mutex, s->mixedNamespaces.load(std::memory_order_acquire) == 0)) {
      brokenBefore = false;
    } else if (!brokenBefore) {
      brokenBefore = true;
    } else {
      Repair(repairs);
      brokenBefore = false;
    }
  }
}

bool CProcessSharedLock::NoteHeld() {
  if (!PushHeld(this, &m_pShared->mutex)) {
    pthread_mutex_unlock(&m_pShared->mutex);  // nested too deep to track: not taken
    return false;
  }
  m_bStalled.store(false, std::memory_order_relaxed);
  m_bLocked.store(1, std::memory_order_release);
  return true;
}

void CProcessSharedLock::Lock() {
  if (m_pShared == nullptr) return;
  // A thread that holds it already would wait on itself.
  const int held = FindHeld(this);
  if (held < 0 || t_held[held].mutex == nullptr) {
    const bool stalled = m_bStalled.load(std::memory_order_relaxed);
    const int stuck = m_stuckHolder.load(std::memory_order_relaxed);
    // The holder given up on still has it: no wait can end otherwise.
    if (stalled && stuck != 0 && HolderOf(&m_pShared->mutex) == stuck) {
      PushHeld(this, nullptr);
      return;
    }
    if (Acquire(stalled ? kProcessSharedLockStalledWaitMs : m_waitLimitMs) == 0) {
      if (!NoteHeld()) PushHeld(this, nullptr);
      return;
    }
    m_stuckHolder.store(HolderOf(&m_pShared->mutex), std::memory_order_relaxed);
    m_bStalled.store(true, std::memory_order_relaxed);
  }
  // This line goes without the lock; the lock stays as it is.
  PushHeld(this, nullptr);
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
  if (m_pShared == nullptr) return 0;
  const int held = FindHeld(this);
  if (held >= 0 && t_held[held].mutex != nullptr) return 0;
  const uint32_t repairs = m_pShared->repairs.load(std::memory_order_acquire);
  int rc = pthread_mutex_trylock(&m_pShared->mutex);
  if (rc == EOWNERDEAD) {
    rc = TakeOver(&m_pShared->mutex, false);
  } else if (rc == EINVAL || rc == ENOTRECOVERABLE) {
    Repair(repairs);
  }
  return rc == 0 && NoteHeld() ? 1 : 0;
}

DWORD CProcessSharedLock::IsLocked() {
  const int i = FindHeld(this);
  return i >= 0 && t_held[i].mutex != nullptr ? 1 : 0;
}

bool CProcessSharedLock::Remove(const char* name) { return CSharedMemory::Remove(name); }
