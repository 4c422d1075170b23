// The wrap-around log file. Texts are collected in memory and written in
// runs of about the batch threshold, to keep file writes rare; when the
// file reaches the ring size, writing resumes just after the wrap position,
// so the first records below it are kept. Every worker process of an
// install (and every install naming the same file) writes into one file:
// where the last batch ended is kept in a small shared-memory object named
// after the file, read and written under the sink lock.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "common/debug_log_state.h"
#include "common/event_log.h"
#include "common/log_stops.h"
#include "platform/file_system.h"
#include "platform/shared_memory.h"

using namespace debug_log_detail;

namespace {
// More than a batch of this size is not reserved up front.
constexpr size_t kMaxBatchReserve = 64u << 20;

// Whether the file's name still stands for the open file: looked at before
// each batch is written and once a second, a stat, not a walk of the folders.
bool StillNamed(LogState& s, bool writing) {
  const auto now = std::chrono::steady_clock::now();
  if (!writing && now - s.fileCheckedAt < std::chrono::seconds(1)) return true;
  s.fileCheckedAt = now;
  struct stat named{};
  return lstat(s.logFilePath, &named) == 0 && named.st_dev == s.fileDevice && named.st_ino == s.fileInode;
}

std::string PositionName(dev_t device, ino_t inode) {
  char name[96];
  std::snprintf(name, sizeof name, "Global\\QLLogModule.Position.%llx.%llx", static_cast<unsigned long long>(device),
                static_cast<unsigned long long>(inode));
  return name;
}
}  // namespace

std::string LogFilePositionName(const char* path) {
  struct stat st{};
  if (path == nullptr || stat(path, &st) != 0) return {};
  return PositionName(st.st_dev, st.st_ino);
}

namespace {

struct SharedPosition {
  int64_t writePos;
  int64_t highWater;
  // The file's birth time where the file system keeps one: an inode number
  // is used again for a file made after another was deleted.
  int64_t born;
};

int64_t BirthOf(int fd) {
  struct statx st{};
  if (statx(fd, "", AT_EMPTY_PATH, STATX_BTIME, &st) != 0 || (st.stx_mask & STATX_BTIME) == 0) return 0;
  return static_cast<int64_t>(st.stx_btime.tv_sec) * 1000000000 + st.stx_btime.tv_nsec;
}

void CloseFile(LogState& s, bool gone) {
  // The position of a file that is gone serves nobody.
  if (gone && s.filePosition) CSharedMemory::Remove(PositionName(s.fileDevice, s.fileInode).c_str());
  s.filePosition.reset();
  if (s.fileFd >= 0) close(s.fileFd);
  s.fileFd = -1;
  s.fileInode = 0;
  s.fileWritePos = 0;
  s.fileHighWater = 0;
}

bool OpenFile(LogState& s, bool hadFile) {
  s.fileFd = OpenLogFileAgain(s, O_RDWR, hadFile);
  if (s.fileFd < 0) return false;
  struct stat st{};
  fstat(s.fileFd, &st);
  s.fileDevice = st.st_dev;
  s.fileInode = st.st_ino;
  s.fileCheckedAt = std::chrono::steady_clock::now();
  bool created = false;
  auto position = std::make_shared<CSharedMemory>();
  // Without it (/dev/shm refused or full) this process keeps its own
  // position, as a single writer would: the other workers may then write
  // over its batches, which the administrator is told.
  const std::string name = PositionName(st.st_dev, st.st_ino);
  if (position->CreateOrOpen(name.c_str(), sizeof(SharedPosition), created)) {
    s.filePosition = std::move(position);
  } else if (s.unsharedPositionFile != s.logFilePath) {
    s.unsharedPositionFile = s.logFilePath;
    const std::string refused = WhyNamedSectionIsRefused(name.c_str());
    const std::string why = refused.empty() ? "it could not be opened or made (/dev/shm is full or refused)"
                                            : "it is there already and is not used, as " + refused +
                                                  "; remove it with every process of the product family stopped";
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log file %s cannot share where its writers stand through %s: %s. This process writes its "
              "batches at its own position, and other worker processes writing the file may write over them. "
              "Said once.",
              s.logFilePath, ShmPathFromWindowsName(name.c_str()).c_str(), why.c_str());
  }
  return true;
}

// Where the next batch goes: where the last one of any writer ended. A file
// no writer has a position for yet starts at the first record, or, when it
// holds records already (of a writer before), after them.
void TakeSharedPosition(LogState& s) {
  SharedPosition p{};
  struct stat st{};
  const int64_t size = fstat(s.fileFd, &st) == 0 ? static_cast<int64_t>(st.st_size) : 0;
  // One past the file's end, or of a file born at another time, is of a
  // file gone before.
  if (s.filePosition && s.filePosition->ReadAt(0, &p, sizeof p) == sizeof p && p.writePos >= kLogRingHeaderSize &&
      p.writePos <= size && (p.born == 0 || p.born == BirthOf(s.fileFd))) {
    s.fileWritePos = p.writePos;
    s.fileHighWater = std::max<int64_t>(p.highWater, p.writePos);
    return;
  }
  if (s.fileWritePos != 0) return;
  s.fileWritePos = size <= kLogRingHeaderSize ? 0 : size;
  s.fileHighWater = s.fileWritePos;
}

