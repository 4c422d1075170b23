// The host's record of the outbound response buffer: 64-bit words, most of
// them addresses into the buffer. A null address means the host did not find
// what the word stands for. Words not named here belong to the host.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/win_types.h"

class CCommonPointers {
 public:
  enum Word : unsigned {
    FirstByte = 1,          // first byte of the response data (page position 0)
    LastByte = 2,           // last byte of the response data
    CharSetText = 3,        // text in which the page character set is looked up
    HtmlBegin = 4,          // where the HTML data begins; null: the first byte
    CharSetTextLength = 5,  // length of the CharSetText text (read as 32-bit)
    HtmlStartTag = 15,
    HeadStartTag = 16,
    HeadEndTag = 17,
    BodyStartTag = 19,
    BodyEndTag = 21,
    WordCount = 24,
  };

  ULONGLONG& operator[](Word w) { return m_words[w]; }
  ULONGLONG operator[](Word w) const { return m_words[w]; }
  const char* Address(Word w) const { return reinterpret_cast<const char*>(static_cast<uintptr_t>(m_words[w])); }
  // The length of the CharSetText text: its word read as a signed 32-bit
  // number, 0 where that is not above 0.
  size_t CharSetTextSize() const {
    const auto length = static_cast<int32_t>(static_cast<uint32_t>(m_words[CharSetTextLength]));
    return length > 0 ? static_cast<size_t>(length) : 0;
  }

  ULONGLONG m_words[WordCount] = {};
};

static_assert(sizeof(CCommonPointers) == 8 * CCommonPointers::WordCount);
