#include "host/hx_response_buffer.h"

#include <cstdint>

#include "host/hx_text.h"

namespace {

bool EndsTagName(std::string_view html, size_t at) {
  if (at >= html.size()) return false;
  const char c = html[at];
  return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '/' || c == '>';
}

}  // namespace

HxPageTags HxScanPageTags(std::string_view html) {
  HxPageTags tags;
  struct Wanted {
    std::string_view text;
    size_t* where;
    const size_t* after;  // only counts after this tag was found
  };
  const Wanted wanted[] = {
      {"<html", &tags.htmlStart, nullptr},      {"<head", &tags.headStart, nullptr},
      {"</head", &tags.headEnd, &tags.headStart}, {"<body", &tags.bodyStart, nullptr},
      {"</body", &tags.bodyEnd, &tags.bodyStart},
  };
  size_t i = 0;
  while (i < html.size()) {
    if (html[i] != '<') {
      ++i;
      continue;
    }
    if (html.substr(i, 4) == "<!--") {
      const size_t end = html.find("-->", i + 4);
      if (end == std::string_view::npos) break;
      i = end + 3;
      continue;
    }
    for (const Wanted& w : wanted) {
      if (*w.where != std::string_view::npos) continue;
      if (w.after != nullptr && *w.after == std::string_view::npos) continue;
      if (HxStartsWithNoCase(html.substr(i), w.text) && EndsTagName(html, i + w.text.size())) {
        *w.where = i;
        break;
      }
    }
    ++i;
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
