#include "settings/settings_paths.h"

namespace {

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

// Drops trailing separators and then the last folder name; false when no
// separator is left in front of it.
bool DropLastFolder(std::string* path) {
  size_t end = path->size();
  while (end > 0 && IsSeparator((*path)[end - 1])) --end;
  if (end == 0) return false;
  size_t pos = end;
  while (pos > 0 && !IsSeparator((*path)[pos - 1])) --pos;
  if (pos == 0) return false;
  path->resize(pos);  // keeps the separator in front of the folder
  return true;
}

}  // namespace

std::string GetCommonSettingsDirectory(const std::string& settingsDirectory) {
  std::string path = settingsDirectory;
  if (!DropLastFolder(&path) || !DropLastFolder(&path)) return settingsDirectory;
  return path + "Common Files/Settings/";
}
