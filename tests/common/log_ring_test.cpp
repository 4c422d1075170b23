#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "common/file_utils.h"
#include "log_test_support.h"
#include "platform/event_source.h"
#include "platform/process_shared_lock.h"

namespace {

using logtest::HeaderText;
using logtest::ParseRingHeader;
using logtest::ReadRing;

class SharedMemoryRing : public logtest::LogTest {
 protected:
  void SetUp() override {
    LogTest::SetUp();
    SetLogSink(&SharedMemoryLogSink);
  }

  // Overwrites the ring's header through a mapping of this test's own.
  void PokeHeader(const std::string& header) {
    CSharedMemory shm;
    bool created = false;
    ASSERT_TRUE(shm.CreateOrOpen(m_ringName.c_str(), 0, created));
    ASSERT_FALSE(created);
    char* view = static_cast<char*>(shm.MapView(100));
    ASSERT_NE(nullptr, view);
    std::string padded = header;
    padded.resize(100, ' ');
    std::memcpy(view, padded.data(), 100);
    CSharedMemory::UnmapView(view, 100);
  }

  size_t RecordLength(size_t textLength, const std::string& tag = "") {
    return logtest::ExpectedPrefix().size() + tag.size() + textLength + 1;
  }
};

TEST_F(SharedMemoryRing, NewRingHeaderAndRecordLayout) {
  const std::string tag = "[PL_Hexmoor.dll] ";
  SetLogRecordTag(tag);
  DebugLog("hello %s", "ring");
  DebugLog("second");

  const std::string ring = ReadRing(m_ringName);
  ASSERT_EQ(static_cast<size_t>(kDefaultLogRingSize), ring.size());
  const std::string first = logtest::ExpectedPrefix() + tag + "hello ring ";
  const std::string second = logtest::ExpectedPrefix() + tag + "second ";
  const long long end = 100 + static_cast<long long>(first.size() + second.size());
  EXPECT_EQ(HeaderText(end, end, 20480, 10485760), ring.substr(0, 100));
  EXPECT_EQ(first + second, ring.substr(100, end - 100));
  EXPECT_EQ('\0', ring[end]);
  EXPECT_TRUE(IsLogRingOwner());

  struct stat st{};
  ASSERT_EQ(0, stat(("/dev/shm" + ShmNameFromWindowsName(m_ringName.c_str())).c_str(), &st));
  EXPECT_EQ(0660u, st.st_mode & 0777u);
}

TEST_F(SharedMemoryRing, LargeRingTakesMemoryOnlyAsItIsWritten) {
  SetLogRingSize(int64_t{1} << 30);  // the size a default log setting asks for
  DebugLog("one");
  struct stat st{};
  ASSERT_EQ(0, stat(("/dev/shm" + ShmNameFromWindowsName(m_ringName.c_str())).c_str(), &st));
  EXPECT_EQ(int64_t{1} << 30, st.st_size);
  EXPECT_LE(st.st_blocks * 512, 4 << 20);
  FlushLog(true);
  EXPECT_EQ(100 + logtest::ExpectedPrefix().size() + 4, logtest::ReadFile(m_path).size());
}

TEST_F(SharedMemoryRing, FullRingWrapsAndKeepsRecordsBelowWrapPosition) {
  SetLogRingSize(4096);
  SetLogWrapPosition(1000);
  const size_t textLength = 200;
  const long long record = static_cast<long long>(RecordLength(textLength));

  long long expectedPos = 100;
  long long highWater = 100;
  std::string beforeWrap;
  int wraps = 0;
  for (int i = 0; i < 40; ++i) {
    if (static_cast<long long>(textLength) + expectedPos + 257 >= 4096) {
      if (wraps == 0) beforeWrap = ReadRing(m_ringName);
      expectedPos = 1000;
      ++wraps;
    }
    DebugLog("%s", std::string(textLength, static_cast<char>('a' + i % 26)).c_str());
    expectedPos += record;
    highWater = std::max(highWater, expectedPos);
    const std::string ring = ReadRing(m_ringName);
    ASSERT_EQ(HeaderText(expectedPos, highWater, 1000, 4096), ring.substr(0, 100)) << i;
  }
  ASSERT_GE(wraps, 2);
  const std::string ring = ReadRing(m_ringName);
  // The first records, below the wrap position, survive every wrap.
  EXPECT_EQ(beforeWrap.substr(100, 900), ring.substr(100, 900));
  EXPECT_EQ(logtest::ExpectedPrefix(), ring.substr(1000, logtest::ExpectedPrefix().size()));
}

TEST_F(SharedMemoryRing, RecordThatCannotFitIsDroppedNotWrittenPastTheEnd) {
  SetLogRingSize(2400);
  SetLogWrapPosition(1000);
  // The writer's margin leaves the record tag out: this one passes the margin
  // at offset 100 but would end past the ring, and does not fit behind the
  // wrap position either.
  SetLogRecordTag(std::string(1800, 't'));
  DebugLog("%s", std::string(500, 'x').c_str());
  std::string ring = ReadRing(m_ringName);
  ASSERT_EQ(2400u, ring.size());
  EXPECT_EQ(HeaderText(100, 100, 1000, 2400), ring.substr(0, 100));
  EXPECT_EQ(std::string::npos, ring.find_first_not_of('\0', 100));

  SetLogRecordTag("");
  DebugLog("%s", std::string(2047, 'x').c_str());
  ring = ReadRing(m_ringName);
  EXPECT_EQ(HeaderText(100, 100, 1000, 2400), ring.substr(0, 100));

  DebugLog("fits");
  ring = ReadRing(m_ringName);
  const long long end = 100 + static_cast<long long>(RecordLength(4));
  EXPECT_EQ(HeaderText(end, end, 1000, 2400), ring.substr(0, 100));
}

TEST_F(SharedMemoryRing, InvalidHeaderStartsTheRingAgain) {
  SetLogRingSize(4096);
  SetLogWrapPosition(1000);
  const long long record = static_cast<long long>(RecordLength(5));
  const char* const corrupt[] = {
      "garbage",                  // no numbers
      "999999, 999999, 1000, 4096",  // write position past the end
      "100, 100, 1000, 999999",   // size past the mapping
      "300, 200, 1000, 4096",     // high-water mark below the write position
      "100, 100, 5000, 4096",     // wrap position past the end
      "50, 100, 1000, 4096",      // write position inside the header
      "100, 100, 1000, -4096",    // no positive size
      "100, 100, 1000, 99999999999999999999",  // out of range
  };
  SetEventReportFile(m_dir + "/events.txt");
  CEventLog eventLog;
  ASSERT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);
  for (const char* header : corrupt) {
    DebugLog("%s", "older");
    DebugLog("%s", "older");
    PokeHeader(header);
    DebugLog("%s", "after");
    const std::string ring = ReadRing(m_ringName);
    ASSERT_EQ(4096u, ring.size());
    EXPECT_EQ(HeaderText(100 + record, 100 + record, 1000, 4096), ring.substr(0, 100)) << header;
    EXPECT_EQ(logtest::ExpectedPrefix() + "after ", ring.substr(100, record)) << header;
    // The old records are gone, so the exit write-out stops after the new one.
    EXPECT_EQ(std::string::npos, ring.find_first_not_of('\0', 100 + record)) << header;
  }
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  // Not silently: once.
  const std::string events = logtest::ReadFile(m_dir + "/events.txt");
  EXPECT_NE(std::string::npos, events.find("is started again and the records it held are given up"));
  EXPECT_EQ(1, std::count(events.begin(), events.end(), '\n'));
}

