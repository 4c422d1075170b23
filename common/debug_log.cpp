// The writer, the process-wide state with its setters, the append-only file
// sink and the write-out at exit.
#include "common/debug_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "common/crit_sec.h"
#include "common/debug_log_state.h"
#include "common/event_log.h"
#include "common/file_utils.h"
#include "common/log_stops.h"
#include "common/secret_text.h"
#include "platform/file_system.h"
#include "platform/local_time.h"
#include "platform/module_path.h"
#include "platform/shared_memory.h"
#include "platform/system_messages.h"

namespace debug_log_detail {

std::atomic<DWORD> g_logMode{LOG_MODE_OFF};
std::atomic<CSync*> g_sinkLock{nullptr};

namespace {
std::atomic<LogSinkFn> g_sink{&FileLogSink};
std::atomic<LogClockFn> g_clock{nullptr};

int32_t Clamp32(int64_t v) {
  return static_cast<int32_t>(std::clamp<int64_t>(v, 0, INT32_MAX));
}

void Now(SYSTEMTIME* st) {
  LogClockFn clock = g_clock.load(std::memory_order_acquire);
  if (clock != nullptr) {
    clock(st);
  } else {
    GetLocalTime(st);
  }
}
}  // namespace

LogState& State() {
  alignas(LogState) static unsigned char storage[sizeof(LogState)];
  static LogState* state = [] {
    auto* s = new (storage) LogState();
    std::snprintf(s->logFilePath, sizeof(s->logFilePath), "%s", kDefaultLogFilePath);
    return s;
  }();
  return *state;
}

size_t FormatTimePrefix(char (&prefix)[258]) {
  SYSTEMTIME st{};
  Now(&st);
  int n = std::snprintf(prefix, sizeof(prefix), "\r\n%04u/%02u/%02u %02u:%02u:%02u.%03u %4X ",
                        unsigned{st.wYear}, unsigned{st.wMonth}, unsigned{st.wDay},
                        unsigned{st.wHour}, unsigned{st.wMinute}, unsigned{st.wSecond},
                        unsigned{st.wMilliseconds}, unsigned{GetCurrentThreadId()});
  if (n < 0) return 0;
  return std::min<size_t>(static_cast<size_t>(n), sizeof(prefix) - 1);
}

std::string CTimeText() {
  static const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                        "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  SYSTEMTIME st{};
  Now(&st);
  char buf[64];
  std::snprintf(buf, sizeof(buf), "%s %s %2u %02u:%02u:%02u %u\n", kDays[st.wDayOfWeek % 7],
                kMonths[(st.wMonth + 11) % 12], unsigned{st.wDay}, unsigned{st.wHour},
                unsigned{st.wMinute}, unsigned{st.wSecond}, unsigned{st.wYear});
  return buf;
}

int OpenLogFile(LogState& s, int flags) {
  std::string refusal;
  const int fd = OpenFileForOwnerAndGroup(s.logFilePath, flags, &refusal);
  if (fd >= 0) {
    s.refusedFile.clear();
  } else if (!refusal.empty() || (errno != ENOENT && errno != ENOTDIR)) {
    // A missing file or folder is made again by the caller; anything else
    // stops the log until it passes.
    const int err = errno;
    NoteLogStopped(s.logFilePath, refusal.empty() ? WriteFailureText(err) : refusal,
                   s.refusedFile == s.logFilePath);
    s.refusedFile = s.logFilePath;
    errno = err;
  }
  return fd;
}

int OpenLogFileAgain(LogState& s, int flags, bool hadFile) {
  struct stat named{};
  const bool gone = hadFile && lstat(s.logFilePath, &named) != 0 && (errno == ENOENT || errno == ENOTDIR);
  int fd = OpenLogFile(s, flags);
  const int err = errno;
  const std::string path = s.logFilePath;
  const size_t slash = path.find_last_of('/');
  std::string folder;
  const auto now = std::chrono::steady_clock::now();
  if (fd < 0 && (err == ENOENT || err == ENOTDIR) && slash != std::string::npos && slash > 0 &&
      now - s.folderFailedAt >= std::chrono::seconds(1)) {
    std::string refusal;
    // A file where a folder of the path was cannot be made a folder.
    const int made = err == ENOENT ? MakeFolderForOwnerAndGroup(path.substr(0, slash), &refusal) : err;
    if (made == 0) {
      folder = path.substr(0, slash);
      fd = OpenLogFile(s, flags);
    } else {
      s.folderFailedAt = now;
      if (refusal.empty() && hadFile && s.refusedFile != path) {
        s.refusedFile = path;
        LogEventF(EVENTLOG_WARNING_TYPE,
                  "The debug log file %s went away while the module ran and cannot be made again: its folder %s "
                  "cannot be made (%s). Nothing is written there until it can be. Said once.",
                  path.c_str(), path.substr(0, slash).c_str(), std::strerror(made));
      }
    }
    if (!refusal.empty() && s.refusedFile != path) {
      s.refusedFile = path;
      LogEventF(EVENTLOG_WARNING_TYPE, "The debug log file %s is not written: %s.", path.c_str(), refusal.c_str());
    }
  }
  if (fd >= 0 && gone && s.remadeFile != path) {
    s.remadeFile = path;
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log file %s went away while the module ran (moved or removed); it is made again%s%s, and "
              "the lines from now on go there. Said once.",
              path.c_str(), folder.empty() ? "" : ", with its folder ", folder.c_str());
  }
  return fd;
}

