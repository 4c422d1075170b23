// The ring in named shared memory. Every server process that logs to the
// same log file writes into one ring; the header at its start carries the
// positions from one writer to the next, so it is read before and written
// after each record, under the cross-process sink lock.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "common/debug_log_state.h"
#include "common/event_log.h"
#include "platform/shared_memory.h"

using namespace debug_log_detail;

namespace {

constexpr int64_t kHeader = kLogRingHeaderSize;

struct RingHeader {
  int64_t writePos = 0;
  int64_t highWater = 0;
  int64_t wrapPosition = 0;
  int64_t size = 0;
};

// "%d, %d, %d, %d" from the first 99 bytes.
bool ParseHeader(const char* view, RingHeader& h) {
  char text[kHeader] = {};
  std::memcpy(text, view, kHeader - 1);
  int64_t* fields[] = {&h.writePos, &h.highWater, &h.wrapPosition, &h.size};
  const char* p = text;
  for (size_t i = 0; i < 4; ++i) {
    if (i > 0) {
      if (*p != ',') return false;
      ++p;
    }
    while (*p == ' ') ++p;
    if (*p != '-' && (*p < '0' || *p > '9')) return false;
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(p, &end, 10);
    if (end == p || errno == ERANGE) return false;
    *fields[i] = v;
    p = end;
  }
  return true;
}

// The positions must lie inside this process's view of the ring, or a record
// would be written outside it.
bool HeaderValid(const RingHeader& h, size_t viewLength) {
  return h.size > kHeader && static_cast<uint64_t>(h.size) <= viewLength && h.size <= INT32_MAX &&
         h.writePos >= kHeader && h.writePos <= h.size && h.highWater >= h.writePos &&
         h.highWater <= h.size && h.wrapPosition >= 0 && h.wrapPosition < h.size;
}

void WriteHeader(char* view, int64_t writePos, int64_t highWater, int64_t wrap, int64_t size) {
  char text[kHeader + 1];
  int n = std::snprintf(text, kHeader, "%d, %d, %d, %d", static_cast<int>(writePos),
                        static_cast<int>(highWater), static_cast<int>(wrap),
                        static_cast<int>(size));
  if (n < 0) n = 0;
  if (n > kHeader - 1) n = kHeader - 1;
  std::memset(text + n, ' ', static_cast<size_t>(kHeader - n));
  std::memcpy(view, text, kHeader);
}

std::string RingName(const char* logFilePath);

// Pages of the ring are backed as the writers reach them, a step at a time:
// a ring of a gigabyte costs nothing until it is written. /dev/shm is the
// machine's (or the container's) for every program, so a step is taken only
// while half of it stays free after the step; a ring that cannot grow ends
// where its memory does (EndRingAtItsMemory).
constexpr int64_t kCommitStep = 1 << 20;

// Whether taking the ring up to `target` leaves half of /dev/shm free. Memory
// the ring holds already (another writer took it) is never refused: a
// writer that opened the ring later would otherwise end it short of where
// the others wrote, losing their older records.
bool LeavesHalfFree(const LogState& s, int64_t target) {
  uint64_t total = 0;
  uint64_t available = 0;
  if (!s.section->SpaceOfFileSystem(total, available)) return true;  // the commit itself decides
  const uint64_t held = s.section->AllocatedBytes();
  const uint64_t need = static_cast<uint64_t>(target) > held ? static_cast<uint64_t>(target) - held : 0;
  return need == 0 || (available >= need && available - need >= total / 2);
}

bool CommitUpTo(LogState& s, int64_t end) {
  if (end <= s.ringCommitted) return true;
  const int64_t target = std::min<int64_t>(
      (end + kCommitStep - 1) / kCommitStep * kCommitStep, static_cast<int64_t>(s.ringViewLength));
  if (!LeavesHalfFree(s, target) || !s.section->Commit(0, static_cast<uint64_t>(target))) return false;
  s.ringCommitted = target;
  return true;
}

// A page of /dev/shm that holds no memory yet takes it when read through a
// mapping, and on a full /dev/shm (any user can fill it) that read kills the
// process: the header's page is backed before it is read, which costs
// nothing when a writer backed it before.
bool BackHeader(LogState& s) {
  if (s.ringCommitted >= kHeader) return true;
  if (!s.section->Commit(0, static_cast<uint64_t>(kHeader))) return false;
  s.ringCommitted = kHeader;
  return true;
}

std::string ShmSpaceText(const LogState& s) {
  uint64_t total = 0;
  uint64_t available = 0;
  if (!s.section->SpaceOfFileSystem(total, available)) return "/dev/shm";
  return "/dev/shm (" + std::to_string(total >> 10) + " KB, " + std::to_string(available >> 10) + " KB free)";
}

// The ring cannot grow past the step the record at `pos` would enter: from
// now on it ends at that step, for every writer (the header carries the
// size), and wraps around within what it has. False when that is too
// little to hold records after the wrap position.
bool EndRingAtItsMemory(LogState& s, int64_t pos) {
  const int64_t size =
      std::min<int64_t>((pos + kCommitStep - 1) / kCommitStep * kCommitStep, static_cast<int64_t>(s.ringViewLength));
  if (size <= s.wrapPosition + kHeader || !s.section->Commit(0, static_cast<uint64_t>(size))) return false;
  if (!s.ringCappedReported) {
    s.ringCappedReported = true;
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log's shared-memory ring %s stops growing at %lld KB (setting 13 asks for %d KB): it takes "
              "memory only while half of %s stays free for others. It wraps around within what it has, the newest "
              "records over the oldest after the first %d KB.",
              ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str(), static_cast<long long>(size >> 10),
              s.ringSize >> 10, ShmSpaceText(s).c_str(), s.wrapPosition >> 10);
  }
  s.ringCommitted = size;
  s.ringSize = static_cast<int32_t>(size);
  s.ringHighWater = std::min(s.ringHighWater, size);
  return true;
}

