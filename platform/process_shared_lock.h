// A lock shared by every process that opens it by the same name: a robust,
// process-shared mutex in a named shared-memory segment. Offered through the
// CSync interface so the debug log's sinks (and the log module that hands
// such locks out) can use it in place of an in-process critical section.
//
// The lock is never made anew while its name stands: a second lock under
// the same name would let two writers into the log at once, for good. So a
// holder that is alive (busy, or paused by a debugger, swap, a throttled
// container or a log folder that does not answer) is waited for; a holder
// that died is taken over (the robust mutex tells); and a mutex whose bytes
// another process overwrote is set up again in place, in the same memory
// every opener shares.
//
// Another program may cut the segment short (": > /dev/shm/QLLogModule.
// General"): the kernel then takes its page out of every mapping, and the
// next touch of the mutex would end the process. Such a touch is let
// through instead (the segment is grown back, and its page, read as zeros,
// is set up again in place), so a cut costs at most the lines being written.
//
// Waits are bounded all the same: a holder that keeps the lock longer than
// the wait limit costs that one Lock its line (IsLocked() answers 0 on the
// calling thread). Until the lock is had again, later Locks of this object
// do not wait while that same holder still has it, and wait only briefly
// for any other: a request logs a hundred lines and more, so a holder
// stopped for good must not cost every other process a wait at each one.
#pragma once

#include <atomic>
#include <memory>
#include <string>

#include "common/crit_sec.h"
#include "platform/shared_memory.h"

constexpr int kProcessSharedLockWaitMs = 10000;

// The section of the log module's lock of that name ("General", or
// "Product.<name>"): /dev/shm/QLLogModule.<name>.
inline std::string LogModuleLockSection(const std::string& name) { return "Global\\QLLogModule." + name; }
// How long a Lock waits, after an earlier one gave up, for a holder other
// than the one given up on.
constexpr int kProcessSharedLockStalledWaitMs = 50;

class CProcessSharedLock : public CSync {
 public:
  // Opens or creates the lock named `name` (a section name as in
  // ShmNameFromWindowsName). IsValid() tells whether that worked; an invalid
  // lock does nothing. waitLimitMs bounds each Lock (tests shorten it).
  explicit CProcessSharedLock(const char* name, int waitLimitMs = kProcessSharedLockWaitMs);
  CProcessSharedLock(const CProcessSharedLock&) = delete;
  CProcessSharedLock& operator=(const CProcessSharedLock&) = delete;
  ~CProcessSharedLock() override;

  bool IsValid() const { return m_pShared != nullptr; }

  // Waits for the holder at most the wait limit; see above.
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
  // Takes the mutex within `milliseconds`: 0, or the error that ended the wait.
  int Acquire(int milliseconds);
  void Repair(uint32_t seen);
  // Records the mutex as held by this thread; false when it was let go again.
  bool NoteHeld();
  // Maps the segment again where it was, when a cut left this process a
  // page of its own in its place.
  void RejoinIfDetached();
  static void NoteNamespace(Shared* shared);

  std::string m_name;
  int m_waitLimitMs;
  CSharedMemory m_section;
  Shared* m_pShared = nullptr;
  // The slot that lets a touch of the mapping survive a cut (-1: none).
  int m_guardSlot = -1;
  // Set when a Lock gave up on a holder that did not let go, with that
  // holder's thread id as the lock word names it (0: not known); cleared
  // when the lock is had again.
  std::atomic<bool> m_bStalled{false};
  std::atomic<int> m_stuckHolder{0};
};
