// The check of the edits' places against the browser's reading of the page.
#include "filter/edit_places.h"

#include <algorithm>
#include <cstring>
#include <string_view>
#include <vector>

#include "common/debug_log.h"
#include "filter/buffer_instruction.h"
#include "filter/result_codes.h"
#include "html/tokenizer_states.h"

namespace {

constexpr char kPrefix[] = "[CheckEditPlaces]";

// The edits at one place of the page as the host makes them: the inserted
// texts in order, then the page's bytes from `resume` on (beyond `at` when
// bytes are deleted there).
struct Splice {
  size_t at = 0;
  size_t resume = 0;
  size_t firstInsert = 0;  // into the list of all inserted texts
  size_t inserts = 0;
};

// The edits inside the page as splices in page order; false (and why) for
// an insert into bytes a delete before it removes, or a delete past the
// page's end, which the host refuses anyway.
bool SplicesOf(const CBufferInstructionList& edits, uintptr_t base, size_t size, std::vector<Splice>& out,
               std::vector<const char*>& texts) {
  for (const CBufferInstructionNode* node = edits.First(); node != edits.End(); node = node->m_pNext) {
    const CBufferInstruction& edit = *node->m_spInstruction;
    if (edit.m_qwAddress < base || edit.m_qwAddress - base > size) continue;
    const size_t at = edit.m_qwAddress - base;
    const bool bInsert = edit.m_dwType == CBufferInstruction::TypeInsert;
    if (bInsert && edit.m_pszText == nullptr) return false;
    if (!bInsert && size - at < edit.m_dwLength) return false;
    if (!out.empty() && at < out.back().resume) {
      if (bInsert) return false;
    } else if (out.empty() || at != out.back().at) {
      out.push_back(Splice{at, at, texts.size(), 0});
    }
    Splice& splice = out.back();
    if (bInsert) {
      texts.push_back(edit.m_pszText);
      ++splice.inserts;
    } else {
      splice.resume = std::max(splice.resume, at + edit.m_dwLength);
    }
  }
  return true;
}

// A place's footing in the page's characters: between two of them, and not
// right after a lead byte that read the byte after it by itself (an insert
// there would become its second byte).
struct Footing {
  bool bBetween = true;
  bool bAfterLoneLead = false;
};

// The footing of each place (ascending) in the characters of the page's set.
std::vector<Footing> FootingsInSet(std::string_view page, const CPageChars& chars,
                                   const std::vector<size_t>& places) {
  std::vector<Footing> footings(places.size());
  const CPageChars::Kind kind = chars.GetKind();
  if (kind == CPageChars::Kind::SingleByte) return footings;
  if (kind == CPageChars::Kind::Utf8) {
    for (size_t i = 0; i < places.size(); ++i) {
      const size_t at = places[i];
      const auto byte = [&](size_t k) { return static_cast<unsigned char>(page[k]); };
      footings[i].bBetween = at == 0 || at >= page.size() || (byte(at) & 0xC0) != 0x80 || byte(at - 1) < 0x80;
    }
    return footings;
  }
  // Only the stretch before each place is walked: from the last byte that
  // is no second (or fourth) byte of a character in any of these sets, so
  // a character begins after it, or from where the walk got to before.
  const auto isSync = [](unsigned char c) { return c < 0x30 || (c > 0x39 && c < 0x40); };
  size_t walked = 0;
  for (size_t k = 0; k < places.size(); ++k) {
    const size_t at = places[k];
    if (k > 0 && at == places[k - 1]) {
      footings[k] = footings[k - 1];
      continue;
    }
    if (at < walked) {
      footings[k].bBetween = false;
      continue;
    }
    size_t from = at;
    while (from > walked && !isSync(static_cast<unsigned char>(page[from - 1]))) --from;
    page_chars_detail::CWalk walk(page.substr(from), chars);
    bool bLoneLead = false;
    bool bLeadBefore = false;
    while (from + walk.Position() < at) {
      const size_t begin = from + walk.Position();
      const page_chars_detail::Piece piece = walk.Next();
      const auto byte = static_cast<unsigned char>(page[begin]);
      const bool bLone = piece.bNoCharacter && piece.length == 1 && byte >= 0x80;
      // In GB18030 a lead and a digit wait for two more bytes: a byte above
      // 0x80 and a digit inserted after them would join them.
      bLoneLead = bLone || (kind == CPageChars::Kind::Gbk && bLeadBefore && byte >= '0' && byte <= '9');
      bLeadBefore = bLone;
    }
    walked = from + walk.Position();
    footings[k].bBetween = walked == at;
    footings[k].bAfterLoneLead = bLoneLead;
  }
  return footings;
}

// The footing of each place (ascending), read in the page's set and as the
// browser's tokenizer reads its characters: CR LF is one line break.
std::vector<Footing> FootingsOf(std::string_view page, const CPageChars& chars, const std::vector<size_t>& places) {
  std::vector<Footing> footings = FootingsInSet(page, chars, places);
  for (size_t k = 0; k < places.size(); ++k) {
    const size_t at = places[k];
    if (at > 0 && at < page.size() && page[at - 1] == '\r' && page[at] == '\n') footings[k].bBetween = false;
  }
  return footings;
}

// A character reference of text runs from "&" over letters, digits and
// "#" (the longest named one has 32 characters) and may end in ";": a place
// inside one changes what it reads as, unless the character after the
// place, in the page and after the edit, ends it there both ways.
bool InCharacterReference(std::string_view page, size_t at, int nextAfterEdit) {
  const auto goesOn = [](int c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#' || c == ';';
  };
  if (!(at < page.size() && goesOn(page[at])) && !goesOn(nextAfterEdit)) return false;
  for (size_t i = at; i > 0 && at - i < 40; --i) {
    const char c = page[i - 1];
    if (c == '&') return true;
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '#')) return false;
  }
  return false;
}

