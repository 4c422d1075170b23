// Thin client of the product family's cache component. It keeps no
// instance: every operation makes its own, uses it and releases it.
#pragma once

#include <cstdint>
#include <string>

class CQLCache {
 public:
  CQLCache() = default;
  virtual ~CQLCache() = default;

  bool Init();
  bool CreateCache(const char* cacheName, int32_t first, int32_t second);
  // mode 1: key only, 2: key and session, 3: key, session and property name;
  // any other mode stores nothing and succeeds.
  bool AddItem(const char* cacheName, const char* key, const char* data, const char* session,
               const char* propertyName, int32_t mode);
  bool AddItem(const char* cacheName, const char* key, const char* data, const char* session,
               const char* propertyName) {
    return AddItem(cacheName, key, data, session, propertyName, 3);
  }
  // True only when a value came back; *buffer is then a new zero-terminated
  // text the caller frees with delete[].
  bool GetItem(const char* cacheName, const char* key, char** buffer, const char* session, const char* propertyName,
               int32_t mode);
  bool GetItem(const char* cacheName, const char* key, char** buffer, const char* session,
               const char* propertyName) {
    return GetItem(cacheName, key, buffer, session, propertyName, 3);
  }

  // The same for texts held as strings (every request asks so), each up to
  // its first NUL as the C-string forms see it: true only when a value came
  // back, which is then in `value`.
  bool GetItem(const std::string& cacheName, const std::string& key, std::string& value, const std::string& session,
               const std::string& propertyName, int32_t mode = 3);

  bool IsInitialised() const { return m_bInitialised; }

 private:
  bool m_bInitialised = false;
};