void GiveSharedPosition(LogState& s) {
  if (!s.filePosition) return;
  const SharedPosition p{s.fileWritePos, s.fileHighWater, BirthOf(s.fileFd)};
  s.filePosition->WriteAt(0, &p, sizeof p);
}

// Writes the batch and then the tail (a record not batched) at the shared
// position. False when a write failed; what did not reach the file stays in
// the batch.
bool WriteBatch(LogState& s, const char* tail, size_t tailLength, int64_t* startedAt = nullptr) {
  TakeSharedPosition(s);
  // The check comes before the batch is written, so the file may pass the
  // ring size by up to one batch and one record.
  if (s.fileWritePos == 0) {
    s.fileWritePos = kLogRingHeaderSize;
  } else if (s.fileWritePos >= s.ringSize) {
    s.fileWritePos = s.wrapPosition > 0 ? int64_t{s.wrapPosition} + 1 : 1;
  }
  if (startedAt != nullptr) *startedAt = s.fileWritePos;

  size_t written = 0;
  bool ok = true;
  if (!s.batch.empty()) {
    ok = WriteAllAt(s.fileFd, s.batch.data(), s.batch.size(), s.fileWritePos, written);
    s.fileWritePos += static_cast<int64_t>(written);
    if (ok) {
      s.batch.clear();
    } else {
      // Keep what did not reach the file for the next attempt.
      s.batch.erase(0, written);
    }
  }
  if (ok && tailLength > 0) {
    WriteAllAt(s.fileFd, tail, tailLength, s.fileWritePos, written);
    s.fileWritePos += static_cast<int64_t>(written);
  }
  s.fileHighWater = std::max(s.fileHighWater, s.fileWritePos);
  const int err = errno;
  GiveSharedPosition(s);
  errno = err;
  return ok;
}
}  // namespace

namespace debug_log_detail {

void WriteBatchOut(LogState& s) {
  if (s.batch.empty() || s.fileFd < 0) return;
  // Deleted or replaced even a moment ago: the batch goes to the file under
  // the name, not into one nobody can see.
  if (!StillNamed(s, true)) {
    CloseFile(s, true);
    if (!OpenFile(s, true)) return;
  }
  if (!WriteBatch(s, nullptr, 0)) NoteWriteOutFailed(s.logFilePath, errno, false);
  fdatasync(s.fileFd);
  s.batch.clear();
}

}  // namespace debug_log_detail

void RingFileLogSink(const char* text) {
  CSinkWrite write(text);
  if (!write.CanWrite()) return;
  LogState& s = write.Log();
  if ((g_logMode.load(std::memory_order_acquire) & LOG_MODE_WRITE) == 0) return;
  if (s.ringSize <= s.wrapPosition) return;

  bool hadFile = false;
  const size_t textLength = std::strlen(text);
  const bool writeNow =
      static_cast<int64_t>(s.batch.size() + textLength + 259) >= int64_t{s.batchThreshold};
  const size_t reserve = std::min(static_cast<size_t>(s.batchThreshold), kMaxBatchReserve);
  if (s.batch.capacity() < reserve) s.batch.reserve(reserve);

  if (s.fileFd >= 0 && !StillNamed(s, writeNow)) {
    // Removed or replaced while open: every later line would go into a file
    // nobody can see, which keeps its space until the module stops.
    CloseFile(s, true);
    hadFile = true;
  }
  if (s.fileFd < 0 && !OpenFile(s, hadFile)) return;

  char prefix[258];
  const size_t prefixLength = FormatTimePrefix(prefix);

  if (!writeNow) {
    s.batch.append(prefix, prefixLength);
    s.batch.append(text, textLength);
    return;
  }
  // The record goes in one write with the batch's last bytes.
  s.batch.append(prefix, prefixLength);
  s.batch.append(text, textLength);
  int64_t startedAt = 0;
  if (WriteBatch(s, nullptr, 0, &startedAt)) {
    NoteLogWritten(s.logFilePath);
    return;
  }
  const int err = errno;
  // What did not reach the file waits in the batch, within bounds: a volume
  // that stays full or read-only must not grow the process.
  if (s.batch.size() > 2 * reserve) s.batch.clear();
  if ((err == ENOSPC || err == EDQUOT) && startedAt > int64_t{s.wrapPosition} + 1) {
    // The volume ends the file short of its size: the next batch, of any
    // worker, goes round to the wrap position, over bytes the file holds
    // already.
    NoteLogEndsAtItsVolume(s.logFilePath, s.fileWritePos, s.ringSize, s.wrapPosition);
    s.fileWritePos = s.wrapPosition > 0 ? int64_t{s.wrapPosition} + 1 : 1;
    GiveSharedPosition(s);
    return;
  }
  NoteLogStopped(s.logFilePath, "it cannot be written, as " + WriteFailureText(err), false,
                 err == ENOSPC || err == EDQUOT);
}
