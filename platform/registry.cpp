#include "platform/registry.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/module_path.h"
#include "platform/wide_text.h"

namespace {

struct RegValue {
  DWORD type = REG_NONE;
  std::vector<BYTE> data;
};

// Lower-cased value name -> value.
using ValueMap = std::map<std::string, RegValue>;

struct RegistryImage {
  // Lower-cased full key path ("hkey_local_machine\software\...") -> values.
  std::map<std::string, std::shared_ptr<const ValueMap>> keys;
};

}  // namespace

// An opened key keeps the values it had when opened, so a reload of the file
// never pulls them away from under a reader.
struct HKEY__ {
  std::string path;
  std::shared_ptr<const ValueMap> values;
};

namespace {

std::string Trim(const std::string& s) {
  size_t b = 0;
  size_t e = s.size();
  while (b < e && (s[b] == ' ' || s[b] == '\t' || s[b] == '\r' || s[b] == '\n')) ++b;
  while (e > b && (s[e - 1] == ' ' || s[e - 1] == '\t' || s[e - 1] == '\r' || s[e - 1] == '\n')) --e;
  return s.substr(b, e - b);
}

// UTF-16LE bytes (stopping at a zero unit) to UTF-8.
std::string Utf16LeToUtf8(const BYTE* p, size_t n) {
  std::string out;
  for (size_t i = 0; i + 1 < n; i += 2) {
    uint32_t u = static_cast<uint32_t>(p[i] | (p[i + 1] << 8));
    if (u == 0) break;
    if (u >= 0xD800 && u < 0xDC00 && i + 3 < n) {
      uint32_t lo = static_cast<uint32_t>(p[i + 2] | (p[i + 3] << 8));
      if (lo >= 0xDC00 && lo < 0xE000) {
        AppendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (lo - 0xDC00));
        i += 2;
        continue;
      }
    }
    AppendUtf8(out, u);
  }
  return out;
}

std::string RootName(const std::string& lowered) {
  if (lowered == "hklm") return "hkey_local_machine";
  if (lowered == "hkcr") return "hkey_classes_root";
  if (lowered == "hkcu") return "hkey_current_user";
  if (lowered == "hku") return "hkey_users";
  return lowered;
}

// Normalises a key path: lower case, root abbreviations spelt out, no empty
// components.
std::string NormaliseKey(const std::string& path) {
  std::string lowered = AsciiLower(path);
  std::string out;
  size_t start = 0;
  bool first = true;
  while (start <= lowered.size()) {
    size_t end = lowered.find('\\', start);
    if (end == std::string::npos) end = lowered.size();
    std::string part = lowered.substr(start, end - start);
    if (!part.empty()) {
      if (first) part = RootName(part);
      if (!out.empty()) out += '\\';
      out += part;
      first = false;
    }
    start = end + 1;
  }
  return out;
}

// Parses "a","b" quoted text with \\ and \" escapes starting at s[pos] == '"'.
bool ParseQuoted(const std::string& s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  ++pos;
  out.clear();
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '\\' && pos < s.size()) {
      out += s[pos++];
    } else if (c == '"') {
      return true;
    } else {
      out += c;
    }
  }
  return false;
}

bool ParseHexBytes(const std::string& s, std::vector<BYTE>& out) {
  out.clear();
  std::string tok;
  std::istringstream in(s);
  while (std::getline(in, tok, ',')) {
    tok = Trim(tok);
    if (tok.empty()) continue;
    if (tok.size() > 2) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(tok.c_str(), &end, 16);
    if (end == nullptr || *end != '\0') return false;
    out.push_back(static_cast<BYTE>(v));
  }
  return true;
}

void SetText(RegValue& v, DWORD type, const std::string& text) {
  v.type = type;
  v.data.assign(text.begin(), text.end());
  v.data.push_back(0);
}

