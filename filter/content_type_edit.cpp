// The Content-Type of a rewritten page names the set the module walked the
// page in, so the browser reads it in that set whatever else the page says
// (a <meta>, the browser's own guess) and the two cannot disagree.
#include "filter/content_type_edit.h"

#include <string>

#include "common/char_set_labels.h"
#include "common/debug_log.h"
#include "filter/common_pointers.h"
#include "filter/result_codes.h"
#include "filter/util.h"

namespace {

constexpr std::string_view kBlankLine = "\r\n\r\n";

// The header's value, or a header line ahead of the blank line where the
// response has none; the host hands an absent header over as an empty text
// at the response's first byte.
DWORD RecordContentType(const CCommonPointers& words, const std::string& value, CBufferInstructionList* pList) {
  const ULONGLONG qwFirst = words[CCommonPointers::FirstByte];
  const ULONGLONG qwHtml = words[CCommonPointers::HtmlBegin] != 0 ? words[CCommonPointers::HtmlBegin] : qwFirst;
  const ULONGLONG qwText = words[CCommonPointers::CharSetText];
  const auto length = static_cast<int32_t>(static_cast<uint32_t>(words[CCommonPointers::CharSetTextLength]));
  const ULONGLONG qwLength = length > 0 ? static_cast<ULONGLONG>(length) : 0;
  if (qwFirst == 0 || qwText < qwFirst || qwHtml < qwText || qwHtml - qwText < qwLength) {
    DebugLog("[StatePageCharSet] The Content-Type lies outside the response's headers.");
    return HX_RC_INVALID_DATA;
  }
  if (qwText == qwFirst && qwLength == 0) {
    const std::string_view head(reinterpret_cast<const char*>(static_cast<uintptr_t>(qwFirst)), qwHtml - qwFirst);
    if (head.size() < kBlankLine.size() || head.substr(head.size() - kBlankLine.size()) != kBlankLine) {
      DebugLog("[StatePageCharSet] The response's headers end in no blank line.");
      return HX_RC_INVALID_DATA;
    }
    return CUtil::InsertHtmlStringAtPosition(qwHtml - 2, ("Content-Type: " + value + "\r\n").c_str(), pList);
  }
  if (qwLength != 0) {
    const DWORD deleted = CUtil::DeleteHtmlStringAtPosition(qwText, static_cast<DWORD>(qwLength), pList);
    if (deleted != 0) return deleted;
  }
  return CUtil::InsertHtmlStringAtPosition(qwText, value.c_str(), pList);
}

}  // namespace

DWORD StatePageCharSet(const CCommonPointers& words, const PageCharSetChoice& choice, CBufferInstructionList* pList) {
  if (choice.bHeaderStatesIt) return 0;
  if (pList == nullptr) return HX_RC_INVALID_DATA;
  const auto length = static_cast<int32_t>(static_cast<uint32_t>(words[CCommonPointers::CharSetTextLength]));
  const std::string_view current(words.Address(CCommonPointers::CharSetText),
                                 length > 0 ? static_cast<size_t>(length) : 0);
  const ContentTypeCharSet parsed = ParseContentTypeCharSet(current);
  const std::string value = (parsed.bValidType ? parsed.essence : std::string("text/html")) +
                            "; charset=" + std::string(BrowserNameOfSet(choice.set));
  DebugLog("[StatePageCharSet] Content-Type <%s> becomes <%s>.", std::string(current).c_str(), value.c_str());
  return RecordContentType(words, value, pList);
}
