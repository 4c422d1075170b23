// libFuzzer target: the registry file an installer writes, read through the
// registry calls the module makes. Sizes reported must match the bytes
// copied, and a value never spills past the buffer it is read into.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace {

[[noreturn]] void Violated(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

constexpr LONG kMoreData = 234;

void ReadValue(HKEY key, const char* name) {
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != 0) return;
  // A guard byte after the buffer catches a write past its end.
  std::vector<BYTE> buffer(size + 1, 0xA5);
  DWORD got = size;
  if (RegQueryValueExA(key, name, nullptr, &type, buffer.data(), &got) != 0) Violated("a sized read succeeds");
  if (got != size || buffer[size] != 0xA5) Violated("a read fills exactly the size it reported");
  if (size > 0) {
    DWORD small = size - 1;
    if (RegQueryValueExA(key, name, nullptr, &type, buffer.data(), &small) != kMoreData || small != size) {
      Violated("a short buffer is refused with the size needed");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* pData, size_t nSize) {
  // Two names in turn, so every input is read afresh whatever its time stamp.
  static int turn = 0;
  const std::string path = "/tmp/hx_fuzz_registry." + std::to_string(::getpid()) + (turn++ % 2 ? ".a.reg" : ".b.reg");
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(pData, 1, nSize, f);
  std::fclose(f);
  SetRegistryFilePath(path);

  static const char* const kKeys[] = {"Software\\Quenlith\\Pellora", "Software\\Microsoft\\ExchangeServer\\v14\\Setup",
                                      ".doc", ".pdf", "SYSTEM\\CurrentControlSet\\Services\\MSExchange OWA"};
  static const char* const kValues[] = {"", "InstallDir", "Content Type", "MsiProductMajor", "SSLOffloaded"};
  for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CLASSES_ROOT}) {
    for (const char* subKey : kKeys) {
      HKEY key = nullptr;
      if (RegOpenKeyExA(root, subKey, 0, KEY_READ, &key) != 0) continue;
      for (const char* value : kValues) ReadValue(key, value);
      RegCloseKey(key);
    }
  }
  return 0;
}
