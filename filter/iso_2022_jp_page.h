// A page in ISO-2022-JP read exactly as browsers' decoder reads it (states
// ASCII, Roman, katakana and two-byte; a line break or any other byte that
// is no trail in a two-byte run is one error and the run goes on; an escape
// browsers do not know is an error and its bytes are read again), and
// written back with the server's bytes as sent: only the edits' places
// change, each inserted text written for the decoder's state at its place,
// and the bytes after it read in the state they were read in before.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class CBufferInstructionList;

class CIso2022JpPage {
 public:
  // The bytes as browsers decode them, as UTF-8 (errors as U+FFFD).
  static std::string DecodedText(std::string_view bytes);

  // Decodes the page; false where the set's table of two-byte characters
  // cannot be built here.
  bool Decode(std::string_view page);
  const std::string& Text() const { return m_text; }

  // The page with the edits (addresses in Text(), `base` its address) made
  // in its bytes. False for an edit out of order or between the bytes of a
  // character, or where an edit cannot keep the reading of the bytes around
  // it as it was.
  bool Edited(const CBufferInstructionList& edits, uintptr_t base, std::string& out) const;

  enum class State : uint8_t { Ascii, Roman, Katakana, TwoByte };

 private:
  // Where a character of the decoded text begins: the page's bytes after
  // the character before it (escapes that follow are read with it), and the
  // decoder's state there.
  struct Place {
    size_t textAt;
    size_t byteAt;
    State state;
    bool bAfterEscape;  // the decoder's flag: a valid escape now is an error
    bool bLeadOpen;     // a lead byte before, its error given at the escape here
  };
  const Place* PlaceOf(size_t textAt) const;
  bool Editable(const Place& place) const;

  std::string_view m_page;
  std::string m_text;
  std::vector<Place> m_places;
};
