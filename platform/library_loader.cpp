#include "platform/library_loader.h"

#include <dlfcn.h>

#include <new>
#include <string>

#include "platform/last_error.h"
#include "platform/module_path.h"
#include "platform/pe_image.h"

namespace {

// Data-file handles carry their low bit set, so they are never mistaken for
// dlopen handles (which are aligned pointers).
struct DataModule {
  uint32_t magic = 0x41544144;  // "DATA"
  CPEImage image;
};

bool IsDataHandle(HMODULE h) { return (reinterpret_cast<uintptr_t>(h) & 1u) != 0; }

DataModule* AsData(HMODULE h) {
  if (!IsDataHandle(h)) return nullptr;
  auto* m = reinterpret_cast<DataModule*>(reinterpret_cast<uintptr_t>(h) & ~static_cast<uintptr_t>(1));
  return (m != nullptr && m->magic == 0x41544144) ? m : nullptr;
}

std::string SoName(const std::string& name) {
  if (name.size() >= 4) {
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
    if (tail == ".dll") return name.substr(0, name.size() - 4) + ".so";
  }
  return name;
}

std::string ThisModuleDirectory() {
  std::string p;
  if (!GetModulePathOfAddress(reinterpret_cast<const void*>(&ThisModuleDirectory), p)) return {};
  size_t slash = p.rfind('/');
  return slash == std::string::npos ? std::string() : p.substr(0, slash + 1);
}

}  // namespace

HMODULE LoadLibraryA(LPCSTR fileName) {
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  std::string name = SoName(fileName);
  void* h = nullptr;
  if (name.find('/') == std::string::npos) {
    std::string beside = ThisModuleDirectory();
    if (!beside.empty()) h = dlopen((beside + name).c_str(), RTLD_NOW | RTLD_LOCAL);
  }
  if (h == nullptr) h = dlopen(name.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (h == nullptr) {
    SetLastError(ERROR_MOD_NOT_FOUND);
    return nullptr;
  }
  return h;
}

HMODULE LoadLibraryExA(LPCSTR fileName, HANDLE, DWORD flags) {
  if ((flags & LOAD_LIBRARY_AS_DATAFILE) == 0) return LoadLibraryA(fileName);
  if (fileName == nullptr || *fileName == '\0') {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto* m = new (std::nothrow) DataModule();
  if (m == nullptr) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
  }
  DWORD error = 0;
  if (!m->image.Load(fileName, &error)) {
    delete m;
    SetLastError(error);
    return nullptr;
  }
  return reinterpret_cast<HMODULE>(reinterpret_cast<uintptr_t>(m) | 1u);
}

FARPROC GetProcAddress(HMODULE module, LPCSTR procName) {
  if (module == nullptr || IsDataHandle(module) || procName == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  void* sym = dlsym(module, procName);
  if (sym == nullptr) {
    SetLastError(ERROR_PROC_NOT_FOUND);
    return nullptr;
  }
  return reinterpret_cast<FARPROC>(sym);
}

BOOL FreeLibrary(HMODULE module) {
  if (module == nullptr) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (IsDataHandle(module)) {
    DataModule* m = AsData(module);
    if (m == nullptr) {
      SetLastError(ERROR_INVALID_HANDLE);
      return FALSE;
    }
    m->magic = 0;
    delete m;
    return TRUE;
  }
  if (dlclose(module) != 0) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return TRUE;
}

HRSRC FindResourceExA(HMODULE module, LPCSTR type, LPCSTR name, WORD language) {
  DataModule* m = AsData(module);
  if (m == nullptr) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  auto typeId = reinterpret_cast<uintptr_t>(type);
  auto nameId = reinterpret_cast<uintptr_t>(name);
  // Only numeric types and names are stored in our libraries.
  if (typeId > 0xFFFF) {
    SetLastError(ERROR_RESOURCE_TYPE_NOT_FOUND);
    return nullptr;
  }
  if (nameId > 0xFFFF) {
    SetLastError(ERROR_RESOURCE_NAME_NOT_FOUND);
    return nullptr;
  }
  const uint8_t* entry = nullptr;
  DWORD error = 0;
  if (!m->image.FindResource(static_cast<uint16_t>(typeId), static_cast<uint16_t>(nameId), language, &entry,
                             &error)) {
    SetLastError(error);
    return nullptr;
  }
  return const_cast<uint8_t*>(entry);
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
  DataModule* m = AsData(module);
  CPEImage::ResourceData data;
  if (m == nullptr || !m->image.EntryData(static_cast<const uint8_t*>(resource), &data)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return nullptr;
  }
  return const_cast<uint8_t*>(data.data);
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
  DataModule* m = AsData(module);
  CPEImage::ResourceData data;
  if (m == nullptr || !m->image.EntryData(static_cast<const uint8_t*>(resource), &data)) {
    SetLastError(ERROR_RESOURCE_DATA_NOT_FOUND);
    return 0;
  }
  return data.size;
}

LPVOID LockResource(HGLOBAL data) { return data; }
