// The ring in named shared memory. Every server process that logs to the
// same log file writes into one ring; the header at its start carries the
// positions from one writer to the next, so it is read before and written
// after each record, under the cross-process sink lock.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "common/debug_log_state.h"
#include "common/log_stops.h"
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

std::string HeaderText(int64_t writePos, int64_t highWater, int64_t wrap, int64_t size) {
  char text[kHeader + 1];
  int n = std::snprintf(text, kHeader, "%d, %d, %d, %d", static_cast<int>(writePos),
                        static_cast<int>(highWater), static_cast<int>(wrap),
                        static_cast<int>(size));
  if (n < 0) n = 0;
  if (n > kHeader - 1) n = kHeader - 1;
  std::memset(text + n, ' ', static_cast<size_t>(kHeader - n));
  return std::string(text, kHeader);
}

bool WriteHeader(LogState& s, int64_t writePos, int64_t highWater, int64_t wrap, int64_t size) {
  const std::string text = HeaderText(writePos, highWater, wrap, size);
  return s.section->WriteAt(0, text.data(), text.size());
}

// The header as it stands now; false when it cannot be read or trusted.
bool ReadHeader(const LogState& s, RingHeader& h) {
  char text[kHeader] = {};
  return s.section->ReadAt(0, text, kHeader) == static_cast<size_t>(kHeader) && ParseHeader(text, h) &&
         HeaderValid(h, s.ringLength);
}

std::string RingName(const char* logFilePath);

// Pages of the ring are backed as the writers reach them, a step at a time:
// a ring of a gigabyte costs nothing until it is written. /dev/shm is the
// machine's (or the container's) for every program, so a step is taken only
// while half of it stays free after the step, and a ring holds at most its
// share of that half: the half divided by the rings on /dev/shm, so that
// every install's ring gets memory. A ring that cannot grow ends where its
// memory does (EndRingAtItsMemory); one over its share (another ring came
// since) gives the rest back when it next wraps around (FitRingToItsShare).
constexpr int64_t kCommitStep = 1 << 20;

struct DevShmUse {
  uint64_t total = 0;
  uint64_t available = 0;
  // This ring's share, and what other rings hold beyond theirs (given back
  // at their next wrap, so not counted against this one).
  uint64_t share = 0;
  uint64_t othersOverShare = 0;
  size_t rings = 0;
};

// Every object on /dev/shm whose first 100 bytes are a ring's header is a
// ring (this one always counts). Any user may make such objects there, so
// those this process would not open as its own count once per owner: a
// user's planted headers cost each ring one share, not all of it. Looked
// at once per step of 1 MB, not per record. Read, never mapped: reading an
// unbacked page takes no memory.
DevShmUse LookAtDevShm(const LogState& s) {
  DevShmUse use;
  if (!s.section->SpaceOfFileSystem(use.total, use.available)) return use;
  struct Ring {
    uint64_t held;
  };
  std::vector<Ring> others;
  std::vector<uid_t> foreignOwners;
  uint64_t myDevice = 0;
  uint64_t myInode = 0;
  s.section->Identity(myDevice, myInode);
  if (DIR* dir = opendir("/dev/shm")) {
    while (const dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.') continue;
      const int fd = openat(dirfd(dir), e->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      if (fd < 0) continue;
      struct stat st{};
      char text[kHeader] = {};
      RingHeader h;
      if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > kHeader &&
          !(st.st_ino == myInode && st.st_dev == myDevice) &&
          pread(fd, text, kHeader, 0) == kHeader && ParseHeader(text, h) &&
          HeaderValid(h, static_cast<size_t>(st.st_size))) {
        const uint64_t held = static_cast<uint64_t>(st.st_blocks) * 512;
        if (IsTrustedSectionObject(st)) {
          others.push_back({held});
        } else if (std::find(foreignOwners.begin(), foreignOwners.end(), st.st_uid) == foreignOwners.end()) {
          foreignOwners.push_back(st.st_uid);
          others.push_back({held});
        }
      }
      close(fd);
    }
    closedir(dir);
  }
  use.rings = others.size() + 1;
  use.share = use.total / 2 / use.rings;
  for (const Ring& r : others) {
    if (r.held > use.share) use.othersOverShare += r.held - use.share;
  }
  return use;
}

