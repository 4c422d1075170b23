// ISO-2022-JP as browsers' decoder reads it, and the page's bytes edited in
// place.
#include "filter/iso_2022_jp_page.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <array>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "filter/buffer_instruction.h"
#include "platform/wide_text.h"

namespace {

using State = CIso2022JpPage::State;

constexpr size_t kPointers = 94 * 94;
constexpr uint32_t kReplacement = 0xFFFD;

// The JIS X 0208 table browsers use, by pointer ((lead - 0x21) * 94 + trail -
// 0x21; 0 where it has no character), and the pointer of each character.
// It is windows-932's reading of the same pair in its Shift_JIS form, which
// is the table browsers' Shift_JIS and ISO-2022-JP decoders share.
struct Jis0208 {
  bool bBuilt = false;
  std::array<uint16_t, kPointers> codePoints{};
  std::unordered_map<uint32_t, uint16_t> pointers;
};

const Jis0208& Table() {
  static Jis0208 table;
  static std::once_flag once;
  std::call_once(once, [] {
    UErrorCode status = U_ZERO_ERROR;
    const std::unique_ptr<UConverter, void (*)(UConverter*)> converter(ucnv_open("windows-932", &status), &ucnv_close);
    if (U_FAILURE(status)) return;
    ucnv_setToUCallBack(converter.get(), UCNV_TO_U_CALLBACK_STOP, nullptr, nullptr, nullptr, &status);
    if (U_FAILURE(status)) return;
    for (size_t pointer = 0; pointer < kPointers; ++pointer) {
      const unsigned j1 = static_cast<unsigned>(pointer / 94) + 0x21;
      const unsigned j2 = static_cast<unsigned>(pointer % 94) + 0x21;
      const char sjis[2] = {static_cast<char>(((j1 + 1) >> 1) + (j1 <= 0x5E ? 0x70 : 0xB0)),
                            static_cast<char>(j2 + ((j1 & 1) != 0 ? (j2 <= 0x5F ? 0x1F : 0x20) : 0x7E))};
      UChar unit[4];
      status = U_ZERO_ERROR;
      ucnv_reset(converter.get());
      const int32_t n = ucnv_toUChars(converter.get(), unit, 4, sjis, 2, &status);
      if (U_FAILURE(status) || n != 1 || unit[0] == 0xFFFD) continue;
      table.codePoints[pointer] = unit[0];
      table.pointers.emplace(unit[0], static_cast<uint16_t>(pointer));
    }
    table.bBuilt = true;
  });
  return table;
}

// The escape at the bytes, when it is one browsers switch the state by.
bool ValidEscape(std::string_view bytes, size_t at, State* pState = nullptr) {
  if (bytes.size() - std::min(at, bytes.size()) < 3 || bytes[at] != '\x1B') return false;
  const std::string_view escape = bytes.substr(at, 3);
  State state = State::Ascii;
  if (escape == "\x1B(B") {
    state = State::Ascii;
  } else if (escape == "\x1B(J") {
    state = State::Roman;
  } else if (escape == "\x1B(I") {
    state = State::Katakana;
  } else if (escape == "\x1B$@" || escape == "\x1B$B") {
    state = State::TwoByte;
  } else {
    return false;
  }
  if (pState != nullptr) *pState = state;
  return true;
}

const char* EscapeTo(State state) {
  switch (state) {
    case State::Ascii: return "\x1B(B";
    case State::Roman: return "\x1B(J";
    case State::Katakana: return "\x1B(I";
    default: return "\x1B$B";
  }
}

// The next code point of UTF-8 text; U+FFFD for a byte that begins none.
uint32_t NextCodePoint(std::string_view text, size_t& i) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t length = c < 0x80 ? 1 : (c & 0xE0) == 0xC0 ? 2 : (c & 0xF0) == 0xE0 ? 3 : (c & 0xF8) == 0xF0 ? 4 : 0;
  if (length == 0 || i + length > text.size()) {
    ++i;
    return kReplacement;
  }
  uint32_t value = length == 1 ? c : c & (0x7F >> length);
  for (size_t k = 1; k < length; ++k) {
    const auto next = static_cast<unsigned char>(text[i + k]);
    if ((next & 0xC0) != 0x80) {
      ++i;
      return kReplacement;
    }
    value = (value << 6) | (next & 0x3F);
  }
  i += length;
  return value;
}

