// The file-system calls the module makes, with Win32 error codes in the
// thread's last error.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/win_types.h"

constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_WRITE_PROTECT = 19;

// The Win32 code that stands for an errno value.
DWORD Win32ErrorFromErrno(int err);

// Whether anything (file or directory) exists at the path.
bool PathExists(const char* path);
bool IsDirectory(const char* path);

// Creates one directory (owner, group and others as the umask allows; with
// ownerAndGroupOnly, nobody else). An existing entry of that name fails with
// error 183, a missing parent with 3.
BOOL CreateDirectoryA(const char* path, bool ownerAndGroupOnly = false);

// Whether the path exists and every user may read, write or enter it.
bool IsOpenToOthers(const char* path);

// Opens (creating when missing) a file the module writes lines into, a log
// or the event file, for its owner and group only whatever the umask: one
// of ours an older version left open to others (0644) is closed to them
// first, as it is about to hold what users did. In a folder every user may
// write to (/tmp), a link or file another user put under the name first is
// refused (EACCES). flags as open(2) takes them; -1 with errno on failure.
int OpenFileForOwnerAndGroup(const char* path, int flags);

// Reads a whole settings file. False, with the reason in words an
// administrator acts on ("it is a folder, not a file", "Permission denied"),
// when the path is no regular file that can be read to its end; the errno
// is left in err when given. A file longer than maxBytes is refused as well
// (EFBIG), without reading more than that.
bool ReadWholeFile(const std::string& path, std::string* bytes, std::string* reason, int* err = nullptr,
                   size_t maxBytes = static_cast<size_t>(-1));

// What tells one content of a file from another without reading it: a file
// written anew, in place or replaced, differs in at least one.
struct CFileStamp {
  bool exists = false;
  dev_t device = 0;
  ino_t inode = 0;
  off_t size = 0;
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;

  bool operator==(const CFileStamp&) const = default;
};

// The stamp of `path` now (not existing for null or a file that cannot be
// looked at); a stat, never a read.
CFileStamp StampOfFile(const char* path);
