// Private-profile INI files (the files GetPrivateProfileStringA reads), parsed
// by libinih. A file is parsed once into memory; every read after that is a
// look-up with the behaviour the callers rely on: the default for a missing
// file, section or key, values without surrounding white space, truncation to
// the caller's buffer, and section and key names compared without case.
//
// Choices of this reader: the first of two equal keys in a section wins (a
// section that appears twice is read as one); a ";" after white space starts
// a comment, as does a line that starts with ";" or "#"; quotes are kept as
// written; indented lines are ordinary lines. A line of any length (up to a
// mebibyte) reads as a short line of its kind would. A line ends at a line
// feed, a carriage return or both; a file in UTF-16 with its byte-order mark
// (what Windows editors save as "Unicode") reads as its text in UTF-8; one
// without the mark cannot be told from other bytes safely and is not read.
#pragma once

#include <map>
#include <string>

#include "platform/win_types.h"

class CIniFile {
 public:
  // An empty file: every read gives its default.
  CIniFile() = default;
  // Parses the file; a missing or unreadable file reads as an empty one.
  explicit CIniFile(const std::string& path);

  // Copies the value (or the default; null reads as "") into buffer,
  // truncated to size - 1 characters and always terminated; returns the
  // number of characters copied. Nothing is written when size is 0.
  DWORD GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText, char* buffer,
                                 DWORD size) const;

  const std::string& Path() const { return m_strPath; }
  // Whether the file could be read; when not, why, as words that follow the
  // file's name ("is missing", "cannot be read: it is a folder, not a file").
  bool Opened() const { return m_bOpened; }
  const std::string& Failure() const { return m_strFailure; }
  // The first line the parser could not read (and skipped); 0 when none.
  int FirstBadLine() const { return m_nFirstBadLine; }
  // The first line holding a zero byte, which ends the line's text; 0 when
  // none.
  int FirstLineWithZero() const { return m_nFirstLineWithZero; }

 private:
  friend struct CIniParse;
  std::string m_strPath;
  bool m_bOpened = false;
  std::string m_strFailure;
  int m_nFirstBadLine = 0;
  int m_nFirstLineWithZero = 0;
  // Lower-case "section" + '\n' + lower-case "key" to the value.
  std::map<std::string, std::string> m_values;
};