// One "name"=data line (data already joined over continuation lines).
bool ParseValueLine(const std::string& line, std::string& name, RegValue& value, bool& erase) {
  size_t pos = 0;
  erase = false;
  if (line[0] == '@') {
    name.clear();
    pos = 1;
  } else if (!ParseQuoted(line, pos, name)) {
    return false;
  }
  while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t')) ++pos;
  if (pos >= line.size() || line[pos] != '=') return false;
  std::string data = Trim(line.substr(pos + 1));
  if (data == "-") {
    erase = true;
    return true;
  }
  if (!data.empty() && data[0] == '"') {
    size_t p = 0;
    std::string text;
    if (!ParseQuoted(data, p, text)) return false;
    SetText(value, REG_SZ, text);
    return true;
  }
  std::string lowered = AsciiLower(data);
  if (lowered.rfind("dword:", 0) == 0) {
    std::string digits = Trim(data.substr(6));
    if (digits.empty() || digits.size() > 8) return false;
    char* end = nullptr;
    unsigned long v = std::strtoul(digits.c_str(), &end, 16);
    if (end == nullptr || *end != '\0') return false;
    DWORD dw = static_cast<DWORD>(v);
    value.type = REG_DWORD;
    value.data.resize(4);
    std::memcpy(value.data.data(), &dw, 4);
    return true;
  }
  if (lowered.rfind("hex", 0) == 0) {
    DWORD type = REG_BINARY;
    size_t colon = lowered.find(':');
    if (colon == std::string::npos) return false;
    std::string kind = lowered.substr(3, colon - 3);
    if (!kind.empty()) {
      if (kind.size() < 3 || kind.front() != '(' || kind.back() != ')') return false;
      char* end = nullptr;
      std::string num = kind.substr(1, kind.size() - 2);
      type = static_cast<DWORD>(std::strtoul(num.c_str(), &end, 16));
      if (end == nullptr || *end != '\0') return false;
    }
    std::vector<BYTE> bytes;
    if (!ParseHexBytes(data.substr(colon + 1), bytes)) return false;
    if (type == REG_EXPAND_SZ || type == REG_SZ) {
      // Exported text is UTF-16LE; the readers of this module want bytes.
      SetText(value, type, Utf16LeToUtf8(bytes.data(), bytes.size()));
    } else if (type == REG_MULTI_SZ) {
      std::string all;
      size_t i = 0;
      while (i + 1 < bytes.size()) {
        size_t j = i;
        while (j + 1 < bytes.size() && (bytes[j] | bytes[j + 1]) != 0) j += 2;
        if (j == i) break;
        all += Utf16LeToUtf8(bytes.data() + i, j - i);
        all += '\0';
        i = j + 2;
      }
      value.type = type;
      value.data.assign(all.begin(), all.end());
      value.data.push_back(0);
    } else {
      value.type = type;
      value.data = std::move(bytes);
    }
    return true;
  }
  return false;
}

std::string DecodeFile(const std::string& raw) {
  if (raw.size() >= 2 && static_cast<BYTE>(raw[0]) == 0xFF && static_cast<BYTE>(raw[1]) == 0xFE) {
    std::string out = Utf16LeToUtf8(reinterpret_cast<const BYTE*>(raw.data()) + 2, raw.size() - 2);
    return out;
  }
  if (raw.size() >= 3 && static_cast<BYTE>(raw[0]) == 0xEF && static_cast<BYTE>(raw[1]) == 0xBB &&
      static_cast<BYTE>(raw[2]) == 0xBF) {
    return raw.substr(3);
  }
  return raw;
}

RegistryImage ParseRegistry(const std::string& text) {
  std::map<std::string, ValueMap> keys;
  std::istringstream in(text);
  std::string line;
  ValueMap* current = nullptr;
  bool header = true;
  while (std::getline(in, line)) {
    line = Trim(line);
    // A trailing backslash continues the line (long hex lists).
    while (!line.empty() && line.back() == '\\' && AsciiLower(line).find("=hex") != std::string::npos) {
      line.pop_back();
      std::string next;
      if (!std::getline(in, next)) break;
      line += Trim(next);
    }
    if (line.empty() || line[0] == ';') continue;
    if (header) {
      header = false;
      if (line.rfind("Windows Registry Editor", 0) == 0 || line == "REGEDIT4") continue;
    }
    if (line[0] == '[') {
      size_t close = line.rfind(']');
      if (close == std::string::npos) {
        current = nullptr;
        continue;
      }
      std::string name = line.substr(1, close - 1);
      if (!name.empty() && name[0] == '-') {
        std::string gone = NormaliseKey(name.substr(1));
        for (auto it = keys.begin(); it != keys.end();) {
          if (it->first == gone || it->first.rfind(gone + "\\", 0) == 0) {
            it = keys.erase(it);
          } else {
            ++it;
          }
        }
        current = nullptr;
        continue;
      }
      current = &keys[NormaliseKey(name)];
      continue;
    }
    if (current == nullptr) continue;
    std::string name;
    RegValue value;
    bool erase = false;
    if (!ParseValueLine(line, name, value, erase)) continue;
    if (erase) {
      current->erase(AsciiLower(name));
    } else {
      (*current)[AsciiLower(name)] = std::move(value);
    }
  }
  RegistryImage image;
  for (auto& [path, values] : keys) {
    image.keys[path] = std::make_shared<const ValueMap>(std::move(values));
    // Parents of a key exist too, as in the real registry.
    std::string parent = path;
    size_t slash;
    while ((slash = parent.rfind('\\')) != std::string::npos) {
      parent.resize(slash);
      if (keys.find(parent) == keys.end() && image.keys.find(parent) == image.keys.end()) {
        image.keys[parent] = std::make_shared<const ValueMap>();
      }
    }
  }
  return image;
}

struct RegistryState {
  std::mutex lock;
  std::string overridePath;
  std::string loadedPath;
  struct timespec loadedTime {};
  off_t loadedSize = -1;
  std::shared_ptr<const RegistryImage> image;
};

RegistryState& State() {
  static RegistryState* s = new RegistryState();  // outlives every static destructor
  return *s;
}

