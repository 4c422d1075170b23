// The Content-Type of a rewritten page names the set the module walked the
// page in, so the browser reads it in that set whatever else the page says
// (a <meta>, the browser's own guess) and the two cannot disagree.
#include "filter/content_type_edit.h"

#include <algorithm>
#include <cstring>
#include <string>

#include "common/char_set_labels.h"
#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/string_utils.h"
#include "filter/common_pointers.h"
#include "filter/result_codes.h"
#include "filter/util.h"

namespace {

// The header's value.
DWORD RecordContentType(const CCommonPointers& words, const std::string& value, CBufferInstructionList* pList) {
  const ULONGLONG qwFirst = words[CCommonPointers::FirstByte];
  const ULONGLONG qwHtml = words[CCommonPointers::HtmlBegin] != 0 ? words[CCommonPointers::HtmlBegin] : qwFirst;
  const ULONGLONG qwText = words[CCommonPointers::CharSetText];
  const ULONGLONG qwLength = words.CharSetTextSize();
  if (qwFirst == 0 || qwText < qwFirst || qwHtml < qwText || qwHtml - qwText < qwLength) {
    DebugLog("[StatePageCharSet] The Content-Type lies outside the response's headers.");
    return HX_RC_INVALID_DATA;
  }
  if (qwLength != 0) {
    const DWORD deleted = CUtil::DeleteHtmlStringAtPosition(qwText, static_cast<DWORD>(qwLength), pList);
    if (deleted != 0) return deleted;
  }
  return CUtil::InsertHtmlStringAtPosition(qwText, value.c_str(), pList);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// The end of the line from begin: its first line feed or carriage return,
// else the end of the headers. Found by memchr, as headers are long lines.
size_t LineEnd(std::string_view head, size_t begin) {
  const char* pBegin = head.data() + begin;
  const auto* pLf = static_cast<const char*>(std::memchr(pBegin, '\n', head.size() - begin));
  const size_t lf = pLf != nullptr ? static_cast<size_t>(pLf - head.data()) : head.size();
  const auto* pCr = static_cast<const char*>(std::memchr(pBegin, '\r', lf - begin));
  return pCr != nullptr ? static_cast<size_t>(pCr - head.data()) : lf;
}

bool NamesContentType(std::string_view line) {
  const size_t colon = line.find(':');
  if (colon == std::string_view::npos) return false;
  return AsCIView(TrimBlanks(line.substr(0, colon))) == "content-type";
}

// The headers as a browser reads them: a line ends at a line feed or at a
// carriage return alone, a line opening with a blank continues the line
// before, the first blank line ends them, and of several Content-Type lines
// the last counts. True when the
// one line naming Content-Type is the one the host reported, whole to its
// end, and nothing continues it, or when no line names it and the host
// reported none. Otherwise the browser may read another Content-Type than
// the one the module read and edits. Headers the response's bytes do not
// hold are taken as the host reported them.
bool OnlyReportedContentType(const CCommonPointers& words) {
  const ULONGLONG qwFirst = words[CCommonPointers::FirstByte];
  const ULONGLONG qwHtml = words[CCommonPointers::HtmlBegin];
  if (qwFirst == 0 || qwHtml <= qwFirst) return true;
  const std::string_view head(reinterpret_cast<const char*>(static_cast<uintptr_t>(qwFirst)), qwHtml - qwFirst);
  const size_t length = words.CharSetTextSize();
  const ULONGLONG qwText = words[CCommonPointers::CharSetText];
  const size_t textBegin = qwText >= qwFirst ? static_cast<size_t>(qwText - qwFirst) : head.size() + 1;
  const size_t textEnd = textBegin + length;
  const bool bReported = !(qwText == qwFirst && length == 0);
  size_t named = 0;
  bool bReportedLine = false;
  bool bAfterContentType = false;
  for (size_t begin = 0; begin < head.size();) {
    const size_t end = LineEnd(head, begin);
    const std::string_view line = head.substr(begin, end - begin);
    // A browser's headers end at the first blank line (after a line feed,
    // ended by one): one before the host's end makes the rest page text for
    // the browser.
    const bool bBlank = line.empty() && begin > 0 && head[begin - 1] == '\n' &&
                        (head[end] == '\n' || head.substr(end, 2) == "\r\n");
    if (bBlank && head.find('\n', end) + 1 < head.size()) return false;
    if (!line.empty() && IsBlank(line.front())) {
      if (bAfterContentType) return false;
    } else {
      bAfterContentType = NamesContentType(line);
      if (bAfterContentType) {
        ++named;
        bReportedLine = textBegin > begin && textBegin <= end && textEnd == end;
      }
    }
    begin = end + (head.substr(end, 2) == "\r\n" ? 2 : 1);
  }
  return bReported ? named == 1 && bReportedLine : named == 0;
}

}  // namespace

DWORD StatePageCharSet(const CCommonPointers& words, const PageCharSetChoice& choice, CBufferInstructionList* pList) {
  if (!OnlyReportedContentType(words)) {
    DebugLog("[StatePageCharSet] The response's headers may give the browser another Content-Type than the one "
             "read; the page goes out unchanged.");
    return HX_RC_INVALID_DATA;
  }
  const std::string_view current(words.Address(CCommonPointers::CharSetText), words.CharSetTextSize());
  const ContentTypeCharSet parsed = ParseContentTypeEssence(current);
  // The forms read the page as HTML; a browser reads XHTML as XML (where a
  // reference inside a script is decoded), text as text, and a type it cannot
  // parse ("text/html/x") not as a page at all: only a valid text/html gets
  // its set restated, as writing "text/html" would make the browser render
  // the server's own bytes. Without the header the browser takes the type
  // from the bytes (a page opening with a byte order mark shows as text), so
  // none is added.
  // The host hands an absent header over as an empty text at the
  // response's first byte.
  if (words[CCommonPointers::CharSetText] == words[CCommonPointers::FirstByte] && current.empty()) {
    DebugLog("[StatePageCharSet] The response has no Content-Type: the browser guesses the page's type from its "
             "bytes; the page goes out unchanged.");
    return HX_RC_INVALID_DATA;
  }
  if (!parsed.bValidType || AsCIView(parsed.essence) != "text/html") {
    DebugLog("[StatePageCharSet] The browser does not read a <%s> answer as HTML; the page goes out unchanged.",
             std::string(current).c_str());
    return HX_RC_INVALID_DATA;
  }
  if (choice.bHeaderStatesIt) return 0;
  if (pList == nullptr) return HX_RC_INVALID_DATA;
  const std::string value = parsed.essence + "; charset=" + std::string(BrowserNameOfSet(choice.set));
  DebugLog("[StatePageCharSet] Content-Type <%s> becomes <%s>.", std::string(current).c_str(), value.c_str());
  return RecordContentType(words, value, pList);
}
