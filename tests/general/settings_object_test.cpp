#include <gtest/gtest.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_log.h"
#include "general/pl_hx_general_settings.h"
#include "log_capture.h"
#include "platform/event_source.h"
#include "platform/shared_memory.h"
#include "support/temp_dir.h"

namespace {

// A settings object whose directories point into a scratch install tree.
class CTestSettings : public CPLHXGeneralSettings {
 public:
  void UseTree(const std::string& root) {
    m_strModuleDirectory = root + "Quenlith/Pellora/";
    m_strCommonFilesDirectory = root + "Quenlith/Common Files/";
    m_strModuleFolderName = "Pellora";
  }
};

std::string LinkCriteria() {
  return "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<HEXMOORS><HX ID=\"3\"><LINK CRITERIA_ID=\"1\" "
         "SETTINGS_ID=\"1\"/></HX></HEXMOORS>\n";
}

std::string Settings(const std::vector<std::pair<int, std::string>>& items) {
  std::string xml = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<SETTINGS>\n<GENERALSETTINGS>\n";
  for (const auto& [id, value] : items) {
    xml += "<ITEM ID=\"" + std::to_string(id) + "\" DESCR=\"d\" VALUE=\"" + value + "\"/>\n";
  }
  // A file loads only when it names its conversion-options INI file and
  // holds a settings set: a missing INI file gives every option its default,
  // and lookups pass the empty set by to the defaults.
  xml += "<ITEM ID=\"1\" DESCR=\"d\" VALUE=\"C:/Engine/conv.ini\"/>\n";
  return xml + "</GENERALSETTINGS>\n<SETTING ID=\"900\" DESCR=\"d\"/>\n</SETTINGS>\n";
}

// Keeps the debug log's process-wide configuration across a test.
class CLogConfigGuard {
 public:
  CLogConfigGuard()
      : m_mode(GetLogMode()), m_sink(GetLogSink()), m_size(GetLogRingSize()), m_path(GetLogFilePath()),
        m_tag(GetLogRecordTag()) {}
  ~CLogConfigGuard() {
    SetLogMode(m_mode);
    SetLogSink(m_sink);
    SetLogRingSize(m_size);
    SetLogFilePath(m_path.c_str());
    SetLogRecordTag(m_tag);
    SetLogSinkLock(nullptr);
    SetLogRingOwner(false);
  }

 private:
  DWORD m_mode;
  LogSinkFn m_sink;
  int32_t m_size;
  std::string m_path;
  std::string m_tag;
};

class SettingsObjectTest : public ::testing::Test {
 protected:
  void Load(CTestSettings& s, const std::vector<std::pair<int, std::string>>& items) {
    tree.Write("Quenlith/Common Files/Settings/LinkCriteriaSettings.xml", LinkCriteria());
    tree.Write("Quenlith/Pellora/Settings/HXSettings.xml", Settings(items));
    s.UseTree(tree.Path());
    std::string dir = tree.Path() + "Quenlith/Pellora/Settings/";
    ASSERT_EQ(s.GetHandleSettings().LoadSettings(dir), S_OK);
  }
  bool LogModuleMapped() {
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
      if (line.find(tree.Path()) != std::string::npos && line.find("LogModule.so") != std::string::npos) return true;
    }
    return false;
  }
  CLogConfigGuard logConfig;
  CTempDir tree;
};

TEST_F(SettingsObjectTest, HugeLogSizeIsClampedNotWrapped) {
  CTestSettings s;
  // 2^31 - 1 KB would wrap to -1024 bytes in 32-bit arithmetic.
  Load(s, {{12, "1"}, {13, "2147483647"}, {14, "1"}, {39, tree.Path() + "logs"}});
  SetLogRingSize(0x100000);
  EXPECT_TRUE(s.InitLogging("PL_Hexmoor.dll", -1));
  SetLogMode(LOG_MODE_OFF);
  EXPECT_EQ(GetLogRingSize(), INT32_MAX);
  EXPECT_EQ(GetLogSink(), &SharedMemoryLogSink);
  EXPECT_EQ(s.GetLogFilePath(), tree.Path() + "logs/QuenlithLogs/QLCommonLog.log");
  EXPECT_EQ(GetLogRecordTag(), "[PL_Hexmoor.dll] ");
}

