#include "platform/system_directory.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "platform/last_error.h"

UINT GetSystemDirectoryA(LPSTR buffer, UINT size) {
  const char* env = std::getenv("HX_SYSTEM_DIRECTORY");
  std::string dir = (env != nullptr && *env != '\0') ? std::string(env) : std::string("/var/lib/quenlith");
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.size() + 1 > size || buffer == nullptr) return static_cast<UINT>(dir.size() + 1);
  std::memcpy(buffer, dir.c_str(), dir.size() + 1);
  return static_cast<UINT>(dir.size());
}
