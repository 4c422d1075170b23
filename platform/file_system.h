// The file-system calls the module makes, with Win32 error codes in the
// thread's last error.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "platform/win_types.h"

constexpr DWORD ERROR_DISK_FULL = 112;
constexpr DWORD ERROR_WRITE_PROTECT = 19;
constexpr DWORD ERROR_DIRECTORY_NOT_SUPPORTED = 336;
constexpr DWORD ERROR_IO_DEVICE = 1117;
constexpr DWORD ERROR_CANT_RESOLVE_FILENAME = 1921;

// The Win32 code that stands for an errno value.
DWORD Win32ErrorFromErrno(int err);

// Whether anything (file or directory) exists at the path.
bool PathExists(const char* path);
bool IsDirectory(const char* path);

// Creates one directory (owner, group and others as the umask allows; with
// ownerAndGroupOnly, nobody else). An existing entry of that name fails with
// error 183, a missing parent with 3.
BOOL CreateDirectoryA(const char* path, bool ownerAndGroupOnly = false);
// The mode for a file or folder the module just made for its owner and
// group: mode with the setgid bit it took from its folder, without the
// group's write when its group is not the server's own (or root's).
mode_t SharedWithGroup(const struct stat& made, mode_t mode);

// A user as messages name one: "nobody (user 65534)", or "user 54321"
// without an account.
std::string UserText(uid_t uid);
// A group as messages name one: "group staff (50)", or "group 54321".
std::string GroupText(gid_t gid);

// Why a file cannot be written, for an errno of its open or write, in words
// an administrator acts on: "its volume is full (No space left on device)",
// "its volume is mounted read-only".
std::string WriteFailureText(int err);

// Whether the path exists and every user may read, write or enter it.
bool IsOpenToOthers(const char* path);

// Why the module must not write its files (logs, the event file) into the
// folder, in words that name the folder at fault and its owner; empty when it
// may. Every folder on the way must belong to this process's user or root;
// one that users outside the process's group may write to, by its mode bits
// or by an entry of its ACL, must be sticky (so
// that what we own there stays ours), and a link is followed only where none
// of them could have put it. The folder itself may be such a sticky folder
// (/tmp): a file there is then used only when it is ours. A folder that is
// not there yet is judged by the nearest one above it that is (so it is made
// only where it may be used), and missing is then set. err, when given,
// gets the errno of a refusal: EACCES for what other users control, another
// for a folder that cannot be looked at (a loop of links).
std::string WhyFolderIsUnsafe(const std::string& folder, bool* missing = nullptr, int* err = nullptr);

// Makes the folder with its missing levels, for owner and group only, each
// level made in the one above it as that one was judged by
// WhyFolderIsUnsafe, so that no name another user puts there in between is
// followed. 0 when the folder is there and may be used; otherwise the errno,
// with the reason in refusal when the folder (or one on the way) is refused,
// or in failure when it cannot be made (naming the level at fault: "/srv/x
// is not a folder").
int MakeFolderForOwnerAndGroup(const std::string& folder, std::string* refusal = nullptr,
                               std::string* failure = nullptr);

// Opens (creating when missing) a file the module writes lines into, a log
// or the event file, for its owner and group only whatever the umask: one
// of ours an older version left open to others (0644) is closed to them
// first, as it is about to hold what users did; one it makes is open to the
// group (0660) whatever the umask. The folder must pass
// WhyFolderIsUnsafe, the name is never followed as a link, and what stands
// there must be a regular file of one name; in a folder every user may write
// to, also one of ours (or the folder owner's). Anything else is refused
// with EACCES and the reason in refusal, before any byte is changed: O_TRUNC
// empties the file only once it passed. An open the system refuses for a reason
// an administrator must act on (a full or read-only volume, an input/output
// error, a file or folder of another user, a pipe nobody reads) gives it in
// refusal as well. flags
// as open(2) takes them; -1 with errno on failure. The descriptor is never
// 0, 1 or 2.
int OpenFileForOwnerAndGroup(const char* path, int flags, std::string* refusal = nullptr);

// Where a path that does not start at "/" leads, taken from the process's
// working folder ("C:\Temp", typed as on Windows, is a name there); empty
// for a full path.
std::string FromWorkingFolder(const std::string& path);

// Whether users other than this process's, root and its group may write to
// the entry at path, whose lstat is st, by its mode bits or an entry of its
// ACL (then named in byAcl); a link itself never is.
bool OthersMayWriteEntry(const std::string& path, const struct stat& st, std::string* byAcl = nullptr);

// Why users other than this process's, root and its group may change the
// file at path (a settings file: whoever writes it decides what the module
// lets through), in words naming the file or the folder at fault; empty when
// they cannot, or when it is not there. Links are followed, each judged as
// WhyFolderIsUnsafe judges them.
std::string WhyOthersMayChange(const std::string& path);

// Moves the file at path aside as <path>.1, in place of the one before, in a
// folder that passes WhyFolderIsUnsafe. False (the reason in refusal when the
// folder was refused or <path>.1 cannot be replaced, a folder of that name
// for one) when it stays where it is.
bool KeepAsPreviousFile(const char* path, std::string* refusal = nullptr);

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
