// The debug log's process-wide state, shared by the writer and its sinks.
// Internal to the debug log.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "common/crit_sec.h"
#include "common/debug_log.h"

class CSharedMemory;

namespace debug_log_detail {

struct LogState {
  // Guards everything below against the setters and against threads of this
  // process; the sink lock orders the writers across processes.
  std::mutex lock;

  char logFilePath[MAX_PATH + 1] = {};
  std::string recordTag;
  int32_t ringSize = kDefaultLogRingSize;
  int32_t wrapPosition = kDefaultLogWrapPosition;
  int32_t batchThreshold = kDefaultLogBatchThreshold;
  bool ringOwner = false;
  bool firstFileCall = true;
  // The log file last refused by the file rule, reported once.
  std::string refusedFile;
  // A long wait for the log module's lock, and a line that went without it,
  // each reported once.
  bool longWaitReported = false;
  bool lockMissReported = false;

  // Append-only file: the descriptor that passed the file rule, kept while
  // the name still stands for it; the rule is walked again at most once a
  // second.
  int appendFd = -1;
  dev_t appendDevice = 0;
  ino_t appendInode = 0;
  std::chrono::steady_clock::time_point appendCheckedAt;
  // The log file last begun anew without keeping the one before, reported
  // once.
  std::string unkeptFile;
  // When <file>.1 was last found not to be the module's own.
  std::chrono::steady_clock::time_point foreignPreviousAt;
  // The log file last made again after it went while the module ran (its
  // folder moved or removed), reported once; and when its folder last could
  // not be made again (tried again a second later, not at every line).
  std::string remadeFile;
  std::chrono::steady_clock::time_point folderFailedAt;

  // Wrap-around file, and what its name stood for when it was opened, looked
  // at again at most once a second.
  std::string batch;
  int fileFd = -1;
  dev_t fileDevice = 0;
  ino_t fileInode = 0;
  std::chrono::steady_clock::time_point fileCheckedAt;
  int64_t fileWritePos = 0;
  int64_t fileHighWater = 0;
  // Where the file's writers stand, shared by every process that writes the
  // same file (named after its device and inode), so that none writes its
  // batches over another's.
  std::shared_ptr<CSharedMemory> filePosition;
  // The file whose writers could not share their position, reported once.
  std::string unsharedPositionFile;

  // Shared-memory ring, read and written through its descriptor (never
  // mapped: another program may cut it short while it is written); its
  // object's size when opened, 0 while none is open. Whether the name
  // still stands for it is looked at once a second.
  std::shared_ptr<CSharedMemory> section;
  size_t ringLength = 0;
  std::chrono::steady_clock::time_point ringCheckedAt;
  // Set by the settings (setting 75): every ring this process writes is
  // written out at exit, not only one it made.
  bool ringOwnerBySettings = false;
  // The record being written, kept to spare an allocation per record.
  std::string ringRecord;
  // How far this process has made sure the ring's pages exist.
  int64_t ringCommitted = 0;
  // The ring that stopped growing short of its size, reported once; and one
  // that could not be made at all.
  bool ringCappedReported = false;
  bool ringRefusedReported = false;
  // The log file whose ring was last started again over its records,
  // reported once.
  std::string restartedRing;
  int64_t ringWritePos = 0;
  int64_t ringHighWater = 0;
  // The ring that gave memory back to make room for another ring, reported
  // once; and a ring left unwritten at exit, once per log file.
  bool ringShrunkReported = false;
  // When the ring last looked at the other rings as it wrapped around.
  std::chrono::steady_clock::time_point ringShareCheckedAt;
  std::string ringLeftUnwritten;
};

// Built on first use and never destroyed, so that texts logged by other
// objects' destructors at exit still find it.
LogState& State();

extern std::atomic<DWORD> g_logMode;
extern std::atomic<CSync*> g_sinkLock;

// Says once per process that a line waited long for the log module's lock
// (taken: it was had in the end), or went without it.
void ReportLockWait(LogState& s, std::chrono::steady_clock::duration waited, bool taken);

// One write of a file or memory sink: the log module's lock, which orders the
// writers of every process, then the state lock of this one. Without the log
// module's lock, or without a text, the sink writes nothing.

// A wait for the log module's lock longer than this is reported (once).
constexpr auto kLongLogLockWait = std::chrono::milliseconds(500);

class CSinkWrite {
 public:
  explicit CSinkWrite(const char* text)
      : m_pSinkLock(text != nullptr ? g_sinkLock.load(std::memory_order_acquire) : nullptr),
        m_waitStart(std::chrono::steady_clock::now()),
        m_sinkGuard(m_pSinkLock),
        m_state(debug_log_detail::State()),
        m_guard(m_state.lock, std::defer_lock) {
    if (m_pSinkLock == nullptr) return;
    const auto waited = std::chrono::steady_clock::now() - m_waitStart;
    if (CanWrite()) {
      m_guard.lock();
      if (waited > kLongLogLockWait) ReportLockWait(m_state, waited, true);
    } else if (m_guard.try_lock()) {
      // A line that went without the lock must not wait here instead: the
      // holder may be a thread of this process, stuck in a write to a log
      // folder that does not answer, with this state in hand.
      ReportLockWait(m_state, waited, false);
    }
  }
  // A cross-process lock whose holder kept it past the wait limit leaves the
  // line to be dropped.
  bool CanWrite() const { return m_pSinkLock != nullptr && m_pSinkLock->IsLocked() != 0; }
  LogState& Log() const { return m_state; }

 private:
  CSync* m_pSinkLock;
  std::chrono::steady_clock::time_point m_waitStart;
  CLockGuard m_sinkGuard;
  LogState& m_state;
  std::unique_lock<std::mutex> m_guard;
};

// "\r\n%04u/%02u/%02u %02u:%02u:%02u.%03u %4X " for now and this thread, into
// a buffer of 258 bytes; returns its length.
size_t FormatTimePrefix(char (&prefix)[258]);
// The 24 characters of the ctime text (weekday, month, day, time, year) and
// its line feed.
std::string CTimeText();

// Opens the log file through the rule every file the module writes goes
// through (OpenFileForOwnerAndGroup); a refusal reaches the event log once
// per file, not at every line.
int OpenLogFile(LogState& s, int flags);

// OpenLogFile, and when the file's folder is not there (moved or removed
// while the module ran), the folder made again under the rule of start-up
// (after a failure, not again within a second). hadFile: this process wrote the file before, so a
// file made again is news, reported once.
int OpenLogFileAgain(LogState& s, int flags, bool hadFile);

// Writes the ring out to the log file (by its maker) and, with release,
// lets the ring go; the next text opens it again. Under the state lock.
void WriteRingOut(LogState& s, bool release);

// Writes the wrap-around file's pending batch out, into the file that
// stands under its name now. Under the state lock.
void WriteBatchOut(LogState& s);

// Writes all bytes at the offset; false when not all could be written.
bool WriteAllAt(int fd, const char* data, size_t length, int64_t offset, size_t& written);

}  // namespace debug_log_detail
