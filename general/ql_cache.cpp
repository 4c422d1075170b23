#include "general/ql_cache.h"

#include <cstring>
#include <new>
#include <optional>
#include <string>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "common/secret_text.h"
#include "platform/cache_component.h"
#include "platform/system_messages.h"

namespace {

std::string Text(const char* s) { return s != nullptr ? std::string(s) : std::string(); }

bool ComReady(HRESULT hr) { return SUCCEEDED(hr) || hr == RPC_E_CHANGED_MODE; }

// Converting the texts for the component is the one step that raises a COM
// error: running out of memory (E_OUTOFMEMORY). Its message is the system's.
const char* ComErrorMessage(HRESULT hr) { return LookupSystemMessage(static_cast<DWORD>(hr)); }

// The component's texts come as C strings on the other paths (AddItem
// takes them so): a text that holds a NUL ends there.
bool HoldsNul(const std::string& text) { return text.find('\0') != std::string::npos; }
std::string UpToNul(const std::string& text) { return text.substr(0, text.find('\0')); }

void LogGetItemOutOfMemory() {
  const HRESULT hr = E_OUTOFMEMORY;
  DebugLogError(static_cast<DWORD>(hr), "GetItem got EXCEPTION HR 0x%x %s", static_cast<unsigned>(hr),
                ComErrorMessage(hr));
  LogEventF(1, "Cache component  GetItem failed COM Exception with 0x%x %s", static_cast<unsigned>(hr),
            ComErrorMessage(hr));
}

}  // namespace

bool CQLCache::Init() {
  HRESULT hr = S_OK;
  try {
    hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!ComReady(hr)) {
      DebugLogError(static_cast<DWORD>(hr), "[CQLCache::Init() ] COM initialization failed hr: 0X%x",
                    static_cast<unsigned>(hr));
    } else {
      ICacheComponent* cache = nullptr;
      hr = CoCreateCacheComponent(&cache);
      if (FAILED(hr)) {
        DebugLogError(static_cast<DWORD>(hr), "[CQLCache::Init( ] m_spCache.CoCreateInstance failed hr: 0X%x",
                      static_cast<unsigned>(hr));
        LogEventF(1, "Cache component failed to instantiate HRESULT: 0X%x", static_cast<unsigned>(hr));
      } else {
        hr = cache->Initialize();
        cache->Release();
        if (SUCCEEDED(hr)) {
          m_bInitialised = true;
          return true;
        }
      }
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
    DebugLogError(static_cast<DWORD>(hr), "CExchangeAccess::GetErrorInfo got EXCEPTION HR 0x%x %s",
                  static_cast<unsigned>(hr), ComErrorMessage(hr));
    LogEventF(1, "Cache component  failed to initialize with 0x%x %s", static_cast<unsigned>(hr),
              ComErrorMessage(hr));
  } catch (...) {
    DebugLog("Cache component got GENERAL EXCEPTION");
    LogEventF(1, "Cache component failed to Initialize GE");
    hr = E_UNEXPECTED;
  }
  DebugLogError(static_cast<DWORD>(hr), "[CQLCache::Init( ] m_spCache.Initialize failed hr: 0X%x",
                static_cast<unsigned>(hr));
  LogEventF(1, "Cache component initialization failed HRESULT: 0X%x", static_cast<unsigned>(hr));
  return false;
}

bool CQLCache::CreateCache(const char* cacheName, int32_t first, int32_t second) {
  try {
    const std::string name = Text(cacheName);
    if (!m_bInitialised) {
      DebugLog("CreateCache QLCache is not initialized");
      return false;
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!ComReady(hr)) {
      DebugLogError(static_cast<DWORD>(hr), "[CQLCache::Init() ] COM initialization failed hr: 0X%x",
                    static_cast<unsigned>(hr));
      return false;
    }
    ICacheComponent* cache = nullptr;
    hr = CoCreateCacheComponent(&cache);
    if (FAILED(hr)) {
      DebugLog("[CQLCache::CreateCache() ] COM initialization failed hr: 0X%x", static_cast<unsigned>(hr));
      return false;
    }
    hr = cache->CreateCache(name, first, second);
    if (FAILED(hr)) DebugLogError(static_cast<DWORD>(hr), "CreateCache failed HR 0x%x", static_cast<unsigned>(hr));
    cache->Release();
    return SUCCEEDED(hr);
  } catch (const std::bad_alloc&) {
    const HRESULT hr = E_OUTOFMEMORY;
    DebugLogError(static_cast<DWORD>(hr), "CreateCache got EXCEPTION HR 0x%x %s", static_cast<unsigned>(hr),
                  ComErrorMessage(hr));
    LogEventF(1, "Cache component  failed COM Exception with 0x%x %s", static_cast<unsigned>(hr),
              ComErrorMessage(hr));
    return false;
  } catch (...) {
    DebugLog("CCreateCache ache component got GENERAL EXCEPTION");
    LogEventF(1, "CreateCache Cache component failed GE");
    return false;
  }
}

