#include "common/file_name_extensions.h"

namespace {

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

// The file a Windows file system opens for the name: before a ":" (a
// stream), without trailing dots and blanks.
ci_string_view AsFileSystemReads(ci_string_view fileName) {
  fileName = fileName.substr(0, fileName.find(':'));
  const size_t last = fileName.find_last_not_of(". ");
  return fileName.substr(0, last == ci_string_view::npos ? 0 : last + 1);
}

void AddReading(ci_string_view fileName, CFileNameExtensions& extensions) {
  ci_string extension;
  if (ExtensionOf(fileName, extension)) extensions.others.push_back(extension);
}

}  // namespace

CFileNameExtensions ExtensionsOfFileName(ci_string_view name) {
  CFileNameExtensions extensions;
  const ci_string_view fileName = FileNameOf(name);
  ExtensionOf(fileName, extensions.whole);
  AddReading(AsFileSystemReads(fileName), extensions);
  const size_t cut = name.find_first_of("?#;");
  if (cut != ci_string_view::npos) {
    const ci_string_view cutName = FileNameOf(name.substr(0, cut));
    AddReading(cutName, extensions);
    AddReading(AsFileSystemReads(cutName), extensions);
  }
  return extensions;
}
