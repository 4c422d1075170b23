// A lock shared by every process that opens it by the same name: a robust,
// process-shared mutex in a named shared-memory segment. When a holder dies,
// the next Lock takes the lock over and goes on. Offered through the CSync
// interface so the debug log's sinks (and the log module that hands such
// locks out) can use it in place of an in-process critical section.
//
// Waits are bounded: a lock that another process holds for longer than
// kProcessSharedLockWaitMs (stuck, or its memory overwritten), or that can
// no longer be recovered, is given up. That Lock returns without the lock
// (IsLocked() answers 0 on the calling thread, so a log line is dropped) and
// the lock is made anew under the same name for every later Lock.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "common/crit_sec.h"
#include "platform/shared_memory.h"

constexpr int kProcessSharedLockWaitMs = 500;

class CProcessSharedLock : public CSync {
 public:
  // Opens or creates the lock named `name` (a section name as in
  // ShmNameFromWindowsName). IsValid() tells whether that worked; an invalid
  // lock does nothing.
  explicit CProcessSharedLock(const char* name);
  CProcessSharedLock(const CProcessSharedLock&) = delete;
  CProcessSharedLock& operator=(const CProcessSharedLock&) = delete;
  ~CProcessSharedLock() override;

  bool IsValid() const { return m_pShared.load(std::memory_order_acquire) != nullptr; }

  // Waits at most kProcessSharedLockWaitMs; see above.
  void Lock() override;
  // Releases what this thread's last Lock or TryLock of this object took.
  void Unlock() override;
  // 1 when the lock was taken, 0 when another holder has it.
  DWORD TryLock() override;
  // Whether the calling thread holds the lock through this object.
  DWORD IsLocked() override;
  DWORD InitWithSpinCount(int32_t) override { return 0; }
  DWORD Init() override { return 0; }
  DWORD Term() override { return 0; }

  // Removes the segment's name (existing holders keep working).
  static bool Remove(const char* name);

 private:
  struct Shared;
  struct Mapping {
    CSharedMemory section;
    Shared* shared = nullptr;
  };
  // Maps the named segment and makes sure its mutex is set up; null on failure.
  static std::unique_ptr<Mapping> Open(const std::string& name);
  // Replaces a lock that cannot be had with a new one of the same name.
  void Recreate(Shared* broken);

  std::string m_name;
  std::atomic<Shared*> m_pShared{nullptr};
  std::mutex m_recreateLock;
  // Every mapping made, kept until destruction: a thread may still be
  // waiting on a mutex that was given up.
  std::vector<std::unique_ptr<Mapping>> m_mappings;
};
