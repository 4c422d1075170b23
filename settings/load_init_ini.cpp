// Reading the INI file of conversion options into the records: one read per
// key, each with the key's default, into a buffer of 2048 characters.
#include "settings/load_init_ini.h"

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "settings/conversion_constants.h"
#include "settings/settings_text.h"

using namespace ConversionOptionTables;

namespace {

constexpr int32_t kLongMax = 2147483647;

// The most styles, or author styles, a file may list. Each one is read and
// kept for every settings set on every load; a count far above any real
// file's would have a reload allocate until memory runs out.
constexpr int32_t kMaxIniCount = 1000;

bool IsTrue(const char* text) { return std::strcmp(text, "TRUE") == 0; }

// The items of a comma-separated list as strtok_s gives them: empty items
// are skipped and nothing is trimmed.
std::vector<std::string> ListItems(const char* text) {
  std::vector<std::string> items;
  const char* p = text;
  while (*p != '\0') {
    const char* end = std::strchr(p, ',');
    if (end == nullptr) end = p + std::strlen(p);
    if (end != p) items.emplace_back(p, end);
    p = *end == ',' ? end + 1 : end;
  }
  return items;
}

bool EqualsNoCase(const char* a, const char* b) {
  for (; *a != '\0' && *b != '\0'; ++a, ++b) {
    const char ca = (*a >= 'a' && *a <= 'z') ? static_cast<char>(*a - 'a' + 'A') : *a;
    const char cb = (*b >= 'a' && *b <= 'z') ? static_cast<char>(*b - 'a' + 'A') : *b;
    if (ca != cb) return false;
  }
  return *a == *b;
}

}  // namespace

void CLoadInitINI::SetPath(const char* path) {
  if (path == nullptr || std::strlen(path) >= kPathSize - 1) return;
  std::memset(m_szPath, 0, sizeof(m_szPath));
  std::strcpy(m_szPath, path);
}

const char* CLoadInitINI::SaveINIFileString(const char* text) {
  if (text == nullptr || *text == '\0') return nullptr;
  if (m_pStrings == nullptr) {
    DebugLog("CLoadInitINI::SaveINIFileString Unexpected NULL vector");
    return nullptr;
  }
  const size_t length = std::strlen(text);
  auto* block = static_cast<char*>(LocalAlloc(LPTR, length + 1));
  if (block == nullptr) {
    DebugLog("CLoadInitINI::SaveINIFileString can not allocate memory ");
    return nullptr;
  }
  std::memcpy(block, text, length);
  m_pStrings->emplace_back(block);
  return block;
}

DWORD CLoadInitINI::Read(const char* section, const char* key, const char* defaultText, char* buffer) {
  std::memset(buffer, 0, kValueBufferSize);
  if (m_bDefaultsOnly) {
    std::snprintf(buffer, kValueBufferSize, "%s", defaultText != nullptr ? defaultText : "");
    return static_cast<DWORD>(std::strlen(buffer));
  }
  // One parse serves every set of a load: all of them read the same file.
  if (!m_pFile || m_pFile->Path() != m_szPath) {
    m_pFile = std::make_unique<CIniFile>(m_szPath);
    ReportFileOnce();
  }
  return m_pFile->GetPrivateProfileStringA(section, key, defaultText, buffer, kValueBufferSize);
}

int32_t CLoadInitINI::ReadCount(const char* section, const char* key, const char* defaultText) {
  char buffer[kValueBufferSize];
  Read(section, key, defaultText, buffer);
  int32_t count = 0;
  if (buffer[0] == '\0' || ReadSettingsNumber(buffer, 0, kMaxIniCount, &count)) return count;
  DebugLog("CLoadInitINI::ReadCount [%s] %s=%s is not a count up to %d", section, key, buffer, kMaxIniCount);
  if (m_reportedCounts.insert(std::string(section) + "\n" + key).second) {
    int32_t number = 0;
    const bool tooHigh = ReadSettingsNumber(buffer, 0, INT32_MAX, &number);
    m_mistakes.Add("The conversion options file %s gives [%s] %s=%s, %s %d; it is read as 0, so none of them is read.",
                   m_szPath, section, key, buffer,
                   tooHigh ? "above the maximum of" : "which is not a whole number from 0 to", kMaxIniCount);
  }
  return 0;
}