// Whether taking the ring up to `target` keeps it within its share and
// leaves half of /dev/shm free. Memory the ring holds already (another
// writer took it) is never refused: a writer that opened the ring later
// would otherwise end it short of where the others wrote, losing their
// older records.
bool WithinItsShare(const LogState& s, int64_t target) {
  const uint64_t held = s.section->AllocatedBytes();
  const uint64_t need = static_cast<uint64_t>(target) > held ? static_cast<uint64_t>(target) - held : 0;
  if (need == 0) return true;
  const DevShmUse use = LookAtDevShm(s);
  if (use.total == 0) return true;  // the commit itself decides
  const uint64_t share = std::max<uint64_t>(use.share, kCommitStep);
  const uint64_t freeForRings = use.available + use.othersOverShare;
  return static_cast<uint64_t>(target) <= share && use.available >= need && freeForRings - need >= use.total / 2;
}

bool CommitUpTo(LogState& s, int64_t end) {
  if (end <= s.ringCommitted) return true;
  const int64_t target = std::min<int64_t>(
      (end + kCommitStep - 1) / kCommitStep * kCommitStep, static_cast<int64_t>(s.ringLength));
  if (!WithinItsShare(s, target) || !s.section->Commit(0, static_cast<uint64_t>(target))) return false;
  s.ringCommitted = target;
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
      std::min<int64_t>((pos + kCommitStep - 1) / kCommitStep * kCommitStep, static_cast<int64_t>(s.ringLength));
  if (size <= s.wrapPosition + kHeader || !s.section->Commit(0, static_cast<uint64_t>(size))) return false;
  if (!s.ringCappedReported) {
    s.ringCappedReported = true;
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log's shared-memory ring %s stops growing at %lld KB (setting 13 asks for %d KB): it takes "
              "memory only while half of %s stays free for others, and at most its share of that half (the half "
              "divided by the rings there, %zu now). It wraps around within what it has, the newest "
              "records over the oldest after the first %d KB.",
              ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str(), static_cast<long long>(size >> 10),
              s.ringSize >> 10, ShmSpaceText(s).c_str(), LookAtDevShm(s).rings, s.wrapPosition >> 10);
  }
  s.ringCommitted = size;
  s.ringSize = static_cast<int32_t>(size);
  s.ringHighWater = std::min(s.ringHighWater, size);
  return true;
}

// A ring that holds more than its share (it grew before another ring came)
// gives the rest back as it wraps around: what lies past its share are its
// oldest records.
void FitRingToItsShare(LogState& s) {
  // A share is never below one step; and the other rings are looked at once
  // a second at most: a ring may wrap many times a second, and reading every
  // object on /dev/shm (any user can put thousands there) at each wrap would
  // hold the lock every worker waits for.
  if (s.ringSize <= kCommitStep) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - s.ringShareCheckedAt < std::chrono::seconds(1)) return;
  s.ringShareCheckedAt = now;
  const DevShmUse use = LookAtDevShm(s);
  if (use.rings < 2) return;
  const int64_t share =
      std::max<int64_t>(static_cast<int64_t>(use.share) / kCommitStep * kCommitStep, kCommitStep);
  if (s.ringSize <= share || share <= s.wrapPosition + kHeader) return;
  const int64_t was = s.ringSize;
  s.section->Discard(static_cast<uint64_t>(share), s.ringLength - static_cast<uint64_t>(share));
  s.ringSize = static_cast<int32_t>(share);
  s.ringCommitted = std::min(s.ringCommitted, share);
  s.ringHighWater = std::min(s.ringHighWater, share);
  if (!s.ringShrunkReported) {
    s.ringShrunkReported = true;
    LogEventF(EVENTLOG_WARNING_TYPE,
              "The debug log's shared-memory ring %s gives back all but %lld KB of its %lld KB (its oldest records) "
              "to make room for the other rings on %s: each takes at most half of /dev/shm divided by the rings "
              "there (%zu now). Said once.",
              ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str(), static_cast<long long>(share >> 10),
              static_cast<long long>(was >> 10), ShmSpaceText(s).c_str(), use.rings);
  }
}

