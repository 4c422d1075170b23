// The characters of a page as its browser reads them, in the character set
// the page's Content-Type names. Every value a form writes into a page is
// escaped character by character on this walk: a byte of a two-byte
// character, or of text between the shift sequences of ISO-2022-JP or HZ,
// is never taken for a quote or a backslash, and an escape is never written
// where the browser would read it as part of another character.
//
// In the two-byte sets (Shift_JIS, Big5, GBK/gb18030, EUC-KR) the walk reads
// bytes exactly as the browser's decoder does: a lead byte whose next byte
// makes no character of the set is no character, and the browser reads an
// ASCII byte after it by itself. Such bytes are never written: a rewrite puts
// what the browser shows for them, U+FFFD, in their place, spelt in ASCII for
// the place the text goes (a lead byte left in front of an escape would take
// the escape's first byte as its second).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

class CPairTable;

class CPageChars {
 public:
  enum class Kind { Utf8, SingleByte, ShiftJis, Big5, Gbk, EucKr, Iso2022Jp, Hz };

  // The walk of a page in the set a label names (common/char_set_labels.h:
  // browsers' labels and the Mac forms of the two-byte sets). A label of no
  // multi-byte set reads one byte per character; an empty name is UTF-8.
  static CPageChars ForCharSet(std::string_view charSetName);
  static CPageChars Utf8() { return CPageChars(Kind::Utf8); }

  Kind GetKind() const { return m_kind; }

  // False when the walk cannot read the set: the table of a two-byte set's
  // characters comes from ICU's converter, and without one no value can be
  // escaped for such a page (the caller leaves the page as it is).
  bool IsReadable() const;

  // Appends a Unicode character as the page's set spells it. A character the
  // set has not (or a page in a set without a converter) gets a byte that is
  // no character of the set, so that every rewrite writes U+FFFD there. UTF-8
  // and single-byte pages get UTF-8, as they always have.
  void AppendCharacter(uint32_t codePoint, std::string& out) const;

  // The decoder's reading of a two-byte set: 1 when lead and trail are one
  // character. Null for the other kinds or when the table cannot be built.
  const CPairTable* Pairs() const;

 private:
  explicit CPageChars(Kind kind) : m_kind(kind) {}
  Kind m_kind;
};

// How a rewrite writes U+FFFD where the text has bytes that make no
// character: as a script string escape, as a character reference, or, in
// plain text another rewrite escapes after, as the byte 0xFF, which begins
// no character of any two-byte set.
enum class NoCharacterSpelling { ScriptEscape, MarkupReference, PlainText };

namespace page_chars_detail {

// The two-byte sets (Shift_JIS, Big5, GBK, EUC-KR): a byte below 0x80 the
// walk comes to is one ASCII character there.
inline bool IsTwoByte(CPageChars::Kind kind) {
  return kind == CPageChars::Kind::ShiftJis || kind == CPageChars::Kind::Big5 || kind == CPageChars::Kind::Gbk ||
         kind == CPageChars::Kind::EucKr;
}

// One piece of text: a character, a shift sequence, or bytes that make no
// character of the set.
struct Piece {
  size_t length = 1;
  bool bAscii = false;
  bool bShift = false;
  bool bNoCharacter = false;
};

// The states of the stateful sets; only Ascii is the state of page markup.
enum class Mode { Ascii, Roman, Katakana, TwoByte };

class CWalk {
 public:
  CWalk(std::string_view text, const CPageChars& page) : m_text(text), m_kind(page.GetKind()), m_pPairs(page.Pairs()) {}

  bool AtEnd() const { return m_pos >= m_text.size(); }
  Mode GetMode() const { return m_mode; }
  size_t Position() const { return m_pos; }

  Piece Next() {
    Piece piece;
    const unsigned char c = static_cast<unsigned char>(m_text[m_pos]);
    if (c < 0x80 && (m_kind == CPageChars::Kind::Utf8 || m_kind == CPageChars::Kind::SingleByte || IsTwoByte(m_kind))) {
      piece.bAscii = true;
    } else {
      piece = NextSlow();
    }
    m_pos += piece.length;
    return piece;
  }

 private:
  Piece NextSlow();
  unsigned char Byte(size_t offset) const {
    return m_pos + offset < m_text.size() ? static_cast<unsigned char>(m_text[m_pos + offset]) : 0;
  }
  bool Has(size_t count) const { return m_pos + count <= m_text.size(); }
  Piece Utf8() const;
  Piece TwoByte() const;
  Piece Gb18030FourByte() const;
  size_t ShiftSequence(Mode& mode) const;
  Piece Iso2022Jp();
  Piece Hz();