// Where a character's bytes begin, after the character before it, and the
// decoder's state there.
struct After {
  size_t byteAt = 0;
  State state = State::Ascii;
  bool bFlag = false;
  bool bLeadOpen = false;
};

// The decoder of the Encoding Standard, step by step. Each character it
// gives (an error is U+FFFD) is handed to `emit` with the place it begins
// at; the place after the last one is returned.
class CDecoder {
 public:
  explicit CDecoder(std::string_view bytes) : m_s(bytes) {}

  template <typename Emit>
  After Run(const Emit& emit) {
    const Jis0208& table = Table();
    enum class Step { Ascii, Roman, Katakana, Lead, Trail, EscapeStart, Escape };
    Step step = Step::Ascii;
    Step output = Step::Ascii;
    unsigned char lead = 0;
    size_t i = 0;
    // The place after the last character given.
    size_t placeAt = 0;
    State placeState = State::Ascii;
    bool bPlaceFlag = false;
    bool bPlaceLeadOpen = false;
    // A lead byte cut off by the end of the page.
    bool bLeadAtEnd = false;
    auto stateOf = [](Step s) {
      return s == Step::Roman ? State::Roman : s == Step::Katakana ? State::Katakana
                                           : s == Step::Lead        ? State::TwoByte
                                                                     : State::Ascii;
    };
    auto give = [&](uint32_t codePoint) {
      emit(codePoint, placeAt, placeState, bPlaceFlag, bPlaceLeadOpen);
      // An error at an escape after a lead byte is that lead byte's: the
      // escape is read from the two-byte state, and the lead is still open
      // before it (a byte put there would be read as its trail).
      if (step == Step::EscapeStart) {
        placeAt = i - 1;
        placeState = State::TwoByte;
      } else {
        placeAt = i;
        placeState = stateOf(step);
      }
      bPlaceFlag = m_bFlag;
      bPlaceLeadOpen = step == Step::EscapeStart || bLeadAtEnd;
    };
    // Browsers read the two bytes after a failed escape again without a
    // second error for them: an error of a byte before this is not given.
    size_t quietUntil = 0;
    size_t at = 0;
    auto giveError = [&] {
      if (at < quietUntil) return;
      give(kReplacement);
    };
    while (true) {
      at = i;
      const bool bEnd = i >= m_s.size();
      const auto byte = bEnd ? 0 : static_cast<unsigned char>(m_s[i]);
      switch (step) {
        case Step::Ascii:
        case Step::Roman:
        case Step::Katakana:
        case Step::Lead:
          if (bEnd) return {placeAt, placeState, bPlaceFlag, bPlaceLeadOpen};
          ++i;
          if (byte == 0x1B) {
            step = Step::EscapeStart;
            break;
          }
          if (step == Step::Lead && byte >= 0x21 && byte <= 0x7E) {
            m_bFlag = false;
            lead = byte;
            step = Step::Trail;
            break;
          }
          m_bFlag = false;
          {
            const uint32_t codePoint = Single(stateOf(step), byte);
            if (codePoint == kReplacement) {
              giveError();
            } else {
              give(codePoint);
            }
          }
          break;
        case Step::Trail:
          if (bEnd) {
            step = Step::Lead;
            bLeadAtEnd = true;
            giveError();
            break;
          }
          ++i;
          if (byte == 0x1B) {
            step = Step::EscapeStart;
            giveError();
            break;
          }
          step = Step::Lead;
          if (byte >= 0x21 && byte <= 0x7E && table.codePoints[(lead - 0x21) * 94 + byte - 0x21] != 0) {
            give(table.codePoints[(lead - 0x21) * 94 + byte - 0x21]);
          } else {
            giveError();
          }
          break;
        case Step::EscapeStart:
          if (!bEnd && (byte == 0x24 || byte == 0x28)) {
            ++i;
            lead = byte;
            step = Step::Escape;
            break;
          }
          m_bFlag = false;
          step = output;
          giveError();
          break;
        case Step::Escape: {
          const unsigned char escapeLead = lead;
          lead = 0;
          Step next = Step::Escape;
          if (escapeLead == 0x28 && byte == 0x42) next = Step::Ascii;
          if (escapeLead == 0x28 && byte == 0x4A) next = Step::Roman;
          if (escapeLead == 0x28 && byte == 0x49) next = Step::Katakana;
          if (escapeLead == 0x24 && (byte == 0x40 || byte == 0x42)) next = Step::Lead;
          if (!bEnd && next != Step::Escape) {
            ++i;
            step = next;
            output = next;
            const bool bOutput = m_bFlag;
            m_bFlag = true;
            if (bOutput) giveError();
            break;
          }
          m_bFlag = false;
          step = output;
          if (bEnd) {
            // At the end browsers show the escape's lead as it is.
            i = m_s.size() - 1;
            giveError();
            i = m_s.size();
            give(escapeLead);
            break;
          }
          --i;  // the escape's lead and this byte are read again
          giveError();
          quietUntil = i + 2;
          break;
        }
      }
    }
  }