// Starts the ring afresh: empty records, both positions at the first record.
// False when the view is too small to hold any record.
bool ResetRing(LogState& s, bool isNew) {
  const int64_t size = std::min<int64_t>(s.ringSize, static_cast<int64_t>(s.ringViewLength));
  if (size <= kHeader) return false;
  const int64_t wrap = s.wrapPosition < size ? s.wrapPosition : kHeader;
  if (!isNew) {
    // Its records are lost: said once, unless no header was ever written
    // (a maker that got no memory).
    if (s.ringView[0] != '\0' && s.restartedRing != s.logFilePath) {
      s.restartedRing = s.logFilePath;
      LogEventF(EVENTLOG_WARNING_TYPE,
                "The debug log's shared-memory ring %s is started again and the records it held are given up: its "
                "header does not say where they end (written over by another program, or by a process that died "
                "while writing it). Said once.",
                ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str());
    }
    // Old records must go, or the exit write-out would run on into them.
    const uint64_t rest = s.ringViewLength - kHeader;
    if (!s.section->Discard(kHeader, rest)) std::memset(s.ringView + kHeader, 0, rest);
    s.ringCommitted = 0;
  }
  if (!CommitUpTo(s, kHeader)) {
    if (!s.ringRefusedReported) {
      s.ringRefusedReported = true;
      LogEventF(EVENTLOG_WARNING_TYPE,
                "The debug log's shared-memory ring %s gets no memory: it takes memory only while half of %s stays "
                "free for others. Nothing is logged until there is room.",
                ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str(), ShmSpaceText(s).c_str());
    }
    return false;
  }
  WriteHeader(s.ringView, kHeader, kHeader, wrap, size);
  s.ringSize = static_cast<int32_t>(size);
  s.wrapPosition = static_cast<int32_t>(wrap);
  s.ringWritePos = kHeader;
  s.ringHighWater = kHeader;
  return true;
}

std::string RingName(const char* logFilePath) {
  const char* name = logFilePath;
  for (const char* p = logFilePath; *p != '\0'; ++p) {
    if (*p == '/' || *p == '\\') name = p + 1;
  }
  return std::string("Global\\") + name;
}

void ReleaseRing(LogState& s) {
  CSharedMemory::UnmapView(s.ringView, s.ringViewLength);
  s.ringView = nullptr;
  s.ringViewLength = 0;
  s.ringCommitted = 0;
  s.section.reset();
}

// Another process may have cut the object shorter than this view (a shell's
// "> /dev/shm/<ring>" does): a page past its end would kill this process
// when touched. The object is grown back (its records are gone, so the
// header then starts the ring again); when it cannot be, the view is given
// up and the record dropped, and the next record opens the ring again.
// Memory the ring holds only grows, but for another writer that started it
// again: what this process backed before must then be backed again, or a
// write into it would kill this process on a full /dev/shm.
bool ViewStillBacked(LogState& s) {
  uint64_t held = 0;
  const uint64_t size = s.section->Size(&held);
  if (held < static_cast<uint64_t>(s.ringCommitted)) s.ringCommitted = 0;
  if (size >= s.ringViewLength) return true;
  s.ringCommitted = 0;
  if (s.section->Grow(s.ringViewLength)) return true;
  ReleaseRing(s);
  return false;
}