void ReportLockWait(LogState& s, std::chrono::steady_clock::duration waited, bool taken) {
  const long long ms = std::chrono::duration_cast<std::chrono::milliseconds>(waited).count();
  if (taken && !s.longWaitReported) {
    s.longWaitReported = true;
    LogEventF(EVENTLOG_WARNING_TYPE,
              "A debug-log line waited %lld ms for the lock it shares with every process logging to %s: another "
              "process held it that long (stopped or paused: a debugger, swap, a throttled container, or a log "
              "folder that does not answer). The lock is never taken from a living holder, so the line waited and "
              "none was lost. Said once.",
              ms, s.logFilePath);
  } else if (!taken && !s.lockMissReported) {
    s.lockMissReported = true;
    LogEventF(EVENTLOG_WARNING_TYPE,
              "A debug-log line was dropped after waiting %lld ms for the lock it shares with every process logging "
              "to %s: another process holds it and does not let go (stopped, or its log folder does not answer). "
              "The lock is never taken from a living holder; until it lets go, later lines are dropped without "
              "waiting. Said once.",
              ms, s.logFilePath);
  }
}

bool WriteAllAt(int fd, const char* data, size_t length, int64_t offset, size_t& written) {
  written = 0;
  while (written < length) {
    ssize_t n = pwrite(fd, data + written, length - written, static_cast<off_t>(offset + written));
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) errno = ENOSPC;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace debug_log_detail

using namespace debug_log_detail;

// ---- Writer -----------------------------------------------------------------

namespace {

// Lines quote what clients sent (a User-Agent, a header): a control
// character of theirs is shown as \xHH, so that it cannot act on the
// terminal the log is read on (an escape sequence) or hide what follows.
std::string ControlsAsText(const std::string& line) {
  std::string shown;
  for (const char c : line) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && c != '\t' && c != '\r' && c != '\n') || byte == 0x7F) {
      char hex[8];
      std::snprintf(hex, sizeof hex, "\\x%02X", byte);
      shown += hex;
    } else {
      shown += c;
    }
  }
  return shown;
}

// Every line passes here, so no caller can put a session token into the
// ring, the files or the event log: lines quote whole URLs and query strings.
void WriteToSink(const char* text) {
  try {
    LogSinkFn sink = g_sink.load(std::memory_order_acquire);
    if (sink == nullptr) return;
    // A length in place of a short value may lengthen the line; the sinks
    // take 2,047 characters at most.
    std::string shown = ControlsAsText(SessionValuesForLog(text));
    if (shown.size() > 2047) shown.resize(2047);
    sink(shown.c_str());
  } catch (...) {
  }
}

}  // namespace

void DebugLogWrite(const char* format, ...) {
  if (g_logMode.load(std::memory_order_acquire) == LOG_MODE_OFF || format == nullptr) return;
  char text[2049] = {};
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(text, 2048, format, args);
  va_end(args);
  // Nobody could act on a failure of the log itself, and showing one would
  // stop a server thread: it is dropped, and so is a text that could not be
  // formatted, rather than a half of it.
  if (formatted < 0) return;
  WriteToSink(text);
}