// Starts the ring afresh: empty records, both positions at the first record.
// False when the object is too small to hold any record. cut: another
// program emptied it while it was written (said in those words).
bool ResetRing(LogState& s, bool isNew, bool cut = false) {
  const int64_t size = std::min<int64_t>(s.ringSize, static_cast<int64_t>(s.ringLength));
  if (size <= kHeader) return false;
  const int64_t wrap = s.wrapPosition < size ? s.wrapPosition : kHeader;
  if (!isNew) {
    // Its records are lost: said once, unless no header was ever written
    // (a maker that got no memory).
    char first = '\0';
    s.section->ReadAt(0, &first, 1);
    if ((first != '\0' || cut) && s.restartedRing != s.logFilePath) {
      s.restartedRing = s.logFilePath;
      if (cut) {
        LogEventF(EVENTLOG_WARNING_TYPE,
                  "The debug log's shared-memory ring %s was emptied by another program while the module wrote "
                  "into it (as \": > %s\" does); it is started again in place and the lines go on there. The "
                  "records it held, and any being written at that moment, are lost. Said once.",
                  ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str(),
                  ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str());
      } else {
        LogEventF(EVENTLOG_WARNING_TYPE,
                  "The debug log's shared-memory ring %s is started again and the records it held are given up: its "
                  "header does not say where they end (written over by another program, or by a process that died "
                  "while writing it). Said once.",
                  ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str());
      }
    }
    // Old records must go, or the exit write-out would run on into them.
    const uint64_t rest = s.ringLength - kHeader;
    if (!s.section->Discard(kHeader, rest)) {
      const std::string zeros(kCommitStep, '\0');
      for (uint64_t at = kHeader; at < s.ringLength; at += zeros.size()) {
        s.section->WriteAt(at, zeros.data(), std::min<uint64_t>(zeros.size(), s.ringLength - at));
      }
    }
    s.ringCommitted = 0;
  }
  if (!CommitUpTo(s, kHeader)) {
    if (!s.ringRefusedReported) {
      s.ringRefusedReported = true;
      LogEventF(EVENTLOG_WARNING_TYPE,
                "The debug log's shared-memory ring %s gets no memory: it takes memory only while half of %s stays "
                "free for others, and at most its share of that half (the half divided by the rings there). Nothing "
                "is logged until there is room.",
                ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str(), ShmSpaceText(s).c_str());
    }
    return false;
  }
  if (!WriteHeader(s, kHeader, kHeader, wrap, size)) return false;
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
  s.ringLength = 0;
  s.ringCommitted = 0;
  s.section.reset();
}

// Another process may have cut the object shorter (a shell's
// ": > /dev/shm/<ring>" does, and may at any moment): it is grown back and
// the ring started again in place, its records being gone. Memory the ring
// holds only grows, but for a cut or another writer that started it again:
// what this process backed before must then be backed again.
bool StillWhole(LogState& s) {
  uint64_t held = 0;
  const uint64_t size = s.section->Size(&held);
  if (held < static_cast<uint64_t>(s.ringCommitted)) s.ringCommitted = 0;
  if (size >= s.ringLength) return true;
  s.ringCommitted = 0;
  if (!s.section->Grow(s.ringLength)) {
    ReleaseRing(s);
    return false;
  }
  return ResetRing(s, false, true);
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
  if (objectSize <= static_cast<uint64_t>(kHeader)) return false;
  s.section = std::move(section);
  s.ringLength = static_cast<size_t>(objectSize);
  s.ringCheckedAt = std::chrono::steady_clock::now();
  // Only the maker writes the ring out at exit (or every writer, by the
  // settings); one that moves on to a ring made anew under the name is
  // its maker no more.
  s.ringOwner = s.ringOwnerBySettings || created;

  RingHeader h;
  if (created) {
    if (!ResetRing(s, true)) {
      ReleaseRing(s);
      return false;
    }
  } else if (ReadHeader(s, h)) {
    s.ringSize = static_cast<int32_t>(h.size);
  } else if (!ResetRing(s, false)) {
    ReleaseRing(s);
    return false;
  }
  return true;
}

// Removed (the README's way to end it) or replaced while open: lines written
// on into it would reach nobody. Looked at once a second; the next record
// goes into the ring that now stands under the name, made anew if none.
bool StillNamed(LogState& s) {
  const auto now = std::chrono::steady_clock::now();
  if (now - s.ringCheckedAt < std::chrono::seconds(1)) return true;
  s.ringCheckedAt = now;
  if (s.section->IsNamed(RingName(s.logFilePath).c_str())) return true;
  ReleaseRing(s);
  return OpenRing(s);
}

// A write-out of a ring starts with a ring's header: four numbers and
// blanks to byte 100, nothing else.
bool IsRingWriteOut(const char* first, size_t length) {
  RingHeader h;
  if (length < static_cast<size_t>(kHeader) || !ParseHeader(first, h)) return false;
  const char* p = first;
  for (int commas = 0; commas < 3; ++p) {
    if (*p == ',') ++commas;
  }
  while (*p == ' ') ++p;
  if (*p == '-') ++p;
  while (*p >= '0' && *p <= '9') ++p;
  for (; p < first + kHeader; ++p) {
    if (*p != ' ') return false;
  }
  return true;
}