TEST_F(SharedMemoryRing, ExistingRingIsAdoptedWithItsSizes) {
  SetLogRingSize(4096);
  SetLogWrapPosition(1000);
  {
    CSharedMemory shm;
    bool created = false;
    ASSERT_TRUE(shm.CreateOrOpen(m_ringName.c_str(), 8192, created));
    ASSERT_TRUE(created);
    char* view = static_cast<char*>(shm.MapView(8192));
    std::memcpy(view, HeaderText(100, 100, 3000, 8192).data(), 100);
    CSharedMemory::UnmapView(view, 8192);
  }
  DebugLog("adopted");
  const std::string ring = ReadRing(m_ringName);
  const long long end = 100 + static_cast<long long>(RecordLength(7));
  EXPECT_EQ(HeaderText(end, end, 3000, 8192), ring.substr(0, 100));
  EXPECT_FALSE(IsLogRingOwner());

  // Not the owner: nothing is written to the file at exit.
  FlushLog(true);
  EXPECT_FALSE(FileExists(m_path.c_str()));
}

TEST_F(SharedMemoryRing, EmptyObjectLeftByCrashedCreatorIsSizedAndInitialised) {
  SetLogRingSize(4096);
  SetLogWrapPosition(1000);
  {
    CSharedMemory shm;
    bool created = false;
    ASSERT_TRUE(shm.CreateOrOpen(m_ringName.c_str(), 0, created));
  }
  DebugLog("sized");
  const std::string ring = ReadRing(m_ringName);
  ASSERT_EQ(4096u, ring.size());
  const long long end = 100 + static_cast<long long>(RecordLength(5));
  EXPECT_EQ(HeaderText(end, end, 1000, 4096), ring.substr(0, 100));
}

