#include "platform/module_path.h"

#include <dlfcn.h>
#include <link.h>
#include <strings.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

#include "platform/last_error.h"

namespace {

bool EndsWithNoCase(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && strcasecmp(s.c_str() + s.size() - n, tail) == 0;
}

const char* BaseName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

struct FindState {
  const char* wanted;
  std::string found;
};

int MatchObject(dl_phdr_info* info, size_t, void* data) {
  auto* state = static_cast<FindState*>(data);
  if (info->dlpi_name == nullptr || info->dlpi_name[0] == '\0') return 0;
  if (strcasecmp(BaseName(info->dlpi_name), state->wanted) != 0) return 0;
  state->found = info->dlpi_name;
  return 1;
}

std::string ExecutablePath() {
  char buf[4096];
  ssize_t n = readlink("/proc/self/exe", buf, sizeof(buf) - 1);
  if (n <= 0) return {};
  buf[n] = '\0';
  return buf;
}

}  // namespace

std::string ModuleFileNameForPlatform(const char* moduleName) {
  std::string name = moduleName != nullptr ? moduleName : "";
  if (EndsWithNoCase(name, ".dll")) {
    name.replace(name.size() - 4, 4, ".so");
  } else if (name.find('.') == std::string::npos) {
    name += ".so";
  }
  return name;
}

HMODULE GetModuleHandleA(const char* moduleName) {
  if (moduleName == nullptr) return dlopen(nullptr, RTLD_NOW);
  const std::string wanted = ModuleFileNameForPlatform(BaseName(moduleName));
  FindState state{wanted.c_str(), {}};
  if (dl_iterate_phdr(MatchObject, &state) == 0) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  // RTLD_NOLOAD hands back the handle of the object already loaded; the
  // reference it takes is given back at once, as the module is not ours to
  // keep loaded.
  void* handle = dlopen(state.found.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  dlclose(handle);
  return handle;
}

DWORD GetModuleFileNameA(HMODULE module, char* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  std::string path;
  link_map* map = nullptr;
  if (module != nullptr && dlinfo(module, RTLD_DI_LINKMAP, &map) == 0 && map != nullptr &&
      map->l_name != nullptr && map->l_name[0] != '\0') {
    path = map->l_name;
  } else if (module == nullptr || map != nullptr) {
    // The null handle and the main program's own handle both name the
    // executable, whose link map carries no name.
    path = ExecutablePath();
  }
  if (path.empty()) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    buffer[0] = '\0';
    return 0;
  }
  if (path.size() >= size) {
    std::memcpy(buffer, path.data(), size - 1);
    buffer[size - 1] = '\0';
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return size;
  }
  std::memcpy(buffer, path.c_str(), path.size() + 1);
  SetLastError(ERROR_SUCCESS);
  return static_cast<DWORD>(path.size());
}

bool GetModulePathOfAddress(const void* address, std::string& path) {
  Dl_info info{};
  if (address == nullptr || dladdr(address, &info) == 0 || info.dli_fname == nullptr) return false;
  // The main program may be reported by the name it was started with.
  if (std::strchr(info.dli_fname, '/') == nullptr || info.dli_fbase == nullptr) {
    path = ExecutablePath();
  } else {
    path = info.dli_fname;
  }
  if (!path.empty() && path[0] != '/') {
    char* resolved = realpath(path.c_str(), nullptr);
    if (resolved != nullptr) {
      path = resolved;
      free(resolved);
    }
  }
  return !path.empty();
}
