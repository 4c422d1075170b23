#include "platform/cache_component.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <unordered_map>
#include <vector>

#include "platform/coarse_clock.h"

namespace {

thread_local int t_apartment = -1;  // -1 none, else the COINIT model

// Entries live for minutes and every look-up checks them.
using Clock = CoarseSteadyClock;

// How far tests have moved the caches' time on.
std::atomic<int64_t> g_advancedNs{0};

Clock::time_point Now() {
  return Clock::now() + std::chrono::nanoseconds(g_advancedNs.load(std::memory_order_relaxed));
}

// What an item or a key costs besides its texts: its nodes and their
// allocations, roughly.
constexpr size_t kItemOverhead = 96;
constexpr size_t kKeyOverhead = 160;

// The items of one key (a user): one per session and property name.
struct KeyItem {
  std::string session;
  std::string property;
  std::string data;
  Clock::time_point stored;
  uint64_t used = 0;  // the cache's use count when it was last stored or read

  size_t Bytes() const { return session.size() + property.size() + data.size() + kItemOverhead; }
};

struct KeyItems {
  std::string key;
  std::vector<KeyItem> items;
  size_t bytes = 0;  // of the items and the key
};

// A cache bounded in keys and bytes: the key used least recently goes
// first, so a user who is in the middle of a session stays while one seen
// an hour ago goes. A key holds items up to kCacheComponentKeyMaxBytes (a
// user's sessions and properties; the session comes from a cookie, so a
// user who keeps sending new ones must not grow the cache, nor push the
// other users out).
struct NamedCache {
  size_t maxKeys = 0;
  Clock::duration lifetime{};
  uint64_t uses = 0;
  size_t bytes = 0;
  // Least recently used first; the index points into it.
  std::list<KeyItems> keys;
  std::unordered_map<std::string, std::list<KeyItems>::iterator> index;

  void Trim() {
    while (keys.size() > maxKeys || bytes > kCacheComponentMaxBytes) DropKey(keys.begin());
  }

  void DropKey(std::list<KeyItems>::iterator at) {
    bytes -= at->bytes;
    index.erase(at->key);
    keys.erase(at);
  }

  void DropItem(KeyItems& k, std::vector<KeyItem>::iterator at) {
    k.bytes -= at->Bytes();
    bytes -= at->Bytes();
    k.items.erase(at);
  }
};

struct CacheStore {
  std::mutex lock;
  std::map<std::string, NamedCache> caches;
};

CacheStore& Store() {
  static CacheStore* store = new CacheStore();  // request threads may outlive static destructors
  return *store;
}

const std::string& Text(const std::string* text) {
  static const std::string& kNone = *new std::string();
  return text != nullptr ? *text : kNone;
}

class CCacheComponent final : public ICacheComponent {
 public:
  HRESULT AddItem(const std::string& key, const std::string& data, const std::string& cacheName) override {
    return Put(cacheName, key, nullptr, nullptr, data);
  }
  HRESULT GetItem(const std::string& key, std::optional<std::string>* data, const std::string& cacheName) override {
    return Get(cacheName, key, nullptr, nullptr, data);
  }
  HRESULT CreateCache(const std::string& cacheName, int32_t maxEntries, int32_t lifetimeMinutes) override {
    if (cacheName.empty() || maxEntries <= 0 || lifetimeMinutes <= 0) return E_INVALIDARG;
    CacheStore& s = Store();
    std::lock_guard<std::mutex> guard(s.lock);
    NamedCache& c = s.caches[cacheName];
    c.maxKeys = static_cast<size_t>(maxEntries);
    c.lifetime = std::chrono::minutes(lifetimeMinutes);
    c.Trim();
    return S_OK;
  }
  HRESULT Initialize() override { return S_OK; }
  HRESULT AddSessionItem(const std::string& key, const std::string& session, const std::string& data,
                         const std::string& cacheName) override {
    return Put(cacheName, key, &session, nullptr, data);
  }
  HRESULT AddSessionPropertyItem(const std::string& key, const std::string& session, const std::string& propertyName,
                                 const std::string& data, const std::string& cacheName) override {
    return Put(cacheName, key, &session, &propertyName, data);
  }
  HRESULT GetSessionItem(const std::string& key, const std::string& session, std::optional<std::string>* data,
                         const std::string& cacheName) override {
    return Get(cacheName, key, &session, nullptr, data);
  }
  HRESULT GetSessionPropertyItem(const std::string& key, const std::string& session, const std::string& propertyName,
                                 std::optional<std::string>* data, const std::string& cacheName) override {
    return Get(cacheName, key, &session, &propertyName, data);
  }
  // The component keeps no state: every caller shares one instance.
  void Release() override {}