TEST_F(SettingsObjectTest, LogLevelKindAndSize) {
  {
    CTestSettings s;
    Load(s, {{12, "2"}, {13, "0"}, {14, "5"}});
    SetLogRingSize(0x100000);
    s.InitLogging("PL_Hexmoor.dll", -1);
    EXPECT_EQ(GetLogMode(), LOG_MODE_OFF);  // level 5 leaves the log off
    EXPECT_EQ(GetLogRingSize(), 0x100000);  // size 0 keeps the ring size
    EXPECT_EQ(GetLogSink(), &RingFileLogSink);
  }
  {
    CTestSettings s;
    Load(s, {{12, "2"}, {13, "64"}, {14, "10"}});
    s.InitLogging("PL_Hexmoor.dll", -1);
    EXPECT_EQ(GetLogMode(), LOG_MODE_WRITE);
    SetLogMode(LOG_MODE_OFF);
    EXPECT_EQ(GetLogSink(), &EventLogSink);
    EXPECT_EQ(GetLogRingSize(), 0x100000);
  }
  {
    CTestSettings s;
    Load(s, {{12, "1"}, {13, "64"}, {14, "1"}, {75, "1"}, {39, tree.Path()}});
    s.InitLogging("PL_Hexmoor.dll", -1);
    SetLogMode(LOG_MODE_OFF);
    EXPECT_EQ(GetLogRingSize(), 65536);
    EXPECT_TRUE(IsLogRingOwner());
    EXPECT_EQ(s.GetLogFilePath(), tree.Path() + "/QuenlithLogs/PL_Hexmoor.log");
  }
  {
    CTestSettings s;
    Load(s, {{14, "1"}, {23, " CON "}, {39, tree.Path() + "l"}});
    s.InitLogging("PL_Hexmoor.dll", -1);
    SetLogMode(LOG_MODE_OFF);
    EXPECT_EQ(s.GetLogFilePath(), tree.Path() + "l/QuenlithLogs/QL_CON");
    std::string longFolder(300, 'x');
    Load(s, {{39, longFolder}});
    s.InitLogging("PL_Hexmoor.dll", -1);
    EXPECT_EQ(s.GetLogFilePath(), kDefaultLogFilePath);
  }
}

// The debug log's sink lock lives in the log module: the settings object
// takes it away from the log before it lets the log module go.
TEST_F(SettingsObjectTest, LogModuleLockIsDroppedBeforeTheModuleIsReleased) {
  std::filesystem::create_directories(tree.Path() + "Quenlith/Common Files/bin");
  std::filesystem::copy_file(HX_LOG_MODULE, tree.Path() + "Quenlith/Common Files/bin/LogModule.so");
  {
    CTestSettings s;
    Load(s, {{14, "1"}, {39, tree.Path()}});
    s.InitLogging("PL_Hexmoor.dll", -1);
    SetLogMode(LOG_MODE_OFF);
    EXPECT_NE(GetLogSinkLock(), nullptr);
    EXPECT_TRUE(LogModuleMapped());
    // Configuring again replaces the module without a dangling lock.
    s.InitLogging("PL_Hexmoor.dll", -1);
    SetLogMode(LOG_MODE_OFF);
    EXPECT_NE(GetLogSinkLock(), nullptr);
  }
  EXPECT_EQ(GetLogSinkLock(), nullptr);
  EXPECT_FALSE(LogModuleMapped());
  // Logging after the object is gone writes nothing and does not crash.
  SetLogMode(LOG_MODE_WRITE);
  SetLogSink(&FileLogSink);
  DebugLog("after shutdown");
  SetLogMode(LOG_MODE_OFF);
}