int32_t CLoadInitINI::ReadNumber(const char* section, const char* key, const char* text, const char* defaultText) {
  const int32_t fallback = SettingsTextToInt(defaultText);
  int32_t value = 0;
  if (text[0] == '\0') return 0;
  if (ReadSettingsNumber(text, INT32_MIN, INT32_MAX, &value)) return value;
  // The default text of a few keys is a name that reads as 0: it is no
  // mistake of the file's.
  if (defaultText != nullptr && std::strcmp(text, defaultText) == 0) return fallback;
  if (m_reportedCounts.insert(std::string(section) + "\n" + key).second) {
    m_mistakes.Add("The conversion options file %s gives [%s] %s=%s, which is not a whole number; %d is used instead.",
                   m_szPath, section, key, text, static_cast<int>(fallback));
  }
  return fallback;
}

int32_t CLoadInitINI::ReadFontSize(const char* section, const IniOptionRow& row, const char* list) {
  const std::vector<std::string> items = ListItems(list);
  const size_t item = static_cast<size_t>(row.fontItem);
  int32_t size = 0;
  if (item >= items.size()) return row.fontFallback;
  if (ReadSettingsNumber(items[item], INT32_MIN, INT32_MAX, &size)) return size;
  const int position = row.fontItem + 1;
  if (m_reportedCounts.insert(std::string(section) + "\n" + row.key + "\n" + std::to_string(position)).second) {
    m_mistakes.Add("The conversion options file %s gives [%s] %s item %d as \"%s\", which is not a whole number; "
                   "its default, %d, is used instead.",
                   m_szPath, section, row.key, position, items[item].c_str(), static_cast<int>(row.fontFallback));
  }
  return row.fontFallback;
}

void CLoadInitINI::ReportFileOnce() {
  if (m_bFileReported || !m_pFile) return;
  if (!m_pFile->Opened()) {
    m_bFileReported = true;
    DebugLog("CLoadInitINI the conversion options file %s %s", m_szPath, m_pFile->Failure().c_str());
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The conversion options file %s (setting 1) %s; every conversion option takes its default.", m_szPath,
              m_pFile->Failure().c_str());
    return;
  }
  if (m_pFile->FirstLineWithZero() > 0) {
    m_bFileReported = true;
    DebugLog("CLoadInitINI the conversion options file %s has a zero byte in line %d", m_szPath,
             m_pFile->FirstLineWithZero());
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The conversion options file %s has a zero byte in line %d, which ends the line there: what follows it "
              "on that line is not read. Remove the byte.",
              m_szPath, m_pFile->FirstLineWithZero());
  }
  if (m_pFile->FirstBadLine() > 0) {
    m_bFileReported = true;
    DebugLog("CLoadInitINI the conversion options file %s cannot read line %d", m_szPath, m_pFile->FirstBadLine());
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The conversion options file %s has lines that cannot be read, the first at line %d (a line is "
              "[section], key=value or a ; comment); they are skipped, and the options they would set take their "
              "defaults.",
              m_szPath, m_pFile->FirstBadLine());
  }
}

CIniValue CLoadInitINI::ReadValue(const char* section, const IniOptionRow& row) {
  char buffer[kValueBufferSize];
  Read(section, row.key, row.defaultText, buffer);
  CIniValue value;
  switch (row.kind) {
    case IniValueKind::Flag:
      value.number = IsTrue(buffer) ? 1 : 0;
      break;
    case IniValueKind::Number:
      value.number = ReadNumber(section, row.key, buffer, row.defaultText);
      break;
    case IniValueKind::Name:
      value.number = ConversionConstantValue(buffer);
      break;
    case IniValueKind::FirstChar:
      value.number = static_cast<unsigned char>(buffer[0]);
      break;
    case IniValueKind::Text:
      value.text = SaveINIFileString(buffer);
      break;
    case IniValueKind::MaxMemory:
      value.number = EqualsNoCase(buffer, "LONG_MAX") ? kLongMax : ReadNumber(section, row.key, buffer, row.defaultText);
      break;
    case IniValueKind::FontSize:
      value.number = ReadFontSize(section, row, buffer);
      break;
  }
  return value;
}

