#include "platform/file_version.h"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "platform/module_path.h"

namespace {

// The block: "HXVI", a 32-bit total size, then entries of a 16-bit key
// length, the key, a 16-bit value length and the value.
constexpr char kMagic[4] = {'H', 'X', 'V', 'I'};

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("/\\");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string MapDll(std::string name) {
  if (name.size() >= 4) {
    std::string tail = name.substr(name.size() - 4);
    for (char& c : tail) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
    if (tail == ".dll") name = name.substr(0, name.size() - 4) + ".so";
  }
  return name;
}

// Whether the named file is this module's own file.
bool IsThisModule(LPCSTR fileName) {
  std::string self;
  if (!GetModulePathOfAddress(reinterpret_cast<const void*>(&IsThisModule), self)) return false;
  std::string wanted = MapDll(fileName);
  if (wanted.find('/') != std::string::npos) {
    struct stat a {};
    struct stat b {};
    if (::stat(wanted.c_str(), &a) != 0 || ::stat(self.c_str(), &b) != 0) return false;
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
  }
  return BaseName(self) == wanted;
}

void Put16(std::string& out, size_t v) {
  out += static_cast<char>(v & 0xFF);
  out += static_cast<char>((v >> 8) & 0xFF);
}

void PutEntry(std::string& out, const std::string& key, const std::string& value) {
  Put16(out, key.size());
  out += key;
  Put16(out, value.size());
  out += value;
}

std::string BuildBlock() {
  char lang[16];
  std::snprintf(lang, sizeof lang, "%04x%04x", kVersionLanguage, kVersionCodePage);
  std::string prefix = std::string("\\StringFileInfo\\") + lang + "\\";
  std::string entries;
  std::string translation(4, '\0');
  translation[0] = static_cast<char>(kVersionLanguage & 0xFF);
  translation[1] = static_cast<char>(kVersionLanguage >> 8);
  translation[2] = static_cast<char>(kVersionCodePage & 0xFF);
  translation[3] = static_cast<char>(kVersionCodePage >> 8);
  PutEntry(entries, "\\VarFileInfo\\Translation", translation);
  PutEntry(entries, prefix + "FileVersion", std::string(HX_FILE_VERSION) + '\0');
  PutEntry(entries, prefix + "ProductVersion", std::string(HX_PRODUCT_VERSION) + '\0');
  PutEntry(entries, prefix + "ProductName", std::string("Quenlith Pellora") + '\0');
  std::string block(kMagic, 4);
  size_t total = 8 + entries.size();
  for (int i = 0; i < 4; ++i) block += static_cast<char>((total >> (8 * i)) & 0xFF);
  return block + entries;
}

bool CheckFile(LPCSTR fileName) {
  if (fileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  if (!IsThisModule(fileName)) {
    std::string mapped = MapDll(fileName);
    struct stat st {};
    bool exists = mapped.find('/') == std::string::npos || ::stat(mapped.c_str(), &st) == 0;
    SetLastError(exists ? ERROR_RESOURCE_TYPE_NOT_FOUND : ERROR_FILE_NOT_FOUND);
    return false;
  }
  return true;
}

}  // namespace

DWORD GetFileVersionInfoSizeA(LPCSTR fileName, LPDWORD handle) {
  if (handle != nullptr) *handle = 0;
  if (!CheckFile(fileName)) return 0;
  return static_cast<DWORD>(BuildBlock().size());
}

BOOL GetFileVersionInfoA(LPCSTR fileName, DWORD, DWORD len, LPVOID data) {
  if (data == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!CheckFile(fileName)) return FALSE;
  std::string block = BuildBlock();
  if (len < block.size()) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(data, block.data(), block.size());
  return TRUE;
}

BOOL VerQueryValueA(LPCVOID block, LPCSTR subBlock, LPVOID* buffer, UINT* len) {
  if (block == nullptr || subBlock == nullptr || buffer == nullptr || len == nullptr) return FALSE;
  const auto* p = static_cast<const unsigned char*>(block);
  if (std::memcmp(p, kMagic, 4) != 0) return FALSE;
  size_t total = static_cast<size_t>(p[4]) | (static_cast<size_t>(p[5]) << 8) | (static_cast<size_t>(p[6]) << 16) |
                 (static_cast<size_t>(p[7]) << 24);
  size_t pos = 8;
  std::string wanted(subBlock);
  auto lower = [](std::string s) {
    for (char& c : s) c = static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
    return s;
  };
  wanted = lower(wanted);
  while (pos + 2 <= total) {
    size_t klen = p[pos] | (p[pos + 1] << 8);
    if (pos + 2 + klen + 2 > total) return FALSE;
    std::string key(reinterpret_cast<const char*>(p + pos + 2), klen);
    size_t vpos = pos + 2 + klen;
    size_t vlen = p[vpos] | (p[vpos + 1] << 8);
    if (vpos + 2 + vlen > total) return FALSE;
    if (lower(key) == wanted) {
      *buffer = const_cast<unsigned char*>(p + vpos + 2);
      *len = static_cast<UINT>(vlen);
      return TRUE;
    }
    pos = vpos + 2 + vlen;
  }
  return FALSE;
}
