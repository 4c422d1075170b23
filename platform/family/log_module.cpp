// The product family's log module. It hands out the lock under which the
// debug-log sinks of every module of the product write: one lock per product
// name, or the common one. The locks live in named shared memory, so the
// worker processes that share one log ring or file also share its lock. A
// holder that dies while holding it does not block the others: the next one
// takes the lock over.
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "common/crit_sec.h"

#define QL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct SharedLockBlock {
  std::atomic<uint32_t> state;  // 0 new, 1 being set up, 2 ready
  pthread_mutex_t mutex;
};

class CSharedLogLock : public CSync {
 public:
  explicit CSharedLogLock(const std::string& name) {
    std::string shmName = "/QLLogModule." + name;
    for (size_t i = 1; i < shmName.size(); ++i) {
      if (shmName[i] == '/') shmName[i] = '_';
    }
    if (shmName.size() > 250) shmName.resize(250);
    int fd = shm_open(shmName.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    if (fd < 0) return;
    struct stat st {};
    if (fstat(fd, &st) != 0 ||
        (st.st_size < static_cast<off_t>(sizeof(SharedLockBlock)) && ftruncate(fd, sizeof(SharedLockBlock)) != 0)) {
      close(fd);
      return;
    }
    void* p = mmap(nullptr, sizeof(SharedLockBlock), PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    close(fd);
    if (p == MAP_FAILED) return;
    auto* block = static_cast<SharedLockBlock*>(p);
    uint32_t expected = 0;
    if (block->state.compare_exchange_strong(expected, 1, std::memory_order_acq_rel)) {
      pthread_mutexattr_t attr;
      pthread_mutexattr_init(&attr);
      pthread_mutexattr_setpshared(&attr, PTHREAD_PROCESS_SHARED);
      pthread_mutexattr_setrobust(&attr, PTHREAD_MUTEX_ROBUST);
      pthread_mutex_init(&block->mutex, &attr);
      pthread_mutexattr_destroy(&attr);
      block->state.store(2, std::memory_order_release);
    } else {
      // Another process is setting the block up; it takes microseconds.
      for (int spins = 0; block->state.load(std::memory_order_acquire) != 2; ++spins) {
        if (spins > 1000000) {
          munmap(p, sizeof(SharedLockBlock));
          return;
        }
        sched_yield();
      }
    }
    m_pBlock = block;
  }

  ~CSharedLogLock() override {
    if (m_pBlock != nullptr) munmap(m_pBlock, sizeof(SharedLockBlock));
  }

  bool ok() const { return m_pBlock != nullptr; }

  void Lock() override {
    int rc = pthread_mutex_lock(&m_pBlock->mutex);
    if (rc == EOWNERDEAD) pthread_mutex_consistent(&m_pBlock->mutex);
    m_bLocked.store(1, std::memory_order_release);
  }
  void Unlock() override {
    m_bLocked.store(0, std::memory_order_release);
    pthread_mutex_unlock(&m_pBlock->mutex);
  }
  DWORD TryLock() override {
    int rc = pthread_mutex_trylock(&m_pBlock->mutex);
    if (rc == EOWNERDEAD) {
      pthread_mutex_consistent(&m_pBlock->mutex);
      rc = 0;
    }
    if (rc != 0) return 0;
    m_bLocked.store(1, std::memory_order_release);
    return 1;
  }
  DWORD InitWithSpinCount(int32_t) override { return 0; }
  DWORD Init() override { return 0; }
  DWORD Term() override { return 0; }

 private:
  SharedLockBlock* m_pBlock = nullptr;
};

struct LockTable {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<CSharedLogLock>> byName;
};

LockTable& Table() {
  static LockTable table;
  return table;
}

CSync* LockFor(const std::string& name) {
  LockTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.byName.find(name);
  if (it == t.byName.end()) {
    auto made = std::make_unique<CSharedLogLock>(name);
    if (!made->ok()) return nullptr;
    it = t.byName.emplace(name, std::move(made)).first;
  }
  return it->second.get();
}

}  // namespace

// The option (a setting of the calling module) is accepted for every value;
// all callers of one name share one lock.
QL_EXPORT int GetProductCS(const char* name, CSync** lock, int /*option*/) {
  if (name == nullptr || *name == '\0' || lock == nullptr) return 0;
  CSync* l = LockFor(std::string("Product.") + name);
  if (l == nullptr) return 0;
  *lock = l;
  return 1;
}

QL_EXPORT int GetGeneralCS(CSync** lock, int /*option*/) {
  if (lock == nullptr) return 0;
  CSync* l = LockFor("General");
  if (l == nullptr) return 0;
  *lock = l;
  return 1;
}