uint32_t CLoadInitINI::ReadAll(CConversionRecords& records, CSavedIniStrings& strings) {
  m_pStrings = &strings;
  if (m_szPath[0] == '\0' && !m_bDefaultsOnly) {
    DebugLog(" Initialisation INI path is Empty");
    return 1;
  }
  ReadTemplate(records);
  ReadOptions(records);
  ReadContents(records);
  ReadStyles(records);
  ReadTrackChanges(records);
  return 0;
}

void CLoadInitINI::ReadTemplate(CConversionRecords& records) {
  for (size_t i = 0; i < CountOf(kTemplateRows); ++i) {
    records.templateValues[i] = ReadValue(kTemplateSection, kTemplateRows[i]);
  }
}

void CLoadInitINI::ReadOptions(CConversionRecords& records) {
  for (size_t i = 0; i < CountOf(kOptionRows); ++i) {
    records.optionValues[i] = ReadValue(kOptionsSection, kOptionRows[i]);
  }
}

void CLoadInitINI::ReadContents(CConversionRecords& records) {
  for (size_t i = 0; i < CountOf(kContentsRows); ++i) {
    records.contentsValues[i] = ReadValue(kContentsSection, kContentsRows[i]);
  }
  char buffer[kValueBufferSize];
  for (size_t k = 0; k < CountOf(kHeadingRows); ++k) {
    const IniOptionRow& row = kHeadingRows[k];
    Read(kHeadingSection, row.key, row.defaultText, buffer);
    const std::vector<std::string> items = ListItems(buffer);
    for (size_t level = 0; level < items.size() && level < static_cast<size_t>(kHeadingLevels); ++level) {
      // Each item stands on its own: " TRUE" is not "TRUE".
      const char* item = items[level].c_str();
      records.headingValues[level][k] = row.kind == IniValueKind::Flag ? (IsTrue(item) ? 1 : 0)
                                                                        : ReadNumber(kHeadingSection, row.key, item, "");
    }
  }
}

void CLoadInitINI::ReadStyles(CConversionRecords& records) {
  records.styleCount = ReadCount(kStyleSection, "NumStyles", "");
  if (records.styleCount < 1) return;
  records.styles.resize(static_cast<size_t>(records.styleCount));
  char buffer[kValueBufferSize];
  for (int32_t i = 1; i <= records.styleCount; ++i) {
    char section[32];
    std::snprintf(section, sizeof(section), kStyleSectionFormat, i);
    CStyleRecord& style = records.styles[static_cast<size_t>(i - 1)];
    Read(section, "StyleName", "", buffer);
    style.name = SaveINIFileString(buffer);
    Read(section, "MarkUpStart", "", buffer);
    style.markupStart = SaveINIFileString(buffer);
    Read(section, "MarkUpEnd", "", buffer);
    style.markupEnd = SaveINIFileString(buffer);
    Read(section, "Flags", "", buffer);
    // A name combines no bits; a number may.
    style.flags = buffer[0] == 'K' ? ConversionConstantValue(buffer) : ReadNumber(section, "Flags", buffer, "");
  }
}

void CLoadInitINI::ReadTrackChanges(CConversionRecords& records) {
  char buffer[kValueBufferSize];
  for (size_t i = 0; i < CountOf(kTrackChangesTextRows); ++i) {
    const IniOptionRow& row = kTrackChangesTextRows[i];
    Read(kTrackChangesSection, row.key, row.defaultText, buffer);
    records.trackChangesTexts[i] = SaveINIFileString(buffer);
  }
  Read(kTrackChangesSection, "RMSummary", kTrackChangesDefault, buffer);
  records.rmSummary = ReadNumber(kTrackChangesSection, "RMSummary", buffer, kTrackChangesDefault);
  records.authorStyleCount = ReadCount(kAuthorStyleSection, "Styles", "0");
  for (int32_t i = 0; i < records.authorStyleCount; ++i) {
    const std::string key = "RMAuthorStyle" + std::to_string(i);
    Read(kAuthorStyleSection, key.c_str(), kTrackChangesDefault, buffer);
    records.authorStyles.emplace_back(buffer);
  }
}
