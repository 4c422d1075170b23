// Runs a scope as the process: drops the calling thread's impersonation and
// puts it back when the scope ends.
#pragma once

#include "platform/thread_token.h"
#include "platform/win_types.h"

class CRevertToSelfGuard {
 public:
  explicit CRevertToSelfGuard(DWORD access = TOKEN_IMPERSONATE, bool enabled = true);
  // The same for a caller that has opened the thread's token already: that
  // token is put back on leaving, and the caller keeps and closes it.
  explicit CRevertToSelfGuard(HANDLE threadToken);
  ~CRevertToSelfGuard();
  CRevertToSelfGuard(const CRevertToSelfGuard&) = delete;
  CRevertToSelfGuard& operator=(const CRevertToSelfGuard&) = delete;

  DWORD RevertError() const { return m_dwRevertError; }
  DWORD OpenError() const { return m_dwOpenError; }
  bool IsReverted() const { return m_bReverted; }

 private:
  DWORD m_dwRevertError = 0;
  DWORD m_dwOpenError = 0;
  HANDLE m_hToken = nullptr;
  bool m_bReverted = false;
  DWORD m_dwAccess = 0;
  bool m_bEnabled = false;
  bool m_bOwnsToken = true;
};
