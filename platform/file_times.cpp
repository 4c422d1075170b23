#include "platform/file_times.h"

#include <sys/stat.h>

#include <cerrno>
#include <ctime>

#include "platform/file_system.h"
#include "platform/last_error.h"

namespace {
// Seconds from 1601-01-01 to 1970-01-01.
constexpr uint64_t kEpochDelta = 11644473600ull;
constexpr uint64_t kTicksPerSecond = 10000000ull;
// A failed stat of a file: a missing file is "file not found" (a missing
// folder on the way is sorted out by the caller).
DWORD FileErrorFromErrno(int err) {
  return err == ENOENT ? ERROR_FILE_NOT_FOUND : Win32ErrorFromErrno(err);
}

}  // namespace

uint64_t FileTimeToUInt64(const FILETIME& ft) {
  return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

FILETIME UInt64ToFileTime(uint64_t value) {
  return FILETIME{static_cast<DWORD>(value & 0xFFFFFFFFu), static_cast<DWORD>(value >> 32)};
}

namespace {

// stat() with the Win32 code of a failure (also left as the last error).
DWORD StatFile(const std::string& path, struct stat* st) {
  if (path.empty() || ::stat(path.c_str(), st) != 0) {
    DWORD err = path.empty() ? ERROR_PATH_NOT_FOUND : FileErrorFromErrno(errno);
    if (err == ERROR_FILE_NOT_FOUND) {
      // As on Windows, a missing folder on the way is a missing path.
      const size_t slash = path.find_last_of('/');
      struct stat dir {};
      if (slash != std::string::npos && slash > 0 &&
          (::stat(path.substr(0, slash).c_str(), &dir) != 0 || !S_ISDIR(dir.st_mode))) {
        err = ERROR_PATH_NOT_FOUND;
      }
    }
    SetLastError(err);
    return err;
  }
  if (st->st_mtim.tv_sec < -static_cast<int64_t>(kEpochDelta)) {
    SetLastError(ERROR_INVALID_DATA);
    return ERROR_INVALID_DATA;
  }
  return ERROR_SUCCESS;
}

int64_t Nanoseconds(const timespec& t) { return static_cast<int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec; }

}  // namespace

DWORD GetFileLastWriteTime(const std::string& path, FILETIME* lastWrite) {
  FileIdentity identity;
  const DWORD err = GetFileIdentity(path, &identity);
  if (err == ERROR_SUCCESS && lastWrite != nullptr) *lastWrite = FileIdentityWriteTime(identity);
  return err;
}

DWORD GetFileIdentity(const std::string& path, FileIdentity* identity) {
  struct stat st {};
  const DWORD err = StatFile(path, &st);
  if (err != ERROR_SUCCESS) return err;
  if (identity != nullptr) {
    *identity = FileIdentity{Nanoseconds(st.st_mtim), Nanoseconds(st.st_ctim), static_cast<int64_t>(st.st_size),
                             static_cast<uint64_t>(st.st_ino), static_cast<uint64_t>(st.st_dev)};
  }
  return ERROR_SUCCESS;
}

FILETIME FileIdentityWriteTime(const FileIdentity& identity) {
  int64_t seconds = identity.modifiedNs / 1000000000;
  int64_t rest = identity.modifiedNs % 1000000000;
  if (rest < 0) {  // before 1970: the seconds round down
    rest += 1000000000;
    --seconds;
  }
  const uint64_t ticks = static_cast<uint64_t>(seconds + static_cast<int64_t>(kEpochDelta)) * kTicksPerSecond +
                         static_cast<uint64_t>(rest) / 100u;
  return UInt64ToFileTime(ticks);
}

bool FindFileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

DWORD FindFileError(const std::string& path) {
  struct stat st {};
  if (path.empty()) return ERROR_FILE_NOT_FOUND;
  if (::stat(path.c_str(), &st) == 0) return ERROR_SUCCESS;
  return FileErrorFromErrno(errno);
}

// The system time at the clock tick's resolution, a few milliseconds, as the
// callers' minute-scale reload checks expect of it; the coarse clock is read
// without asking the clock source, and every request reads it twice.
void GetSystemTimeAsFileTime(FILETIME* now) {
  timespec ts{};
  clock_gettime(CLOCK_REALTIME_COARSE, &ts);
  const uint64_t ticks = static_cast<uint64_t>(ts.tv_sec + static_cast<int64_t>(kEpochDelta)) * kTicksPerSecond +
                         static_cast<uint64_t>(ts.tv_nsec) / 100u;
  *now = UInt64ToFileTime(ticks);
}

LONG CompareFileTime(const FILETIME* a, const FILETIME* b) {
  const uint64_t x = FileTimeToUInt64(*a);
  const uint64_t y = FileTimeToUInt64(*b);
  return x < y ? -1 : (x > y ? 1 : 0);
}

bool FileTimeToSystemTime(const FILETIME* ft, SYSTEMTIME* st) {
  const uint64_t ticks = FileTimeToUInt64(*ft);
  if (ticks >= 0x8000000000000000ull) return false;
  const int64_t secs = static_cast<int64_t>(ticks / kTicksPerSecond) - static_cast<int64_t>(kEpochDelta);
  const time_t t = static_cast<time_t>(secs);
  tm parts{};
  if (gmtime_r(&t, &parts) == nullptr || parts.tm_year + 1900 > 30827) return false;
  st->wYear = static_cast<WORD>(parts.tm_year + 1900);
  st->wMonth = static_cast<WORD>(parts.tm_mon + 1);
  st->wDayOfWeek = static_cast<WORD>(parts.tm_wday);
  st->wDay = static_cast<WORD>(parts.tm_mday);
  st->wHour = static_cast<WORD>(parts.tm_hour);
  st->wMinute = static_cast<WORD>(parts.tm_min);
  st->wSecond = static_cast<WORD>(parts.tm_sec);
  st->wMilliseconds = static_cast<WORD>((ticks % kTicksPerSecond) / 10000u);
  return true;
}
