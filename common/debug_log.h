// The process-wide debug log: a printf-style writer that is off until the
// settings switch it on. Each finished text goes to one sink: an append-only
// file, a wrap-around file written in batches, a ring in named shared memory
// that every server process on the machine writes into, or the event log.
// Failures of the log never reach the caller.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/win_types.h"

#define HX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))

class CSync;
class CSharedMemory;
struct SYSTEMTIME;

// ---- The writer -----------------------------------------------------------

// At most 2,047 characters of the formatted text reach the sink.
#define DebugLog(...) (DebugLogOff() ? static_cast<void>(0) : DebugLogWrite(__VA_ARGS__))
// Appends the system's text for a Win32 error code or an HRESULT, after
// three blanks.
#define DebugLogError(...) (DebugLogOff() ? static_cast<void>(0) : DebugLogErrorWrite(__VA_ARGS__))
// The writers behind them. While the log is off the calls above stop before
// the call and its arguments: a request passes dozens of them.
void DebugLogWrite(const char* format, ...) HX_PRINTF(1, 2);
void DebugLogErrorWrite(DWORD code, const char* format, ...) HX_PRINTF(2, 3);
// Whether a line written now would go anywhere (lets callers skip costly
// formatting of their arguments).
bool DebugLogEnabled();
// A text's length as the int a "%.*s" conversion takes, capped at INT_MAX.
inline int LogLength(size_t n) { return n < 0x7fffffff ? static_cast<int>(n) : 0x7fffffff; }

// The system's text for a code, at most size - 2 characters, line breaks
// turned into blanks; empty when the system has none.
void FormatSystemMessage(DWORD code, char* buffer, DWORD size);

// ---- Sinks ------------------------------------------------------------------

// A sink takes the finished, zero-terminated text.
using LogSinkFn = void (*)(const char* text);

void SetLogSink(LogSinkFn sink);
LogSinkFn GetLogSink();

// Appends each text to the log file after a "****" time line. The default.
void FileLogSink(const char* text);
// Writes each text as one record into the shared-memory ring named after the
// log file.
void SharedMemoryLogSink(const char* text);
// Collects texts and writes them in batches into the log file, wrapping
// around at the ring size.
void RingFileLogSink(const char* text);

// Writes out what the log holds in memory: the ring (by the process that
// owns it) or the pending batch. With releaseView the ring is unmapped and
// the file closed; the next text opens them again. Runs by itself at
// process exit.
void FlushLog(bool releaseView);

// The section in which the writers of the wrap-around file at `path` keep
// where its last batch ended (empty when the file is not there).
std::string LogFilePositionName(const char* path);

// Opens the named section, creating it with `size` bytes when missing
// (`created` tells which). Owner and group may use it, nobody else.
std::shared_ptr<CSharedMemory> CreateWorldAccessFileMapping(const char* name, uint64_t size,
                                                            bool& created);

// ---- Configuration (set up at start-up by the settings object) -------------

constexpr DWORD LOG_MODE_OFF = 0;
constexpr DWORD LOG_MODE_WRITE = 2;

// Where the log goes while no folder is configured or the configured path
// is too long.
constexpr const char* kDefaultLogFilePath = "/tmp/LogError.txt";
constexpr int32_t kDefaultLogRingSize = 0xA00000;
constexpr int32_t kDefaultLogWrapPosition = 0x5000;
constexpr int32_t kDefaultLogBatchThreshold = 0xC800;
// The ring's header: four decimal numbers padded with blanks.
constexpr int32_t kLogRingHeaderSize = 100;

void SetLogMode(DWORD mode);
DWORD GetLogMode();

namespace debug_log_detail {
extern std::atomic<DWORD> g_logMode;
}  // namespace debug_log_detail

inline bool DebugLogOff() {
  return debug_log_detail::g_logMode.load(std::memory_order_acquire) == LOG_MODE_OFF;
}

// The lock under which the file and memory sinks write; it may be shared
// with other processes. While it is null those sinks write nothing.
void SetLogSinkLock(CSync* lock);
CSync* GetLogSinkLock();

// At most 260 characters are kept.
void SetLogFilePath(const char* path);
std::string GetLogFilePath();
// Start-up has reported why the log file is refused: the sinks do not say it
// again for the same file.
void NoteLogFileRefusalReported();
// The shared-memory ring's name: "Global\\" and the log file's name, without
// its folder, so every process that logs under that name shares the ring.
std::string LogRingName();

// Written into each shared-memory record after the time ("[Module] ").
void SetLogRecordTag(const std::string& tag);
std::string GetLogRecordTag();

// Sizes in bytes, clamped to 0 .. 2^31 - 1. A ring size not larger than the
// wrap position turns the ring and the wrap-around file off.
void SetLogRingSize(int64_t bytes);
int32_t GetLogRingSize();
void SetLogWrapPosition(int64_t bytes);
int32_t GetLogWrapPosition();
void SetLogBatchThreshold(int64_t bytes);
int32_t GetLogBatchThreshold();
// A size configured in KB, in bytes, clamped as above.
int32_t LogSizeFromKB(int64_t kilobytes);

// The ring owner writes the ring into the log file at exit.
void SetLogRingOwner(bool owner);
bool IsLogRingOwner();

// The clock of the time prefixes; null restores the local wall clock.
using LogClockFn = void (*)(SYSTEMTIME* now);
void SetLogClock(LogClockFn clock);
