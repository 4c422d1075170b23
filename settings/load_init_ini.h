// The conversion engine's options from one INI file: every group of keys read
// into the records, and the records turned into option rows (the row order
// and ids are those of settings/conversion_option_tables.h).
#pragma once

#include <memory>
#include <set>
#include <string>

#include "platform/ini_file.h"
#include "settings/conversion_option_tables.h"
#include "settings/load_init.h"
#include "settings/settings_mistakes.h"

class CLoadInitINI : public CLoadInit {
 public:
  static constexpr size_t kPathSize = 261;
  static constexpr DWORD kValueBufferSize = 2048;

  CLoadInitINI() = default;

  // Taken only when not null and shorter than 260 characters; otherwise the
  // path stays as it was.
  void SetPath(const char* path);
  const char* GetPath() const { return m_szPath; }
  // No file at all: every key reads as its default, and nothing is reported
  // about a file.
  void UseDefaultsOnly() { m_bDefaultsOnly = true; }

  // 1 (with an array of zero and empty values) when the path is empty or the
  // new array cannot be made.
  uint32_t Load(COptionArrayHolder& holder, const CConversionOptionList& extra) override;
  // 1 when the path is empty (unless defaults only were asked for). The file is parsed on the first read and then
  // serves every later read.
  uint32_t ReadAll(CConversionRecords& records, CSavedIniStrings& strings) override;

  // Reports the mistakes of the file gathered over every set's load (up to
  // a bound, then how many more), once; call it when the last set is loaded.
  void ReportMistakes() { m_mistakes.Report("conversion options file", m_szPath); }

  // A copy of the text in the current string list; null for an empty text,
  // without a list, or when out of memory.
  const char* SaveINIFileString(const char* text);

  // Writes one row: the id as VT_I4 at (0, row), the value at (1, row).
  static HRESULT AddElement(LONG row, int32_t id, const VARIANT& value, SAFEARRAY* array);
  // Appends the input's rows whose id is an integer, from row + 1 on.
  static HRESULT FillAditionalOptions(LONG& row, SAFEARRAY* array, SAFEARRAY* input);

 private:
  DWORD Read(const char* section, const char* key, const char* defaultText, char* buffer);
  // A count of things to read; one above the fixed maximum is reported to the
  // event log (once per loader) and read as 0: nothing of that kind is read.
  int32_t ReadCount(const char* section, const char* key, const char* defaultText);
  // A file that is missing or has lines it cannot read is reported once per
  // loader, which serves one load of the settings file.
  void ReportFileOnce();
  CIniValue ReadValue(const char* section, const IniOptionRow& row);
  // A number of the file, read by the settings files' one number reader: a
  // text that is no whole number is reported once per load (quoted as
  // written) and gives what the key's default text gives.
  int32_t ReadNumber(const char* section, const char* key, const char* text, const char* defaultText);
  // One item of a comma-separated list of font sizes: a missing one, or one
  // that is no whole number (reported once per item and load), takes the
  // row's own size.
  int32_t ReadFontSize(const char* section, const IniOptionRow& row, const char* list);
  void ReadTemplate(CConversionRecords& records);
  void ReadOptions(CConversionRecords& records);
  void ReadContents(CConversionRecords& records);
  void ReadStyles(CConversionRecords& records);
  void ReadTrackChanges(CConversionRecords& records);

  CSavedIniStrings* m_pStrings = nullptr;
  char m_szPath[kPathSize] = {};
  std::unique_ptr<CIniFile> m_pFile;
  bool m_bFileReported = false;
  bool m_bDefaultsOnly = false;
  std::set<std::string> m_reportedCounts;
  CSettingsMistakes m_mistakes;
};
