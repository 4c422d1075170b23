// The extensions by which a file name is read. A browser, a server or a file
// share may take a name whole, or cut at its first "?", "#" or ";" as the end
// of a path, its query, fragment or path parameters: "evil.exe#.pdf" may be
// served as "evil.exe". Every rule that gives a file a level or blocks it by
// its extension asks for both, so that no reading escapes it, while an
// ordinary name holding such a character ("Invoice #123.pdf") keeps the
// level of its extension.
#pragma once

#include "common/ci_string.h"

struct CFileNameExtensions {
  // After the last "." of the file name (the text after the last "/" or
  // "\"); empty without one.
  ci_string whole;
  // The same of the name cut at its first "?", "#" or ";"; present only when
  // the name holds one and the cut name has an extension ("Invoice " has none).
  ci_string cut;
  bool hasCut = false;
};

CFileNameExtensions ExtensionsOfFileName(ci_string_view name);
