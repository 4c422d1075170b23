// ASCII case folding for the names the platform layers compare without case
// (registry keys, INI sections and keys, directory attributes). Bytes above
// 127 stay as they are, whatever the process locale.
#pragma once

#include <string>

inline std::string AsciiLower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}
