#include "platform/file_replace.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <vector>

#include "platform/file_system.h"

namespace {

HRESULT FromErrno(int err) { return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err)); }

HRESULT SyncFile(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno);
  const bool synced = fsync(fd) == 0;
  const int err = errno;
  close(fd);
  return synced ? S_OK : FromErrno(err);
}

}  // namespace

HRESULT ReplaceFileContent(const std::string& path, const std::function<HRESULT(const std::string&)>& write) {
  std::string pattern = path + ".XXXXXX";
  std::vector<char> name(pattern.begin(), pattern.end());
  name.push_back('\0');
  const int fd = mkstemp(name.data());
  if (fd < 0) return FromErrno(errno);
  struct stat old {};
  // The new file keeps the permissions of the one it replaces.
  if (stat(path.c_str(), &old) == 0) fchmod(fd, old.st_mode & 07777);
  close(fd);
  const std::string temp(name.data());

  HRESULT hr = write(temp);
  if (SUCCEEDED(hr)) hr = SyncFile(temp);
  if (SUCCEEDED(hr) && std::rename(temp.c_str(), path.c_str()) != 0) hr = FromErrno(errno);
  if (FAILED(hr)) std::remove(temp.c_str());
  return hr;
}
