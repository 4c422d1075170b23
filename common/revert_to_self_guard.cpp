#include "common/revert_to_self_guard.h"

#include "platform/last_error.h"

CRevertToSelfGuard::CRevertToSelfGuard(DWORD access, bool enabled) : m_dwAccess(access), m_bEnabled(enabled) {
  if (!m_bEnabled) return;
  // A thread that impersonates nobody has no token and already runs as the
  // process.
  if (!OpenThreadToken(GetCurrentThread(), m_dwAccess, TRUE, &m_hToken)) {
    m_dwOpenError = GetLastError();
    m_hToken = nullptr;
    return;
  }
  if (!RevertToSelf()) m_dwRevertError = GetLastError();
  m_bReverted = true;
}

CRevertToSelfGuard::CRevertToSelfGuard(HANDLE threadToken)
    : m_hToken(threadToken), m_dwAccess(TOKEN_IMPERSONATE), m_bEnabled(true), m_bOwnsToken(false) {
  if (!RevertToSelf()) m_dwRevertError = GetLastError();
  m_bReverted = true;
}

CRevertToSelfGuard::~CRevertToSelfGuard() {
  if (!m_bReverted) return;
  SetThreadToken(nullptr, m_hToken);
  if (m_bOwnsToken) CloseToken(m_hToken);
  m_hToken = nullptr;
  m_bReverted = false;
}
