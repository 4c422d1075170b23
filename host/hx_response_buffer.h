// The outbound response as the host hands it to the module: one buffer with
// status line, headers, blank line and page, and the CCommonPointers words
// that describe it.
#pragma once

#include <string>
#include <string_view>

#include "filter/common_pointers.h"
#include "filter/outbound_context.h"

// Byte offsets (from the first byte of html) of the tags the host looks for;
// npos when absent: the first of each the browser's tokenizer reads
// (html/tokenizer_states.h), head's and body's end tags only after their
// start tags. A tag inside a comment, an attribute value or the text of a
// script, textarea and the like does not count.
struct HxPageTags {
  size_t htmlStart = std::string_view::npos;
  size_t headStart = std::string_view::npos;
  size_t headEnd = std::string_view::npos;
  size_t bodyStart = std::string_view::npos;
  size_t bodyEnd = std::string_view::npos;
};
HxPageTags HxScanPageTags(std::string_view html);

// Sets the Content-Length header of a complete response (status line,
// headers, blank line, body) to the length of its body, as the host does after
// the page was edited. A response without that header or without the blank
// line stays as it is.
void HxFixContentLength(std::string& response);

// The host's outbound record: owns the response buffer that its
// CCommonPointers describe.
class HxOutboundContext : public COutboundContext {
 public:
  HxOutboundContext() { m_pCommonPointers = &m_pointers; }

  // Sets the buffer to response (whose page starts at bodyOffset) and fills
  // the words. contentType is located inside the header part of the buffer.
  void SetResponse(std::string response, size_t bodyOffset);

  const std::string& Buffer() const { return m_buffer; }
  size_t BodyOffset() const { return m_bodyOffset; }

 private:
  std::string m_buffer;
  size_t m_bodyOffset = 0;
  CCommonPointers m_pointers;
};