// Every process that writes a log takes the one lock of that log, however
// its settings named it.
TEST_F(SettingsObjectTest, TheLockOfALogDoesNotDependOnHowItsNameIsSpelled) {
  std::filesystem::create_directories(tree.Path() + "Quenlith/Common Files/bin");
  std::filesystem::copy_file(HX_LOG_MODULE, tree.Path() + "Quenlith/Common Files/bin/LogModule.so");
  CTestSettings s;
  const auto lockOf = [&](std::vector<std::pair<int, std::string>> items) {
    // Off: the lock is asked for all the same, and no ring is made.
    items.push_back({14, "0"});
    items.push_back({39, tree.Path()});
    Load(s, items);
    s.InitLogging("PL_Hexmoor.dll", -1);
    SetLogMode(LOG_MODE_OFF);
    return GetLogSinkLock();
  };
  const struct {
    std::vector<std::pair<int, std::string>> one, other;
    bool same;
  } rows[] = {
      {{}, {{23, "QLCommonLog.log"}}, true},
      {{{75, "1"}}, {{23, "PL_Hexmoor.log"}}, true},
      {{{12, "2"}, {23, "SiteA.log"}}, {{23, "SiteA.log"}}, true},
      {{}, {{23, "SiteA.log"}}, false},
  };
  for (const auto& row : rows) {
    CSync* one = lockOf(row.one);
    CSync* other = lockOf(row.other);
    ASSERT_NE(nullptr, one);
    EXPECT_EQ(row.same, one == other) << row.other.front().second;
  }
  SetLogSinkLock(nullptr);
  for (const char* name : {"QLLogModule.Product.PL_Hexmoor.log", "QLLogModule.Product.SiteA.log"}) {
    CSharedMemory::Remove((std::string("Global\\") + name).c_str());
  }
}

TEST_F(SettingsObjectTest, SettingReadsKeepDefaultsAndLog) {
  CTestSettings s;
  Load(s, {{7, "Y-Folder"}, {17, "/tmp/x"}});
  CLogCapture log;
  int32_t value = 42;
  EXPECT_FALSE(s.GetSettingFromID(9999, value, -1, 0));
  EXPECT_EQ(value, 42);
  EXPECT_TRUE(log.Has("GetSettingFromID int failed ID 9999, SettingID -1, EngineID 0"));
  ci_string text("default");
  EXPECT_FALSE(s.GetSettingFromID(9998, text, 3, 1));
  EXPECT_EQ(ToStd(text), "default");
  EXPECT_TRUE(log.Has("GetSettingFromID ci_string failed ID 9998, SettingID 3, EngineID 1"));
  EXPECT_TRUE(s.GetSettingFromID(7, text, 0, 0));
  EXPECT_EQ(ToStd(text), "Y-Folder");
  std::string plain;
  EXPECT_TRUE(s.GetSettingFromID(17, plain, -1, 0));
  EXPECT_EQ(plain, "/tmp/x");
  int32_t settingsID = -5;
  EXPECT_TRUE(s.GetLinkCriteriaSetting(1, settingsID));
  EXPECT_EQ(settingsID, 1);
}

TEST_F(SettingsObjectTest, EventReportsCarryTheErrorIdentifier) {
  SetEventReportFile(tree.Path() + "events.txt");
  {
    CTestSettings s;
    s.m_dwErrorEventID = 0x6000006F;
    ASSERT_TRUE(s.GetEventLog().Register("Quenlith Pellora"));
    s.WriteEventLog(1, "%s", "");
    s.WriteEventLog(2, "short %d", 1);
    s.WriteEventLog(1, "%s", std::string(3000, 'a').c_str());
    s.LogError(2, 1, "Loading Settings failed %s", "/x/");
    s.LogError(0x12345, 1, "no text");
  }
  SetEventReportFile("");
  std::ifstream f(tree.Path() + "events.txt");
  std::vector<std::string> lines;
  for (std::string line; std::getline(f, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "Quenlith Pellora\tWARNING\t0x6000006F\t0\tshort 1");
  EXPECT_EQ(lines[1], "Quenlith Pellora\tERROR\t0x6000006F\t0\t" + std::string(2047, 'a'));
  EXPECT_EQ(lines[2],
            "Quenlith Pellora\tERROR\t0x6000006F\t0\tERROR: The system cannot find the file specified. Loading "
            "Settings failed /x/");
  EXPECT_EQ(lines[3], "Quenlith Pellora\tERROR\t0x6000006F\t0\tERROR: . no text");
}

TEST(SettingsObjectConcurrent, OneInstanceForAllThreads) {
  std::vector<CPLHXGeneralSettings*> seen(8, nullptr);
  std::vector<std::thread> threads;
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = CPLHXGeneralSettings::getInstance(); });
  }
  for (std::thread& t : threads) t.join();
  for (CPLHXGeneralSettings* p : seen) EXPECT_EQ(p, seen[0]);
  EXPECT_NE(seen[0], nullptr);
}

}  // namespace
