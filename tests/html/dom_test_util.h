// Helpers of the DOM tests: a response record over a page buffer, and the
// application of recorded instructions the way the filter host does it.
#pragma once

#include <cstdint>
#include <string>

#include "filter/buffer_instruction.h"
#include "filter/common_pointers.h"
#include "host/hx_buffer_apply.h"
#include "html/dom_source.h"

namespace hxtest {

// A response buffer (headers, then HTML) and the host's record over it.
struct Response {
  explicit Response(const std::string& sHtml, const std::string& sHeaders = "HTTP/1.1 200 OK\r\n\r\n")
      : sBuffer(sHeaders + sHtml), nHtmlBegin(sHeaders.size()) {
    record[CCommonPointers::FirstByte] = Addr(0);
    record[CCommonPointers::LastByte] = Addr(sBuffer.size() - 1);
    record[CCommonPointers::HtmlBegin] = Addr(nHtmlBegin);
  }
  ULONGLONG Addr(size_t nPos) const { return static_cast<ULONGLONG>(reinterpret_cast<uintptr_t>(sBuffer.data() + nPos)); }
  // Address of the n-th occurrence of a text.
  ULONGLONG AddrOf(const std::string& sText, int n = 0) const { return Addr(pos(sText, n)); }
  size_t pos(const std::string& sText, int n = 0) const {
    size_t p = sBuffer.find(sText, nHtmlBegin);
    while (p != std::string::npos && n-- > 0) p = sBuffer.find(sText, p + 1);
    return p;
  }
  // The page (HTML part) after the host applied the list; "<refused>" when
  // the host would send it unchanged.
  std::string Apply(const CBufferInstructionList& list) const {
    std::string out;
    if (HxApplyBufferInstructions(sBuffer.data(), sBuffer.size(), list, out) != 0) return "<refused>";
    return out.substr(nHtmlBegin);
  }

  std::string sBuffer;
  size_t nHtmlBegin;
  CCommonPointers record;
};

}  // namespace hxtest
