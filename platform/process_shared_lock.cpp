#include "platform/process_shared_lock.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <pthread.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>

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

// Takes the mutex within the slice. glibc's own timed lock ends the whole
// process when its futex wait meets the page another program just cut from
// the segment (EFAULT is fatal to it), so the wait is this one's, in the
// same protocol: the waiters bit set in the lock word, a futex wait on it
// that the holder's unlock wakes, each on the monotonic clock. EFAULT is
// then the cut it is: the next touch of the word grows the segment back
// (OnBus).
int TimedLock(pthread_mutex_t* m, int64_t milliseconds) {
#ifdef __GLIBC__
  const timespec start = Now(CLOCK_MONOTONIC);
  bool waited = false;
  std::atomic_ref<int> word(m->__data.__lock);
  for (int spin = 0;; ++spin) {
    const int rc = pthread_mutex_trylock(m);
    if (rc != EBUSY) {
      // Others may still wait, as this thread did: its unlock wakes one.
      int mine = word.load(std::memory_order_relaxed);
      if (rc == 0 && waited && (mine & FUTEX_WAITERS) == 0) {
        word.compare_exchange_strong(mine, mine | FUTEX_WAITERS, std::memory_order_relaxed);
      }
      return rc;
    }
    if (spin < 64) {
      __builtin_ia32_pause();
      continue;
    }
    const int64_t left = milliseconds - MillisecondsSince(start);
    if (left <= 0) return ETIMEDOUT;
    int seen = word.load(std::memory_order_relaxed);
    if (seen == 0) continue;
    if ((seen & FUTEX_WAITERS) == 0 &&
        !word.compare_exchange_strong(seen, seen | FUTEX_WAITERS, std::memory_order_relaxed)) {
      continue;
    }
    const int64_t sliceMs = left < 10 ? left : 10;
    timespec slice{0, static_cast<long>(sliceMs) * 1000000L};
    syscall(SYS_futex, &m->__data.__lock, FUTEX_WAIT, seen | FUTEX_WAITERS, &slice, nullptr, 0);
    waited = true;
  }
#else
  timespec deadline = Now(CLOCK_REALTIME);
  deadline.tv_nsec += static_cast<long>(milliseconds) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_nsec -= 1000000000L;
    ++deadline.tv_sec;
  }
  return pthread_mutex_timedlock(m, &deadline);
#endif
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


// ---- Cuts of the segment -----------------------------------------------------
//
// The mappings of every lock of this process, looked up by the SIGBUS handler
// without any lock of its own: a slot is published by its start address,
// written last and cleared first.
struct GuardedView {
  std::atomic<uintptr_t> begin;
  std::atomic<size_t> length;
  std::atomic<int> fd;
  std::atomic<int> detached;
};
constexpr int kMaxGuarded = 64;
GuardedView g_guarded[kMaxGuarded];
std::mutex g_guardLock;  // taking and giving back slots
int g_guardedViews = 0;
struct sigaction g_previousBus;
size_t g_pageSize = 4096;

// A touch of a lock's page after another program cut its segment: the
// segment is grown back to the mapping's length and the touch done again
// (it then reads zeros, a fresh segment to every opener); where that page
// cannot be had (/dev/shm full), a private page takes its place until the
// lock maps the segment again. Any other SIGBUS goes on as before.
void OnBus(int sig, siginfo_t* info, void* context) {
  const int savedErrno = errno;
  const uintptr_t at = reinterpret_cast<uintptr_t>(info->si_addr);
  for (GuardedView& g : g_guarded) {
    const uintptr_t begin = g.begin.load(std::memory_order_acquire);
    const size_t length = g.length.load(std::memory_order_acquire);
    if (info->si_code <= 0 || begin == 0 || at < begin || at >= begin + length) continue;
    const int fd = g.fd.load(std::memory_order_acquire);
    struct stat st{};
    if (fstat(fd, &st) == 0 && st.st_size < static_cast<off_t>(length)) {
      const int grown = ftruncate(fd, static_cast<off_t>(length));
      (void)grown;
    }
    // Backed now (or by another thread's touch since), the touch is done
    // again; otherwise a private page stands in.
    const uintptr_t page = at & ~(g_pageSize - 1);
    if (fallocate(fd, 0, static_cast<off_t>(page - begin), static_cast<off_t>(g_pageSize)) != 0) {
      if (mmap(reinterpret_cast<void*>(page), g_pageSize, PROT_READ | PROT_WRITE,
               MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) == MAP_FAILED) {
        break;
      }
      g.detached.store(1, std::memory_order_release);
    }
    errno = savedErrno;
    return;
  }
  // SIG_DFL and SIG_IGN are told apart first: either may come with
  // SA_SIGINFO among the flags, and is no function then.
  const auto previous = g_previousBus.sa_handler;
  if (previous == SIG_IGN && info->si_code <= 0) {
    // A SIGBUS sent by another process was ignored before, and is now.
  } else if (previous == SIG_DFL || previous == SIG_IGN) {
    // The fault happens again on return, now to the default action (as the
    // kernel's would for an ignored one).
    signal(SIGBUS, SIG_DFL);
    if (info->si_code <= 0) raise(SIGBUS);
  } else if ((g_previousBus.sa_flags & SA_SIGINFO) != 0) {
    g_previousBus.sa_sigaction(sig, info, context);
  } else {
    previous(sig);
  }
  errno = savedErrno;
}