void DebugLogErrorWrite(DWORD code, const char* format, ...) {
  if (g_logMode.load(std::memory_order_acquire) == LOG_MODE_OFF || format == nullptr) return;
  char callerText[512] = {};
  va_list args;
  va_start(args, format);
  const int formatted = std::vsnprintf(callerText, sizeof(callerText), format, args);
  va_end(args);
  if (formatted < 0) return;
  char systemText[512] = {};
  FormatSystemMessage(code, systemText, sizeof(systemText));
  char text[2049] = {};
  std::snprintf(text, 2048, "%s   %s", callerText, systemText);
  WriteToSink(text);
}

bool DebugLogEnabled() {
  return g_logMode.load(std::memory_order_acquire) != LOG_MODE_OFF &&
         g_sink.load(std::memory_order_acquire) != nullptr;
}

void FormatSystemMessage(DWORD code, char* buffer, DWORD size) {
  if (buffer == nullptr || size == 0) return;
  const char* text = LookupSystemMessage(code);
  const size_t keep = size >= 2 ? std::min<size_t>(std::strlen(text), size - 2) : 0;
  std::memcpy(buffer, text, keep);
  buffer[keep] = '\0';
  for (size_t i = 0; i < keep; ++i) {
    if (buffer[i] == '\n' || buffer[i] == '\r') buffer[i] = ' ';
  }
}

// ---- Configuration ----------------------------------------------------------

void SetLogSink(LogSinkFn sink) { g_sink.store(sink, std::memory_order_release); }
LogSinkFn GetLogSink() { return g_sink.load(std::memory_order_acquire); }

void SetLogMode(DWORD mode) { g_logMode.store(mode, std::memory_order_release); }
DWORD GetLogMode() { return g_logMode.load(std::memory_order_acquire); }

namespace {
void DropSinkLockAtExit() { SetLogSinkLock(nullptr); }
}  // namespace

void SetLogSinkLock(CSync* lock) {
  // The lock belongs to the log module, whose statics go at process exit
  // while request threads may still log. Registered after the lock was made,
  // this handler runs before they go, and the sinks stop using it first.
  if (lock != nullptr) {
    static const bool registered = std::atexit(&DropSinkLockAtExit) == 0;
    (void)registered;
  }
  // The pending batch of the wrap-around file goes out while the lock it is
  // written under is still there: the file's other writers hold it too.
  CSync* old = g_sinkLock.load(std::memory_order_acquire);
  if (old != nullptr && old != lock) {
    CLockGuard held(old);
    if (old->IsLocked() != 0) {
      LogState& s = State();
      std::lock_guard<std::mutex> guard(s.lock);
      WriteBatchOut(s);
    }
  }
  g_sinkLock.store(lock, std::memory_order_release);
}
CSync* GetLogSinkLock() { return g_sinkLock.load(std::memory_order_acquire); }

namespace {
void FlushLocked(LogState& s, bool releaseView);
}

void SetLogFilePath(const char* path) {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  // A reconfigured log goes to its new place at once: what the old file or
  // ring holds is written out and both are let go; the next text opens the
  // new ones.
  if (std::strncmp(s.logFilePath, path != nullptr ? path : "", MAX_PATH) != 0) {
    FlushLocked(s, true);
  }
  std::snprintf(s.logFilePath, sizeof(s.logFilePath), "%s", path != nullptr ? path : "");
}

void NoteLogFileRefusalReported() {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.refusedFile = s.logFilePath;
}

std::string GetLogFilePath() {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.logFilePath;
}

namespace {
// The plain settings of the log: each read or written under the state lock.
template <class T>
T ReadLocked(T LogState::*field) {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  return s.*field;
}
template <class T>
void WriteLocked(T LogState::*field, T value) {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.*field = std::move(value);
}
}  // namespace

void SetLogRecordTag(const std::string& tag) { WriteLocked(&LogState::recordTag, tag); }
std::string GetLogRecordTag() { return ReadLocked(&LogState::recordTag); }
void SetLogRingSize(int64_t bytes) { WriteLocked(&LogState::ringSize, Clamp32(bytes)); }
int32_t GetLogRingSize() { return ReadLocked(&LogState::ringSize); }
void SetLogWrapPosition(int64_t bytes) { WriteLocked(&LogState::wrapPosition, Clamp32(bytes)); }
int32_t GetLogWrapPosition() { return ReadLocked(&LogState::wrapPosition); }
void SetLogBatchThreshold(int64_t bytes) { WriteLocked(&LogState::batchThreshold, Clamp32(bytes)); }
int32_t GetLogBatchThreshold() { return ReadLocked(&LogState::batchThreshold); }