  std::string_view m_text;
  CPageChars::Kind m_kind;
  const CPairTable* m_pPairs;
  size_t m_pos = 0;
  Mode m_mode = Mode::Ascii;
};

inline constexpr char kNoCharacterByte[] = "\xFF";
// Whether a table of pairs can be read from the named ICU converter (the
// walk's tables are built this way, once per set).
bool CanBuildPairTable(const char* pConverter, CPageChars::Kind kind);
void AppendNoCharacter(NoCharacterSpelling spelling, std::string& out);
bool NeedsAsciiShift(const std::string& replacement);

}  // namespace page_chars_detail

// The bytes a rewrite acts on. A text with none of them, and in a set whose
// bytes above 0x7F may need reading (every set but UTF-8 and the single-byte
// ones) with no such byte either, comes out of the rewrite as written: its
// caller may then skip the walk.
class CRewrittenBytes {
 public:
  constexpr CRewrittenBytes(std::string_view bytes, bool bControls) {
    for (const char c : bytes) m_bytes[static_cast<unsigned char>(c)] = true;
    for (unsigned c = 0; bControls && c < 0x20; ++c) m_bytes[c] = true;
    if (bControls) m_bytes[0x7F] = true;
  }
  bool AnyIn(const std::string& text, const CPageChars& page) const {
    const bool bHighBytesRead = page.GetKind() != CPageChars::Kind::Utf8 &&
                                page.GetKind() != CPageChars::Kind::SingleByte;
    for (const char c : text) {
      const auto u = static_cast<unsigned char>(c);
      if (m_bytes[u] || (bHighBytesRead && (u >= 0x80 || u == '~' || u == 0x1B))) return true;
    }
    return false;
  }

 private:
  bool m_bytes[256] = {};
};

// One character of text: its bytes as written, and whether the browser reads
// it as the one ASCII character chars[0]. Shift sequences are no characters;
// bytes that make no character come as one piece that is not ASCII.
using PageCharVisitor = std::function<void(std::string_view chars, bool bAscii)>;
template <typename Visit>
void ForEachPageChar(const std::string& text, const CPageChars& page, const Visit& visit) {
  page_chars_detail::CWalk walk(text, page);
  while (!walk.AtEnd()) {
    const size_t begin = walk.Position();
    const page_chars_detail::Piece piece = walk.Next();
    if (!piece.bShift) visit(std::string_view(text).substr(begin, piece.length), piece.bAscii);
  }
}

// The text with each character that `rewrite` appends a text for replaced by
// that text (rewrite(chars, bAscii, out) returns false to keep the character
// as written); shift sequences are kept as written, and bytes that make no
// character are replaced by U+FFFD as `spelling` says, whatever rewrite
// would do. Where the browser would not read an ASCII replacement as ASCII
// (the Roman set of ISO-2022-JP), the replacement is written between shifts
// to ASCII and back. A text that leaves a stateful set outside ASCII is
// closed with the shift back, so what follows it in the page reads as
// written. Runs of characters that are kept are copied whole.
using PageCharRewrite = std::function<bool(std::string_view chars, bool bAscii, std::string& out)>;
template <typename Rewrite>
std::string RewritePageChars(const std::string& text, const CPageChars& page, NoCharacterSpelling spelling,
                             const Rewrite& rewrite) {
  using page_chars_detail::Mode;
  std::string out;
  out.reserve(text.size() + 8);
  page_chars_detail::CWalk walk(text, page);
  std::string replacement;
  size_t kept = 0;
  while (!walk.AtEnd()) {
    const size_t begin = walk.Position();
    const Mode mode = walk.GetMode();
    const page_chars_detail::Piece piece = walk.Next();
    if (piece.bShift) continue;
    replacement.clear();
    if (piece.bNoCharacter) {
      page_chars_detail::AppendNoCharacter(spelling, replacement);
    } else if (!rewrite(std::string_view(text).substr(begin, piece.length), piece.bAscii, replacement)) {
      continue;
    }
    out.append(text, kept, begin - kept);
    kept = begin + piece.length;
    if (mode == Mode::Roman && page_chars_detail::NeedsAsciiShift(replacement)) {
      out.append("\x1B(B").append(replacement).append("\x1B(J");
    } else {
      out += replacement;
    }
  }
  out.append(text, kept, std::string::npos);
  if (walk.GetMode() != Mode::Ascii) out += page.GetKind() == CPageChars::Kind::Hz ? "~}" : "\x1B(B";
  return out;
}

// As above, for text that goes into markup.
template <typename Rewrite>
std::string RewritePageChars(const std::string& text, const CPageChars& page, const Rewrite& rewrite) {
  return RewritePageChars(text, page, NoCharacterSpelling::MarkupReference, rewrite);
}
