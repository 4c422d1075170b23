// The lock interface, its critical-section implementation and the scoped
// holder. The held flag lets TryLock fail at once while any thread holds the
// lock through this object.
#pragma once

#include <atomic>
#include <mutex>

#include "platform/win_types.h"

class CSync {
 public:
  virtual ~CSync() = default;
  virtual void Lock() = 0;
  virtual void Unlock() = 0;
  virtual DWORD TryLock() = 0;
  virtual DWORD IsLocked() { return m_bLocked.load(std::memory_order_acquire); }
  virtual DWORD InitWithSpinCount(int32_t spin) = 0;
  virtual DWORD Init() = 0;
  virtual DWORD Term() = 0;

 protected:
  std::atomic<DWORD> m_bLocked{0};
};

class CCritSec : public CSync {
 public:
  CCritSec() = default;
  CCritSec(const CCritSec&) = delete;
  CCritSec& operator=(const CCritSec&) = delete;
  ~CCritSec() override = default;

  void Lock() override {
    m_cs.lock();
    m_bLocked.store(1, std::memory_order_release);
  }
  void Unlock() override {
    if (m_bLocked.load(std::memory_order_acquire) == 1) {
      m_bLocked.store(0, std::memory_order_release);
      m_cs.unlock();
    }
  }
  DWORD TryLock() override {
    if (m_bLocked.load(std::memory_order_acquire) == 1) return 0;
    // Report our own success, not the flag: another thread may have taken
    // the lock between the check and the try.
    if (!m_cs.try_lock()) return 0;
    m_bLocked.store(1, std::memory_order_release);
    return 1;
  }
  // A std::mutex has no spin count and needs no set-up or tear-down.
  DWORD InitWithSpinCount(int32_t) override { return 0; }
  DWORD Init() override { return 0; }
  DWORD Term() override { return 0; }

 private:
  std::mutex m_cs;
};

class CLockGuard {
 public:
  explicit CLockGuard(CSync* lock) : m_pLock(lock) {
    if (m_pLock != nullptr) {
      m_pLock->Lock();
      m_bHeld = true;
    }
  }
  explicit CLockGuard(CSync& lock) : CLockGuard(&lock) {}
  CLockGuard(const CLockGuard&) = delete;
  CLockGuard& operator=(const CLockGuard&) = delete;
  ~CLockGuard() {
    if (m_bHeld) m_pLock->Unlock();
  }

 private:
  CSync* m_pLock;
  bool m_bHeld = false;
};
