// The whole text of a file, for tests that compare what was written.
#pragma once

#include <fstream>
#include <sstream>
#include <string>

// Empty when the file cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}
