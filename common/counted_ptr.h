// Shared-ownership pointer whose three words (object, separately allocated
// 32-bit count, one-byte deleter aid) are read in place by the filter host
// wherever one sits inside a host-shared record.
#pragma once

#include <cstdint>
#include <new>

// Release policies: how the object goes when the last reference does.
template <class T>
struct CDeleteRelease {
  static void Release(T* p) { delete p; }
};
template <class T>
struct CArrayDeleteRelease {
  static void Release(T* p) { delete[] p; }
};
template <class T>
struct CFreeRelease {  // destructor, then free
  static void Release(T* p) {
    p->~T();
    ::operator delete(static_cast<void*>(p));
  }
};

template <class T, class ReleasePolicy = CDeleteRelease<T>>
class CCountedPtr {
 public:
  CCountedPtr() noexcept = default;

  explicit CCountedPtr(T* p) noexcept {
    if (p == nullptr) return;
    m_pObject = p;
    m_pCount = new (std::nothrow) uint32_t(0);
    if (m_pCount == nullptr) return;  // out of memory: the object is not owned
    m_pAid = new (std::nothrow) char(0);
    __atomic_add_fetch(m_pCount, 1u, __ATOMIC_ACQ_REL);
  }

  CCountedPtr(const CCountedPtr& o) noexcept
      : m_pObject(o.m_pObject), m_pCount(o.m_pCount), m_pAid(o.m_pAid) {
    if (m_pObject != nullptr && m_pCount != nullptr) __atomic_add_fetch(m_pCount, 1u, __ATOMIC_ACQ_REL);
  }

  CCountedPtr& operator=(const CCountedPtr& o) noexcept {
    if (m_pObject == o.m_pObject) return *this;
    Release();
    if (o.m_pObject == nullptr) {
      m_pObject = nullptr;
      m_pCount = nullptr;
      m_pAid = nullptr;
    } else {
      m_pObject = o.m_pObject;
      m_pCount = o.m_pCount;
      m_pAid = o.m_pAid;
      if (m_pCount != nullptr) __atomic_add_fetch(m_pCount, 1u, __ATOMIC_ACQ_REL);
    }
    return *this;
  }

  ~CCountedPtr() { Release(); }

  T* get() const noexcept { return m_pObject; }
  T* operator->() const noexcept { return m_pObject; }
  T& operator*() const noexcept { return *m_pObject; }
  explicit operator bool() const noexcept { return m_pObject != nullptr; }
  bool IsNull() const noexcept { return m_pObject == nullptr; }
  uint32_t UseCount() const noexcept {
    return m_pCount != nullptr ? __atomic_load_n(m_pCount, __ATOMIC_ACQUIRE) : 0u;
  }

  // Drops this reference; the object goes with the last one.
  void Release() noexcept {
    if (m_pObject == nullptr) return;
    if (m_pCount != nullptr) {
      if (__atomic_sub_fetch(m_pCount, 1u, __ATOMIC_ACQ_REL) == 0u) {
        ReleasePolicy::Release(m_pObject);
        delete m_pCount;
        m_pCount = nullptr;
        m_pObject = nullptr;
      }
    }
    if (m_pCount == nullptr) {
      delete m_pAid;
    }
    m_pObject = nullptr;
    m_pCount = nullptr;
    m_pAid = nullptr;
  }

 private:
  T* m_pObject = nullptr;
  uint32_t* m_pCount = nullptr;
  char* m_pAid = nullptr;
};

static_assert(sizeof(CCountedPtr<int>) == 24, "host-shared layout: three 8-byte words");
