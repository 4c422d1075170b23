// The walk of a page's characters in its character set.
#include "common/page_chars.h"

#include <cctype>

#include "common/char_set_labels.h"
#include "platform/code_page.h"

namespace {

struct CharSetName {
  const char* pName;
  CPageChars::Kind kind;
  UINT pairCodePage;
};

// The multi-byte sets by their names in the table of labels
// (common/char_set_labels.h), which every label is read through.
constexpr CharSetName kMultiByteSets[] = {
    {"utf-8", CPageChars::Kind::Utf8, 0},
    {"shift_jis", CPageChars::Kind::ShiftJis, 932},
    {"x-mac-japan", CPageChars::Kind::ShiftJis, 10001},
    {"big5", CPageChars::Kind::Big5, 950},
    {"x-mac-chinesetrad", CPageChars::Kind::Big5, 10002},
    {"gbk", CPageChars::Kind::Gbk, 936},
    {"gb18030", CPageChars::Kind::Gbk, 54936},
    {"x-mac-chineseimp", CPageChars::Kind::Gbk, 10008},
    {"euc-kr", CPageChars::Kind::EucKr, 949},
    {"iso-2022-jp", CPageChars::Kind::Iso2022Jp, 0},
    {"hz-gb-2312", CPageChars::Kind::Hz, 0},
};

bool EqualNoCase(std::string_view a, const char* b) {
  size_t i = 0;
  for (; i < a.size() && b[i] != '\0'; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return i == a.size() && b[i] == '\0';
}

bool InRange(unsigned char c, unsigned char lo, unsigned char hi) { return c >= lo && c <= hi; }

// The states of the stateful sets; only Ascii is the state of page markup.
enum class Mode { Ascii, Roman, Katakana, TwoByte };

// One piece of text: a character or a shift sequence.
struct Piece {
  size_t length = 1;
  bool bAscii = false;
  bool bShift = false;
};

class CWalk {
 public:
  CWalk(const std::string& text, const CPageChars& page) : m_text(text), m_page(page) {}

  bool AtEnd() const { return m_pos >= m_text.size(); }
  Mode GetMode() const { return m_mode; }
  size_t Position() const { return m_pos; }

  Piece Next() {
    Piece piece;
    switch (m_page.GetKind()) {
      case CPageChars::Kind::Utf8: piece = Utf8(); break;
      case CPageChars::Kind::SingleByte: piece.bAscii = Byte(0) < 0x80; break;
      case CPageChars::Kind::Iso2022Jp: piece = Iso2022Jp(); break;
      case CPageChars::Kind::Hz: piece = Hz(); break;
      default: piece = TwoByte(); break;
    }
    m_pos += piece.length;
    return piece;
  }

 private:
  unsigned char Byte(size_t offset) const {
    return m_pos + offset < m_text.size() ? static_cast<unsigned char>(m_text[m_pos + offset]) : 0;
  }
  bool Has(size_t count) const { return m_pos + count <= m_text.size(); }

  Piece Utf8() const {
    Piece piece;
    const unsigned char lead = Byte(0);
    piece.bAscii = lead < 0x80;
    const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    while (piece.length < want && Has(piece.length + 1) && (Byte(piece.length) & 0xC0) == 0x80) ++piece.length;
    return piece;
  }

  bool IsLead(unsigned char c) const {
    if (m_page.GetKind() == CPageChars::Kind::ShiftJis) return InRange(c, 0x81, 0x9F) || InRange(c, 0xE0, 0xFC);
    return InRange(c, 0x81, 0xFE);
  }
  bool IsTrail(unsigned char c) const {
    switch (m_page.GetKind()) {
      case CPageChars::Kind::ShiftJis: return InRange(c, 0x40, 0x7E) || InRange(c, 0x80, 0xFC);
      case CPageChars::Kind::Big5: return InRange(c, 0x40, 0x7E) || InRange(c, 0xA1, 0xFE);
      case CPageChars::Kind::Gbk: return InRange(c, 0x40, 0x7E) || InRange(c, 0x80, 0xFE);
      default: return InRange(c, 0x41, 0xFE);
    }
  }
  // A pair whose second byte is ASCII is one character only where the set
  // has one there; elsewhere the browser reads the ASCII byte by itself.
  // Browsers' Big5 has no character below lead 0x87, where the Windows code
  // page has its user-defined ones.
  // Of the ASCII bytes a trail byte can be, only "\\" and "`" are escaped
  // anywhere; for any other the bytes come out the same either way, so the
  // set is not asked.
  bool IsCharacter(size_t length) const {
    const unsigned char trail = Byte(length - 1);
    if (trail >= 0x80 || (trail != '\\' && trail != '`')) return true;
    if (m_page.GetKind() == CPageChars::Kind::Big5 && Byte(0) < 0x87) return false;
    return MultiByteToWideChar(m_page.GetPairCodePage(), 0, m_text.data() + m_pos, static_cast<int>(length), nullptr,
                               0) == 1;
  }

  Piece TwoByte() const {
    Piece piece;
    const unsigned char lead = Byte(0);
    piece.bAscii = lead < 0x80;
    if (!IsLead(lead) || !Has(2)) return piece;
    const bool bFourByte = m_page.GetKind() == CPageChars::Kind::Gbk && Has(4) && InRange(Byte(1), 0x30, 0x39) &&
                           InRange(Byte(2), 0x81, 0xFE) && InRange(Byte(3), 0x30, 0x39);
    if (bFourByte) {
      piece.length = 4;
    } else if (IsTrail(Byte(1)) && IsCharacter(2)) {
      piece.length = 2;
    }
    return piece;
  }

  // ESC ( B, ESC ( J, ESC ( I, ESC $ @, ESC $ B; 0 for anything else.
  size_t ShiftSequence(Mode& mode) const {
    if (Byte(0) != 0x1B || !Has(3)) return 0;
    const unsigned char set = Byte(1);
    const unsigned char final = Byte(2);
    if (set == '(' && final == 'B') mode = Mode::Ascii;
    else if (set == '(' && final == 'J') mode = Mode::Roman;
    else if (set == '(' && final == 'I') mode = Mode::Katakana;
    else if (set == '$' && (final == '@' || final == 'B')) mode = Mode::TwoByte;
    else return 0;
    return 3;
  }

  Piece Iso2022Jp() {
    Piece piece;
    Mode mode = m_mode;
    if (const size_t shift = ShiftSequence(mode); shift != 0) {
      piece.length = shift;
      piece.bShift = true;
      m_mode = mode;
      return piece;
    }
    const unsigned char c = Byte(0);
    const bool bControl = c == 0x0E || c == 0x0F || c == 0x1B || c >= 0x80;
    if (m_mode == Mode::Ascii) piece.bAscii = !bControl;
    if (m_mode == Mode::Roman) piece.bAscii = !bControl && c != 0x5C && c != 0x7E;
    if (m_mode == Mode::TwoByte && InRange(c, 0x21, 0x7E) && InRange(Byte(1), 0x21, 0x7E) && Has(2)) {
      piece.length = 2;
    }
    return piece;
  }

  Piece Hz() {
    Piece piece;
    const unsigned char c = Byte(0);
    const unsigned char next = Byte(1);
    if (c == '~' && Has(2) && (next == '{' || next == '}')) {
      piece.length = 2;
      piece.bShift = true;
      m_mode = next == '{' ? Mode::TwoByte : Mode::Ascii;
    } else if (m_mode == Mode::TwoByte) {
      piece.length = Has(2) ? 2 : 1;
    } else if (c == '~' && Has(2) && (next == '~' || next == '\n')) {
      piece.length = 2;
    } else {
      piece.bAscii = c < 0x80;
    }
    return piece;
  }

  const std::string& m_text;
  const CPageChars& m_page;
  size_t m_pos = 0;
  Mode m_mode = Mode::Ascii;
};

bool NeedsAsciiShift(const std::string& replacement) {
  return replacement.find_first_of("\\~") != std::string::npos;
}

}  // namespace

CPageChars CPageChars::ForCharSet(std::string_view charSetName) {
  if (charSetName.empty()) return Utf8();
  const std::string_view set = CharSetOfLabel(charSetName);
  for (const CharSetName& row : kMultiByteSets) {
    if (EqualNoCase(set, row.pName)) return CPageChars(row.kind, row.pairCodePage);
  }
  return CPageChars(Kind::SingleByte, 0);
}

void ForEachPageChar(const std::string& text, const CPageChars& page, const PageCharVisitor& visit) {
  CWalk walk(text, page);
  while (!walk.AtEnd()) {
    const size_t begin = walk.Position();
    const Piece piece = walk.Next();
    if (!piece.bShift) visit(std::string_view(text).substr(begin, piece.length), piece.bAscii);
  }
}

std::string RewritePageChars(const std::string& text, const CPageChars& page, const PageCharRewrite& rewrite) {
  std::string out;
  out.reserve(text.size() + 8);
  CWalk walk(text, page);
  std::string replacement;
  while (!walk.AtEnd()) {
    const size_t begin = walk.Position();
    const Mode mode = walk.GetMode();
    const Piece piece = walk.Next();
    const std::string_view chars = std::string_view(text).substr(begin, piece.length);
    replacement.clear();
    if (piece.bShift || !rewrite(chars, piece.bAscii, replacement)) {
      out += chars;
    } else if (mode == Mode::Roman && NeedsAsciiShift(replacement)) {
      out.append("\x1B(B").append(replacement).append("\x1B(J");
    } else {
      out += replacement;
    }
  }
  if (walk.GetMode() != Mode::Ascii) out += page.GetKind() == CPageChars::Kind::Hz ? "~}" : "\x1B(B";
  return out;
}