int GuardView(void* view, size_t length, int fd) {
  std::lock_guard<std::mutex> guard(g_guardLock);
  for (int i = 0; i < kMaxGuarded; ++i) {
    GuardedView& g = g_guarded[i];
    if (g.begin.load(std::memory_order_acquire) != 0) continue;
    if (g_guardedViews++ == 0) {
      g_pageSize = static_cast<size_t>(sysconf(_SC_PAGESIZE));
      struct sigaction action{};
      action.sa_sigaction = &OnBus;
      action.sa_flags = SA_SIGINFO | SA_ONSTACK | SA_RESTART;
      sigemptyset(&action.sa_mask);
      sigaction(SIGBUS, &action, &g_previousBus);
    }
    g.length.store(length, std::memory_order_release);
    g.fd.store(fd, std::memory_order_release);
    g.detached.store(0, std::memory_order_release);
    g.begin.store(reinterpret_cast<uintptr_t>(view), std::memory_order_release);
    return i;
  }
  return -1;
}

// The handler goes with the last lock: this code may be unloaded after it
// (the log module is).
void UnguardView(int slot) {
  if (slot < 0) return;
  std::lock_guard<std::mutex> guard(g_guardLock);
  g_guarded[slot].begin.store(0, std::memory_order_release);
  if (--g_guardedViews == 0) {
    struct sigaction current{};
    if (sigaction(SIGBUS, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0 &&
        current.sa_sigaction == &OnBus) {
      sigaction(SIGBUS, &g_previousBus, nullptr);
    }
  }
}

// Lets go of a mutex this thread holds, as glibc's unlock of a robust,
// shared mutex does, but without reading the mutex's own bytes: the
// thread's list of robust mutexes (which the kernel walks when the thread
// ends) runs through them, and a cut of the segment while the mutex was held
// leaves zeros there, which glibc's unlock would follow. The list is known
// here: this mutex's entry is its first, the mutex taken before (or none)
// the next. A mutex another thread holds now (set up again after a cut) is
// not let go; only the entry goes.
void UnlockHeld(pthread_mutex_t* m, pthread_mutex_t* before) {
#ifdef __GLIBC__
  struct Head {
    void* first;
    long futexOffset;
    void* pending;
  };
  Head* head = nullptr;
  size_t length = 0;
  void* entry = &m->__data.__list.__next;
  if (syscall(SYS_get_robust_list, 0, &head, &length) != 0 || head == nullptr ||
      (reinterpret_cast<uintptr_t>(head->first) & ~uintptr_t{1}) != reinterpret_cast<uintptr_t>(entry)) {
    // Not in the order this thread took them: glibc's own way. A mutex
    // taken as a plain one over the zeros of a cut (its word 1, no thread's
    // id) is not glibc's to let go any more, once set up again as robust.
    if (pthread_mutex_unlock(m) == EPERM) {
      int plain = 1;
      if (std::atomic_ref<int>(m->__data.__lock).compare_exchange_strong(plain, 0, std::memory_order_release)) {
        syscall(SYS_futex, &m->__data.__lock, FUTEX_WAKE, 1, nullptr, nullptr, 0);
      }
    }
    return;
  }
#if defined(__SANITIZE_THREAD__)
  __tsan_mutex_pre_unlock(m, 0);
#endif
  std::atomic_signal_fence(std::memory_order_seq_cst);
  head->pending = entry;  // a death from here on still frees the mutex
  std::atomic_signal_fence(std::memory_order_seq_cst);
  void* next = before != nullptr ? static_cast<void*>(&before->__data.__list.__next) : static_cast<void*>(head);
  // The entry after keeps a pointer back to the one before it.
  *reinterpret_cast<void**>(static_cast<char*>(next) - sizeof(void*)) = head;
  head->first = next;
  std::atomic_ref<int> word(m->__data.__lock);
  const int self = static_cast<int>(gettid());
  int mine = word.load(std::memory_order_relaxed);
  if ((mine & FUTEX_TID_MASK) == self) {
    m->__data.__owner = 0;
    --m->__data.__nusers;
    m->__data.__list.__prev = nullptr;
    m->__data.__list.__next = nullptr;
    // Waiters may set their bit meanwhile; a word that names another
    // thread now is not this one's to clear.
    while ((mine & FUTEX_TID_MASK) == self && !word.compare_exchange_weak(mine, 0, std::memory_order_release)) {
    }
    if ((mine & FUTEX_TID_MASK) == self && (mine & FUTEX_WAITERS) != 0) {
      syscall(SYS_futex, &m->__data.__lock, FUTEX_WAKE, 1, nullptr, nullptr, 0);
    }
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  head->pending = nullptr;
#if defined(__SANITIZE_THREAD__)
  __tsan_mutex_post_unlock(m, 0);
#endif
#else
  (void)before;
  pthread_mutex_unlock(m);
#endif
}

}  // namespace

// Tells the segment this process's pid namespace. Again at each wait: a
// segment cut and grown back has forgotten the openers before.
void CProcessSharedLock::NoteNamespace(Shared* shared) {
  static const uint64_t ns = OwnPidNamespace();
  uint64_t first = shared->pidNamespace.load(std::memory_order_acquire);
  if (first == ns && ns != 0) return;
  if (ns == 0 || (first == 0 && !shared->pidNamespace.compare_exchange_strong(first, ns, std::memory_order_acq_rel) &&
                  first != ns) ||
      (first != 0 && first != ns)) {
    shared->mixedNamespaces.store(1, std::memory_order_release);
  }
}

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
  m_guardSlot = GuardView(shared, sizeof(Shared), m_section.Descriptor());
  if (shared->state.load(std::memory_order_acquire) != kReady) SetUp(shared->state, &shared->mutex);

  NoteNamespace(shared);
  m_pShared = shared;
}

