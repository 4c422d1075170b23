#include "common/blocked_extensions.h"

#include "common/file_name_extensions.h"

bool IsExtensionInBlockedList(const ci_string& extension, const ci_string& blockedList) {
  if (extension.empty()) return false;
  const ci_string_view list(blockedList);
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t end = list.find(';', begin);
    if (end == ci_string_view::npos) end = list.size();
    if (list.substr(begin, end - begin) == ci_string_view(extension)) return true;
    begin = end + 1;
  }
  return false;
}

bool IsFileNameInBlockedList(ci_string_view fileName, const ci_string& blockedList) {
  return AreExtensionsInBlockedList(ExtensionsOfFileName(fileName), blockedList);
}

namespace {

// Whether a non-empty entry of `blockedList` begins with `prefix`.
bool IsPrefixOfBlockedEntry(const ci_string& prefix, const ci_string& blockedList) {
  const ci_string_view list(blockedList);
  size_t begin = 0;
  while (begin <= list.size()) {
    size_t end = list.find(';', begin);
    if (end == ci_string_view::npos) end = list.size();
    const ci_string_view entry = list.substr(begin, end - begin);
    if (!entry.empty() && entry.substr(0, prefix.size()) == ci_string_view(prefix)) return true;
    begin = end + 1;
  }
  return false;
}

}  // namespace

bool AreExtensionsInBlockedList(const CFileNameExtensions& extensions, const ci_string& blockedList) {
  if (IsExtensionInBlockedList(extensions.whole, blockedList)) return true;
  for (const ci_string& other : extensions.others) {
    if (IsExtensionInBlockedList(other, blockedList)) return true;
  }
  // A short name may stand for a long name of any extension that begins
  // with its own: "MACRO~1.DOC" for "macros.docm".
  for (const ci_string& prefix : extensions.shortNameExtensions) {
    if (IsPrefixOfBlockedEntry(prefix, blockedList)) return true;
  }
  return false;
}
