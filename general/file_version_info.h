// Reads the version information of a file.
#pragma once

#include <string>
#include <vector>

#include "platform/file_times.h"
#include "platform/win_types.h"


class CFileVersionInfo {
 public:
  CFileVersionInfo() = default;
  ~CFileVersionInfo() { Close(); }
  CFileVersionInfo(const CFileVersionInfo&) = delete;
  CFileVersionInfo& operator=(const CFileVersionInfo&) = delete;

  bool Open(const char* fileName);
  void Close();

  // "FileVersion" / "ProductVersion" of the file opened.
  std::string GetFileVersion(const char* moduleName);
  std::string GetProductVersion(const char* moduleName);
  // A string of the version block; translation 0 uses the one found at open.
  std::string GetString(const char* name, DWORD translation = 0) const;
  // The file's last write time (Windows file time, UTC).
  static HRESULT GetLastWriteTime(const char* path, FILETIME& fileTime);

  DWORD Translation() const { return m_dwTranslation; }

 private:
  std::vector<unsigned char> m_block;
  DWORD m_dwTranslation = 0;  // language in the high word, code page in the low
};
