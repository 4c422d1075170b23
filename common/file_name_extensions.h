// The extensions by which a file name is read. A name is a URL only when it
// says so, by a scheme or a leading "//"; any other name is a file's, and a
// file's name holds "#" and ";" as ordinary characters ("Rev 1.2
// #final.pdf", "\\fs01\Team.Share\#42 minutes.pdf", the viewer's
// "Shared Documents/Contract v2.1;signed.pdf"). A URL's file name is its
// path's last segment, the path ending at the first "?" or "#"
// ("Budget.pdf?web=1" is "Budget.pdf"); a browser or a server may also cut
// it at ";" as a path parameter, or take a name from its query or fragment:
// "http://sp/evil.exe#.pdf" may be served as "evil.exe", and
// "a.pdf?f=evil%2Eexe" as "evil.exe"; a value that is a URL is read as one
// ("a.pdf?u=http://sp/evil.exe?x=1"), and so is a name that a URL parser
// reads as one once it drops blanks and controls (" http://sp/evil.exe#.pdf").
// A Windows file system then resolves
// "." and ".." segments, drops trailing dots and blanks and reads what
// follows ":" as a stream of the file before it: "evil.exe.", "evil.exe\."
// and "evil.exe::$DATA" are "evil.exe". A server that takes the name as a
// URL decodes its path once more ("evil%2Eexe"), "%uXXXX" too where it
// reads those as IIS does ("evil%u002Eexe"). A browser trims trailing white
// space from a download's name, any character of Unicode's White_Space
// (U+00A0, U+3000, U+0085, ...): the file system reading drops those as it
// drops dots and blanks, "evil.exe" followed by U+3000 is "evil.exe".
// Format characters (Unicode's category Cf: U+200B, U+FEFF, U+202E, ...)
// may be dropped or shown: a name holding one is read also without them
// all. The name's own extension always decides; the other readings are
// asked too, so that no reading escapes a rule, but they land as often on
// text no reader takes as an extension ("Report.pdf?version=2.0" cut at its
// last dot is "0"), so a rule counts them only where they end in an
// extension it names. Names are UTF-8.
#pragma once

#include <vector>

#include "common/ci_string.h"

struct CFileNameExtensions {
  // The name's own extension: after the last "." of its file name (the text
  // after the last "/" or "\", of a URL's path); empty without one.
  ci_string whole;
  // The same of each other reading of the name that has an extension
  // ("Invoice " has none): as a Windows file system reads it; of a name
  // holding "?" also the text before it and its query parameter by
  // parameter; of a URL also its path cut at ";", its fragment, and the
  // path decoded once more. Each counts where a rule names its extension.
  std::vector<ci_string> others;
  // A reading of the file name has the short-name form a volume generates
  // ("MACRO~1.DOC", "//sp/docs/MACRO~1.DOC#x.pdf" cut at its "#"): a volume
  // that keeps 8.3 names may serve it as a long name whose extension only
  // begins with this one ("macros.docm").
  bool shortName = false;
  // The extension of each such reading ("DOC"; empty for "A_B~1"): the name
  // is read as well by every extension a rule names that begins with it.
  std::vector<ci_string> shortNameExtensions;
};

// Whether a file system or a browser drops characters from the end of the
// file name: a trailing dot, blank or other White_Space character.
bool FileNameLosesTrailingCharacters(ci_string_view name);

CFileNameExtensions ExtensionsOfFileName(ci_string_view name);
