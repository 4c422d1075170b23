#include "platform/file_system.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/limits.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <utility>
#include <vector>

#include "platform/last_error.h"
#include "platform/standard_streams.h"

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
    case ELOOP: return ERROR_CANT_RESOLVE_FILENAME;
    case EIO: return ERROR_IO_DEVICE;
    case EISDIR: return ERROR_DIRECTORY_NOT_SUPPORTED;
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

mode_t SharedWithGroup(const struct stat& made, mode_t mode) {
  // A group taken from a setgid folder may be one the server's user is only
  // a member of: its other members are other users, and a folder they may
  // write to is refused by the module itself.
  if (made.st_gid != getegid() && made.st_gid != 0) mode &= ~static_cast<mode_t>(S_IWGRP);
  return (made.st_mode & S_ISGID) | mode;
}

BOOL CreateDirectoryA(const char* path, bool ownerAndGroupOnly) {
  if (path == nullptr || *path == '\0') {
    SetLastError(ERROR_PATH_NOT_FOUND);
    return FALSE;
  }
  if (mkdir(path, ownerAndGroupOnly ? 0770 : 0777) == 0) {
    // The umask would take the group's rights away, and with them the
    // folder from the other server users of the group.
    struct stat st{};
    if (ownerAndGroupOnly && stat(path, &st) == 0) chmod(path, SharedWithGroup(st, 0770));
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

// As the system gives up on a chain of links.
constexpr int kMaxLinkHops = 40;

bool OursOrRoots(uid_t uid) { return uid == geteuid() || uid == 0; }

}  // namespace

std::string UserText(uid_t uid) {
  struct passwd entry{};
  struct passwd* found = nullptr;
  char buffer[1024];
  // Not std::to_string: its digit table is a unique symbol, which would keep
  // the log module (built from this file too) mapped after it is unloaded.
  char digits[32];
  std::snprintf(digits, sizeof digits, "user %u", static_cast<unsigned>(uid));
  const std::string number = digits;
  if (getpwuid_r(uid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return std::string(found->pw_name) + " (" + number + ")";
  }
  return number;
}

std::string WriteFailureText(int err) {
  switch (err) {
    case ENOSPC:
    case EDQUOT: return std::string("its volume is full (") + std::strerror(err) + ")";
    case EROFS: return "its volume is mounted read-only";
    case EACCES:
    case EPERM: return "permission is denied";
    case EIO: return "its volume reports an input/output error";
    case EPIPE: return "the program reading it went away (broken pipe)";
    default: return std::strerror(err);
  }
}

std::string GroupText(gid_t gid) {
  struct group entry{};
  struct group* found = nullptr;
  char buffer[4096];
  char digits[32];
  std::snprintf(digits, sizeof digits, "%u", static_cast<unsigned>(gid));
  if (getgrgid_r(gid, &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr) {
    return std::string("group ") + found->gr_name + " (" + digits + ")";
  }
  return std::string("group ") + digits;
}

namespace {

bool OursOrRootsGroup(gid_t gid) { return gid == getegid() || gid == 0; }

// What an access ACL grants beyond the owner, read from the bytes of its
// extended attribute (version 2: a 4-byte header, then 8-byte entries of tag,
// permissions and ID, little-endian).
struct AclGrants {
  bool present = false;  // an access ACL beyond the mode bits is there
  bool read = false;     // and could be read
  bool othersWrite = false;
  std::string writer;  // who, in words: "nobody (user 65534)"
};

AclGrants GrantsOfAcl(const unsigned char* bytes, size_t size, const struct stat& st) {
  constexpr uint32_t kVersion = 2;
  // (The entry for others is the mode's, judged before the ACL is read.)
  constexpr uint16_t kUser = 0x02, kGroupObj = 0x04, kGroup = 0x08, kMask = 0x10;
  constexpr uint16_t kWrite = 0x02;
  const auto u16 = [bytes](size_t at) { return static_cast<uint16_t>(bytes[at] | bytes[at + 1] << 8); };
  const auto u32 = [&u16](size_t at) { return static_cast<uint32_t>(u16(at) | static_cast<uint32_t>(u16(at + 2)) << 16); };
  AclGrants grants;
  grants.present = true;
  if (size < 4 || (size - 4) % 8 != 0 || u32(0) != kVersion) return grants;
  grants.read = true;
  uint16_t mask = 0x07;
  for (size_t at = 4; at < size; at += 8) {
    if (u16(at) == kMask) mask = u16(at + 2);
  }
  for (size_t at = 4; at < size; at += 8) {
    const uint16_t tag = u16(at);
    const bool writes = (u16(at + 2) & kWrite) != 0;
    const uint32_t id = u32(at + 4);
    // Entries other than the owner's and others' count only as far as the
    // mask lets them.
    const bool masked = writes && (mask & kWrite) != 0;
    std::string who;
    if (tag == kUser && masked && !OursOrRoots(id)) who = UserText(id);
    if (tag == kGroup && masked && !OursOrRootsGroup(id)) who = GroupText(id);
    if (tag == kGroupObj && masked && !OursOrRootsGroup(st.st_gid)) who = GroupText(st.st_gid);
    if (!who.empty() && !grants.othersWrite) {
      grants.othersWrite = true;
      grants.writer = who;
    }
  }
  return grants;
}

// The folder's access ACL, read through /proc as the descriptor is a path
// descriptor.
AclGrants AccessAclOf(int fd, const struct stat& st) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/self/fd/%d", fd);
  // As large as any attribute may be: a long ACL of entries that write
  // nothing is no reason to refuse the folder.
  std::vector<unsigned char> bytes(XATTR_SIZE_MAX);
  ssize_t n = getxattr(path, "system.posix_acl_access", bytes.data(), bytes.size());
  if (n < 0 && errno == ENOENT) {
    // No /proc: the folder itself, where it may be read.
    const int dirFd = ::openat(fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd >= 0) {
      n = fgetxattr(dirFd, "system.posix_acl_access", bytes.data(), bytes.size());
      ::close(dirFd);
    }
  }
  if (n < 0 && (errno == ENODATA || errno == ENOTSUP)) return {};
  if (n < 0) {
    AclGrants unread;
    unread.present = true;
    return unread;
  }
  return GrantsOfAcl(bytes.data(), static_cast<size_t>(n), st);
}

// Users other than this process's user, root and the members of its group
// may make, rename or remove names in the folder: by its mode bits, or by an
// entry of its access ACL (with an ACL the group bits are its mask, so the
// entries decide). fd is the entry's descriptor; an ACL that is there but
// cannot be read counts as one that lets them.
bool OthersMayWrite(const struct stat& st, int fd, std::string* byAcl = nullptr) {
  if ((st.st_mode & S_IWOTH) != 0) return true;
  if ((st.st_mode & S_IWGRP) == 0) return false;
  const AclGrants acl = AccessAclOf(fd, st);
  if (!acl.present) {
    if (OursOrRootsGroup(st.st_gid)) return false;
    // A group the server's user is only a member of counts as others: its
    // other members are other users.
    if (byAcl != nullptr) *byAcl = "its " + GroupText(st.st_gid) + ", not the server's own, lets its members write to it";
    return true;
  }
  if (byAcl != nullptr) {
    *byAcl = acl.read ? "its ACL lets " + acl.writer + " write to it" : "its ACL cannot be read";
  }
  return !acl.read || acl.othersWrite;
}

std::string WhyFolderNotTrusted(const std::string& name, const struct stat& st, int fd) {
  if (!OursOrRoots(st.st_uid)) {
    return name + " belongs to " + UserText(st.st_uid) + ", not to the server's user or root";
  }
  std::string byAcl;
  if (OthersMayWrite(st, fd, &byAcl) && (st.st_mode & S_ISVTX) == 0) {
    if (!byAcl.empty()) return name + " may be written to by other users (" + byAcl + ") and is not sticky";
    return name + " may be written to by other users and is not sticky";
  }
  return {};
}

// A folder just made under a default ACL has the entries it names, and
// would hand them on to every level made below: the folder is closed to
// them, as a file made there is (its group keeps what the mask gave it).
void ForOwnerAndGroupOnly(int parentFd, const std::string& name) {
  const int fd = ::openat(parentFd, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return;
  fremovexattr(fd, "system.posix_acl_default");
  fremovexattr(fd, "system.posix_acl_access");
  // Open to the group whatever the umask: every server user of the group
  // writes its log there. A setgid bit it took from its parent stays.
  struct stat st{};
  if (fstat(fd, &st) == 0) fchmod(fd, SharedWithGroup(st, 0770));
  ::close(fd);
}

std::string Absolute(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  char cwd[PATH_MAX];
  if (getcwd(cwd, sizeof cwd) == nullptr) return path;
  return std::string(cwd) + "/" + path;
}

std::string Joined(const std::vector<std::string>& names) {
  std::string text;
  for (const std::string& name : names) text += "/" + name;
  return text.empty() ? "/" : text;
}

// A folder walked from the root one name at a time, each opened without
// following a link and judged before the next is looked up in it, so that
// nothing another user changes between the check and the use counts.
struct CheckedFolder {
  CheckedFolder() = default;
  CheckedFolder(const CheckedFolder&) = delete;
  CheckedFolder& operator=(const CheckedFolder&) = delete;
  ~CheckedFolder() {
    if (fd >= 0) ::close(fd);
  }
  bool Fail(int code, std::string words) {
    if (fd >= 0) ::close(fd);
    fd = -1;
    err = code;
    why = std::move(words);
    return false;
  }

  int fd = -1;
  struct stat st{};
  bool missing = false;
  int err = 0;
  std::string why;
};

// With make, a missing level is made (for owner and group only) in the
// level above it, through that level's checked descriptor, and then judged
// as any other: no name another user swaps in between is followed.
bool Walk(const std::string& folder, CheckedFolder& out, bool make = false) {
  std::deque<std::string> rest;
  const auto queue = [&rest](const std::string& path) {
    std::deque<std::string> names;
    for (size_t at = 0; at <= path.size();) {
      const size_t slash = std::min(path.find('/', at), path.size());
      if (slash > at) names.push_back(path.substr(at, slash - at));
      at = slash + 1;
    }
    rest.insert(rest.begin(), names.begin(), names.end());
  };
  const auto fromRoot = [&out](std::vector<std::string>& walked) {
    if (out.fd >= 0) ::close(out.fd);
    walked.clear();
    out.fd = ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (out.fd < 0 || fstat(out.fd, &out.st) != 0) return out.Fail(errno, std::string("/: ") + std::strerror(errno));
    const std::string why = WhyFolderNotTrusted("/", out.st, out.fd);
    return why.empty() || out.Fail(EACCES, why);
  };
  std::vector<std::string> walked;
  if (!fromRoot(walked)) return false;
  queue(Absolute(folder));
  int hops = 0;
  while (!rest.empty()) {
    const std::string name = rest.front();
    rest.pop_front();
    if (name == ".") continue;
    const int next = ::openat(out.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    std::vector<std::string> nextWalked = walked;
    if (name == "..") {
      if (!nextWalked.empty()) nextWalked.pop_back();
    } else {
      nextWalked.push_back(name);
    }
    const std::string shown = Joined(nextWalked);
    if (next < 0) {
      if (errno == ENOENT && make && name != "..") {
        // Made here, or by someone else just now: either way opened again
        // and judged; a name that keeps vanishing ends as a loop would.
        const bool made = mkdirat(out.fd, name.c_str(), 0770) == 0;
        const int e = made ? EEXIST : errno;
        if (made) ForOwnerAndGroupOnly(out.fd, name);
        if (e == EEXIST && ++hops <= kMaxLinkHops) {
          rest.push_front(name);
          continue;
        }
        out.missing = true;
        return out.Fail(e == EEXIST ? ELOOP : e, shown + ": " + std::strerror(e));
      }
      if (errno == ENOENT) {
        out.missing = true;
        return out.Fail(ENOENT, shown + " does not exist");
      }
      return out.Fail(errno, shown + ": " + std::strerror(errno));
    }
    struct stat st{};
    if (fstat(next, &st) != 0) {
      const int e = errno;
      ::close(next);
      return out.Fail(e, shown + ": " + std::strerror(e));
    }
    if (S_ISLNK(st.st_mode)) {
      ::close(next);
      // A link is followed when no other user could have put it there (or,
      // in a sticky folder, it is ours or root's, which they cannot replace);
      // in a folder our group may write to, one another member put would
      // lead our writes where they choose.
      if (((out.st.st_mode & S_IWGRP) != 0 || OthersMayWrite(out.st, out.fd)) && !OursOrRoots(st.st_uid)) {
        return out.Fail(EACCES, shown + " is a link of " + UserText(st.st_uid) + " in " + Joined(walked) +
                                    ", which other users may write to");
      }
      char target[PATH_MAX];
      const ssize_t n = readlinkat(out.fd, name.c_str(), target, sizeof target - 1);
      if (n <= 0 || ++hops > kMaxLinkHops) return out.Fail(ELOOP, shown + ": " + std::strerror(ELOOP));
      target[n] = '\0';
      if (target[0] == '/' && !fromRoot(walked)) return false;
      queue(target);
      continue;
    }
    if (!S_ISDIR(st.st_mode)) {
      // No folder can be made there: that is said where it is made.
      ::close(next);
      out.missing = true;
      return out.Fail(ENOTDIR, shown + " is not a folder");
    }
    const std::string why = WhyFolderNotTrusted(shown, st, next);
    ::close(out.fd);
    out.fd = next;
    out.st = st;
    walked = std::move(nextWalked);
    if (!why.empty()) return out.Fail(EACCES, why);
  }
  return true;
}

int Refuse(int code, const std::string& why, std::string* refusal) {
  if (refusal != nullptr) *refusal = why;
  errno = code;
  return -1;
}

// Why the entry opened under the log's name is not written to.
std::string WhyFileNotUsed(const std::string& path, const struct stat& file, const struct stat& folder,
                           int folderFd) {
  if (!S_ISREG(file.st_mode)) return path + " is not a regular file";
  // Another name of the same file may be one another user made for it.
  if (file.st_nlink > 1) return path + " has more than one name (a hard link)";
  // As the kernel's protected_regular: in a folder others may write to, a
  // file another user put first would hand them the lines.
  if (OthersMayWrite(folder, folderFd) && file.st_uid != geteuid() && file.st_uid != folder.st_uid) {
    return path + " belongs to " + UserText(file.st_uid) + ", in a folder other users may write to";
  }
  return {};
}

void SplitPath(const char* path, std::string* folder, std::string* name) {
  const std::string full = Absolute(path);
  const size_t slash = full.find_last_of('/');
  *folder = slash == 0 ? "/" : full.substr(0, slash);
  *name = full.substr(slash + 1);
}

}  // namespace

std::string WhyFolderIsUnsafe(const std::string& folder, bool* missing, int* err) {
  CheckedFolder checked;
  if (missing != nullptr) *missing = false;
  if (err != nullptr) *err = 0;
  if (Walk(folder, checked)) return {};
  if (err != nullptr) *err = checked.err;
  if (checked.missing) {
    if (missing != nullptr) *missing = true;
    return {};
  }
  return checked.why;
}

int MakeFolderForOwnerAndGroup(const std::string& folder, std::string* refusal, std::string* failure) {
  if (refusal != nullptr) refusal->clear();
  if (failure != nullptr) failure->clear();
  CheckedFolder checked;
  if (Walk(folder, checked, true)) return 0;
  if (refusal != nullptr && !checked.missing) *refusal = checked.why;
  if (failure != nullptr && checked.missing) *failure = checked.why;
  return checked.err != 0 ? checked.err : EIO;
}

int OpenFileForOwnerAndGroup(const char* path, int flags, std::string* refusal) {
  if (refusal != nullptr) refusal->clear();
  if (path == nullptr || *path == '\0') return Refuse(ENOENT, {}, nullptr);
  std::string folderPath;
  std::string name;
  SplitPath(path, &folderPath, &name);
  if (name.empty() || name == "." || name == "..") return Refuse(EISDIR, {}, nullptr);
  CheckedFolder folder;
  if (!Walk(folderPath, folder)) return Refuse(folder.err, folder.missing ? std::string() : folder.why, refusal);

  // Never truncated, created past a link or blocked on a pipe before the
  // checks below have passed.
  const int base = (flags & ~(O_TRUNC | O_CREAT | O_EXCL)) | O_NOFOLLOW | O_NOCTTY | O_NONBLOCK | O_CLOEXEC;
  int fd = ::openat(folder.fd, name.c_str(), base);
  bool made = false;
  if (fd < 0 && errno == ENOENT) {
    fd = ::openat(folder.fd, name.c_str(), base | O_CREAT | O_EXCL, 0660);
    made = fd >= 0;
    // Someone else made it in between: it is judged as found.
    if (fd < 0 && errno == EEXIST) fd = ::openat(folder.fd, name.c_str(), base);
  }
  fd = AboveStandardStreams(fd);
  const std::string shown = folderPath == "/" ? "/" + name : folderPath + "/" + name;
  if (fd < 0) {
    const int e = errno;
    if (e == ELOOP) return Refuse(EACCES, shown + " is a link, which is not followed", refusal);
    if (e == EACCES || e == EPERM) {
      // Whose it is and what it lets: a file or folder left by a run as
      // another user (a trial as root) is the usual cause.
      struct stat there{};
      const bool fileSeen = fstatat(folder.fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0;
      if (!fileSeen) there = folder.st;
      char mode[8];
      std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(there.st_mode & 07777));
      return Refuse(e,
                    shown + " cannot be opened for writing: permission is denied, as " +
                        (fileSeen ? std::string("it") : "its folder " + folderPath) + " belongs to " +
                        UserText(there.st_uid) + " and " + GroupText(there.st_gid) + " with mode " + mode +
                        ", and the server runs as " + UserText(geteuid()) + " of " + GroupText(getegid()) +
                        " (left by a run as another user, or by an older version under a umask?); " +
                        (there.st_gid == getegid() && (there.st_mode & S_IWGRP) == 0
                             ? "let the group write to it (chmod g+w), or remove it"
                             : "give it to the server's user (chown), or remove it"),
                    refusal);
    }
    // A pipe with no reader, a socket or a device without its driver gives
    // ENXIO: none is a log file, whoever comes to read it later.
    struct stat there{};
    if (e == ENXIO && fstatat(folder.fd, name.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && !S_ISREG(there.st_mode)) {
      return Refuse(EACCES, shown + " is not a regular file", refusal);
    }
    if (e == EROFS || e == ENOSPC || e == EDQUOT || e == EIO) {
      return Refuse(e, shown + " cannot be opened for writing, as " + WriteFailureText(e), refusal);
    }
    return -1;
  }
  struct stat st{};
  if (fstat(fd, &st) != 0) {
    const int e = errno;
    ::close(fd);
    return Refuse(e, {}, nullptr);
  }
  if (made) {
    // The umask would take the group's rights away: the other server users
    // of the group write into the same file.
    const mode_t mode = SharedWithGroup(st, 0660);
    if (fchmod(fd, mode) == 0) st.st_mode = (st.st_mode & S_IFMT) | mode;
  }
  const std::string why = WhyFileNotUsed(shown, st, folder.st, folder.fd);
  if (!why.empty()) {
    ::close(fd);
    return Refuse(EACCES, why, refusal);
  }
  if ((flags & O_NONBLOCK) == 0) fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if ((flags & O_TRUNC) != 0 && ftruncate(fd, 0) != 0) {
    const int e = errno;
    ::close(fd);
    return Refuse(e, {}, nullptr);
  }
  if (st.st_uid == geteuid()) {
    // An ACL the folder's default gave the file (or one left on it) would
    // let the users it names read the lines: it goes, as mode bits for
    // others do.
    const bool hadAcl = fremovexattr(fd, "system.posix_acl_access") == 0;
    if (hadAcl || (st.st_mode & S_IRWXO) != 0) fchmod(fd, st.st_mode & 0770);
  }
  return fd;
}

std::string FromWorkingFolder(const std::string& path) {
  if (path.empty() || path[0] == '/') return {};
  return Absolute(path);
}

bool OthersMayWriteEntry(const std::string& path, const struct stat& st, std::string* byAcl) {
  if (S_ISLNK(st.st_mode)) return false;
  const int fd = ::open(path.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
  // Not there to be looked at again: judged by its mode bits alone.
  if (fd < 0) return (st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && !OursOrRootsGroup(st.st_gid));
  const bool may = OthersMayWrite(st, fd, byAcl);
  ::close(fd);
  return may;
}

std::string WhyOthersMayChange(const std::string& path) {
  std::string current = path;
  for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
    std::string folderPath;
    std::string name;
    SplitPath(current.c_str(), &folderPath, &name);
    CheckedFolder folder;
    if (!Walk(folderPath, folder)) return folder.missing ? std::string() : folder.why;
    const int fd = ::openat(folder.fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
    struct stat st{};
    if (fd < 0 || fstat(fd, &st) != 0) {
      if (fd >= 0) ::close(fd);
      return {};
    }
    const std::string shown = folderPath == "/" ? "/" + name : folderPath + "/" + name;
    std::string why;
    std::string byAcl;
    if (!OursOrRoots(st.st_uid)) {
      why = shown + " belongs to " + UserText(st.st_uid) + ", not to the server's user or root";
    } else if (S_ISREG(st.st_mode) && OthersMayWrite(st, fd, &byAcl)) {
      why = shown + " may be written to by other users" + (byAcl.empty() ? "" : " (" + byAcl + ")");
    }
    ::close(fd);
    if (!why.empty() || !S_ISLNK(st.st_mode)) return why;
    // A link of ours or root's in a folder that passed: where it leads is
    // judged in turn.
    char target[PATH_MAX];
    const ssize_t n = readlinkat(folder.fd, name.c_str(), target, sizeof target - 1);
    if (n <= 0) return {};
    target[n] = '\0';
    current = target[0] == '/' ? std::string(target) : folderPath + "/" + target;
  }
  return {};
}

bool KeepAsPreviousFile(const char* path, std::string* refusal) {
  if (refusal != nullptr) refusal->clear();
  if (path == nullptr || *path == '\0') return false;
  std::string folderPath;
  std::string name;
  SplitPath(path, &folderPath, &name);
  CheckedFolder folder;
  if (!Walk(folderPath, folder)) {
    if (refusal != nullptr && !folder.missing) *refusal = folder.why;
    return false;
  }
  // Names are replaced, never followed: a link under the previous file's
  // name is itself what goes.
  if (::renameat(folder.fd, name.c_str(), folder.fd, (name + ".1").c_str()) == 0) return true;
  if (refusal != nullptr && errno != ENOENT) {
    *refusal = std::string(path) + ".1 cannot be replaced: " + std::strerror(errno);
  }
  return false;
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
  const int fd = AboveStandardStreams(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
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
