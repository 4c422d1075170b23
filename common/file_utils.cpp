#include "common/file_utils.h"

#include <cstring>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/module_path.h"

bool FileExists(const char* path) { return path != nullptr && PathExists(path); }

HRESULT GetLastErrorHResult() {
  const auto code = static_cast<int32_t>(GetLastError());
  if (code <= 0) return code;
  return static_cast<HRESULT>(0x80070000u | (static_cast<DWORD>(code) & 0xFFFFu));
}

int FindCharFrom(const char* text, char ch, int start) {
  if (text == nullptr || start < 0) return -1;
  const size_t length = std::strlen(text);
  if (static_cast<size_t>(start) >= length) return -1;
  const void* hit = std::memchr(text + start, ch, length - static_cast<size_t>(start));
  return hit != nullptr ? static_cast<int>(static_cast<const char*>(hit) - text) : -1;
}

namespace {

// Creates one level; an existing entry is fine here, the next level or the
// final check finds out whether it is a directory.
HRESULT CreateLevel(const char* path, bool ownerAndGroupOnly) {
  if (CreateDirectoryA(path, ownerAndGroupOnly)) return S_OK;
  const DWORD err = GetLastError();
  if (err == ERROR_ALREADY_EXISTS) return S_OK;
  return HRESULT_FROM_WIN32(err);
}

}  // namespace

HRESULT CreateDirectoryPath(const char* path, bool ownerAndGroupOnly) {
  if (path == nullptr || *path == '\0') return E_INVALIDARG;
  try {
    const size_t length = std::strlen(path);
    char level[MAX_PATH];
    // The slash of the root has nothing before it to create.
    for (int slash = FindCharFrom(path, '/', 1); slash >= 0;
         slash = FindCharFrom(path, '/', slash + 1)) {
      if (static_cast<size_t>(slash) >= sizeof(level)) {
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
      }
      std::memcpy(level, path, static_cast<size_t>(slash));
      level[slash] = '\0';
      const HRESULT hr = CreateLevel(level, ownerAndGroupOnly);
      if (FAILED(hr)) return hr;
    }
    if (path[length - 1] != '/') {
      const HRESULT hr = CreateLevel(path, ownerAndGroupOnly);
      if (FAILED(hr)) return hr;
    }
    // An existing file of that name passes every mkdir above as "exists".
    if (!IsDirectory(path)) return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
    return S_OK;
  } catch (...) {
    return E_FAIL;
  }
}

bool GetModuleDirectory(std::string& directory, const char* moduleName, bool useProcess,
                        int levelsUp) {
  HMODULE module = nullptr;
  if (!useProcess) {
    module = GetModuleHandleA(moduleName);
    if (module == nullptr) return false;
  }
  char fileName[MAX_PATH + 1] = {};
  const DWORD n = GetModuleFileNameA(module, fileName, sizeof(fileName));
  if (n == 0 || n >= sizeof(fileName)) return false;

  std::string dir(fileName);
  const size_t lastSlash = dir.rfind('/');
  dir.erase(lastSlash == std::string::npos ? 0 : lastSlash + 1);
  for (int i = 0; i < levelsUp && dir.size() >= 2; ++i) {
    const size_t up = dir.rfind('/', dir.size() - 2);
    if (up == std::string::npos) break;
    dir.erase(up + 1);
  }
  directory = dir;
  return true;
}