 private:
  static uint32_t Single(State state, unsigned char byte) {
    if (byte == 0x0E || byte == 0x0F || byte >= 0x80) return kReplacement;
    switch (state) {
      case State::Ascii:
        return byte;
      case State::Roman:
        return byte == 0x5C ? 0xA5 : byte == 0x7E ? 0x203E : byte;
      case State::Katakana:
        return byte >= 0x21 && byte <= 0x5F ? 0xFF61 - 0x21 + byte : kReplacement;
      default:
        return kReplacement;
    }
  }

  std::string_view m_s;
  bool m_bFlag = false;
};

// Writes the page's bytes and the edits' texts, keeping the decoder's
// state where it was at every byte of the page that goes out.
class CWriter {
 public:
  explicit CWriter(std::string& out) : m_out(out) {}

  // The page's bytes [from, to), the decoder at `from` in the state and
  // flag given and, at `to`, in the state and flag given, with a lead byte
  // open there or not.
  bool Copy(std::string_view page, size_t from, size_t to, State fromState, bool bFromFlag, State toState,
            bool bToFlag, bool bToLeadOpen) {
    if (from >= to) return true;
    if (m_bLeadOpen && page[from] != '\x1B') {
      // The lead byte written last was closed by an escape in the page; the
      // bytes here would be read as its trail.
      if (!Switch(fromState)) return false;
    } else if (ValidEscape(page, from)) {
      // The page's own escape sets the state; read with the same flag.
      if (m_bFlag != bFromFlag) return false;
    } else if (m_state != fromState || m_bFlag != bFromFlag) {
      if (m_state != fromState && !Switch(fromState)) return false;
      // The flag differs only before a valid escape, which this is not.
    }
    m_out.append(page.substr(from, to - from));
    m_state = toState;
    m_bFlag = bToFlag;
    m_bLeadOpen = bToLeadOpen;
    return true;
  }

  // A text of the form's, in UTF-8.
  bool Text(std::string_view text) {
    const Jis0208& table = Table();
    for (size_t i = 0; i < text.size();) {
      uint32_t c = NextCodePoint(text, i);
      // After a lead byte left open, an escape first (the page closed it
      // so), whatever the state.
      if (c < 0x80 && c != 0x0E && c != 0x0F && c != 0x1B) {
        if ((m_bLeadOpen || (m_state != State::Ascii && !(m_state == State::Roman && c != 0x5C && c != 0x7E))) &&
            !Switch(State::Ascii)) {
          return false;
        }
        Put(static_cast<char>(c));
        continue;
      }
      if (c == 0xA5 || c == 0x203E) {
        if ((m_bLeadOpen || m_state != State::Roman) && !Switch(State::Roman)) return false;
        Put(c == 0xA5 ? '\x5C' : '\x7E');
        continue;
      }
      if (c >= 0xFF61 && c <= 0xFF9F) {
        if ((m_bLeadOpen || m_state != State::Katakana) && !Switch(State::Katakana)) return false;
        Put(static_cast<char>(c - 0xFF61 + 0x21));
        continue;
      }
      if (c == 0x2212) c = 0xFF0D;
      const auto pointer = table.pointers.find(c);
      if (pointer == table.pointers.end()) {
        // No character of the set: its substitute, never an ASCII character.
        if ((m_bLeadOpen || (m_state != State::Ascii && m_state != State::Roman)) && !Switch(State::Ascii)) return false;
        Put('\x1A');
        continue;
      }
      if ((m_bLeadOpen || m_state != State::TwoByte) && !Switch(State::TwoByte)) return false;
      Put(static_cast<char>(pointer->second / 94 + 0x21));
      m_out += static_cast<char>(pointer->second % 94 + 0x21);
    }
    return true;
  }