// Another process cuts the ring's object short (as "> /dev/shm/<ring>"
// would): the next records must not touch pages past its end.
TEST_F(SharedMemoryRing, RingShrunkByAnotherProcessIsGrownBackNotTouched) {
  SetLogRingSize(1 << 20);
  DebugLog("before");
  for (off_t cut : {off_t{0}, off_t{50}, off_t{4096}}) {
    {
      CSharedMemory shm;
      bool created = false;
      ASSERT_TRUE(shm.CreateOrOpen(m_ringName.c_str(), 0, created));
      const std::string path = "/dev/shm" + ShmNameFromWindowsName(m_ringName.c_str());
      ASSERT_EQ(0, truncate(path.c_str(), cut));
    }
    DebugLog("after %d", static_cast<int>(cut));
    const std::string ring = ReadRing(m_ringName);
    ASSERT_EQ(static_cast<size_t>(1 << 20), ring.size()) << cut;
    const logtest::RingHeader h = ParseRingHeader(ring);
    EXPECT_EQ(1 << 20, h.size) << cut;
    EXPECT_NE(ring.find("after " + std::to_string(cut) + " "), std::string::npos) << cut;
  }
  FlushLog(true);  // the exit write-out reads only what the object holds
}

TEST_F(SharedMemoryRing, SilentWithoutLockWriteBitOrRoom) {
  SetLogSinkLock(nullptr);
  DebugLog("no lock");
  EXPECT_FALSE(logtest::RingExists(m_ringName));

  SetLogSinkLock(&m_lock);
  SetLogMode(1);
  DebugLog("no write bit");
  EXPECT_FALSE(logtest::RingExists(m_ringName));

  SetLogMode(LOG_MODE_WRITE);
  SetLogRingSize(20480);  // not larger than the default wrap position
  DebugLog("too small");
  EXPECT_FALSE(logtest::RingExists(m_ringName));
}

TEST_F(SharedMemoryRing, OwnerWritesRingToFileAtFlush) {
  SetLogRingSize(4096);
  SetLogWrapPosition(1000);
  DebugLog("one");
  DebugLog("two");
  const std::string ring = ReadRing(m_ringName);
  FlushLog(true);
  const size_t used = ring.find('\0');
  ASSERT_NE(std::string::npos, used);
  EXPECT_EQ(ring.substr(0, used), logtest::ReadFile(m_path));

  // After the view is released the next text maps the ring again.
  DebugLog("three");
  const logtest::RingHeader h = ParseRingHeader(ReadRing(m_ringName));
  EXPECT_EQ(static_cast<long long>(used + RecordLength(5)), h.writePos);
}

