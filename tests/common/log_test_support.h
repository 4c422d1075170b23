// Shared set-up of the debug-log tests: a private folder, log files named
// after the process so that parallel test runs never share a ring, a fixed
// clock, and a clean slate after each test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "platform/local_time.h"
#include "platform/shared_memory.h"

namespace logtest {

// 2026/12/07 08:09:10.011, a Monday.
inline void FixedClock(SYSTEMTIME* st) {
  *st = SYSTEMTIME{2026, 12, 1, 7, 8, 9, 10, 11};
}

inline std::string ExpectedPrefix() {
  char buf[64];
  std::snprintf(buf, sizeof(buf), "\r\n2026/12/07 08:09:10.011 %4X ", GetCurrentThreadId());
  return buf;
}

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

// The bytes of a named ring, read through a mapping of its own.
inline std::string ReadRing(const std::string& windowsName) {
  CSharedMemory shm;
  bool created = false;
  std::string bytes;
  if (!shm.CreateOrOpen(windowsName.c_str(), 0, created) || created) {
    if (created) CSharedMemory::Remove(windowsName.c_str());
    return bytes;
  }
  const uint64_t size = shm.Size();
  void* view = shm.MapView(size);
  if (view == nullptr) return bytes;
  bytes.assign(static_cast<const char*>(view), size);
  CSharedMemory::UnmapView(view, size);
  return bytes;
}

inline bool RingExists(const std::string& windowsName) {
  return std::filesystem::exists("/dev/shm" + ShmNameFromWindowsName(windowsName.c_str()));
}

class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/hxlogtest.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dirTemplate));
    m_dir = dirTemplate;
    static int counter = 0;
    m_fileName = "hxlog_" + std::to_string(getpid()) + "_" + std::to_string(++counter) + ".log";
    m_path = m_dir + "/" + m_fileName;
    m_ringName = "Global\\" + m_fileName;
    SetLogFilePath(m_path.c_str());
    SetLogRecordTag("");
    SetLogRingSize(kDefaultLogRingSize);
    SetLogWrapPosition(kDefaultLogWrapPosition);
    SetLogBatchThreshold(kDefaultLogBatchThreshold);
    SetLogRingOwner(false);
    SetLogClock(&FixedClock);
    SetLogSinkLock(&m_lock);
    SetLogSink(&FileLogSink);
    SetLogMode(LOG_MODE_WRITE);
  }

  void TearDown() override {
    SetLogMode(LOG_MODE_OFF);
    FlushLog(true);
    SetLogRingOwner(false);
    SetLogSinkLock(nullptr);
    SetLogSink(&FileLogSink);
    SetLogClock(nullptr);
    SetLogRecordTag("");
    SetLogRingSize(kDefaultLogRingSize);
    SetLogWrapPosition(kDefaultLogWrapPosition);
    SetLogBatchThreshold(kDefaultLogBatchThreshold);
    SetLogFilePath(kDefaultLogFilePath);
    CSharedMemory::Remove(m_ringName.c_str());
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(m_dir, ec)) {
      const std::string position = LogFilePositionName(entry.path().c_str());
      if (!position.empty()) CSharedMemory::Remove(position.c_str());
    }
    std::filesystem::remove_all(m_dir, ec);
  }

  std::string m_dir;
  std::string m_fileName;
  std::string m_path;
  std::string m_ringName;
  CCritSec m_lock;
};

}  // namespace logtest

namespace logtest {

struct RingHeader {
  long long writePos = -1, highWater = -1, wrap = -1, size = -1;
};

inline RingHeader ParseRingHeader(const std::string& ring) {
  RingHeader h;
  if (ring.size() < 100) return h;
  std::sscanf(ring.substr(0, 99).c_str(), "%lld, %lld, %lld, %lld", &h.writePos, &h.highWater,
              &h.wrap, &h.size);
  return h;
}

// The header as the ring keeps it: the four numbers padded to 100 bytes.
inline std::string HeaderText(long long writePos, long long highWater, long long wrap,
                              long long size) {
  std::string h = std::to_string(writePos) + ", " + std::to_string(highWater) + ", " +
                  std::to_string(wrap) + ", " + std::to_string(size);
  h.resize(100, ' ');
  return h;
}

// Splits the records between offset 100 and `end` at their "\r\n" starts.
inline std::vector<std::string> SplitRecords(const std::string& bytes, size_t begin, size_t end) {
  std::vector<std::string> records;
  size_t pos = bytes.find("\r\n", begin);
  while (pos != std::string::npos && pos < end) {
    size_t next = bytes.find("\r\n", pos + 2);
    if (next == std::string::npos || next > end) next = end;
    records.push_back(bytes.substr(pos, next - pos));
    pos = next;
  }
  return records;
}

}  // namespace logtest

namespace logtest {

// A record as the fixed clock writes it: "\r\n2026/12/07 08:09:10.011 ",
// the thread in hexadecimal (at least four characters, right-aligned), a
// blank, then the rest. Gives the rest, or false when the record is not
// well-formed.
inline bool SplitTimePrefix(const std::string& record, std::string& rest) {
  const std::string time = "\r\n2026/12/07 08:09:10.011 ";
  if (record.compare(0, time.size(), time) != 0) return false;
  size_t i = time.size();
  size_t width = 0;
  while (i < record.size() && record[i] == ' ') ++i, ++width;
  size_t digits = 0;
  while (i < record.size() && std::isxdigit(static_cast<unsigned char>(record[i])) &&
         !std::islower(static_cast<unsigned char>(record[i]))) {
    ++i, ++digits;
  }
  if (digits == 0 || width + digits < 4 || (width > 0 && width + digits != 4)) return false;
  if (i >= record.size() || record[i] != ' ') return false;
  rest = record.substr(i + 1);
  return true;
}

}  // namespace logtest
