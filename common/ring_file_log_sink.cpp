// The wrap-around log file. Texts are collected in memory and written in
// runs of about the batch threshold, to keep file writes rare; when the
// file reaches the ring size, writing resumes just after the wrap position,
// so the first records below it are kept.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "common/debug_log_state.h"
#include "common/log_stops.h"
#include "platform/file_system.h"

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
}  // namespace

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
    close(s.fileFd);
    s.fileFd = -1;
    s.fileWritePos = 0;
    s.fileHighWater = 0;
    hadFile = true;
  }
  if (s.fileFd < 0) {
    s.fileFd = OpenLogFileAgain(s, O_RDWR, hadFile);
    if (s.fileFd < 0) return;
    struct stat st{};
    fstat(s.fileFd, &st);
    s.fileDevice = st.st_dev;
    s.fileInode = st.st_ino;
    s.fileCheckedAt = std::chrono::steady_clock::now();
  }

  char prefix[258];
  const size_t prefixLength = FormatTimePrefix(prefix);

  if (!writeNow) {
    s.batch.append(prefix, prefixLength);
    s.batch.append(text, textLength);
    return;
  }

  // The check comes before the batch is written, so the file may pass the
  // ring size by up to one batch and one record.
  if (s.fileWritePos == 0) {
    s.fileWritePos = kLogRingHeaderSize;
  } else if (s.fileWritePos >= s.ringSize) {
    s.fileWritePos = s.wrapPosition > 0 ? int64_t{s.wrapPosition} + 1 : 1;
  }

  const int64_t startedAt = s.fileWritePos;
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
  if (ok) {
    ok = WriteAllAt(s.fileFd, prefix, prefixLength, s.fileWritePos, written);
    s.fileWritePos += static_cast<int64_t>(written);
  }
  if (ok) {
    ok = WriteAllAt(s.fileFd, text, textLength, s.fileWritePos, written);
    s.fileWritePos += static_cast<int64_t>(written);
  }
  s.fileHighWater = std::max(s.fileHighWater, s.fileWritePos);
  if (ok) {
    NoteLogWritten(s.logFilePath);
    return;
  }
  const int err = errno;
  if ((err == ENOSPC || err == EDQUOT) && startedAt > int64_t{s.wrapPosition} + 1) {
    // The volume ends the file short of its size: the next batch goes round
    // to the wrap position, over bytes the file holds already, and this
    // record waits in it.
    NoteLogEndsAtItsVolume(s.logFilePath, s.fileWritePos, s.ringSize, s.wrapPosition);
    s.fileWritePos = s.wrapPosition > 0 ? int64_t{s.wrapPosition} + 1 : 1;
    if (s.batch.size() < 2 * reserve) {
      s.batch.append(prefix, prefixLength);
      s.batch.append(text, textLength);
    }
    return;
  }
  NoteLogStopped(s.logFilePath, "it cannot be written, as " + WriteFailureText(err), false,
                 err == ENOSPC || err == EDQUOT);
}
