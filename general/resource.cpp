#include "general/resource.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "platform/debug_output.h"
#include "platform/last_error.h"
#include "platform/library_loader.h"
#include "platform/system_messages.h"

std::atomic<ResourceTraceHookFn> ResourceTraceHook{nullptr};
std::atomic<ResourceErrorHookFn> ResourceErrorHook{nullptr};

namespace {

// The system's text of a code on one line, without trailing blanks.
std::string OneLineMessage(DWORD error) {
  std::string text = LookupSystemMessage(error);
  for (char& c : text) {
    if (c == '\r' || c == '\n') c = ' ';
  }
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

CResource::CResource() { InitLanguageList(); }

CResource::~CResource() {
  if (m_hModule != nullptr) UnloadModule();
}

void CResource::InitLanguageList() {
  m_languages = {
      {"en", 0x1009},  {"fr", 0x040C},  {"de", 0x0407}, {"es", 0x0C0A}, {"pt-br", 0x0416},
      {"pt", 0x0816},  {"da", 0x0406},  {"sv", 0x041D}, {"hu", 0x040E}, {"fi", 0x040B},
      {"he", 0x040D},  {"it", 0x0410},  {"ar", 0x0401}, {"ja", 0x0411}, {"no", 0x0414},
      {"chs", 0x0804}, {"cht", 0x0404}, {"nl", 0x0413}, {"tr", 0x041F}, {"el", 0x0408},
  };
}

bool CResource::LoadModule(const std::string& path) {
  if (m_hModule != nullptr) {
    if (!FreeLibrary(m_hModule)) {
      LogTrace("Resource class failed UnloadModule error %d", static_cast<int>(GetLastError()));
    } else {
      m_hModule = nullptr;
      m_strPath.clear();
    }
  }
  HMODULE module = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  if (module != nullptr) {
    m_hModule = module;
    m_strPath = path;
    return true;
  }
  DWORD error = GetLastError();
  std::string message = OneLineMessage(error);
  LogError(error, 1, " Resource Class LoadModule failed  %s error %d", path.c_str(), static_cast<int>(error));
  LogTrace("Resource Class LoadModule failed  %s error %d, %s", path.c_str(), static_cast<int>(error),
           message.c_str());
  return false;
}

bool CResource::UnloadModule() {
  if (m_hModule == nullptr) return true;
  if (!FreeLibrary(m_hModule)) {
    LogTrace("Resource class failed UnloadModule error %d", static_cast<int>(GetLastError()));
    return false;
  }
  m_hModule = nullptr;
  m_strPath.clear();
  return true;
}

bool CResource::LoadString(int32_t id, std::u16string& text, LANGID langId) const {
  if (m_hModule == nullptr) {
    LogTrace("Resource class NULL handler LoadString");
    return false;
  }
  const WORD block = static_cast<WORD>((static_cast<uint32_t>(id) >> 4) + 1);
  HRSRC found = FindResourceExA(m_hModule, RT_STRING, MAKEINTRESOURCEA(block), langId);
  if (found == nullptr) {
    LogTrace("Resource Class LoadString failed. It couldn't find the resource %d error %d", id,
             static_cast<int>(GetLastError()));
    return false;
  }
  HGLOBAL loaded = LoadResource(m_hModule, found);
  const DWORD size = SizeofResource(m_hModule, found);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  if (bytes == nullptr) {
    LogTrace("Resource Class LoadString failed when loadResource for resource %d error %d", id,
             static_cast<int>(GetLastError()));
    return false;
  }
  // Sixteen entries, each a 16-bit length and that many UTF-16 units. Every
  // length is checked against what is left of the block: a short or damaged
  // block ends the walk instead of reading past it.
  const uint32_t wanted = static_cast<uint32_t>(id) & 0x0Fu;
  size_t pos = 0;
  for (uint32_t index = 0; index < 16; ++index) {
    if (size - pos < 2) return false;
    const uint16_t length = static_cast<uint16_t>(bytes[pos] | (bytes[pos + 1] << 8));
    pos += 2;
    if (length == 0) continue;
    if ((size - pos) / 2 < length) return false;
    if (index == wanted) {
      text.resize(length);
      for (uint16_t k = 0; k < length; ++k) {
        text[k] = static_cast<char16_t>(bytes[pos + 2u * k] | (bytes[pos + 2u * k + 1] << 8));
      }
      return true;
    }
    pos += 2u * length;
  }
  return false;
}

bool CResource::DetectLanguage(const std::string& code, LANGID& langId) const {
  for (const LanguageRow& row : m_languages) {
    if (row.code == code) {
      langId = row.langId;
      return true;
    }
  }
  LogTrace("Resource class can not find language %s. Set english as default", code.c_str());
  langId = kEnglishLangId;
  return false;
}

void CResource::LogTrace(const char* format, ...) const {
  ResourceTraceHookFn hook = ResourceTraceHook.load(std::memory_order_acquire);
  if (hook == nullptr) return;
  try {
    char text[2048];
    va_list args;
    va_start(args, format);
    int n = std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    if (n < 0) text[0] = '\0';
    hook(text);
  } catch (...) {
    try {
      hook(" An error on logging occured");
    } catch (...) {
    }
    OutputDebugStringA("An error on logging");
  }
}

void CResource::LogError(DWORD error, WORD eventType, const char* format, ...) const {
  ResourceErrorHookFn hook = ResourceErrorHook.load(std::memory_order_acquire);
  if (hook == nullptr) return;
  char text[512];
  va_list args;
  va_start(args, format);
  int n = std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  if (n < 0) text[0] = '\0';
  std::string message = OneLineMessage(error);
  char joined[2048];
  std::snprintf(joined, sizeof joined, "%s   %s", text, message.c_str());
  hook(eventType, joined);
}