// The first character after the place once the edit is made: the first
// inserted one, or the page's byte where it reads on; -1 at the page's end.
int NextAfterEdit(const Splice& splice, const char* const* texts, std::string_view page) {
  for (size_t i = 0; i < splice.inserts; ++i) {
    if (texts[i][0] != '\0') return static_cast<unsigned char>(texts[i][0]);
  }
  return splice.resume < page.size() ? static_cast<unsigned char>(page[splice.resume]) : -1;
}

// The inserted texts read from the state at the splice, and the page's
// bytes on from `resume`, read as they were read before the edits.
const char* SpliceFault(const Splice& splice, const char* const* texts, const CTokenizerStates& before,
                        const CTokenizerStates& after, std::string_view page) {
  if (before.IsBetweenTokens()) {
    if (InCharacterReference(page, splice.at, NextAfterEdit(splice, texts, page))) {
      return "it lies inside a character reference";
    }
    return after.IsBetweenTokens() ? nullptr : "the deleted bytes end inside a token";
  }
  if (before.InForeignContent()) return "it lies in SVG or MathML content, which an HTML tag would close";
  if (!before.IsInStartTag() && !(before.IsInAttributeValue() && !before.CurrentTag().bEnd)) {
    return "not between tokens of text, nor in a start tag";
  }
  // At the end of an unquoted value a blank begins the next attribute.
  const bool bUnquoted = before.GetState() == CTokenizerStates::State::AttributeValueUnquoted;
  const bool bNextAttribute = bUnquoted && splice.inserts != 0 && texts[0][0] != '\0' &&
                              std::strchr(" \t\r\n\f", texts[0][0]) != nullptr;
  const bool bInValue = before.IsInAttributeValue() && !bNextAttribute;
  // An attribute begun inside an unquoted value would take the rest of it.
  if (bNextAttribute && splice.resume < page.size() && std::strchr(" \t\r\n\f>", page[splice.resume]) == nullptr) {
    return "what it inserts would take the rest of the value";
  }
  CTokenizerStates reader = before;
  for (size_t i = 0; i < splice.inserts; ++i) {
    // What goes into a value is its text: no character of markup, no quote
    // and, unquoted, no blank, so it cannot end the value.
    if (bInValue && std::strpbrk(texts[i], bUnquoted ? "<>\"'`\t\n\f\r " : "<>\"'`") != nullptr) {
      return "what it inserts into a value could end the value";
    }
    // Nor may it end the tag, or make it another one.
    const std::string_view text(texts[i]);
    size_t read = 0;
    if (!bInValue && reader.ReadUntilTag(text, read, text.size())) return "what it inserts ends the tag";
  }
  if (after.CurrentTag().begin != before.CurrentTag().begin || !(after.IsInStartTag() || after.IsInAttributeValue())) {
    return "the deleted bytes end outside the tag";
  }
  if (!(reader.CurrentTag().name == after.CurrentTag().name)) return "the tag does not read on as it did";
  CTokenizerStates sent = after;
  sent.SplitInto(nullptr);
  if (splice.resume < page.size()) {
    reader.Read(page[splice.resume], splice.resume);
    sent.Read(page[splice.resume], splice.resume);
  }
  return reader.ReadsLike(sent) ? nullptr : "the tag does not read on as it did";
}

}  // namespace

