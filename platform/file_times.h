// File last-write times and existence, with the Win32 codes the settings
// store logs and returns (a missing file gives ERROR_FILE_NOT_FOUND).
#pragma once

#include <string>

#include "platform/local_time.h"
#include "platform/win_types.h"

// 100-nanosecond intervals since 1601-01-01 UTC, split as on Windows.
struct FILETIME {
  DWORD dwLowDateTime;
  DWORD dwHighDateTime;
};


uint64_t FileTimeToUInt64(const FILETIME& ft);
FILETIME UInt64ToFileTime(uint64_t value);

// The file's last-write time. Returns ERROR_SUCCESS or the Win32 code of the
// failure (also left as the thread's last error).
DWORD GetFileLastWriteTime(const std::string& path, FILETIME* lastWrite);
// What tells one version of a file from another: its modification and
// change times to the nanosecond, its size and its inode. A save within the
// file system's time granularity, a copy renamed over it, a file restored
// with an older time or a change of its permissions all give another
// identity. All zero when unknown.
struct FileIdentity {
  int64_t modifiedNs = 0;
  int64_t changedNs = 0;
  int64_t size = 0;
  uint64_t inode = 0;
  uint64_t device = 0;
  bool operator==(const FileIdentity&) const = default;
};
// The file's identity; ERROR_SUCCESS or the code as for GetFileLastWriteTime.
DWORD GetFileIdentity(const std::string& path, FileIdentity* identity);
// The last-write time an identity carries.
FILETIME FileIdentityWriteTime(const FileIdentity& identity);

// Whether a file-system entry exists at the path (the find-first test).
bool FindFileExists(const std::string& path);
// ERROR_SUCCESS when an entry exists at the path; otherwise why not as a
// Win32 code: ERROR_FILE_NOT_FOUND when nothing is there, the code of what
// stopped the look (a link loop, a folder that cannot be entered) else.
DWORD FindFileError(const std::string& path);

void GetSystemTimeAsFileTime(FILETIME* now);
// -1, 0 or 1 as a is earlier than, equal to or later than b.
LONG CompareFileTime(const FILETIME* a, const FILETIME* b);
// UTC fields of a file time; false for times beyond year 30827.
bool FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st);
