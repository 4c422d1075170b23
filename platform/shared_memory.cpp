#include "platform/shared_memory.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#include <strings.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/standard_streams.h"

namespace {
constexpr mode_t kSectionMode = 0660;

// An object by the name that anyone could have made first in the shared
// /dev/shm: one of another user outside our group, or one open to others
// that we cannot close, would hand the ring's records (or the lock) to them.
std::string WhyNotTrusted(const struct stat& st) {
  const bool ours = st.st_uid == geteuid() || st.st_uid == 0 || st.st_gid == getegid();
  if (!ours) return "it belongs to " + UserText(st.st_uid) + ", a user outside this process's group";
  if ((st.st_mode & S_IRWXO) != 0) return "it is open to every user";
  return {};
}

}  // namespace

bool IsTrustedSectionObject(const struct stat& st) { return WhyNotTrusted(st).empty(); }

std::string ShmNameFromWindowsName(const char* windowsName) {
  std::string rest = windowsName != nullptr ? windowsName : "";
  for (const char* prefix : {"Global\\", "Local\\"}) {
    const size_t n = std::strlen(prefix);
    if (rest.size() >= n && strncasecmp(rest.c_str(), prefix, n) == 0) {
      rest.erase(0, n);
      break;
    }
  }
  for (char& c : rest) {
    if (c == '/' || c == '\\') c = '_';
  }
  std::string name(1, '/');
  name.append(rest.empty() ? std::string("_") : rest);
  return name;
}

std::string ShmPathFromWindowsName(const char* windowsName) {
  return "/dev/shm" + ShmNameFromWindowsName(windowsName);
}

CSharedMemory::~CSharedMemory() { Close(); }

void CSharedMemory::Close() {
  if (m_fd >= 0) {
    ::close(m_fd);
    m_fd = -1;
  }
}

bool CSharedMemory::CreateOrOpen(const char* windowsName, uint64_t size, bool& created) {
  Close();
  created = false;
  const std::string name = ShmNameFromWindowsName(windowsName);
  // Two processes may race to create it: whoever loses the exclusive create
  // opens the winner's object.
  for (int attempt = 0; attempt < 2; ++attempt) {
    // Never at 0, 1 or 2: a server started without standard error would
    // have every write meant for it land in the ring or the lock.
    int fd = AboveStandardStreams(shm_open(name.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0));
    if (fd >= 0) {
      struct stat st{};
      // An object left open to others by its owner is closed where we can.
      if (fstat(fd, &st) == 0 && st.st_uid == geteuid() && (st.st_mode & S_IRWXO) != 0) {
        fchmod(fd, st.st_mode & 0770);
      }
      if (fstat(fd, &st) != 0 || !WhyNotTrusted(st).empty()) {
        ::close(fd);
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
      }
      m_fd = fd;
      return true;
    }
    if (errno != ENOENT) break;
    fd = AboveStandardStreams(shm_open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kSectionMode));
    if (fd < 0) {
      if (errno == EEXIST) continue;
      break;
    }
    // The umask may have taken group rights away; the lock and the ring
    // are meant to be shared by all server processes of the same group.
    if (fchmod(fd, kSectionMode) != 0 || ftruncate(fd, static_cast<off_t>(size)) != 0) {
      const int err = errno;
      ::close(fd);
      shm_unlink(name.c_str());
      SetLastError(Win32ErrorFromErrno(err));
      return false;
    }
    m_fd = fd;
    created = true;
    return true;
  }
  SetLastError(Win32ErrorFromErrno(errno));
  return false;
}

uint64_t CSharedMemory::Size(uint64_t* allocated) const {
  struct stat st{};
  if (allocated != nullptr) *allocated = 0;
  if (m_fd < 0 || fstat(m_fd, &st) != 0 || st.st_size < 0) return 0;
  if (allocated != nullptr && st.st_blocks > 0) *allocated = static_cast<uint64_t>(st.st_blocks) * 512;
  return static_cast<uint64_t>(st.st_size);
}

bool CSharedMemory::Grow(uint64_t size) {
  if (m_fd < 0) return false;
  if (Size() >= size) return true;
  if (ftruncate(m_fd, static_cast<off_t>(size)) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return false;
  }
  return true;
}

bool CSharedMemory::Commit(uint64_t offset, uint64_t length) {
  if (m_fd < 0) return false;
  const int err = posix_fallocate(m_fd, static_cast<off_t>(offset), static_cast<off_t>(length));
  if (err != 0) {
    SetLastError(Win32ErrorFromErrno(err));
    return false;
  }
  return true;
}