int32_t LogSizeFromKB(int64_t kilobytes) {
  if (kilobytes <= 0) return 0;
  if (kilobytes > INT32_MAX) return INT32_MAX;
  return Clamp32(kilobytes * 1024);
}

void SetLogRingOwner(bool owner) {
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  s.ringOwner = owner;
  s.ringOwnerBySettings = owner;
}
bool IsLogRingOwner() { return ReadLocked(&LogState::ringOwner); }

void SetLogClock(LogClockFn clock) { g_clock.store(clock, std::memory_order_release); }

// ---- Append-only file ------------------------------------------------------

namespace {

void CloseAppendFile(LogState& s) {
  if (s.appendFd >= 0) close(s.appendFd);
  s.appendFd = -1;
}

// The append-only file, through the file rule. Walking the folders from the
// root at every line would cost more than the line itself, so the checked
// descriptor is kept while the name still stands for the same file (another
// process of the module, or the system's tools, may have moved it aside) and
// for a second at most, after which the rule is walked again.
int AppendFile(LogState& s, int extraFlags = 0) {
  const auto now = std::chrono::steady_clock::now();
  if (s.appendFd >= 0 && extraFlags == 0 && now - s.appendCheckedAt < std::chrono::seconds(1)) {
    struct stat named{};
    if (lstat(s.logFilePath, &named) == 0 && named.st_dev == s.appendDevice && named.st_ino == s.appendInode &&
        named.st_nlink == 1) {
      return s.appendFd;
    }
  }
  CloseAppendFile(s);
  const int fd = OpenLogFileAgain(s, O_WRONLY | O_APPEND | extraFlags, s.appendInode != 0);
  struct stat st{};
  if (fd < 0 || fstat(fd, &st) != 0) {
    if (fd >= 0) close(fd);
    return -1;
  }
  s.appendFd = fd;
  s.appendDevice = st.st_dev;
  s.appendInode = st.st_ino;
  s.appendCheckedAt = now;
  return fd;
}

}  // namespace

namespace {

// The last line of a file the module kept as <file>.1.
constexpr char kKeptMark[] =
    "[debug log] This file reached the size of setting 13 and was kept under this name by the module.";
// Room left for the mark and its time line.
constexpr size_t kKeptMarkLine = sizeof(kKeptMark) + 40;

// Whether <file>.1 may be replaced: it is not there, or the module made it.
// Another's (logrotate's newest file, when it rotates the same log) is
// never replaced: the log then goes on past its size, said once, and the
// question is asked again a second later, not at every line.
bool MayReplacePrevious(LogState& s, std::chrono::steady_clock::time_point now) {
  const std::string previous = std::string(s.logFilePath) + ".1";
  const int fd = ::open(previous.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) return true;
  bool ours = false;
  struct stat st{};
  const size_t markLength = sizeof(kKeptMark) - 1;
  // What is no file (a folder put there) is left to the rename, which
  // fails on it as before.
  if (fd < 0 || fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    if (fd >= 0) close(fd);
    return true;
  }
  if (st.st_size >= static_cast<off_t>(markLength)) {
    char tail[sizeof(kKeptMark)] = {};
    ours = pread(fd, tail, markLength, st.st_size - static_cast<off_t>(markLength)) ==
               static_cast<ssize_t>(markLength) &&
           std::memcmp(tail, kKeptMark, markLength) == 0;
  }
  close(fd);
  if (ours) return true;
  s.foreignPreviousAt = now;
  if (s.unkeptFile != s.logFilePath) {
    s.unkeptFile = s.logFilePath;
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log file %s reached its size (setting 13) but is not kept as %s: that file does not end "
              "with the line the module writes into the files it keeps (logrotate's newest, another program's, or "
              "one kept by an earlier version of the module) and is never replaced. The lines go on in %s past its "
              "size until %s is moved away or removed; have logrotate name its files by date (dateext) so that they "
              "never meet the module's. Said once.",
              s.logFilePath, previous.c_str(), s.logFilePath, previous.c_str());
  }
  return false;
}

}  // namespace

