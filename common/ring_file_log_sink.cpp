// The wrap-around log file. Texts are collected in memory and written in
// runs of about the batch threshold, to keep file writes rare; when the
// file reaches the ring size, writing resumes just after the wrap position,
// so the first records below it are kept.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "common/debug_log_state.h"

using namespace debug_log_detail;

namespace {
// More than a batch of this size is not reserved up front.
constexpr size_t kMaxBatchReserve = 64u << 20;
}  // namespace

void RingFileLogSink(const char* text) {
  CSinkWrite write(text);
  if (!write.CanWrite()) return;
  LogState& s = write.Log();
  if ((g_logMode.load(std::memory_order_acquire) & LOG_MODE_WRITE) == 0) return;
  if (s.ringSize <= s.wrapPosition) return;

  const size_t textLength = std::strlen(text);
  const bool writeNow =
      static_cast<int64_t>(s.batch.size() + textLength + 259) >= int64_t{s.batchThreshold};
  const size_t reserve = std::min(static_cast<size_t>(s.batchThreshold), kMaxBatchReserve);
  if (s.batch.capacity() < reserve) s.batch.reserve(reserve);

  if (s.fileFd < 0) {
    s.fileFd = OpenLogFile(s, O_RDWR);
    if (s.fileFd < 0) return;
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

  size_t written = 0;
  if (!s.batch.empty()) {
    const bool ok = WriteAllAt(s.fileFd, s.batch.data(), s.batch.size(), s.fileWritePos, written);
    s.fileWritePos += static_cast<int64_t>(written);
    if (!ok) {
      // Keep what did not reach the file for the next attempt.
      s.batch.erase(0, written);
      return;
    }
    s.batch.clear();
  }
  WriteAllAt(s.fileFd, prefix, prefixLength, s.fileWritePos, written);
  s.fileWritePos += static_cast<int64_t>(written);
  if (written == prefixLength) {
    WriteAllAt(s.fileFd, text, textLength, s.fileWritePos, written);
    s.fileWritePos += static_cast<int64_t>(written);
  }
  s.fileHighWater = std::max(s.fileHighWater, s.fileWritePos);
}