 private:
  static KeyItem* Find(KeyItems& k, const std::string& session, const std::string& property) {
    for (KeyItem& item : k.items) {
      if (item.session == session && item.property == property) return &item;
    }
    return nullptr;
  }

  static HRESULT Put(const std::string& cacheName, const std::string& key, const std::string* session,
                     const std::string* property, const std::string& data) {
    const size_t itemBytes = Text(session).size() + Text(property).size() + data.size() + kItemOverhead;
    if (itemBytes + key.size() + kKeyOverhead > kCacheComponentKeyMaxBytes) return CACHE_E_TOOLARGE;
    CacheStore& s = Store();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.caches.find(cacheName);
    if (it == s.caches.end()) return CACHE_E_NOCACHE;
    NamedCache& c = it->second;
    const auto now = Now();
    auto found = c.index.find(key);
    if (found == c.index.end()) {
      c.keys.push_back(KeyItems{key, {}, key.size() + kKeyOverhead});
      c.bytes += c.keys.back().bytes;
      found = c.index.emplace(key, std::prev(c.keys.end())).first;
    } else {
      c.keys.splice(c.keys.end(), c.keys, found->second);
    }
    KeyItems& k = *found->second;
    KeyItem* item = Find(k, Text(session), Text(property));
    if (item != nullptr) c.DropItem(k, k.items.begin() + (item - k.items.data()));
    // Full: the items lapsed or used least recently make room.
    while (!k.items.empty() && k.bytes + itemBytes > kCacheComponentKeyMaxBytes) {
      auto oldest = std::min_element(k.items.begin(), k.items.end(), [&](const KeyItem& a, const KeyItem& b) {
        const bool aLapsed = now - a.stored >= c.lifetime;
        const bool bLapsed = now - b.stored >= c.lifetime;
        return aLapsed != bLapsed ? aLapsed : a.used < b.used;
      });
      c.DropItem(k, oldest);
    }
    k.items.push_back(KeyItem{Text(session), Text(property), data, now, ++c.uses});
    k.bytes += itemBytes;
    c.bytes += itemBytes;
    c.Trim();
    return S_OK;
  }

  static HRESULT Get(const std::string& cacheName, const std::string& key, const std::string* session,
                     const std::string* property, std::optional<std::string>* data) {
    if (data == nullptr) return E_POINTER;
    data->reset();
    CacheStore& s = Store();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.caches.find(cacheName);
    if (it == s.caches.end()) return CACHE_E_NOCACHE;
    NamedCache& c = it->second;
    auto found = c.index.find(key);
    if (found == c.index.end()) return CACHE_E_NOITEM;
    KeyItems& k = *found->second;
    KeyItem* item = Find(k, Text(session), Text(property));
    if (item == nullptr) return CACHE_E_NOITEM;
    if (Now() - item->stored >= c.lifetime) {
      // An item lives for the lifetime from when it was stored, however
      // often it is read: the directory's value may have changed.
      c.DropItem(k, k.items.begin() + (item - k.items.data()));
      if (k.items.empty()) c.DropKey(found->second);
      return CACHE_E_NOITEM;
    }
    item->used = ++c.uses;
    c.keys.splice(c.keys.end(), c.keys, found->second);
    *data = item->data;
    return S_OK;
  }
};

}  // namespace

HRESULT CoInitializeEx(void*, DWORD coInit) {
  const int model = coInit == COINIT_APARTMENTTHREADED ? static_cast<int>(COINIT_APARTMENTTHREADED)
                                                       : static_cast<int>(COINIT_MULTITHREADED);
  if (t_apartment == -1) {
    t_apartment = model;
    return S_OK;
  }
  return t_apartment == model ? S_FALSE : RPC_E_CHANGED_MODE;
}

HRESULT CoCreateCacheComponent(ICacheComponent** instance) {
  if (instance == nullptr) return E_POINTER;
  *instance = nullptr;
  if (t_apartment == -1) return CO_E_NOTINITIALIZED;
  // Never destroyed, as the store: request threads may outlive static
  // destructors.
  static CCacheComponent* const component = new CCacheComponent();
  *instance = component;
  return S_OK;
}

void ResetCacheComponent() {
  CacheStore& s = Store();
  std::lock_guard<std::mutex> guard(s.lock);
  s.caches.clear();
}

void AdvanceCacheComponentClock(std::chrono::seconds by) {
  g_advancedNs.fetch_add(std::chrono::nanoseconds(by).count(), std::memory_order_relaxed);
}
