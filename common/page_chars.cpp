// The walk of a page's characters in its character set.
#include "common/page_chars.h"

#include <unicode/ucnv.h>

#include <array>
#include <atomic>
#include <bitset>
#include <memory>
#include <mutex>

#include "common/char_set_labels.h"
#include "common/ci_string.h"
#include "common/debug_log.h"
#include "platform/wide_text.h"

// Which lead and trail bytes of a two-byte set are one character, read from
// ICU's converter of the set as browsers decode it, one lead byte's row the
// first time a text has that lead byte (a page uses a few of them).
class CPairTable {
 public:
  // Whether the converter opens; false leaves every pair no character.
  void Open(const char* pConverter, CPageChars::Kind kind);
  bool IsReady() const { return m_bReady; }
  bool IsCharacter(unsigned char lead, unsigned char trail) const {
    if (!m_bReady) return false;
    if (!m_rowReady[lead].load(std::memory_order_acquire)) {
      std::call_once(m_rowRead[lead], [&] {
        ReadRow(lead);
        m_rowReady[lead].store(true, std::memory_order_release);
      });
    }
    return m_pairs.test(lead * 256u + trail);
  }

 private:
  void ReadRow(unsigned char lead) const;

  const char* m_pConverter = nullptr;
  CPageChars::Kind m_kind = CPageChars::Kind::Utf8;
  bool m_bReady = false;
  // A row is 256 bits, whole words of its own: rows read at once on
  // different threads write different words.
  mutable std::bitset<65536> m_pairs;
  mutable std::array<std::once_flag, 256> m_rowRead;
  mutable std::array<std::atomic<bool>, 256> m_rowReady{};
};

