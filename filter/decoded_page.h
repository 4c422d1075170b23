// A page in a set whose characters use bytes below 0x80 outside ASCII
// (ISO-2022-JP, HZ) is rewritten in its characters, never by a byte-wise
// reading: decoded to UTF-8, the forms run over the decoded page, their
// edits applied there, and the result encoded back in the page's own set, so
// its forms still post in the set the server reads. The browser then reads
// exactly the characters the forms were written for.
#pragma once

#include <string>

#include "filter/common_pointers.h"
#include "filter/iso_2022_jp_page.h"
#include "general/page_char_set_choice.h"

class CBufferInstructionList;

// The page's character set, decided from the response the host's words
// describe (its Content-Type and page) as a browser decides it.
PageCharSetChoice ChooseResponseCharSet(const CCommonPointers& words);

// Bytes of a stateful set (a value percent-decoded from a URL of such a
// page) as UTF-8; bytes that are no character become U+FFFD. Empty for a
// set without a converter here.
std::string DecodedValue(const std::string& set, const std::string& bytes);

class CDecodedPage {
 public:
  // False when the set has no converter here (UTF-16, the sets browsers
  // show as nothing) or the page is empty.
  bool Decode(const CCommonPointers& words, const std::string& set);

  // The words of the decoded page: its first and last byte, and a
  // Content-Type that names UTF-8.
  CCommonPointers& Words() { return m_words; }

  // The decoded page with the edits (addresses in it) applied the way the
  // host applies them, encoded back in the page's set. An ISO-2022-JP page
  // keeps its own bytes outside the edits, each read in the state it was
  // read in before. False for an edit outside the page or out of order, or
  // bytes an insert cannot carry.
  bool EncodeEdited(const CBufferInstructionList& edits, std::string& out) const;

 private:
  bool m_bIso2022Jp = false;
  CIso2022JpPage m_iso2022Jp;
  std::string m_converter;
  std::string m_page;
  std::string m_contentType = "text/html; charset=utf-8";
  CCommonPointers m_words;
};
