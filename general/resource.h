// The resource library: a resource-only library of string tables, one per
// interface language, loaded as a data file.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "platform/win_types.h"

// English strings live under 0x1009, the fallback of every other language.
constexpr LANGID kEnglishLangId = 0x1009;

using ResourceTraceHookFn = void (*)(const char* text);
using ResourceErrorHookFn = void (*)(WORD eventType, const char* text);

// Where CResource's trace and error lines go (dropped while null).
extern std::atomic<ResourceTraceHookFn> ResourceTraceHook;
extern std::atomic<ResourceErrorHookFn> ResourceErrorHook;

class CResource {
 public:
  struct LanguageRow {
    std::string code;
    LANGID langId;
  };

  CResource();
  ~CResource();
  CResource(const CResource&) = delete;
  CResource& operator=(const CResource&) = delete;

  bool LoadModule(const std::string& path);
  bool UnloadModule();
  // Copies string id of the language's table into text (UTF-16).
  bool LoadString(int32_t id, std::u16string& text, LANGID langId) const;
  // LANGID of a product language code (exact match); false gives English.
  bool DetectLanguage(const std::string& code, LANGID& langId) const;

  void LogTrace(const char* format, ...) const HX_PRINTF(2, 3);
  void LogError(DWORD error, WORD eventType, const char* format, ...) const HX_PRINTF(4, 5);

  const std::string& Path() const { return m_strPath; }
  bool IsLoaded() const { return m_hModule != nullptr; }
  const std::vector<LanguageRow>& Languages() const { return m_languages; }

 private:
  void InitLanguageList();

  std::string m_strPath;
  HMODULE m_hModule = nullptr;
  std::vector<LanguageRow> m_languages;
};
