// The character sets a page can be in, by the labels that name them: every
// label browsers know (so a page is read in the set its browser reads it
// in), and the few server-side names the module knows besides (the Mac sets,
// cp932), which no browser reads.
#pragma once

#include <string_view>

struct CharSetLabel {
  const char* pLabel;
  // The set's name: as browsers name it, or the module's own set
  // ("x-mac-japan", "HZ-GB-2312") where it reads one browsers do not.
  const char* pSet;
  // False for a label no browser knows: a page so labelled is read by the
  // browser in whatever set it guesses.
  bool bBrowserKnows;
};

// The row of a label, ASCII white space around it and ASCII case ignored, as
// browsers look labels up; null for a label of no set.
const CharSetLabel* FindCharSetLabel(std::string_view label);

// The set a label names; empty for a label of no set.
std::string_view CharSetOfLabel(std::string_view label);

// The name a Content-Type states for a set so that browsers read the page
// in it: the set's own name, or for a set of the module's own the one whose
// characters browsers read its bytes as.
std::string_view BrowserNameOfSet(std::string_view set);

// Sets whose characters use bytes below 0x80 outside ASCII, or that browsers
// read as no characters at all: a byte-wise reading of such a page is not
// the browser's.
bool IsStatefulCharSet(std::string_view set);
