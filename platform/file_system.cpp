#include "platform/file_system.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "platform/last_error.h"

DWORD Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return ERROR_SUCCESS;
    case ENOENT: return ERROR_PATH_NOT_FOUND;
    case ENOTDIR: return ERROR_PATH_NOT_FOUND;
    case EEXIST: return ERROR_ALREADY_EXISTS;
    case EACCES:
    case EPERM: return ERROR_ACCESS_DENIED;
    case ENAMETOOLONG: return ERROR_FILENAME_EXCED_RANGE;
    case ENOSPC:
    case EDQUOT: return ERROR_DISK_FULL;
    case EROFS: return ERROR_WRITE_PROTECT;
    case ENOMEM: return ERROR_NOT_ENOUGH_MEMORY;
    case EINVAL: return ERROR_INVALID_PARAMETER;
    case EBADF: return ERROR_INVALID_HANDLE;
    default: return ERROR_GEN_FAILURE;
  }
}

bool PathExists(const char* path) {
  struct stat st{};
  return path != nullptr && stat(path, &st) == 0;
}

bool IsDirectory(const char* path) {
  struct stat st{};
  return path != nullptr && stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

BOOL CreateDirectoryA(const char* path, bool ownerAndGroupOnly) {
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (mkdir(path, ownerAndGroupOnly ? 0770 : 0777) == 0) {
    SetLastError(ERROR_SUCCESS);
    return TRUE;
  }
  SetLastError(Win32ErrorFromErrno(errno));
  return FALSE;
}

bool IsOpenToOthers(const char* path) {
  struct stat st{};
  return path != nullptr && stat(path, &st) == 0 && (st.st_mode & S_IRWXO) != 0;
}

namespace {

// Whether the file's folder is one every user may write to, such as /tmp
// (where a log path that is too long goes); its owner when it is.
bool InEveryonesFolder(const char* path, uid_t* folderOwner) {
  std::string folder(path);
  const size_t slash = folder.find_last_of('/');
  folder = slash == std::string::npos ? "." : slash == 0 ? "/" : folder.substr(0, slash);
  struct stat dir{};
  if (stat(folder.c_str(), &dir) != 0) return false;
  *folderOwner = dir.st_uid;
  return (dir.st_mode & S_ISVTX) != 0 && (dir.st_mode & S_IWOTH) != 0;
}

// There a name another user made first, a link or a file, would take the
// lines elsewhere or hand them over: as the kernel's protected_symlinks and
// protected_regular do, such a name is not used.
bool IsAnothersName(const struct stat& entry, uid_t folderOwner) {
  return entry.st_uid != geteuid() && entry.st_uid != folderOwner;
}

}  // namespace

int OpenFileForOwnerAndGroup(const char* path, int flags) {
  uid_t folderOwner = 0;
  const bool everyones = InEveryonesFolder(path, &folderOwner);
  struct stat st{};
  // Looked at before the open as well, so that a truncating open never
  // touches another user's file.
  if (everyones && lstat(path, &st) == 0 && IsAnothersName(st, folderOwner)) {
    errno = EACCES;
    return -1;
  }
  const int fd = ::open(path, flags | O_CREAT | O_CLOEXEC | (everyones ? O_NOFOLLOW : 0), 0660);
  if (fd < 0) return fd;
  if (fstat(fd, &st) != 0 || (everyones && IsAnothersName(st, folderOwner))) {
    ::close(fd);
    errno = EACCES;
    return -1;
  }
  if ((st.st_mode & S_IRWXO) != 0 && st.st_uid == geteuid()) fchmod(fd, st.st_mode & 0770);
  return fd;
}

bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason, int* err, size_t maxBytes) {
  const auto fail = [&](int code, const char* words) {
    if (err != nullptr) *err = code;
    if (reason != nullptr) *reason = words != nullptr ? words : std::strerror(code);
    return false;
  };
  // Formatted without std::to_string, whose digit table would keep the log
  // module, which shares this file, loaded after it is released.
  const auto tooLong = [&] {
    char words[64];
    std::snprintf(words, sizeof words, "it is longer than %zu bytes", maxBytes);
    return fail(EFBIG, words);
  };
  // Not blocking: a pipe in the file's place would hold the caller (and the
  // reload lock) until something writes into it.
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return fail(errno, nullptr);
  struct stat st{};
  if (fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return fail(e, nullptr);
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(fd);
    return fail(EISDIR, "it is a folder, not a file");
  }
  if (!S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(EINVAL, "it is not a regular file (a pipe, a device or a socket)");
  }
  if (static_cast<uint64_t>(st.st_size) > maxBytes) {
    ::close(fd);
    return tooLong();
  }
  bytes->clear();
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      const int e = errno;
      ::close(fd);
      return fail(e, nullptr);
    }
    // Grown since it was looked at: read no further than the limit.
    if (static_cast<size_t>(n) > maxBytes - bytes->size()) {
      ::close(fd);
      return tooLong();
    }
    bytes->append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

CFileStamp StampOfFile(const char* path) {
  CFileStamp stamp;
  struct stat seen {};
  if (path == nullptr || stat(path, &seen) != 0) return stamp;
  stamp.exists = true;
  stamp.device = seen.st_dev;
  stamp.inode = seen.st_ino;
  stamp.size = seen.st_size;
  stamp.modifiedNs = int64_t{seen.st_mtim.tv_sec} * 1000000000 + seen.st_mtim.tv_nsec;
  stamp.changedNs = int64_t{seen.st_ctim.tv_sec} * 1000000000 + seen.st_ctim.tv_nsec;
  return stamp;
}