DWORD CheckEditPlaces(const CCommonPointers& words, const CPageChars& chars, const CBufferInstructionList& edits) {
  const ULONGLONG qwFirst = words[CCommonPointers::FirstByte];
  const ULONGLONG qwLast = words[CCommonPointers::LastByte];
  const ULONGLONG qwHtml = words[CCommonPointers::HtmlBegin] != 0 ? words[CCommonPointers::HtmlBegin] : qwFirst;
  if (qwFirst == 0 || qwHtml < qwFirst || qwLast < qwHtml) return 0;
  const std::string_view page(reinterpret_cast<const char*>(static_cast<uintptr_t>(qwHtml)), qwLast - qwHtml + 1);
  const auto base = static_cast<uintptr_t>(qwHtml);

  if (chars.GetKind() == CPageChars::Kind::Iso2022Jp || chars.GetKind() == CPageChars::Kind::Hz) {
    DebugLog("%s The page's set is read here only in its decoded characters; it goes out unchanged.", kPrefix);
    return HX_RC_INVALID_DATA;
  }
  std::vector<Splice> splices;
  std::vector<const char*> texts;
  splices.reserve(edits.size());
  texts.reserve(edits.size());
  if (!SplicesOf(edits, base, page.size(), splices, texts)) {
    DebugLog("%s An edit inserts into bytes another one deletes, or deletes past the page; it goes out unchanged.",
             kPrefix);
    return HX_RC_INVALID_DATA;
  }
  std::vector<size_t> places;
  places.reserve(splices.size() * 2);
  for (const Splice& splice : splices) {
    places.push_back(splice.at);
    places.push_back(splice.resume);
  }
  const std::vector<Footing> footings = FootingsOf(page, chars, places);

  CPageReadings readings(page);
  CTokenizerStates before;
  for (size_t i = 0; i < splices.size(); ++i) {
    const Splice& splice = splices[i];
    readings.ReadTo(splice.at);
    const bool bAgreeBefore = readings.Agree();
    before = readings.Reader();
    before.SplitInto(nullptr);
    readings.ReadTo(splice.resume);
    const CTokenizerStates& after = readings.Reader();
    const char* pFault = nullptr;
    if (!bAgreeBefore || !readings.Agree()) {
      pFault = "the browser's readings differ there (scripting on and off, the rules for select of 2025 and before)";
    } else if (!footings[2 * i].bBetween || !footings[2 * i + 1].bBetween) {
      pFault = "it lies inside a character";
    } else if (footings[2 * i].bAfterLoneLead) {
      pFault = "it follows a lead byte that is no character";
    } else {
      pFault = SpliceFault(splice, texts.data() + splice.firstInsert, before, after, page);
    }
    if (pFault != nullptr) {
      DebugLog("%s The edit at <%d> is refused: %s (the browser's %s state there). The page goes out unchanged.",
               kPrefix, static_cast<int>(splice.at), pFault, CTokenizerStates::StateName(before.GetState()));
      return HX_RC_INVALID_DATA;
    }
  }
  return 0;
}