// The write-out at exit empties the log file: one another user put under its
// name in a folder every user may write to is left as it is.
TEST_F(SharedMemoryRing, WriteOutAtExitLeavesAFileAnotherUserPutAlone) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to put a file of another user";
  ASSERT_EQ(0, chmod(m_dir.c_str(), 01777));
  std::ofstream(m_path) << "theirs";
  ASSERT_EQ(0, chown(m_path.c_str(), 54321, 54321));
  SetLogRingSize(4096);
  SetLogWrapPosition(1000);
  DebugLog("one");
  FlushLog(true);
  EXPECT_EQ("theirs", logtest::ReadFile(m_path));
}

TEST_F(SharedMemoryRing, TwoProcessesShareOneRingWithoutCorruption) {
  const std::string lockName = "hxlogtest_lock_" + std::to_string(getpid());
  CProcessSharedLock lock(lockName.c_str());
  ASSERT_TRUE(lock.IsValid());
  SetLogSinkLock(&lock);
  SetLogRingSize(1 << 20);
  SetLogRecordTag("[T] ");
  constexpr int kChildren = 2;
  constexpr int kLines = 400;

  pid_t children[kChildren];
  for (int c = 0; c < kChildren; ++c) {
    children[c] = fork();
    ASSERT_GE(children[c], 0);
    if (children[c] == 0) {
      // Each child opens (or creates) the ring itself.
      for (int i = 0; i < kLines; ++i) DebugLog("child %d line %d %s", c, i, "payload-payload");
      _exit(0);
    }
  }
  for (pid_t pid : children) {
    int status = 0;
    ASSERT_EQ(pid, waitpid(pid, &status, 0));
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  SetLogSinkLock(nullptr);
  CProcessSharedLock::Remove(lockName.c_str());

  const std::string ring = ReadRing(m_ringName);
  const logtest::RingHeader h = ParseRingHeader(ring);
  ASSERT_GT(h.writePos, 100);
  EXPECT_EQ(h.writePos, h.highWater);
  EXPECT_EQ('\0', ring[h.writePos]);
  std::map<int, int> nextLine;
  size_t total = 0;
  for (const std::string& r : logtest::SplitRecords(ring, 100, static_cast<size_t>(h.writePos))) {
    std::string rest;
    ASSERT_TRUE(logtest::SplitTimePrefix(r, rest)) << r;
    int child = -1;
    int line = -1;
    ASSERT_EQ(2, std::sscanf(rest.c_str(), "[T] child %d line %d", &child, &line)) << r;
    ASSERT_EQ("[T] child " + std::to_string(child) + " line " + std::to_string(line) +
                  " payload-payload ",
              rest);
    ASSERT_TRUE(child == 0 || child == 1);
    EXPECT_EQ(nextLine[child]++, line);
    ++total;
  }
  EXPECT_EQ(static_cast<size_t>(kChildren * kLines), total);
}

// An administrator clears the ring or its lock (": > /dev/shm/...") while
// processes log: none dies, and the ring goes on, sound, after the cut.
TEST_F(SharedMemoryRing, CutsOfTheRingAndItsLockWhileProcessesWriteKillNone) {
  const std::string lockName = "hxlogtest_cutlock_" + std::to_string(getpid());
  CProcessSharedLock lock(lockName.c_str());
  ASSERT_TRUE(lock.IsValid());
  SetLogSinkLock(&lock);
  SetLogRingSize(1 << 20);
  DebugLog("made");
  pid_t children[3];
  for (pid_t& child : children) {
    child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      CProcessSharedLock own(lockName.c_str());
      SetLogSinkLock(&own);
      for (int i = 0; i < 30000; ++i) DebugLog("line %d %s", i, "payload-payload");
      SetLogSinkLock(nullptr);
      _exit(0);
    }
  }
  const std::string ring = ShmPathFromWindowsName(m_ringName.c_str());
  const std::string lockPath = ShmPathFromWindowsName(lockName.c_str());
  for (int cut = 0; cut < 40; ++cut) {
    ASSERT_EQ(0, truncate((cut % 2 == 0 ? ring : lockPath).c_str(), 0));
    usleep(2000);
  }
  for (pid_t child : children) {
    int status = 0;
    ASSERT_EQ(child, waitpid(child, &status, 0));
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  }
  DebugLog("after the cuts");
  SetLogSinkLock(nullptr);
  CProcessSharedLock::Remove(lockName.c_str());
  const std::string bytes = ReadRing(m_ringName);
  const logtest::RingHeader h = ParseRingHeader(bytes);
  ASSERT_EQ(1 << 20, h.size);
  EXPECT_NE(std::string::npos, bytes.rfind("after the cuts ", static_cast<size_t>(h.writePos)));
}

