#include "host/hx_response_buffer.h"

#include <cstdint>

#include "host/hx_text.h"
#include "html/tokenizer_states.h"

// The tags the browser's tokenizer finds in every reading (scripting on and
// off, either tree builder of <select>): none inside a comment, an attribute
// value or the text of a script, a textarea and the like.
HxPageTags HxScanPageTags(std::string_view html) {
  HxPageTags tags;
  // A tag counts only where every reading a browser may take reads it.
  CPageReadings readings(html);
  while (readings.NextTag()) {
    const CTokenizerStates::Tag& tag = readings.Tag();
    auto take = [&](size_t& where, bool bCounts) {
      if (where == std::string_view::npos && bCounts) where = tag.begin;
    };
    if (!tag.bEnd && tag.name.Is("html")) take(tags.htmlStart, true);
    if (!tag.bEnd && tag.name.Is("head")) take(tags.headStart, true);
    if (tag.bEnd && tag.name.Is("head")) take(tags.headEnd, tags.headStart != std::string_view::npos);
    if (!tag.bEnd && tag.name.Is("body")) take(tags.bodyStart, true);
    if (tag.bEnd && tag.name.Is("body")) take(tags.bodyEnd, tags.bodyStart != std::string_view::npos);
  }
  return tags;
}

void HxOutboundContext::SetResponse(std::string response, size_t bodyOffset) {
  m_buffer = std::move(response);
  m_bodyOffset = bodyOffset <= m_buffer.size() ? bodyOffset : m_buffer.size();
  m_pointers = CCommonPointers();
  if (m_buffer.empty()) return;

  const uintptr_t base = reinterpret_cast<uintptr_t>(m_buffer.data());
  m_pointers[CCommonPointers::FirstByte] = base;
  m_pointers[CCommonPointers::LastByte] = base + m_buffer.size() - 1;
  m_pointers[CCommonPointers::HtmlBegin] = base + m_bodyOffset;

  // The character set is looked up in the Content-Type value; without one the
  // text is empty (but present, at the start of the headers).
  const std::string_view head(m_buffer.data(), m_bodyOffset);
  size_t ctText = 0;
  size_t ctLength = 0;
  const size_t ct = HxFindNoCase(head, "\nContent-Type:");
  if (ct != std::string_view::npos) {
    ctText = ct + 14;
    while (ctText < head.size() && (head[ctText] == ' ' || head[ctText] == '\t')) ++ctText;
    size_t end = head.find('\r', ctText);
    if (end == std::string_view::npos) end = head.find('\n', ctText);
    if (end == std::string_view::npos) end = head.size();
    ctLength = end - ctText;
  }
  m_pointers[CCommonPointers::CharSetText] = base + ctText;
  m_pointers[CCommonPointers::CharSetTextLength] = ctLength;

  const std::string_view html(m_buffer.data() + m_bodyOffset, m_buffer.size() - m_bodyOffset);
  const HxPageTags tags = HxScanPageTags(html);
  auto put = [&](CCommonPointers::Word w, size_t offset) {
    m_pointers[w] = offset == std::string_view::npos ? 0 : base + m_bodyOffset + offset;
  };
  put(CCommonPointers::HtmlStartTag, tags.htmlStart);
  put(CCommonPointers::HeadStartTag, tags.headStart);
  put(CCommonPointers::HeadEndTag, tags.headEnd);
  put(CCommonPointers::BodyStartTag, tags.bodyStart);
  put(CCommonPointers::BodyEndTag, tags.bodyEnd);
}

void HxFixContentLength(std::string& response) {
  const size_t headEnd = response.find("\r\n\r\n");
  if (headEnd == std::string::npos) return;
  const size_t bodyLength = response.size() - (headEnd + 4);
  const size_t header = HxFindNoCase(std::string_view(response.data(), headEnd + 2), "\r\nContent-Length:");
  if (header == std::string_view::npos) return;
  size_t valueBegin = header + 17;
  while (valueBegin < headEnd && (response[valueBegin] == ' ' || response[valueBegin] == '\t')) ++valueBegin;
  const size_t valueEnd = response.find("\r\n", valueBegin);
  response.replace(valueBegin, valueEnd - valueBegin, std::to_string(bodyLength));
}
