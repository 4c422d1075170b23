// Holders of the process-wide singletons: the settings object and the HTML
// parser's tables. The one instance lives in static storage, is built on first
// access under the holder's own lock, and is destroyed at process exit. Once
// built, access is a single acquire load: the request path takes no lock.
// After the exit destruction the holder answers null for good: building the
// instance again then would run on statics that are already destroyed.
#pragma once

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <new>

namespace Mem_Manager {

template <class T>
class Manger_memory {
 public:
  virtual ~Manger_memory() = default;
  virtual void create() {}
  virtual void release() {}
};

template <class T>
class Static_memory : public Manger_memory<T> {
 public:
  // The instance, built on first call; null once it was destroyed at exit.
  // Exceptions of T's constructor leave the holder unbuilt, so the next call
  // tries again.
  static T* instance() {
    T* p = s_pInstance.load(std::memory_order_acquire);
    if (p != nullptr) return p;
    if (s_bGone.load(std::memory_order_acquire)) return nullptr;
    std::lock_guard<std::mutex> guard(s_lock);
    if (s_bGone.load(std::memory_order_relaxed)) return nullptr;
    p = s_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      Build();
      p = std::launder(reinterpret_cast<T*>(&s_storage));
      s_pInstance.store(p, std::memory_order_release);
    }
    return p;
  }

  // Whether the instance has been built (and not yet destroyed).
  static bool exists() { return s_pInstance.load(std::memory_order_acquire) != nullptr; }

  void create() override { instance(); }
  void release() override {}

 private:
  static void Build() {
    if (s_bCreated) return;
    s_bCreated = true;
    try {
      new (&s_storage) T();
    } catch (...) {
      s_bCreated = false;
      throw;
    }
    std::atexit(&Destroy);
  }

  // Runs at process exit without the lock: what T's destructor calls may
  // reach for the instance again and must find it, not wait for itself.
  static void Destroy() {
    T* p = s_pInstance.load(std::memory_order_acquire);
    if (p == nullptr) return;
    p->~T();
    std::lock_guard<std::mutex> guard(s_lock);
    s_bGone.store(true, std::memory_order_release);
    s_pInstance.store(nullptr, std::memory_order_release);
  }

  alignas(T) static inline unsigned char s_storage[sizeof(T)];
  static inline std::atomic<T*> s_pInstance{nullptr};
  static inline std::mutex s_lock;
  static inline bool s_bCreated = false;
  static inline std::atomic<bool> s_bGone{false};
};

}  // namespace Mem_Manager
