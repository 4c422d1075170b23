#include "platform/cache_component.h"

#include <atomic>
#include <chrono>
#include <list>
#include <map>
#include <mutex>
#include <new>
#include <unordered_map>

#include "platform/coarse_clock.h"
#include "platform/thread_local_instance.h"

namespace {

thread_local int t_apartment = -1;  // -1 none, else the COINIT model

// Entries live for minutes and every look-up checks them.
using Clock = CoarseSteadyClock;

// How far tests have moved the caches' time on.
std::atomic<int64_t> g_advancedNs{0};

Clock::time_point Now() {
  return Clock::now() + std::chrono::nanoseconds(g_advancedNs.load(std::memory_order_relaxed));
}

struct NamedCache {
  size_t maxEntries = 0;
  Clock::duration lifetime{};
  // Oldest first; the map points into it.
  std::list<std::pair<std::string, std::pair<std::string, Clock::time_point>>> items;
  std::unordered_map<std::string, decltype(items)::iterator> index;

  void DropExpired(Clock::time_point now) {
    while (!items.empty() && now - items.front().second.second >= lifetime) {
      index.erase(items.front().first);
      items.pop_front();
    }
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

// Key parts are joined with a separator that no text of the module carries,
// into `k`, which keeps its capacity.
void WriteKey(std::string& k, const std::string& key, const std::string* session, const std::string* property) {
  k.clear();
  k.reserve(key.size() + 2 + (session != nullptr ? session->size() : 0) + (property != nullptr ? property->size() : 0));
  k += key;
  k += '\x1F';
  if (session != nullptr) k += *session;
  k += '\x1F';
  if (property != nullptr) k += *property;
}

std::string JoinKey(const std::string& key, const std::string* session, const std::string* property) {
  std::string k;
  WriteKey(k, key, session, property);
  return k;
}

class CCacheComponent final : public ICacheComponent {
 public:
  HRESULT AddItem(const std::string& key, const std::string& data, const std::string& cacheName) override {
    return Put(cacheName, JoinKey(key, nullptr, nullptr), data);
  }
  HRESULT GetItem(const std::string& key, std::optional<std::string>* data, const std::string& cacheName) override {
    return Get(cacheName, LookupKey(key, nullptr, nullptr), data);
  }
  HRESULT CreateCache(const std::string& cacheName, int32_t maxEntries, int32_t lifetimeMinutes) override {
    if (cacheName.empty() || maxEntries <= 0 || lifetimeMinutes <= 0) return E_INVALIDARG;
    CacheStore& s = Store();
    std::lock_guard<std::mutex> guard(s.lock);
    NamedCache& c = s.caches[cacheName];
    c.maxEntries = static_cast<size_t>(maxEntries);
    c.lifetime = std::chrono::minutes(lifetimeMinutes);
    Trim(c, Now());
    return S_OK;
  }
  HRESULT Initialize() override { return S_OK; }
  HRESULT AddSessionItem(const std::string& key, const std::string& session, const std::string& data,
                         const std::string& cacheName) override {
    return Put(cacheName, JoinKey(key, &session, nullptr), data);
  }
  HRESULT AddSessionPropertyItem(const std::string& key, const std::string& session, const std::string& propertyName,
                                 const std::string& data, const std::string& cacheName) override {
    return Put(cacheName, JoinKey(key, &session, &propertyName), data);
  }
  HRESULT GetSessionItem(const std::string& key, const std::string& session, std::optional<std::string>* data,
                         const std::string& cacheName) override {
    return Get(cacheName, LookupKey(key, &session, nullptr), data);
  }
  HRESULT GetSessionPropertyItem(const std::string& key, const std::string& session, const std::string& propertyName,
                                 std::optional<std::string>* data, const std::string& cacheName) override {
    return Get(cacheName, LookupKey(key, &session, &propertyName), data);
  }
  // The component keeps no state: every caller shares one instance.
  void Release() override {}

 private:
  // A look-up's key is needed only during the look-up: built in the
  // thread's own buffer, which keeps its capacity from request to request.
  struct LookupKeyBuffer {
    std::string text;
  };
  static const std::string& LookupKey(const std::string& key, const std::string* session,
                                      const std::string* property) {
    std::string& buffer = ThreadLocalInstance<LookupKeyBuffer>().text;
    WriteKey(buffer, key, session, property);
    return buffer;
  }

  static void Trim(NamedCache& c, Clock::time_point now) {
    c.DropExpired(now);
    while (c.items.size() > c.maxEntries) {
      c.index.erase(c.items.front().first);
      c.items.pop_front();
    }
  }

  static HRESULT Put(const std::string& cacheName, const std::string& key, const std::string& data) {
    CacheStore& s = Store();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.caches.find(cacheName);
    if (it == s.caches.end()) return CACHE_E_NOCACHE;
    NamedCache& c = it->second;
    const auto now = Now();
    auto found = c.index.find(key);
    if (found != c.index.end()) {
      c.items.erase(found->second);
      c.index.erase(found);
    }
    c.items.emplace_back(key, std::make_pair(data, now));
    c.index[key] = std::prev(c.items.end());
    Trim(c, now);
    return S_OK;
  }

  static HRESULT Get(const std::string& cacheName, const std::string& key, std::optional<std::string>* data) {
    if (data == nullptr) return E_POINTER;
    data->reset();
    CacheStore& s = Store();
    std::lock_guard<std::mutex> guard(s.lock);
    auto it = s.caches.find(cacheName);
    if (it == s.caches.end()) return CACHE_E_NOCACHE;
    NamedCache& c = it->second;
    c.DropExpired(Now());
    auto found = c.index.find(key);
    if (found == c.index.end()) return CACHE_E_NOITEM;
    *data = found->second->second.first;
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