// The write-out at exit replaces only an empty file or an earlier write-out
// of a ring: a log of another kind under the same name keeps its lines, and
// a ring whose name now stands for another one is left to that one's maker.
TEST_F(SharedMemoryRing, WriteOutAtExitDestroysNoLinesItDidNotWrite) {
  SetLogRingSize(4096);
  SetLogWrapPosition(1000);
  DebugLog("one");
  const std::string appended = "\n\n ****  Mon Dec  7 08:09:10 2026\n another install's line";
  std::ofstream(m_path) << appended;
  FlushLog(true);
  EXPECT_EQ(appended, logtest::ReadFile(m_path));

  ASSERT_TRUE(std::filesystem::remove(m_path));
  SetLogRingOwner(false);
  DebugLog("two");  // opens the ring again, not as its maker
  SetLogRingOwner(true);
  FlushLog(false);
  const std::string first = logtest::ReadFile(m_path);
  EXPECT_NE(std::string::npos, first.find("two "));
  DebugLog("three");
  FlushLog(false);  // an earlier write-out is replaced
  EXPECT_NE(std::string::npos, logtest::ReadFile(m_path).find("three "));

  CSharedMemory::Remove(m_ringName.c_str());  // rm while it is written
  FlushLog(true);
  EXPECT_EQ(std::string::npos, logtest::ReadFile(m_path).find("four "));
  DebugLog("four");  // a new ring under the name
  EXPECT_NE(std::string::npos, ReadRing(m_ringName).find("four "));
}

// Rings of two installs on one small /dev/shm: the second gets its share,
// though the first took half of /dev/shm before it came, and though another
// user planted many small objects with a ring's header there.
TEST_F(SharedMemoryRing, ASecondRingOnASmallDevShmGetsItsShare) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private /dev/shm";
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=16m,mode=1777") != 0) {
      _exit(2);
    }
    for (int i = 0; i < 20; ++i) {
      const std::string planted = "/dev/shm/planted" + std::to_string(i);
      std::string header = "100, 100, 0, 200";
      header.resize(200, ' ');
      std::ofstream(planted) << header;
      if (chown(planted.c_str(), 65534, 65534) != 0) _exit(4);
    }
    SetLogRingSize(int64_t{1} << 30);
    for (int i = 0; i < 60000; ++i) DebugLog("site A %05d %s", i, std::string(100, 'a').c_str());
    FlushLog(true);
    SetLogFilePath((m_dir + "/SiteB.log").c_str());
    for (int i = 0; i < 20000; ++i) DebugLog("site B %05d %s", i, std::string(100, 'b').c_str());
    FlushLog(true);
    std::string ring(8 << 20, '\0');
    std::ifstream("/dev/shm/SiteB.log", std::ios::binary).read(ring.data(), 8 << 20);
    struct stat st{};
    if (stat("/dev/shm/SiteB.log", &st) != 0 || st.st_blocks * 512 < (2 << 20)) _exit(5);
    _exit(ring.find("site B 19999 ") != std::string::npos ? 0 : 3);
  }
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