bool CQLCache::AddItem(const char* cacheName, const char* key, const char* data, const char* session,
                       const char* propertyName, int32_t mode) {
  HRESULT hr = S_OK;
  try {
    const std::string name = Text(cacheName);
    const std::string k = Text(key);
    const std::string d = Text(data);
    const std::string s = Text(session);
    const std::string p = Text(propertyName);
    if (!m_bInitialised) {
      DebugLog("AddItem QLCache is not initialized");
      return false;
    }
    hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!ComReady(hr)) {
      DebugLogError(static_cast<DWORD>(hr),
                    "[CQLCache::AddItem() ] COM initialization COINIT_MULTITHREADED failed hr: 0X%x",
                    static_cast<unsigned>(hr));
    } else {
      ICacheComponent* cache = nullptr;
      hr = CoCreateCacheComponent(&cache);
      if (FAILED(hr)) {
        DebugLogError(static_cast<DWORD>(hr), "[CQLCache::AddItem() ] COM initialization failed hr: 0X%x",
                      static_cast<unsigned>(hr));
      } else {
        hr = S_OK;
        if (mode == 1) {
          hr = cache->AddItem(k, d, name);
        } else if (mode == 2) {
          hr = cache->AddSessionItem(k, s, d, name);
        } else if (mode == 3) {
          hr = cache->AddSessionPropertyItem(k, s, p, d, name);
        }
        if (FAILED(hr)) DebugLogError(static_cast<DWORD>(hr), "AddItem failed HR 0x%x", static_cast<unsigned>(hr));
        cache->Release();
      }
    }
  } catch (const std::bad_alloc&) {
    hr = E_OUTOFMEMORY;
    DebugLogError(static_cast<DWORD>(hr), "AddItem got EXCEPTION HR 0x%x %s", static_cast<unsigned>(hr),
                  ComErrorMessage(hr));
    LogEventF(1, "Cache component  AddItem failed COM Exception with 0x%x %s", static_cast<unsigned>(hr),
              ComErrorMessage(hr));
  } catch (...) {
    DebugLog("AddItem cache component got GENERAL EXCEPTION");
    LogEventF(1, "AddItem Cache component failed GE");
    hr = E_UNEXPECTED;
  }
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "[CQLCache::AddItem() ]  failed Key %s Data %s Session %s PropName %s hr: 0X%x",
                  key != nullptr ? key : "", data != nullptr ? data : "",
                  SecretForLog(session != nullptr ? session : "").c_str(),
                  propertyName != nullptr ? propertyName : "", static_cast<unsigned>(hr));
  }
  return SUCCEEDED(hr);
}

bool CQLCache::GetItem(const char* cacheName, const char* key, char** buffer, const char* session,
                       const char* propertyName, int32_t mode) {
  try {
    std::string value;
    if (!GetItem(Text(cacheName), Text(key), value, Text(session), Text(propertyName), mode) || buffer == nullptr) {
      return false;
    }
    char* copy = new char[value.size() + 1];
    std::memcpy(copy, value.c_str(), value.size() + 1);
    *buffer = copy;
    return true;
  } catch (const std::bad_alloc&) {
    LogGetItemOutOfMemory();
    return false;
  }
}

bool CQLCache::GetItem(const std::string& cacheName, const std::string& key, std::string& value,
                       const std::string& session, const std::string& propertyName, int32_t mode) {
  try {
    if (HoldsNul(cacheName) || HoldsNul(key) || HoldsNul(session) || HoldsNul(propertyName)) {
      return GetItem(UpToNul(cacheName), UpToNul(key), value, UpToNul(session), UpToNul(propertyName), mode);
    }
    if (!m_bInitialised) {
      DebugLog("GetItem QLCache is not initialized");
      return false;
    }
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (!ComReady(hr)) {
      DebugLogError(static_cast<DWORD>(hr),
                    "[CQLCache::GetItem() ] COM initialization COINIT_MULTITHREADED failed hr: 0X%x",
                    static_cast<unsigned>(hr));
      return false;
    }
    ICacheComponent* cache = nullptr;
    hr = CoCreateCacheComponent(&cache);
    if (FAILED(hr)) {
      DebugLogError(static_cast<DWORD>(hr), "[CQLCache::GetItem() ] COM initialization failed hr: 0X%x",
                    static_cast<unsigned>(hr));
      return false;
    }
    std::optional<std::string> found;
    hr = S_OK;
    if (mode == 1) {
      hr = cache->GetItem(key, &found, cacheName);
    } else if (mode == 2) {
      hr = cache->GetSessionItem(key, session, &found, cacheName);
    } else if (mode == 3) {
      hr = cache->GetSessionPropertyItem(key, session, propertyName, &found, cacheName);
    }
    cache->Release();
    if (FAILED(hr)) {
      DebugLogError(static_cast<DWORD>(hr), "GetItem failed HR 0x%x", static_cast<unsigned>(hr));
      return false;
    }
    if (!found) return false;
    value = std::move(*found);
    return true;
  } catch (const std::bad_alloc&) {
    LogGetItemOutOfMemory();
    return false;
  } catch (...) {
    DebugLog("GetItem cache component got GENERAL EXCEPTION");
    LogEventF(1, "GetItem Cache component failed GE");
    return false;
  }
}
