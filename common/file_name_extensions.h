// The extensions by which a file name is read. A browser, a server or a file
// share may take a name whole, or cut at its first "?", "#" or ";" as the end
// of a path, its query, fragment or path parameters: "evil.exe#.pdf" may be
// served as "evil.exe". A Windows file system then resolves "." and ".."
// segments, drops trailing dots and blanks and reads what follows ":" as a
// stream of the file before it: "evil.exe.", "evil.exe\." and
// "evil.exe::$DATA" are "evil.exe". A server that takes the name as a URL
// decodes it once more ("evil%2Eexe"), "%uXXXX" too where it reads those as
// IIS does ("evil%u002Eexe"). A browser trims trailing white space
// from a download's name, any character of Unicode's White_Space (U+00A0,
// U+3000, U+0085, ...): the file system reading drops those as it drops
// dots and blanks, "evil.exe" followed by U+3000 is "evil.exe". Format
// characters (Unicode's category Cf: U+200B, U+FEFF, U+202E, ...) may be
// dropped or shown: a name holding one is read also without them all.
// Every rule that gives a
// file a level or blocks it by its extension asks for all of them, so that
// no reading escapes it, while an ordinary name holding such a character
// ("Invoice #123.pdf") keeps the level of its extension. Names are UTF-8.
#pragma once

#include <vector>

#include "common/ci_string.h"

struct CFileNameExtensions {
  // After the last "." of the file name (the text after the last "/" or
  // "\"); empty without one.
  ci_string whole;
  // The same of each other reading of the name that has an extension
  // ("Invoice " has none): cut at its first "?", "#" or ";", either form as
  // a Windows file system reads it, and each of them decoded once more.
  std::vector<ci_string> others;
  // A reading of the file name has the short-name form ("MACRO~1.DOC",
  // "MACRO~1.DOC#x.pdf" cut at its "#"): a volume that
  // keeps 8.3 names serves it as a long name whose extension only begins
  // with this one ("macros.docm"), so no extension read here is its own.
  bool shortName = false;
};

// Whether a file system or a browser drops characters from the end of the
// file name: a trailing dot, blank or other White_Space character.
bool FileNameLosesTrailingCharacters(ci_string_view name);

CFileNameExtensions ExtensionsOfFileName(ci_string_view name);
