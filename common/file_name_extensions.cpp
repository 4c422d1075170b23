#include "common/file_name_extensions.h"

namespace {

// After the last "." of the text after the last "/" or "\"; whether there is one.
bool ExtensionOf(ci_string_view path, ci_string& extension) {
  const size_t separator = path.find_last_of("/\\");
  const ci_string_view fileName = path.substr(separator == ci_string_view::npos ? 0 : separator + 1);
  const size_t dot = fileName.rfind('.');
  if (dot == ci_string_view::npos) return false;
  extension.assign(fileName.substr(dot + 1));
  return true;
}

}  // namespace

CFileNameExtensions ExtensionsOfFileName(ci_string_view name) {
  CFileNameExtensions extensions;
  ExtensionOf(name, extensions.whole);
  const size_t cut = name.find_first_of("?#;");
  if (cut != ci_string_view::npos) extensions.hasCut = ExtensionOf(name.substr(0, cut), extensions.cut);
  return extensions;
}