CProcessSharedLock::~CProcessSharedLock() {
  UnguardView(m_guardSlot);
  CSharedMemory::UnmapView(m_pShared, sizeof(Shared));
}

void CProcessSharedLock::RejoinIfDetached() {
  if (m_guardSlot < 0 || g_guarded[m_guardSlot].detached.load(std::memory_order_acquire) == 0) return;
  // Over the private page, in the same place: other threads of this process
  // may be touching it right now.
  if (m_section.Grow(sizeof(Shared)) &&
      mmap(m_pShared, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, m_section.Descriptor(), 0) !=
          MAP_FAILED) {
    g_guarded[m_guardSlot].detached.store(0, std::memory_order_release);
  }
}

int CProcessSharedLock::Acquire(int milliseconds) {
  Shared* s = m_pShared;
  NoteNamespace(s);
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
    const int rc = TimedLock(&s->mutex, left < 100 ? left : 100);
    if (rc == 0) return 0;
    // The holder died inside its write; what it protected may be half
    // written, which the users of this lock check for themselves.
    if (rc == EOWNERDEAD && TakeOver(&s->mutex, false) == 0) return 0;
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
  RejoinIfDetached();
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
  // The mutex this thread took before this one, whose entry follows this
  // one's in the thread's list of robust mutexes.
  pthread_mutex_t* before = nullptr;
  for (int k = i - 1; k >= 0 && before == nullptr; --k) before = t_held[k].mutex;
  for (int k = i; k + 1 < t_heldCount; ++k) t_held[k] = t_held[k + 1];
  --t_heldCount;
  if (mutex != nullptr) {
    m_bLocked.store(0, std::memory_order_release);
    UnlockHeld(mutex, before);
  }
}

DWORD CProcessSharedLock::TryLock() {
  if (m_pShared == nullptr) return 0;
  RejoinIfDetached();
  const int held = FindHeld(this);
  if (held >= 0 && t_held[held].mutex != nullptr) return 0;
  // A segment cut and grown back reads as a fresh one.
  if (m_pShared->state.load(std::memory_order_acquire) != kReady) SetUp(m_pShared->state, &m_pShared->mutex);
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