uint64_t CSharedMemory::AllocatedBytes() const {
  uint64_t allocated = 0;
  Size(&allocated);
  return allocated;
}

bool CSharedMemory::SpaceOfFileSystem(uint64_t& total, uint64_t& available) const {
  struct statvfs fs{};
  if (m_fd < 0 || fstatvfs(m_fd, &fs) != 0 || fs.f_blocks == 0) return false;
  total = static_cast<uint64_t>(fs.f_blocks) * fs.f_frsize;
  available = static_cast<uint64_t>(fs.f_bavail) * fs.f_frsize;
  return true;
}

bool CSharedMemory::Discard(uint64_t offset, uint64_t length) {
  if (m_fd < 0) return false;
  if (fallocate(m_fd, FALLOC_FL_PUNCH_HOLE | FALLOC_FL_KEEP_SIZE, static_cast<off_t>(offset),
                static_cast<off_t>(length)) != 0) {
    SetLastError(Win32ErrorFromErrno(errno));
    return false;
  }
  return true;
}

void* CSharedMemory::MapView(size_t length) {
  if (m_fd < 0 || length == 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  void* view = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_SHARED, m_fd, 0);
  if (view == MAP_FAILED) {
    SetLastError(Win32ErrorFromErrno(errno));
    return nullptr;
  }
  return view;
}

void CSharedMemory::UnmapView(void* view, size_t length) {
  if (view != nullptr && length != 0) munmap(view, length);
}

size_t CSharedMemory::ReadAt(uint64_t offset, void* data, size_t length) const {
  size_t done = 0;
  while (m_fd >= 0 && done < length) {
    const ssize_t n = pread(m_fd, static_cast<char*>(data) + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<size_t>(n);
  }
  return done;
}

bool CSharedMemory::WriteAt(uint64_t offset, const void* data, size_t length) {
  size_t done = 0;
  while (m_fd >= 0 && done < length) {
    const ssize_t n =
        pwrite(m_fd, static_cast<const char*>(data) + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n < 0) SetLastError(Win32ErrorFromErrno(errno));
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return m_fd >= 0;
}

bool CSharedMemory::Identity(uint64_t& device, uint64_t& inode) const {
  struct stat st{};
  if (m_fd < 0 || fstat(m_fd, &st) != 0) return false;
  device = static_cast<uint64_t>(st.st_dev);
  inode = static_cast<uint64_t>(st.st_ino);
  return true;
}

bool CSharedMemory::IsNamed(const char* windowsName) const {
  struct stat mine{};
  struct stat named{};
  if (m_fd < 0 || fstat(m_fd, &mine) != 0) return false;
  const int fd = shm_open(ShmNameFromWindowsName(windowsName).c_str(), O_RDONLY | O_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool same = fstat(fd, &named) == 0 && named.st_ino == mine.st_ino && named.st_dev == mine.st_dev;
  ::close(fd);
  return same;
}

bool CSharedMemory::Remove(const char* windowsName) {
  return shm_unlink(ShmNameFromWindowsName(windowsName).c_str()) == 0;
}

std::string WhyNamedSectionIsRefused(const char* windowsName) {
  struct stat st{};
  // Looked at as shm_open sees it, which never follows a link.
  if (lstat(ShmPathFromWindowsName(windowsName).c_str(), &st) != 0) return {};
  if (S_ISLNK(st.st_mode)) return "it is a symbolic link, which is not followed";
  if (!S_ISREG(st.st_mode)) return "it is no shared-memory object";
  if (st.st_uid == geteuid()) return {};  // ours: closed to others when opened
  const std::string why = WhyNotTrusted(st);
  if (!why.empty()) return why;
  // Trusted but not ours to open: left by a run as another user of the
  // group, or as root, whose object the group may not write.
  const int fd = shm_open(ShmNameFromWindowsName(windowsName).c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC, 0);
  if (fd >= 0) {
    ::close(fd);
    return {};
  }
  if (errno != EACCES && errno != EPERM) return {};
  char mode[8];
  std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(st.st_mode & 07777));
  return "it belongs to " + UserText(st.st_uid) + " and " + GroupText(st.st_gid) + " with mode " + mode +
         ", so the server's user " + UserText(geteuid()) + " may not open it: permission is denied (left by a run "
         "as that user, a trial run as root?)";
}
