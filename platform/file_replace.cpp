#include "platform/file_replace.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "platform/file_system.h"
#include "platform/standard_streams.h"

namespace {

// As the system gives up on a chain of links.
constexpr int kMaxLinkHops = 40;
// A file saved where there was none.
constexpr mode_t kNewFileMode = 0600;

HRESULT FromErrno(int err) { return HRESULT_FROM_WIN32(Win32ErrorFromErrno(err)); }

// The file that path finally names, through any symbolic links; a path that
// names nothing (or a dangling link's target) is that name itself.
HRESULT FollowLinks(const std::string& path, std::string* target) {
  std::filesystem::path current(path);
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (lstat(current.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      *target = current.string();
      return S_OK;
    }
    std::error_code ec;
    const std::filesystem::path link = std::filesystem::read_symlink(current, ec);
    if (ec) return FromErrno(ec.value());
    current = link.is_absolute() ? link : current.parent_path() / link;
  }
  return FromErrno(ELOOP);
}

HRESULT SyncFolderOf(const std::string& file) {
  std::string folder = std::filesystem::path(file).parent_path().string();
  if (folder.empty()) folder = ".";
  const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return FromErrno(errno);
  const bool synced = fsync(fd) == 0;
  const int err = errno;
  close(fd);
  return synced ? S_OK : FromErrno(err);
}

// The one temporary file of a save, locked while this save holds it. A save
// that finds it locked waits for the other; one that finds a file a killed
// save left takes it over. Removed on the way out unless it was renamed.
class CSaveTempFile {
 public:
  explicit CSaveTempFile(std::string name) : m_strName(std::move(name)) {}
  CSaveTempFile(const CSaveTempFile&) = delete;
  CSaveTempFile& operator=(const CSaveTempFile&) = delete;
  ~CSaveTempFile() {
    if (m_fd < 0) return;
    if (!m_bRenamed) unlink(m_strName.c_str());
    close(m_fd);  // the lock goes with the descriptor, after the name is gone
  }

  // Creates or takes over the file, locked and empty.
  HRESULT Open() {
    while (true) {
      m_fd = AboveStandardStreams(open(m_strName.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, kNewFileMode));
      if (m_fd < 0) return FromErrno(errno);
      const bool locked = Lock() == 0;
      const int err = errno;
      if (locked && StillNamed()) break;
      // Not ours to remove: unlocked, or renamed or removed meanwhile by the
      // save that held it.
      close(m_fd);
      m_fd = -1;
      if (!locked) return FromErrno(err);
    }
    return ftruncate(m_fd, 0) == 0 ? S_OK : FromErrno(errno);
  }

  // Owner and group first: changing them may clear the set-id bits of the
  // mode. A saver that may not give the file away (not root, the file not
  // its own) saves as it always could, keeping the group where it may.
  HRESULT TakeAttributesOf(const std::string& target) {
    struct stat old {};
    if (stat(target.c_str(), &old) != 0) return fchmod(m_fd, kNewFileMode) == 0 ? S_OK : FromErrno(errno);
    struct stat made {};
    if (fstat(m_fd, &made) != 0) return FromErrno(errno);
    const bool sameOwner = made.st_uid == old.st_uid && made.st_gid == old.st_gid;
    if (!sameOwner && fchown(m_fd, old.st_uid, old.st_gid) != 0) {
      if (errno != EPERM) return FromErrno(errno);
      (void)!fchown(m_fd, static_cast<uid_t>(-1), old.st_gid);
    }
    return fchmod(m_fd, old.st_mode & 07777) == 0 ? S_OK : FromErrno(errno);
  }

  HRESULT Sync() const { return fsync(m_fd) == 0 ? S_OK : FromErrno(errno); }

  HRESULT RenameTo(const std::string& target) {
    if (std::rename(m_strName.c_str(), target.c_str()) != 0) return FromErrno(errno);
    m_bRenamed = true;
    return S_OK;
  }

  const std::string& Name() const { return m_strName; }

 private:
  int Lock() const {
    int result;
    do {
      result = flock(m_fd, LOCK_EX);
    } while (result != 0 && errno == EINTR);
    return result;
  }

  bool StillNamed() const {
    struct stat held {};
    struct stat named {};
    return fstat(m_fd, &held) == 0 && lstat(m_strName.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
           held.st_ino == named.st_ino;
  }

  std::string m_strName;
  int m_fd = -1;
  bool m_bRenamed = false;
};

}  // namespace

HRESULT ReplaceFileContent(const std::string& path, const std::function<HRESULT(const std::string&)>& write) {
  std::string target;
  HRESULT hr = FollowLinks(path, &target);
  if (FAILED(hr)) return hr;
  CSaveTempFile temp(target + kReplaceTempSuffix);
  hr = temp.Open();
  if (SUCCEEDED(hr)) hr = temp.TakeAttributesOf(target);
  if (SUCCEEDED(hr)) hr = write(temp.Name());
  if (SUCCEEDED(hr)) hr = temp.Sync();
  if (SUCCEEDED(hr)) hr = temp.RenameTo(target);
  if (SUCCEEDED(hr)) hr = SyncFolderOf(target);
  return hr;
}
