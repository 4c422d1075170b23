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
  std::vector<const char*> inserts;
};

// The edits inside the page as splices in page order; false (and why) for
// an insert into bytes a delete before it removes, or a delete past the
// page's end, which the host refuses anyway.
bool SplicesOf(const CBufferInstructionList& edits, uintptr_t base, size_t size, std::vector<Splice>& out) {
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
      out.push_back(Splice{at, at, {}});
    }
    Splice& splice = out.back();
    if (bInsert) {
      splice.inserts.push_back(edit.m_pszText);
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

// The footing of each place (ascending), read on one walk of the page in
// its set.
std::vector<Footing> FootingsOf(std::string_view page, const CPageChars& chars, const std::vector<size_t>& places) {
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
  page_chars_detail::CWalk walk(page, chars);
  size_t k = 0;
  bool bLoneLead = false;
  while (k < places.size()) {
    while (k < places.size() && places[k] < walk.Position()) footings[k++].bBetween = false;
    while (k < places.size() && places[k] == walk.Position()) footings[k++].bAfterLoneLead = bLoneLead;
    if (walk.AtEnd()) break;
    const size_t begin = walk.Position();
    const page_chars_detail::Piece piece = walk.Next();
    bLoneLead = piece.bNoCharacter && piece.length == 1 && static_cast<unsigned char>(page[begin]) >= 0x80;
  }
  return footings;
}

void ReadText(CTokenizerStates& reader, std::string_view text) { reader.ReadAll(text, 0, text.size()); }

// The inserted texts read from the state at the splice, and the page's
// bytes on from `resume`, read as they were read before the edits.
const char* SpliceFault(const Splice& splice, const CTokenizerStates& before, const CTokenizerStates& after,
                        std::string_view page) {
  CTokenizerStates reader = before;
  if (before.IsBetweenTokens()) {
    for (const char* text : splice.inserts) ReadText(reader, text);
    if (!reader.IsBetweenTokens()) return "what it inserts leaves the browser inside a token";
    return after.IsBetweenTokens() ? nullptr : "the deleted bytes end inside a token";
  }
  if (!before.IsInStartTag() && !(before.IsInAttributeValue() && !before.CurrentTag().bEnd)) {
    return "not between tokens of text, nor in a start tag";
  }
  // At the end of an unquoted value a blank begins the next attribute.
  const bool bNextAttribute = before.GetState() == CTokenizerStates::State::AttributeValueUnquoted &&
                              !splice.inserts.empty() && std::strchr(" \t\r\n\f", splice.inserts.front()[0]) != nullptr &&
                              splice.inserts.front()[0] != '\0';
  const bool bInValue = before.IsInAttributeValue() && !bNextAttribute;
  for (const char* text : splice.inserts) {
    // What goes into a value is its text, with no character of markup.
    if (bInValue && std::strpbrk(text, "<>\"'`") != nullptr) return "what it inserts into a value holds markup";
    for (size_t i = 0; text[i] != '\0'; ++i) {
      reader.Read(text[i], 0);
      if (bInValue && reader.GetState() != before.GetState()) return "what it inserts leaves the attribute value";
    }
  }
  if (after.CurrentTag().begin != before.CurrentTag().begin || !(after.IsInStartTag() || after.IsInAttributeValue())) {
    return "the deleted bytes end outside the tag";
  }
  CTokenizerStates edited = reader;
  CTokenizerStates sent = after;
  if (splice.resume < page.size()) {
    edited.Read(page[splice.resume], splice.resume);
    sent.Read(page[splice.resume], splice.resume);
  }
  return edited.ReadsLike(sent) ? nullptr : "the tag does not read on as it did";
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
  if (!SplicesOf(edits, base, page.size(), splices)) {
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

  CTokenizerStates reader;
  size_t read = 0;
  for (size_t i = 0; i < splices.size(); ++i) {
    const Splice& splice = splices[i];
    reader.ReadAll(page, read, splice.at);
    const CTokenizerStates before = reader;
    reader.ReadAll(page, splice.at, splice.resume);
    read = splice.resume;
    const char* pFault = nullptr;
    if (!footings[2 * i].bBetween || !footings[2 * i + 1].bBetween) {
      pFault = "it lies inside a character";
    } else if (footings[2 * i].bAfterLoneLead) {
      pFault = "it follows a lead byte that is no character";
    } else {
      pFault = SpliceFault(splice, before, reader, page);
    }
    if (pFault != nullptr) {
      DebugLog("%s The edit at <%d> is refused: %s (the browser's %s state there). The page goes out unchanged.",
               kPrefix, static_cast<int>(splice.at), pFault, CTokenizerStates::StateName(before.GetState()));
      return HX_RC_INVALID_DATA;
    }
  }
  return 0;
}
