// Shared-ownership pointer whose three words (object, separately allocated
// 32-bit count, one-byte deleter aid) are read in place by the filter host
// wherever one sits inside a host-shared record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <utility>

namespace counted_ptr_detail {

// The count and the aid share one allocation; the aid tells how the object
// goes with the last reference.
struct CCount {
  uint32_t count;
  char aid;
  void (*destroy)(void* object);  // for an object in the block
};
constexpr char kAidReleasePolicy = 0;  // the object has an allocation of its own
constexpr char kAidObjectInBlock = 1;  // the object follows the count in its block

template <class T>
constexpr size_t ObjectOffset() {
  return (sizeof(CCount) + alignof(T) - 1) / alignof(T) * alignof(T);
}

}  // namespace counted_ptr_detail

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
    auto* count = new (std::nothrow) counted_ptr_detail::CCount{1u, counted_ptr_detail::kAidReleasePolicy, nullptr};
    if (count == nullptr) return;  // out of memory: the object is not owned
    m_pCount = &count->count;
    m_pAid = &count->aid;
  }

  // A new object and its count in one allocation, for the objects a request
  // makes and drops again: half the allocator calls of `CCountedPtr(new T)`.
  // Throws what the allocation or T's constructor throws.
  template <class... Args>
  static CCountedPtr Make(Args&&... args) {
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__, "the block is aligned for ordinary objects only");
    using counted_ptr_detail::CCount;
    void* block = ::operator new(counted_ptr_detail::ObjectOffset<T>() + sizeof(T));
    T* object;
    try {
      object = new (static_cast<char*>(block) + counted_ptr_detail::ObjectOffset<T>()) T(std::forward<Args>(args)...);
    } catch (...) {
      ::operator delete(block);
      throw;
    }
    auto* count = new (block) CCount{1u, counted_ptr_detail::kAidObjectInBlock,
                                     [](void* done) { static_cast<T*>(done)->~T(); }};
    CCountedPtr made;
    made.m_pObject = object;
    made.m_pCount = &count->count;
    made.m_pAid = &count->aid;
    return made;
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
    if (m_pCount != nullptr && __atomic_sub_fetch(m_pCount, 1u, __ATOMIC_ACQ_REL) == 0u) {
      // The count is the first member of its block.
      auto* count = reinterpret_cast<counted_ptr_detail::CCount*>(m_pCount);
      if (count->aid == counted_ptr_detail::kAidObjectInBlock) {
        count->destroy(m_pObject);
        ::operator delete(static_cast<void*>(count));
      } else {
        ReleasePolicy::Release(m_pObject);
        delete count;
      }
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
