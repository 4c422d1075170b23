// Page character sets: the character-set name a page declares, the Windows
// code page its texts are converted with, and the name taken out of a
// Content-Type value.
#pragma once

#include <map>
#include <string>

#include "common/ci_string.h"
#include "platform/win_types.h"

class CPageCharSet {
 public:
  CPageCharSet() = default;
  virtual ~CPageCharSet() = default;
  CPageCharSet(const CPageCharSet&) = delete;
  CPageCharSet& operator=(const CPageCharSet&) = delete;

  // Fills the table of names and code pages; running it again adds nothing.
  virtual void Init(const char* productName = nullptr, const char* moduleName = nullptr,
                    const char* resourceLibraryName = nullptr);

  // Converts a UTF-16 text for a page in the named set. "utf-8" gives
  // HTML-escaped UTF-8; "utf-16" the ANSI code page; a name of the table its
  // code page. False, with out unchanged, for an unknown name or a code page
  // this system cannot convert to.
  bool Translate(const std::u16string& text, const ci_string& charSetName, std::string& out) const;

  // The code page of a name of the table (0 when absent).
  UINT CodePageOf(const ci_string& charSetName) const;

  // The character-set name of a Content-Type value: the text after
  // "charset=" (searched within the first `length` bytes, ignoring case), up
  // to ";", white space or the end, without quotation marks. False when
  // there is none.
  static bool DetectCharSet(const char* contentType, int32_t length, std::string& charSet);

 private:
  std::map<ci_string, UINT> m_codePages;
};
