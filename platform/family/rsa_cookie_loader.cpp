// The product family's cookie loader. The filter module only checks that the
// library and its five entry points are present; it calls none of them, so
// they answer that no cookie support is configured on this machine.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#define QL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {
constexpr uint32_t kNotConfigured = 50;  // "The request is not supported."
thread_local uint32_t t_lastError = 0;
}  // namespace

QL_EXPORT int QL_RSACookieInitializeFilt(void* /*filterContext*/) {
  t_lastError = kNotConfigured;
  return 0;
}

// Gives the user of a cookie as a buffer the caller frees with
// QL_RSAFreeMemory; no cookie is understood here.
QL_EXPORT int QL_RSAGetUserName(const char* /*cookie*/, char** userName) {
  if (userName != nullptr) *userName = nullptr;
  t_lastError = kNotConfigured;
  return 0;
}

QL_EXPORT uint32_t QL_RSAGetLastError(void) { return t_lastError; }

QL_EXPORT void QL_RSAFreeMemory(void* memory) { std::free(memory); }

#ifndef HX_RSA_WITHOUT_EXT_ENTRY
QL_EXPORT int QL_RSACookieInitializeExtNoMFC(void* /*extensionContext*/) {
  t_lastError = kNotConfigured;
  return 0;
}
#endif