void FileLogSink(const char* text) {
  CSinkWrite write(text);
  if (!write.CanWrite()) return;
  LogState& s = write.Log();

  if (s.firstFileCall) {
    s.firstFileCall = false;
    // Inside the document converter's process the log goes next to it.
    if (GetModuleHandleA("Convert") != nullptr) {
      std::string dir;
      if (GetModuleDirectory(dir, "Convert", false, 0)) {
        std::snprintf(s.logFilePath, sizeof(s.logFilePath), "%sQL_Log.txt", dir.c_str());
      }
    }
  }
  if ((g_logMode.load(std::memory_order_acquire) & LOG_MODE_WRITE) == 0) return;

  // Owner and group only: the log shows what users did.
  int fd = AppendFile(s);
  if (fd < 0 || LogWaitsForRoom(s.logFilePath, fd)) return;
  // Bounded by setting 13's size, as the other kinds are: the file that
  // reaches it is kept as <file>.1 (in place of the one before) and a new
  // one begun. Every writer holds the sink lock, and AppendFile sees a file
  // another process moved aside, so it is moved once.
  const std::string line = "\n\n ****  " + CTimeText() + " " + text;
  struct stat st{};
  const auto now = std::chrono::steady_clock::now();
  if (fstat(fd, &st) == 0 && st.st_size > 0 &&
      static_cast<uint64_t>(st.st_size) + line.size() + kKeptMarkLine >
          static_cast<uint64_t>(std::max<int32_t>(s.ringSize, 0)) &&
      now - s.foreignPreviousAt >= std::chrono::seconds(1) && MayReplacePrevious(s, now)) {
    // Marked, so that a later rotation knows the file as its own.
    const std::string mark = "\n\n ****  " + CTimeText() + " " + kKeptMark;
    const bool marked = ::write(fd, mark.data(), mark.size()) == static_cast<ssize_t>(mark.size());
    (void)marked;
    CloseAppendFile(s);
    s.appendInode = 0;  // moved aside on purpose: no news when the name is empty
    std::string refusal;
    const bool kept = KeepAsPreviousFile(s.logFilePath, &refusal);
    if (!kept && !refusal.empty() && s.unkeptFile != s.logFilePath) {
      s.unkeptFile = s.logFilePath;
      LogEventF(EVENTLOG_WARNING_TYPE,
                "The debug log file %s reached its size (setting 13) and is begun anew without keeping its lines: "
                "%s.",
                s.logFilePath, refusal.c_str());
    }
    fd = AppendFile(s, kept ? 0 : O_TRUNC);
    if (fd < 0) return;
  }
  size_t written = 0;
  int err = 0;
  while (written < line.size()) {
    const ssize_t n = ::write(fd, line.data() + written, line.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      err = n < 0 ? errno : ENOSPC;
      break;
    }
    written += static_cast<size_t>(n);
  }
  if (err == 0) {
    NoteLogWritten(s.logFilePath);
    return;
  }
  // A full volume takes part of a line: it is cut off again, so that the
  // next line starts whole and the file's size stays that of whole lines.
  // Every writer holds the sink lock, so the end is still this line's.
  struct stat end{};
  if (written > 0 && fstat(fd, &end) == 0 && end.st_size >= static_cast<off_t>(written)) {
    if (ftruncate(fd, end.st_size - static_cast<off_t>(written)) != 0) {
      // Left as it is: the next line still begins on lines of its own.
    }
  }
  NoteLogStopped(s.logFilePath, "it cannot be written, as " + WriteFailureText(err), false,
                 err == ENOSPC || err == EDQUOT);
}

// ---- Write-out ---------------------------------------------------------------

namespace {

void FlushLocked(LogState& s, bool releaseView) {
  if (s.section) {
    WriteRingOut(s, releaseView);
  } else {
    WriteBatchOut(s);
  }

  if (releaseView) {
    CloseAppendFile(s);
    s.appendInode = 0;
    s.foreignPreviousAt = {};
  }
  if (releaseView && s.fileFd >= 0) {
    close(s.fileFd);
    s.fileFd = -1;
    s.fileInode = 0;
    s.fileWritePos = 0;
    s.fileHighWater = 0;
    s.filePosition.reset();
  }
}

}  // namespace

void FlushLog(bool releaseView) {
  // Under the lock every writer of the log takes, as a record is: another
  // worker writing its batch at the shared position meanwhile would write
  // over this one's (or this one over its), and the ring is read whole.
  CLockGuard sinkGuard(g_sinkLock.load(std::memory_order_acquire));
  LogState& s = State();
  std::lock_guard<std::mutex> guard(s.lock);
  FlushLocked(s, releaseView);
}

namespace {
// Writes the ring or the batch out when the process ends (or the module is
// unloaded).
struct ExitFlusher {
  ExitFlusher() { State(); }
  ~ExitFlusher() { FlushLog(true); }
};
ExitFlusher g_exitFlusher;
}  // namespace
