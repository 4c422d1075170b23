#include "common/file_name_extensions.h"

#include <string>
#include <vector>

#include "common/url_utils.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// The text after the last "/" or "\".
ci_string_view FileNameOf(ci_string_view path) {
  const size_t separator = path.find_last_of("/\\");
  return path.substr(separator == ci_string_view::npos ? 0 : separator + 1);
}

// After the last "." of the file name; whether there is one.
bool ExtensionOf(ci_string_view fileName, ci_string& extension) {
  const size_t dot = fileName.rfind('.');
  if (dot == ci_string_view::npos) return false;
  extension.assign(fileName.substr(dot + 1));
  return true;
}

ci_string_view WithoutTrailingDotsAndBlanks(ci_string_view name) {
  const size_t last = name.find_last_not_of(". ");
  return name.substr(0, last == ci_string_view::npos ? 0 : last + 1);
}

// The name of the file a Windows file system opens for the path: "." and
// ".." segments resolved ("evil.exe\." and "evil.exe\x\.." are
// "evil.exe"), each name before a ":" (a stream) and without trailing dots
// and blanks. Read from the last segment back, each ".." passing over one
// name before it: the last name left is the same as a walk from the front
// that keeps every name would leave, without keeping them.
ci_string_view FileSystemFileName(ci_string_view path) {
  size_t passed = 0;
  for (size_t end = path.size();;) {
    size_t begin = end;
    while (begin > 0 && !IsSeparator(path[begin - 1])) --begin;
    const ci_string_view segment = path.substr(begin, end - begin);
    const ci_string_view name = WithoutTrailingDotsAndBlanks(segment.substr(0, segment.find(':')));
    if (segment.substr(0, segment.find_last_not_of(' ') + 1) == "..") {
      ++passed;
    } else if (!name.empty()) {
      if (passed == 0) return name;
      --passed;
    }
    if (begin == 0) return ci_string_view();
    end = begin - 1;
  }
}

void AddReading(ci_string_view fileName, CFileNameExtensions& extensions) {
  ci_string extension;
  if (ExtensionOf(fileName, extension)) extensions.others.push_back(extension);
}

// The readings of `name` other than the whole one.
void AddOtherReadings(ci_string_view name, CFileNameExtensions& extensions) {
  AddReading(FileSystemFileName(name), extensions);
  const size_t cut = name.find_first_of("?#;");
  if (cut != ci_string_view::npos) {
    AddReading(FileNameOf(name.substr(0, cut)), extensions);
    AddReading(FileSystemFileName(name.substr(0, cut)), extensions);
  }
}

}  // namespace

CFileNameExtensions ExtensionsOfFileName(ci_string_view name) {
  CFileNameExtensions extensions;
  ExtensionOf(FileNameOf(name), extensions.whole);
  AddOtherReadings(name, extensions);
  // A server that takes the name as a URL decodes it once more:
  // "http://sp/docs/evil%2Eexe" serves "evil.exe".
  if (name.find('%') != ci_string_view::npos) {
    const ci_string decoded = ToCI(URLDecode(std::string(name.data(), name.size())));
    AddReading(FileNameOf(decoded), extensions);
    AddOtherReadings(decoded, extensions);
  }
  return extensions;
}
