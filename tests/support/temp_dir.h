// A scratch directory for one test, removed with everything in it.
#pragma once

#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class CTempDir {
 public:
  CTempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "hxtest-XXXXXX").string();
    char* made = ::mkdtemp(pattern.data());
    m_path = made != nullptr ? std::string(made) + "/" : std::string();
  }
  ~CTempDir() {
    std::error_code ec;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ec);
  }
  CTempDir(const CTempDir&) = delete;
  CTempDir& operator=(const CTempDir&) = delete;

  // With its trailing separator.
  const std::string& Path() const { return m_path; }

  std::string Write(const std::string& relative, const std::string& text) const {
    const std::filesystem::path full = std::filesystem::path(m_path) / relative;
    std::filesystem::create_directories(full.parent_path());
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out << text;
    return full.string();
  }

 private:
  std::string m_path;
};

// Sets a file's last-write time to a given number of seconds after the epoch,
// so tests decide what "changed" means without sleeping.
inline void SetFileTimeSeconds(const std::string& path, long seconds) {
  struct timeval times[2];
  times[0].tv_sec = seconds;
  times[0].tv_usec = 0;
  times[1] = times[0];
  ::utimes(path.c_str(), times);
}
