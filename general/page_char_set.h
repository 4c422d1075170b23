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

  // Converts a UTF-16 text for a page in the named set. A label of UTF-8
  // gives HTML-escaped UTF-8; "utf-16" the ANSI code page; a name of the
  // table its code page, and any other label of a set the table has a row
  // for that row's ("cp932" and "windows-31j" the Shift_JIS row's). False,
  // with out unchanged, for a set without a row or a code page this system
  // cannot convert to.
  bool Translate(const std::u16string& text, const ci_string& charSetName, std::string& out) const;

  // How Translate converts for a name, decided once so that a page's many
  // texts do not look the label up again each.
  struct Conversion {
    enum class Kind { None, Utf8, CodePage } kind = Kind::None;
    UINT codePage = 0;
  };
  Conversion ConversionOf(const ci_string& charSetName) const;
  // Translate with the conversion decided for the name.
  static bool Translate(const std::u16string& text, const Conversion& conversion, std::string& out);

  // The code page Translate converts with for a name (0 when none).
  UINT CodePageOf(const ci_string& charSetName) const;

  // The character-set label of a Content-Type value (its first `length`
  // bytes): the value of its first parameter named "charset", as a MIME type
  // parser reads it (a quoted string unquoted). False when there is none.
  static bool DetectCharSet(const char* contentType, int32_t length, std::string& charSet);

 private:
  const UINT* RowOf(const ci_string& charSetName) const;

  std::map<ci_string, UINT> m_codePages;
};