void LeaveRingUnwritten(LogState& s, const std::string& why) {
  if (s.ringLeftUnwritten == s.logFilePath) return;
  s.ringLeftUnwritten = s.logFilePath;
  LogEventF(EVENTLOG_WARNING_TYPE, "The debug log's shared-memory ring %s is not written out to %s at exit: %s.",
            ShmPathFromWindowsName(RingName(s.logFilePath).c_str()).c_str(), s.logFilePath, why.c_str());
}

// The maker's write-out at exit. The log file may hold what others wrote:
// an append-only or wrap-around log of the same name (another install, or
// this one before its kind changed). Only an empty file or an earlier
// write-out of a ring is replaced; the ring itself stays in /dev/shm.
void WriteOut(LogState& s) {
  if (!s.section->IsNamed(RingName(s.logFilePath).c_str())) {
    LeaveRingUnwritten(s, "the ring was removed or made anew under its name while this process wrote into it, and "
                          "the one standing there now is written out by its own maker");
    return;
  }
  const int fd = OpenLogFile(s, O_RDWR | O_CREAT);
  if (fd < 0) return;
  char first[kHeader] = {};
  const ssize_t had = pread(fd, first, kHeader, 0);
  struct stat st{};
  if (fstat(fd, &st) != 0 || (st.st_size > 0 && !IsRingWriteOut(first, had > 0 ? static_cast<size_t>(had) : 0))) {
    close(fd);
    LeaveRingUnwritten(s, "the file holds lines the ring did not write (a log of another kind under the same "
                          "name), which are kept; the ring's records stay in /dev/shm until it is removed");
    return;
  }
  // Read through the descriptor: another process may cut the ring now.
  std::vector<char> chunk(kCommitStep);
  uint64_t at = 0;
  for (;;) {
    const size_t n = s.section->ReadAt(at, chunk.data(), std::min<uint64_t>(chunk.size(), s.ringLength - at));
    const void* zero = std::memchr(chunk.data(), 0, n);
    const size_t keep = zero != nullptr ? static_cast<size_t>(static_cast<const char*>(zero) - chunk.data()) : n;
    size_t written = 0;
    if (!WriteAllAt(fd, chunk.data(), keep, static_cast<int64_t>(at), written)) {
      NoteWriteOutFailed(s.logFilePath, errno, true);
      break;
    }
    at += keep;
    if (keep < chunk.size() || at >= s.ringLength) break;
  }
  // Written first, cut after: an earlier, longer write-out ends where this
  // one does.
  const bool ended = ftruncate(fd, static_cast<off_t>(at)) == 0;
  (void)ended;
  close(fd);
}

}  // namespace

namespace debug_log_detail {

void WriteRingOut(LogState& s, bool release) {
  if (!s.section) return;
  if (s.ringOwner) WriteOut(s);
  if (release) {
    ReleaseRing(s);
    s.ringWritePos = 0;
    s.ringHighWater = 0;
  }
}

}  // namespace debug_log_detail

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
  if (!s.section && !OpenRing(s)) return;
  if (!StillNamed(s) || !StillWhole(s)) return;

  // Another process may have written since: the header says where the ring
  // stands now. One that cannot be trusted starts the ring again.
  RingHeader h;
  if (ReadHeader(s, h)) {
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
    FitRingToItsShare(s);
    size = s.ringSize;
  }
  // A record longer than the space behind the wrap position is dropped.
  if (pos + recordLength > size) return;
  if (!CommitUpTo(s, pos + recordLength)) {
    if (!EndRingAtItsMemory(s, pos)) return;
    size = s.ringSize;
    if (static_cast<int64_t>(textLength) + pos + 256 + 1 >= size || pos + recordLength > size) pos = wrap;
    if (pos + recordLength > size) return;
  }

  std::string& record = s.ringRecord;
  record.assign(prefix, prefixLength);
  record.append(s.recordTag);
  record.append(text, textLength);
  record.push_back(' ');
  // A write that fails (no memory left on /dev/shm) drops the record and
  // keeps the header as it was.
  if (!s.section->WriteAt(static_cast<uint64_t>(pos), record.data(), record.size())) return;
  pos += recordLength;

  s.ringWritePos = pos;
  s.ringHighWater = std::max(s.ringHighWater, pos);
  WriteHeader(s, s.ringWritePos, s.ringHighWater, s.wrapPosition, size);
}
