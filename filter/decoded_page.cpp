// The decoded form of a page in a stateful set, and its way back.
#include "filter/decoded_page.h"

#include <unicode/ucnv.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "filter/buffer_instruction.h"
#include "filter/iso_2022_jp_page.h"

namespace {

// ICU's converters of the stateful sets the module rewrites. ISO-2022-JP is
// not among them: ICU's converter leaves a two-byte run at a line break and
// takes unknown escapes for shifts, where browsers keep the run and show an
// error, so bytes the browser reads as kanji would come back as markup. Its
// pages are read by the browsers' own decoder (filter/iso_2022_jp_page.h).
constexpr char kIso2022Jp[] = "ISO-2022-JP";

struct StatefulConverter {
  const char* pSet;
  const char* pConverter;
};
constexpr StatefulConverter kConverters[] = {{"HZ-GB-2312", "HZ"}};

// The converter of a stateful set the module rewrites; null for any other.
const char* ConverterOfSet(const std::string& set) {
  const auto* row = std::find_if(std::begin(kConverters), std::end(kConverters),
                                 [&](const StatefulConverter& c) { return set == c.pSet; });
  return row == std::end(kConverters) ? nullptr : row->pConverter;
}

bool Convert(const char* to, const char* from, std::string_view text, std::string& out) {
  UErrorCode status = U_ZERO_ERROR;
  const int32_t needed = ucnv_convert(to, from, nullptr, 0, text.data(), static_cast<int32_t>(text.size()), &status);
  if (status != U_BUFFER_OVERFLOW_ERROR && U_FAILURE(status)) return false;
  out.assign(static_cast<size_t>(needed) + 1, '\0');
  status = U_ZERO_ERROR;
  const int32_t n = ucnv_convert(to, from, out.data(), static_cast<int32_t>(out.size()), text.data(),
                                 static_cast<int32_t>(text.size()), &status);
  if (U_FAILURE(status)) return false;
  out.resize(static_cast<size_t>(n));
  return true;
}

// UTF-8 text in a stateful set as browsers' encoders write it: a character
// the set lacks but has a stand-in for becomes that, so the sender's text
// survives the round trip; any other becomes the set's substitute. No
// stand-in is an ASCII byte.
bool Encode(const char* converter, std::string_view text, std::string& out) {
  UErrorCode status = U_ZERO_ERROR;
  const std::unique_ptr<UConverter, void (*)(UConverter*)> from(ucnv_open("UTF-8", &status), &ucnv_close);
  const std::unique_ptr<UConverter, void (*)(UConverter*)> to(ucnv_open(converter, &status), &ucnv_close);
  if (U_FAILURE(status)) return false;
  ucnv_setFallback(to.get(), true);
  for (size_t size = text.size() * 4 + 16;; size *= 2) {
    out.assign(size, '\0');
    char* target = out.data();
    const char* source = text.data();
    status = U_ZERO_ERROR;
    ucnv_convertEx(to.get(), from.get(), &target, out.data() + out.size(), &source, text.data() + text.size(),
                   nullptr, nullptr, nullptr, nullptr, true, true, &status);
    if (status == U_BUFFER_OVERFLOW_ERROR) continue;
    if (U_FAILURE(status)) return false;
    out.resize(static_cast<size_t>(target - out.data()));
    return true;
  }
}

std::string_view PageOf(const CCommonPointers& words) {
  const ULONGLONG qwFirst = words[CCommonPointers::FirstByte];
  const ULONGLONG qwLast = words[CCommonPointers::LastByte];
  const ULONGLONG qwHtml = words[CCommonPointers::HtmlBegin] != 0 ? words[CCommonPointers::HtmlBegin] : qwFirst;
  if (qwFirst == 0 || qwHtml < qwFirst || qwLast < qwHtml) return std::string_view();
  return std::string_view(reinterpret_cast<const char*>(static_cast<uintptr_t>(qwHtml)), qwLast - qwHtml + 1);
}

}  // namespace

PageCharSetChoice ChooseResponseCharSet(const CCommonPointers& words) {
  const char* pContentType = words.Address(CCommonPointers::CharSetText);
  const std::string_view contentType(pContentType, pContentType != nullptr ? words.CharSetTextSize() : 0);
  return ChoosePageCharSet(contentType, PageOf(words));
}

std::string DecodedValue(const std::string& set, const std::string& bytes) {
  if (set == kIso2022Jp) return CIso2022JpPage::DecodedText(bytes);
  const char* converter = ConverterOfSet(set);
  std::string out;
  if (converter == nullptr || !Convert("UTF-8", converter, bytes, out)) out.clear();
  return out;
}

bool CDecodedPage::Decode(const CCommonPointers& words, const std::string& set) {
  const std::string_view page = PageOf(words);
  m_bIso2022Jp = set == kIso2022Jp;
  if (m_bIso2022Jp) {
    if (page.empty() || !m_iso2022Jp.Decode(page)) return false;
    m_page = m_iso2022Jp.Text();
  } else {
    const char* converter = ConverterOfSet(set);
    if (converter == nullptr || page.empty()) return false;
    m_converter = converter;
    if (!Convert("UTF-8", converter, page, m_page)) return false;
  }
  if (m_page.empty()) return false;
  const auto base = reinterpret_cast<uintptr_t>(m_page.data());
  m_words = CCommonPointers();
  m_words[CCommonPointers::FirstByte] = base;
  m_words[CCommonPointers::HtmlBegin] = base;
  m_words[CCommonPointers::LastByte] = base + m_page.size() - 1;
  m_words[CCommonPointers::CharSetText] = reinterpret_cast<uintptr_t>(m_contentType.data());
  m_words[CCommonPointers::CharSetTextLength] = m_contentType.size();
  return true;
}

// Inserts go before the byte at their address, deletes remove the union of
// their bytes; an insert into deleted bytes or an edit out of order fails,
// as the host refuses such a list.
bool CDecodedPage::EncodeEdited(const CBufferInstructionList& edits, std::string& out) const {
  const auto base = reinterpret_cast<uintptr_t>(m_page.data());
  if (m_bIso2022Jp) {
    return m_iso2022Jp.Edited(edits, base, out) && !out.empty() && out.find('\0') == std::string::npos;
  }
  std::string edited;
  edited.reserve(m_page.size() + 256);
  size_t done = 0;
  for (const CBufferInstructionNode* node = edits.First(); node != edits.End(); node = node->m_pNext) {
    const CBufferInstruction& edit = *node->m_spInstruction;
    if (edit.m_qwAddress < base || edit.m_qwAddress - base > m_page.size()) return false;
    const size_t at = edit.m_qwAddress - base;
    if (edit.m_dwType == CBufferInstruction::TypeInsert && edit.m_pszText != nullptr) {
      if (at < done) return false;
      edited.append(m_page, done, at - done).append(edit.m_pszText);
      done = at;
    } else if (edit.m_dwType == CBufferInstruction::TypeDelete) {
      if (m_page.size() - at < edit.m_dwLength) return false;
      if (at > done) edited.append(m_page, done, at - done);
      done = std::max(done, at + edit.m_dwLength);
    } else {
      return false;
    }
  }
  edited.append(m_page, done, std::string::npos);
  return Encode(m_converter.c_str(), edited, out) && !out.empty() && out.find('\0') == std::string::npos;
}