bool OpenRing(LogState& s) {
  bool created = false;
  const std::string name = RingName(s.logFilePath);
  std::shared_ptr<CSharedMemory> section =
      CreateWorldAccessFileMapping(name.c_str(), static_cast<uint64_t>(s.ringSize), created);
  if (!section) return false;
  uint64_t objectSize = section->Size();
  // A creator that died before sizing the object leaves it empty.
  if (objectSize <= static_cast<uint64_t>(kHeader)) {
    if (!section->Grow(static_cast<uint64_t>(s.ringSize))) return false;
    objectSize = section->Size();
    created = true;
  }
  objectSize = std::min<uint64_t>(objectSize, INT32_MAX);
  void* view = section->MapView(static_cast<size_t>(objectSize));
  if (view == nullptr) return false;
  s.section = std::move(section);
  s.ringView = static_cast<char*>(view);
  s.ringViewLength = static_cast<size_t>(objectSize);

  RingHeader h;
  if (created) {
    s.ringOwner = true;
    if (!ResetRing(s, true)) {
      ReleaseRing(s);
      return false;
    }
  } else if (!BackHeader(s)) {
    ReleaseRing(s);
    return false;
  } else if (ParseHeader(s.ringView, h) && HeaderValid(h, s.ringViewLength)) {
    s.ringSize = static_cast<int32_t>(h.size);
  } else if (!ResetRing(s, false)) {
    ReleaseRing(s);
    return false;
  }
  return true;
}

}  // namespace

std::shared_ptr<CSharedMemory> CreateWorldAccessFileMapping(const char* name, uint64_t size,
                                                            bool& created) {
  created = false;
  if (name == nullptr) return nullptr;
  auto section = std::make_shared<CSharedMemory>();
  if (!section->CreateOrOpen(name, size, created)) return nullptr;
  return section;
}

std::string LogRingName() { return RingName(GetLogFilePath().c_str()); }

void SharedMemoryLogSink(const char* text) {
  CSinkWrite write(text);
  if (!write.CanWrite()) return;
  LogState& s = write.Log();
  if ((g_logMode.load(std::memory_order_acquire) & LOG_MODE_WRITE) == 0) return;
  if (s.ringSize <= s.wrapPosition) return;
  if (s.ringView == nullptr && !OpenRing(s)) return;
  if (!ViewStillBacked(s) || !BackHeader(s)) return;

  // Another process may have written since: the header says where the ring
  // stands now. One that cannot be trusted starts the ring again.
  RingHeader h;
  if (ParseHeader(s.ringView, h) && HeaderValid(h, s.ringViewLength)) {
    s.ringWritePos = h.writePos;
    s.ringHighWater = h.highWater;
    s.ringSize = static_cast<int32_t>(h.size);
    s.wrapPosition = static_cast<int32_t>(h.wrapPosition);
  } else if (!ResetRing(s, false)) {
    return;
  }

  char prefix[258];
  const size_t prefixLength = FormatTimePrefix(prefix);
  const size_t textLength = std::strlen(text);
  const int64_t recordLength =
      static_cast<int64_t>(prefixLength + s.recordTag.size() + textLength + 1);
  int64_t size = s.ringSize;
  const int64_t wrap = std::max<int64_t>(s.wrapPosition, kHeader);

  int64_t pos = s.ringWritePos;
  if (static_cast<int64_t>(textLength) + pos + 256 + 1 >= size || pos + recordLength > size) {
    pos = wrap;
  }
  // A record longer than the space behind the wrap position is dropped.
  if (pos + recordLength > size) return;
  if (!CommitUpTo(s, pos + recordLength)) {
    if (!EndRingAtItsMemory(s, pos)) return;
    size = s.ringSize;
    if (static_cast<int64_t>(textLength) + pos + 256 + 1 >= size || pos + recordLength > size) pos = wrap;
    if (pos + recordLength > size) return;
  }

  char* out = s.ringView + pos;
  std::memcpy(out, prefix, prefixLength);
  out += prefixLength;
  std::memcpy(out, s.recordTag.data(), s.recordTag.size());
  out += s.recordTag.size();
  std::memcpy(out, text, textLength);
  out += textLength;
  *out = ' ';
  pos += recordLength;

  s.ringWritePos = pos;
  s.ringHighWater = std::max(s.ringHighWater, pos);
  WriteHeader(s.ringView, s.ringWritePos, s.ringHighWater, s.wrapPosition, size);
}
