// The extensions by which a file name is read. A browser, a server or a file
// share may take a name whole, or cut at its first "?", "#" or ";" as the end
// of a path, its query, fragment or path parameters: "evil.exe#.pdf" may be
// served as "evil.exe". A Windows file system then resolves "." and ".."
// segments, drops trailing dots and blanks and reads what follows ":" as a
// stream of the file before it: "evil.exe.", "evil.exe\." and
// "evil.exe::$DATA" are "evil.exe". A server that takes the name as a URL
// decodes it once more ("evil%2Eexe"). Every rule that gives a
// file a level or blocks it by its extension asks for all of them, so that
// no reading escapes it, while an ordinary name holding such a character
// ("Invoice #123.pdf") keeps the level of its extension.
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
};

CFileNameExtensions ExtensionsOfFileName(ci_string_view name);
