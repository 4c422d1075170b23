// A lock shared by every process that opens it by the same name: a robust,
// process-shared mutex in a named shared-memory segment. When a holder dies,
// the next Lock takes the lock over and goes on. Offered through the CSync
// interface so the debug log's sinks (and the log module that hands such
// locks out) can use it in place of an in-process critical section.
#pragma once

#include <string>

#include "common/crit_sec.h"
#include "platform/shared_memory.h"

class CProcessSharedLock : public CSync {
 public:
  // Opens or creates the lock named `name` (a section name as in
  // ShmNameFromWindowsName). IsValid() tells whether that worked; an invalid
  // lock does nothing.
  explicit CProcessSharedLock(const char* name);
  CProcessSharedLock(const CProcessSharedLock&) = delete;
  CProcessSharedLock& operator=(const CProcessSharedLock&) = delete;
  ~CProcessSharedLock() override;

  bool IsValid() const { return m_pShared != nullptr; }

  void Lock() override;
  void Unlock() override;
  // 1 when the lock was taken, 0 when another holder has it.
  DWORD TryLock() override;
  DWORD InitWithSpinCount(int32_t) override { return 0; }
  DWORD Init() override { return 0; }
  DWORD Term() override { return 0; }

  // Removes the segment's name (existing holders keep working).
  static bool Remove(const char* name);

 private:
  struct Shared;
  CSharedMemory m_section;
  Shared* m_pShared = nullptr;
};