// On a small /dev/shm (a container's) the ring of the default gigabyte takes
// memory only while half of /dev/shm stays free, then wraps around within
// what it has, keeping the newest records, and says so once.
TEST_F(SharedMemoryRing, RingOnASmallDevShmLeavesHalfFreeAndKeepsTheNewest) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a private /dev/shm";
  int out[2];
  ASSERT_EQ(0, pipe(out));
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", "/dev/shm", "tmpfs", 0, "size=8m,mode=1777") != 0) {
      _exit(2);
    }
    SetEventReportFile(m_dir + "/events.txt");
    CEventLog eventLog;
    eventLog.Register("Quenlith Pellora");
    SetModuleEventLog(&eventLog);
    SetLogRingSize(int64_t{1} << 30);
    constexpr int kRecords = 60000;
    for (int i = 0; i < kRecords; ++i) DebugLog("record %05d %s", i, std::string(100, 'r').c_str());
    // Another user takes more of /dev/shm; a worker that opens the ring now
    // uses the memory it holds and does not end it shorter.
    std::ofstream("/dev/shm/other") << std::string(1 << 20, 'o');
    FlushLog(true);
    DebugLog("record of a later worker");
    SetModuleEventLog(nullptr);
    struct statvfs fs{};
    statvfs("/dev/shm", &fs);
    // Read, not mapped: a page of /dev/shm touched through a mapping takes
    // memory even to be read.
    std::string ring(8 << 20, '\0');
    std::ifstream("/dev/shm" + ShmNameFromWindowsName(m_ringName.c_str()), std::ios::binary).read(ring.data(), 8 << 20);
    const std::string events = logtest::ReadFile(m_dir + "/events.txt");
    size_t reports = 0;
    for (size_t at = events.find("stops growing"); at != std::string::npos; at = events.find("stops growing", at + 1)) {
      ++reports;
    }
    std::string summary = std::to_string(ParseRingHeader(ring).size) + " " +
                                std::to_string(fs.f_bavail * fs.f_frsize >> 20) + " " +
                                (ring.find("record 59999 ") != std::string::npos &&
                                         ring.find("record of a later worker") != std::string::npos
                                     ? "newest"
                                     : "lost") +
                                " " +
                                std::to_string(reports);
    // Another worker starts the ring again (its header written over), giving
    // its memory back, and /dev/shm fills up: this worker must not write into
    // pages it backed before, which would kill it.
    for (int i = 0; i < kRecords; ++i) DebugLog("round two %05d %s", i, std::string(100, 'r').c_str());
    const pid_t restarter = fork();
    if (restarter == 0) {
      PokeHeader("written over");
      DebugLog("restarted");
      _exit(0);
    }
    int restarted = 0;
    if (waitpid(restarter, &restarted, 0) != restarter || restarted != 0) _exit(4);
    std::ofstream("/dev/shm/full") << std::string(8 << 20, 'f');
    for (int i = 0; i < 12000; ++i) DebugLog("after the restart %05d %s", i, std::string(100, 'r').c_str());
    // Filled up by another user: a ring made now gets no memory and says so
    // once; a page of it read before it holds memory would kill the process.
    SetModuleEventLog(&eventLog);
    SetLogFilePath((m_dir + "/made_when_full.log").c_str());
    for (int i = 0; i < 3; ++i) DebugLog("no room %d", i);
    SetModuleEventLog(nullptr);
    const std::string refused = logtest::ReadFile(m_dir + "/events.txt");
    const std::string noMemory = refused.find("gets no memory") != std::string::npos ? " said" : " unsaid";
    summary += noMemory;
    if (write(out[1], summary.data(), summary.size()) != static_cast<ssize_t>(summary.size())) _exit(3);
    _exit(0);
  }
  close(out[1]);
  int status = 0;
  ASSERT_EQ(pid, waitpid(pid, &status, 0));
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  char summary[128] = {};
  ASSERT_GT(read(out[0], summary, sizeof summary - 1), 0);
  close(out[0]);
  // Size in bytes, MB left free, the newest record, reports, the ring that
  // got no memory.
  EXPECT_EQ(std::string("4194304 3 newest 1 said"), summary);
}

}  // namespace
