// The product family's cache component: named caches inside the process,
// shared by every instance, thread-safe and bounded in entries and age.
// Callers make a fresh instance per operation, as with a COM class.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>

#include "platform/win_types.h"

constexpr DWORD COINIT_MULTITHREADED = 0x0;
constexpr DWORD COINIT_APARTMENTTHREADED = 0x2;
constexpr HRESULT RPC_E_CHANGED_MODE = static_cast<HRESULT>(0x80010106u);
constexpr HRESULT CO_E_NOTINITIALIZED = static_cast<HRESULT>(0x800401F0u);
constexpr HRESULT REGDB_E_CLASSNOTREG = static_cast<HRESULT>(0x80040154u);
// A cache of that name does not exist.
constexpr HRESULT CACHE_E_NOCACHE = static_cast<HRESULT>(0x80040201u);
// Nothing is stored under the key.
constexpr HRESULT CACHE_E_NOITEM = static_cast<HRESULT>(0x80040202u);
// The item is larger than a key may hold: it is not stored.
constexpr HRESULT CACHE_E_TOOLARGE = static_cast<HRESULT>(0x80040203u);

// What one named cache holds at most, in bytes (its texts and their
// bookkeeping), and of that one key (a user with all its sessions and
// properties): a user of many sessions keeps them all, and neither one user
// nor a flood of users grows the process past the bound.
constexpr size_t kCacheComponentMaxBytes = size_t{32} << 20;
constexpr size_t kCacheComponentKeyMaxBytes = kCacheComponentMaxBytes / 256;

// Sets up the calling thread for component use: S_OK the first time, S_FALSE
// again in the same model, RPC_E_CHANGED_MODE in the other model. Threads
// never leave.
HRESULT CoInitializeEx(void* reserved, DWORD coInit);

class ICacheComponent {
 public:
  virtual HRESULT AddItem(const std::string& key, const std::string& data, const std::string& cacheName) = 0;
  virtual HRESULT GetItem(const std::string& key, std::optional<std::string>* data, const std::string& cacheName) = 0;
  // maxEntries: how many keys (users) the cache keeps, each with its items
  // (sessions and properties) up to kCacheComponentKeyMaxBytes, all within
  // kCacheComponentMaxBytes; the key used least recently goes first, and
  // within a full key its item used least recently. lifetimeMinutes: how long an item lives from when it was stored,
  // however often it is read. Both must be positive. A cache that exists
  // already keeps its items and takes the new limits.
  virtual HRESULT CreateCache(const std::string& cacheName, int32_t maxEntries, int32_t lifetimeMinutes) = 0;
  virtual HRESULT Initialize() = 0;
  virtual HRESULT AddSessionItem(const std::string& key, const std::string& session, const std::string& data,
                                 const std::string& cacheName) = 0;
  virtual HRESULT AddSessionPropertyItem(const std::string& key, const std::string& session,
                                         const std::string& propertyName, const std::string& data,
                                         const std::string& cacheName) = 0;
  virtual HRESULT GetSessionItem(const std::string& key, const std::string& session, std::optional<std::string>* data,
                                 const std::string& cacheName) = 0;
  virtual HRESULT GetSessionPropertyItem(const std::string& key, const std::string& session,
                                         const std::string& propertyName, std::optional<std::string>* data,
                                         const std::string& cacheName) = 0;
  virtual void Release() = 0;

 protected:
  virtual ~ICacheComponent() = default;
};

// Makes an instance. Fails with CO_E_NOTINITIALIZED on a thread that has not
// called CoInitializeEx.
HRESULT CoCreateCacheComponent(ICacheComponent** instance);

// Removes every cache (for a fresh start in tests and at shutdown).
void ResetCacheComponent();

// Moves the caches' time on by `by`, so that tests see entries lapse.
void AdvanceCacheComponentClock(std::chrono::seconds by);