std::string DefaultRegistryPath() {
  std::string path;
  if (!GetModulePathOfAddress(reinterpret_cast<const void*>(&DefaultRegistryPath), path)) return "registry.reg";
  // module file -> bin folder -> product folder -> install folder -> its parent
  for (int i = 0; i < 4; ++i) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos) return "registry.reg";
    path.resize(slash);
  }
  return (path.empty() ? std::string("/") : path + "/") + "registry.reg";
}

// The current image, re-read when the file changed since the last read.
std::shared_ptr<const RegistryImage> CurrentImage() {
  RegistryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  std::string path = s.overridePath;
  if (path.empty()) {
    const char* env = std::getenv("HX_REGISTRY_FILE");
    path = (env != nullptr && *env != '\0') ? std::string(env) : DefaultRegistryPath();
  }
  struct stat st {};
  bool exists = ::stat(path.c_str(), &st) == 0;
  if (s.image && path == s.loadedPath &&
      ((!exists && s.loadedSize < 0) ||
       (exists && st.st_size == s.loadedSize && st.st_mtim.tv_sec == s.loadedTime.tv_sec &&
        st.st_mtim.tv_nsec == s.loadedTime.tv_nsec))) {
    return s.image;
  }
  std::string raw;
  if (exists) {
    std::ifstream f(path, std::ios::binary);
    std::ostringstream all;
    all << f.rdbuf();
    raw = all.str();
  }
  s.image = std::make_shared<const RegistryImage>(ParseRegistry(DecodeFile(raw)));
  s.loadedPath = path;
  s.loadedSize = exists ? st.st_size : -1;
  s.loadedTime = exists ? st.st_mtim : timespec{};
  return s.image;
}

const char* PredefinedRootName(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return "hkey_classes_root";
  if (key == HKEY_CURRENT_USER) return "hkey_current_user";
  if (key == HKEY_LOCAL_MACHINE) return "hkey_local_machine";
  if (key == HKEY_USERS) return "hkey_users";
  return nullptr;
}

}  // namespace

std::string RegistryFilePath() {
  RegistryState& s = State();
  {
    std::lock_guard<std::mutex> guard(s.lock);
    if (!s.overridePath.empty()) return s.overridePath;
  }
  const char* env = std::getenv("HX_REGISTRY_FILE");
  return (env != nullptr && *env != '\0') ? std::string(env) : DefaultRegistryPath();
}

std::string RegistryFileProblem() {
  const std::string path = RegistryFilePath();
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) return "is missing";
    return std::string("cannot be reached: ") + std::strerror(errno);
  }
  if (!S_ISREG(st.st_mode)) return "is not a regular file";
  std::ifstream f(path, std::ios::binary);
  if (!f) return "cannot be read: no right to read it";
  return std::string();
}

void SetRegistryFilePath(const std::string& path) {
  RegistryState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.overridePath = path;
  s.image.reset();
}

LONG RegOpenKeyExA(HKEY root, LPCSTR subKey, DWORD, DWORD, HKEY* result) {
  if (result == nullptr) return static_cast<LONG>(ERROR_INVALID_PARAMETER);
  *result = nullptr;
  std::string base;
  if (const char* rootName = PredefinedRootName(root)) {
    base = rootName;
  } else if (root != nullptr) {
    base = root->path;
  } else {
    return static_cast<LONG>(ERROR_INVALID_HANDLE);
  }
  std::string path = NormaliseKey(base + "\\" + (subKey != nullptr ? subKey : ""));
  auto image = CurrentImage();
  auto it = image->keys.find(path);
  if (it == image->keys.end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
  *result = new (std::nothrow) HKEY__{path, it->second};
  return *result != nullptr ? 0 : static_cast<LONG>(ERROR_NOT_ENOUGH_MEMORY);
}

LONG RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type, BYTE* data, LPDWORD cbData) {
  if (key == nullptr || PredefinedRootName(key) != nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  auto it = key->values->find(AsciiLower(valueName != nullptr ? valueName : ""));
  if (it == key->values->end()) return static_cast<LONG>(ERROR_FILE_NOT_FOUND);
  const RegValue& v = it->second;
  if (type != nullptr) *type = v.type;
  if (cbData == nullptr) return data == nullptr ? 0 : static_cast<LONG>(ERROR_INVALID_PARAMETER);
  DWORD needed = static_cast<DWORD>(v.data.size());
  if (data == nullptr) {
    *cbData = needed;
    return 0;
  }
  if (*cbData < needed) {
    *cbData = needed;
    return static_cast<LONG>(ERROR_MORE_DATA);
  }
  if (needed > 0) std::memcpy(data, v.data.data(), needed);
  *cbData = needed;
  return 0;
}

LONG RegCloseKey(HKEY key) {
  if (key == nullptr) return static_cast<LONG>(ERROR_INVALID_HANDLE);
  if (PredefinedRootName(key) != nullptr) return 0;
  delete key;
  return 0;
}
