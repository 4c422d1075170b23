// The characters of a page as its browser reads them, in the character set
// the page's Content-Type names. Every value a form writes into a page is
// escaped character by character on this walk: a byte of a two-byte
// character, or of text between the shift sequences of ISO-2022-JP or HZ,
// is never taken for a quote or a backslash, and an escape is never written
// where the browser would read it as part of another character.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/win_types.h"

class CPageChars {
 public:
  enum class Kind { Utf8, SingleByte, ShiftJis, Big5, Gbk, EucKr, Iso2022Jp, Hz };

  // The walk of a page in the set a label names (common/char_set_labels.h:
  // browsers' labels and the Mac forms of the two-byte sets). A label of no
  // multi-byte set reads one byte per character; an empty name is UTF-8.
  static CPageChars ForCharSet(std::string_view charSetName);
  static CPageChars Utf8() { return CPageChars(Kind::Utf8, 0); }

  Kind GetKind() const { return m_kind; }
  // The code page that decides whether a lead byte and an ASCII byte after
  // it are one character (0 for the sets without such pairs).
  UINT GetPairCodePage() const { return m_pairCodePage; }

 private:
  CPageChars(Kind kind, UINT pairCodePage) : m_kind(kind), m_pairCodePage(pairCodePage) {}
  Kind m_kind;
  UINT m_pairCodePage;
};

// One character of text: its bytes as written, and whether the browser reads
// it as the one ASCII character chars[0]. Shift sequences are no characters.
using PageCharVisitor = std::function<void(std::string_view chars, bool bAscii)>;
void ForEachPageChar(const std::string& text, const CPageChars& page, const PageCharVisitor& visit);

// The text with each character that `rewrite` appends a text for replaced by
// that text (rewrite returns false to keep the character as written); shift
// sequences are kept as written. Where the browser would not read an ASCII
// replacement as ASCII (the Roman set of ISO-2022-JP), the replacement is
// written between shifts to ASCII and back. A text that leaves a stateful set
// outside ASCII is closed with the shift back, so what follows it in the page
// reads as written.
using PageCharRewrite = std::function<bool(std::string_view chars, bool bAscii, std::string& out)>;
std::string RewritePageChars(const std::string& text, const CPageChars& page, const PageCharRewrite& rewrite);
