// The product's own list of blocked file extensions (the text of the
// blocked-extensions setting: extensions without dots, separated by ";").
// The direct-access check and the page forms must agree on what it blocks,
// so both ask this one test.
#pragma once

#include "common/ci_string.h"
#include "common/file_name_extensions.h"

// True when `extension` (without its dot) equals one entry of `blockedList`
// whole, ASCII case ignored. An empty extension is never blocked and empty
// entries block nothing ("doc" is not blocked by "docx"). Callers pass an
// empty list while the blocked list is switched off.
bool IsExtensionInBlockedList(const ci_string& extension, const ci_string& blockedList);

// True when any extension the file name is read by (ExtensionsOfFileName)
// is in `blockedList`: "http://sp/evil.exe#.pdf" is blocked by "exe"; so is
// a short name whose extension begins an entry: "EVIL~1.EX" by "exe".
bool IsFileNameInBlockedList(ci_string_view fileName, const ci_string& blockedList);

// The same test of the extensions already read from a name, for a caller
// that needs them too: the name is read once.
bool AreExtensionsInBlockedList(const CFileNameExtensions& extensions, const ci_string& blockedList);
