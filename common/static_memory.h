// Holders of the process-wide singletons: the settings object and the HTML
// parser's tables. The one instance lives in static storage and is built on
// first access under the holder's own lock. Once built, access is a single
// acquire load: the request path takes no lock.
// The instance is never destroyed: the host may let the process end while
// request threads are still inside the module, and a thread that already
// holds the pointer would go on using a destroyed object. The process ending
// gives back its memory; what the instance holds stays reachable from the
// static storage, so a leak check does not report it.
#pragma once

#include <atomic>
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
  // The instance, built on first call; never null. Exceptions of T's
  // constructor leave the holder unbuilt, so the next call tries again.
  static T* instance() {
    T* p = s_pInstance.load(std::memory_order_acquire);
    if (p != nullptr) return p;
    std::lock_guard<std::mutex> guard(s_lock);
    p = s_pInstance.load(std::memory_order_relaxed);
    if (p == nullptr) {
      new (&s_storage) T();
      p = std::launder(reinterpret_cast<T*>(&s_storage));
      s_pInstance.store(p, std::memory_order_release);
    }
    return p;
  }

  // Whether the instance has been built.
  static bool exists() { return s_pInstance.load(std::memory_order_acquire) != nullptr; }

  void create() override { instance(); }
  void release() override {}

 private:
  alignas(T) static inline unsigned char s_storage[sizeof(T)];
  static inline std::atomic<T*> s_pInstance{nullptr};
  static inline std::mutex s_lock;
};

}  // namespace Mem_Manager
