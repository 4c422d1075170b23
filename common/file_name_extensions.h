// The extensions by which a file name is read. A Windows or SMB name holds
// "#" and ";" as ordinary characters ("Rev 1.2 #final.pdf",
// "\\fs01\Team.Share\#42 minutes.pdf"). A URL's file name is its path's
// last segment, the path ending at the first "?" or "#" ("Budget.pdf?web=1"
// is "Budget.pdf"); a browser or a server may also cut it at ";" as a path
// parameter, or read the whole text as a name: "http://sp/evil.exe#.pdf" may
// be served as "evil.exe". A Windows file system then resolves "." and ".."
// segments, drops trailing dots and blanks and reads what follows ":" as a
// stream of the file before it: "evil.exe.", "evil.exe\." and
// "evil.exe::$DATA" are "evil.exe". A server that takes the name as a URL
// decodes its path once more ("evil%2Eexe"), "%uXXXX" too where it reads
// those as IIS does ("evil%u002Eexe"). A browser trims trailing white space
// from a download's name, any character of Unicode's White_Space (U+00A0,
// U+3000, U+0085, ...): the file system reading drops those as it drops
// dots and blanks, "evil.exe" followed by U+3000 is "evil.exe". Format
// characters (Unicode's category Cf: U+200B, U+FEFF, U+202E, ...) may be
// dropped or shown: a name holding one is read also without them all.
// Every rule that gives a file a level or blocks it by its extension asks
// for all of them, so that no reading escapes it, while an ordinary name
// ("Invoice #123.pdf") keeps the level of its extension. Names are UTF-8.
#pragma once

#include <vector>

#include "common/ci_string.h"

struct CFileNameExtensions {
  // After the last "." of the file name (the text after the last "/" or
  // "\", of a URL's path); empty without one.
  ci_string whole;
  // The same of each other reading of the name that has an extension
  // ("Invoice " has none): as a Windows file system reads it; of a URL also
  // its whole text and the text cut at its first "?", "#" or ";"; and the
  // path decoded once more.
  std::vector<ci_string> others;
  // A reading of the file name has the short-name form a volume generates
  // ("MACRO~1.DOC", "/docs/MACRO~1.DOC#x.pdf" cut at its "#"): a volume that
  // keeps 8.3 names serves it as a long name whose extension only begins
  // with this one ("macros.docm"), so no extension read here is its own.
  bool shortName = false;
};

// Whether a file system or a browser drops characters from the end of the
// file name: a trailing dot, blank or other White_Space character.
bool FileNameLosesTrailingCharacters(ci_string_view name);

CFileNameExtensions ExtensionsOfFileName(ci_string_view name);