namespace {

struct CharSetName {
  const char* pName;
  CPageChars::Kind kind;
};

// The multi-byte sets by their names in the table of labels
// (common/char_set_labels.h), which every label is read through.
constexpr CharSetName kMultiByteSets[] = {
    {"utf-8", CPageChars::Kind::Utf8},
    {"shift_jis", CPageChars::Kind::ShiftJis},
    {"x-mac-japan", CPageChars::Kind::ShiftJis},
    {"big5", CPageChars::Kind::Big5},
    {"x-mac-chinesetrad", CPageChars::Kind::Big5},
    {"gbk", CPageChars::Kind::Gbk},
    {"gb18030", CPageChars::Kind::Gbk},
    {"x-mac-chineseimp", CPageChars::Kind::Gbk},
    {"euc-kr", CPageChars::Kind::EucKr},
    {"iso-2022-jp", CPageChars::Kind::Iso2022Jp},
    {"hz-gb-2312", CPageChars::Kind::Hz},
};

bool InRange(unsigned char c, unsigned char lo, unsigned char hi) { return c >= lo && c <= hi; }

struct CloseConverter {
  void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, CloseConverter>;

ConverterPtr OpenConverter(const char* pName) {
  UErrorCode status = U_ZERO_ERROR;
  ConverterPtr converter(ucnv_open(pName, &status));
  return U_SUCCESS(status) ? std::move(converter) : nullptr;
}

// ICU's converter of each set as browsers decode it: windows-932 reads every
// Shift_JIS pair as browsers do, GB18030 every GBK one, windows-949 every
// EUC-KR one. Browsers' Big5 is windows-950 without the user-defined leads.
const char* ConverterOf(CPageChars::Kind kind) {
  switch (kind) {
    case CPageChars::Kind::ShiftJis: return "windows-932";
    case CPageChars::Kind::Big5: return "windows-950-2000";
    case CPageChars::Kind::Gbk: return "GB18030";
    case CPageChars::Kind::EucKr: return "windows-949-2000";
    case CPageChars::Kind::Iso2022Jp: return "ISO-2022-JP";
    case CPageChars::Kind::Hz: return "HZ-GB-2312";
    default: return nullptr;
  }
}

// Where windows-950 and windows-949 have user-defined characters (mapped to
// the private use area), browsers read no character.
bool IsUserDefinedLead(CPageChars::Kind kind, unsigned char lead) {
  if (kind == CPageChars::Kind::Big5) return lead < 0x87;
  if (kind == CPageChars::Kind::EucKr) return lead == 0xC9 || lead == 0xFE;
  return false;
}

// The first page of a set builds its table; every later one reads it.
const CPairTable* TableOf(CPageChars::Kind kind) {
  constexpr size_t kKinds = static_cast<size_t>(CPageChars::Kind::Hz) + 1;
  static std::array<CPairTable, kKinds> tables;
  static std::array<std::once_flag, kKinds> built;
  const size_t index = static_cast<size_t>(kind);
  std::call_once(built[index], [&] { tables[index].Open(ConverterOf(kind), kind); });
  return &tables[index];
}

using page_chars_detail::IsTwoByte;

}  // namespace

void CPairTable::Open(const char* pConverter, CPageChars::Kind kind) {
  m_pConverter = pConverter;
  m_kind = kind;
  m_bReady = OpenConverter(pConverter) != nullptr;
  if (!m_bReady) {
    DebugLog("[CPageChars] The converter <%s> cannot be opened; pages in its set are left unchanged.", pConverter);
  }
}

void CPairTable::ReadRow(unsigned char lead) const {
  if (lead < 0x81 || lead > 0xFE || IsUserDefinedLead(m_kind, lead)) return;
  ConverterPtr converter = OpenConverter(m_pConverter);
  UErrorCode status = U_ZERO_ERROR;
  if (converter) ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
  if (!converter || U_FAILURE(status)) return;
  for (unsigned trail = 0x40; trail <= 0xFE; ++trail) {
    const char bytes[2] = {static_cast<char>(lead), static_cast<char>(trail)};
    UChar units[4];
    status = U_ZERO_ERROR;
    ucnv_resetToUnicode(converter.get());
    const int32_t n = ucnv_toUChars(converter.get(), units, 4, bytes, 2, &status);
    // Big5 has four pairs that read as a letter and a combining mark.
    const bool bBig5Pair = m_kind == CPageChars::Kind::Big5 && lead == 0x88 &&
                           (trail == 0x62 || trail == 0x64 || trail == 0xA3 || trail == 0xA5);
    const bool bOne = n == 1 || (n == 2 && (U16_IS_LEAD(units[0]) || bBig5Pair));
    if (U_SUCCESS(status) && bOne) m_pairs.set(lead * 256u + trail);
  }
}

bool CPageChars::IsReadable() const { return !IsTwoByte(m_kind) || Pairs()->IsReady(); }

const CPairTable* CPageChars::Pairs() const { return IsTwoByte(m_kind) ? TableOf(m_kind) : nullptr; }

CPageChars CPageChars::ForCharSet(std::string_view charSetName) {
  if (charSetName.empty()) return Utf8();
  // A set's own name, as the page's choice gives it, needs no look-up of the
  // labels: each row's name is a label of that row's set.
  for (const CharSetName& row : kMultiByteSets) {
    if (AsCIView(charSetName) == row.pName) return CPageChars(row.kind);
  }
  const std::string_view set = CharSetOfLabel(charSetName);
  for (const CharSetName& row : kMultiByteSets) {
    if (AsCIView(set) == row.pName) return CPageChars(row.kind);
  }
  return CPageChars(Kind::SingleByte);
}

void CPageChars::AppendCharacter(uint32_t codePoint, std::string& out) const {
  if (m_kind == Kind::Utf8 || m_kind == Kind::SingleByte || codePoint < 0x80) {
    AppendUtf8(out, codePoint);
    return;
  }
  std::string utf8;
  AppendUtf8(utf8, codePoint);
  std::string encoded(16, '\0');
  ConverterPtr converter = OpenConverter(ConverterOf(m_kind));
  UErrorCode status = U_ZERO_ERROR;
  int32_t length = 0;
  if (converter) {
    ucnv_setFromUCallBack(converter.get(), UCNV_FROM_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    length = ucnv_fromAlgorithmic(converter.get(), UCNV_UTF8, encoded.data(), static_cast<int32_t>(encoded.size()),
                                  utf8.data(), static_cast<int32_t>(utf8.size()), &status);
  }
  encoded.resize(U_SUCCESS(status) && converter ? static_cast<size_t>(length) : 0);
  // The bytes must read back as the one character: the walk's reading decides.
  bool bWhole = !encoded.empty();
  if (bWhole && IsTwoByte(m_kind)) {
    page_chars_detail::CWalk walk(encoded, *this);
    const page_chars_detail::Piece piece = walk.Next();
    bWhole = !piece.bNoCharacter && !piece.bAscii && walk.AtEnd();
  }
  if (bWhole) {
    out += encoded;
  } else {
    // 0xFF begins no character of any two-byte set; the stateful sets have
    // no such byte, and get a question mark as their converters write.
    out += IsTwoByte(m_kind) ? page_chars_detail::kNoCharacterByte : "?";
  }
}

namespace page_chars_detail {

Piece CWalk::NextSlow() {
  switch (m_kind) {
    case CPageChars::Kind::Utf8: return Utf8();
    case CPageChars::Kind::SingleByte: return Piece();
    case CPageChars::Kind::Iso2022Jp: return Iso2022Jp();
    case CPageChars::Kind::Hz: return Hz();
    default: return TwoByte();
  }
}

Piece CWalk::Utf8() const {
  Piece piece;
  const unsigned char lead = Byte(0);
  piece.bAscii = lead < 0x80;
  const size_t want = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
  while (piece.length < want && Has(piece.length + 1) && (Byte(piece.length) & 0xC0) == 0x80) ++piece.length;
  return piece;
}

// gb18030's four-byte characters: digits in the second and fourth byte; the
// browser reads the first byte alone as no character where the pointer has
// no character, and the bytes after it by themselves.
Piece CWalk::Gb18030FourByte() const {
  Piece piece;
  piece.bNoCharacter = true;
  if (!Has(4) || !InRange(Byte(2), 0x81, 0xFE) || !InRange(Byte(3), 0x30, 0x39)) return piece;
  const uint32_t pointer = (Byte(0) - 0x81u) * 12600u + (Byte(1) - 0x30u) * 1260u + (Byte(2) - 0x81u) * 10u +
                           (Byte(3) - 0x30u);
  if (pointer > 39419 && (pointer < 189000 || pointer > 1237575)) return piece;
  piece.length = 4;
  piece.bNoCharacter = false;
  return piece;
}

// The decoders of the two-byte sets: a lead byte and a next byte the set
// has no character for are one piece of no character, unless the next byte
// is ASCII, which the browser then reads by itself. A lead byte at the end
// of the text is no character either: what the page has after it is not the
// text's to complete.
Piece CWalk::TwoByte() const {
  Piece piece;
  const unsigned char lead = Byte(0);
  const bool bShiftJis = m_kind == CPageChars::Kind::ShiftJis;
  if (bShiftJis && (lead == 0x80 || InRange(lead, 0xA1, 0xDF))) return piece;
  if (m_kind == CPageChars::Kind::Gbk && lead == 0x80) return piece;
  const bool bLead = bShiftJis ? InRange(lead, 0x81, 0x9F) || InRange(lead, 0xE0, 0xFC) : InRange(lead, 0x81, 0xFE);
  piece.bNoCharacter = true;
  if (!bLead || !Has(2) || m_pPairs == nullptr) return piece;
  const unsigned char trail = Byte(1);
  if (m_kind == CPageChars::Kind::Gbk && InRange(trail, 0x30, 0x39)) return Gb18030FourByte();
  if (m_pPairs->IsCharacter(lead, trail)) {
    piece.length = 2;
    piece.bNoCharacter = false;
  } else if (trail >= 0x80) {
    piece.length = 2;
  }
  return piece;
}

// ESC ( B, ESC ( J, ESC ( I, ESC $ @, ESC $ B; 0 for anything else.
size_t CWalk::ShiftSequence(Mode& mode) const {
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

Piece CWalk::Iso2022Jp() {
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

Piece CWalk::Hz() {
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

bool CanBuildPairTable(const char* pConverter, CPageChars::Kind kind) {
  auto pTable = std::make_unique<CPairTable>();
  pTable->Open(pConverter, kind);
  return pTable->IsReady() && pTable->IsCharacter(0x95, 0x5C) == (kind == CPageChars::Kind::ShiftJis);
}

void AppendNoCharacter(NoCharacterSpelling spelling, std::string& out) {
  switch (spelling) {
    case NoCharacterSpelling::ScriptEscape: out += "\\uFFFD"; break;
    case NoCharacterSpelling::MarkupReference: out += "&#xFFFD;"; break;
    case NoCharacterSpelling::PlainText: out += kNoCharacterByte; break;
  }
}

bool NeedsAsciiShift(const std::string& replacement) { return replacement.find_first_of("\\~") != std::string::npos; }

}  // namespace page_chars_detail