 private:
  // An escape right after an escape is an error the page did not have.
  bool Switch(State state) {
    if (m_bFlag) return false;
    m_out += EscapeTo(state);
    m_state = state;
    m_bFlag = true;
    m_bLeadOpen = false;
    return true;
  }
  void Put(char c) {
    m_out += c;
    m_bFlag = false;
  }

  std::string& m_out;
  State m_state = State::Ascii;
  bool m_bFlag = false;
  bool m_bLeadOpen = false;
};

}  // namespace

std::string CIso2022JpPage::DecodedText(std::string_view bytes) {
  std::string out;
  if (!Table().bBuilt) return out;
  CDecoder(bytes).Run([&](uint32_t codePoint, size_t, State, bool, bool) { AppendUtf8(out, codePoint); });
  return out;
}

bool CIso2022JpPage::Decode(std::string_view page) {
  if (!Table().bBuilt) return false;
  m_page = page;
  m_text.clear();
  m_places.clear();
  const After end = CDecoder(page).Run([&](uint32_t codePoint, size_t byteAt, State state, bool bFlag,
                                          bool bLeadOpen) {
    m_places.push_back({m_text.size(), byteAt, state, bFlag, bLeadOpen});
    AppendUtf8(m_text, codePoint);
  });
  m_places.push_back({m_text.size(), end.byteAt, end.state, end.bFlag, end.bLeadOpen});
  return true;
}

const CIso2022JpPage::Place* CIso2022JpPage::PlaceOf(size_t textAt) const {
  const auto at = std::lower_bound(m_places.begin(), m_places.end(), textAt,
                                   [](const Place& place, size_t value) { return place.textAt < value; });
  return at != m_places.end() && at->textAt == textAt ? &*at : nullptr;
}

// Inserts go before the character at their address, deletes remove the
// union of their characters (with the escapes before each), in the order the
// host applies them; an insert into deleted characters fails, as the host
// refuses such a list.
bool CIso2022JpPage::Edited(const CBufferInstructionList& edits, uintptr_t base, std::string& out) const {
  out.clear();
  out.reserve(m_page.size() + 256);
  CWriter writer(out);
  Place done{0, 0, State::Ascii, false, false};
  auto copyTo = [&](const Place& to) {
    return writer.Copy(m_page, done.byteAt, to.byteAt, done.state, done.bAfterEscape, to.state, to.bAfterEscape,
                       to.bLeadOpen);
  };
  for (const CBufferInstructionNode* node = edits.First(); node != edits.End(); node = node->m_pNext) {
    const CBufferInstruction& edit = *node->m_spInstruction;
    if (edit.m_qwAddress < base || edit.m_qwAddress - base > m_text.size()) return false;
    const size_t at = edit.m_qwAddress - base;
    const Place* place = PlaceOf(at);
    if (place == nullptr || !Editable(*place)) return false;
    if (edit.m_dwType == CBufferInstruction::TypeInsert && edit.m_pszText != nullptr) {
      if (place->byteAt < done.byteAt || !copyTo(*place)) return false;
      done = *place;
      if (!writer.Text(edit.m_pszText)) return false;
    } else if (edit.m_dwType == CBufferInstruction::TypeDelete) {
      if (m_text.size() - at < edit.m_dwLength) return false;
      const Place* end = PlaceOf(at + edit.m_dwLength);
      if (end == nullptr || !Editable(*end)) return false;
      if (place->byteAt > done.byteAt) {
        if (!copyTo(*place)) return false;
        done = *place;
      }
      if (end->byteAt > done.byteAt) done = *end;
    } else {
      return false;
    }
  }
  return copyTo(Place{m_text.size(), m_page.size(), State::Ascii, false, false});
}

// Bytes right after an escape browsers do not know are read with it: no
// edit goes between them.
bool CIso2022JpPage::Editable(const Place& place) const {
  const size_t at = place.byteAt;
  return at == 0 || (m_page[at - 1] != '\x1B' && (at < 2 || m_page[at - 2] != '\x1B'));
}
