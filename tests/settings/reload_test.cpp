#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "common/debug_log.h"
#include "common/event_log.h"
#include "platform/event_source.h"
#include "settings/handle_pl_settings.h"
#include "settings_files.h"

namespace {

// Interval 0: every check looks at the files. File times are set explicitly,
// so "changed" never depends on the clock's resolution.
class Reload : public ::testing::Test {
 protected:
  void SetUp() override {
    WriteModule("1", 1000000000);
    WriteLinks("1", 1000000000);
    std::string dir = tree.SettingsDir();
    ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  }
  void WriteModule(const std::string& value, long seconds) {
    tree.WriteModule(ModuleSettings(Item(2, value) + Item(81, "0"), ""));
    SetFileTimeSeconds(tree.ModulePath(), seconds);
  }
  void WriteLinks(const std::string& settingsID, long seconds) {
    tree.WriteLinks(Links("<HX ID=\"3\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"" + settingsID + "\"/></HX>"));
    SetFileTimeSeconds(tree.LinksPath(), seconds);
  }
  int32_t Setting2() {
    int32_t v = -1;
    holder.GetIntValue(2, v, -1, 0);
    return v;
  }
  int32_t Criteria1() {
    int32_t v = -1;
    holder.GetLinkCriteriaSetting(1, v);
    return v;
  }
  CInstallTree tree;
  CHandlePLSettings holder;
};

TEST_F(Reload, AChangedFileIsDueOnceAndReloaded) {
  bool reloaded = true;
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_FALSE(reloaded);

  WriteModule("2", 1000000100);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_TRUE(reloaded);
  EXPECT_EQ(2, Setting2());
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_FALSE(reloaded);
}

TEST_F(Reload, ASkippedReloadIsRetriedAtTheNextCheck) {
  WriteModule("3", 1000000100);
  bool reloaded = false;
  holder.GetReloadLock().Lock();  // another thread is reloading
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_TRUE(reloaded);
  EXPECT_EQ(1, Setting2());
  holder.GetReloadLock().Unlock();

  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_TRUE(reloaded);
  EXPECT_EQ(3, Setting2());
}

TEST_F(Reload, TheFilesAreCheckedAndReloadedEachOnItsOwn) {
  WriteLinks("4", 1000000100);
  bool reloaded = false;
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_TRUE(reloaded);
  EXPECT_EQ(4, Criteria1());  // the module file did not change

  // A module file that fails to load does not hold back the links.
  tree.WriteModule("<SETTINGS>");
  SetFileTimeSeconds(tree.ModulePath(), 1000000200);
  WriteLinks("5", 1000000200);
  EXPECT_LT(holder.RefreshIfNeeded(reloaded), 0);
  EXPECT_EQ(5, Criteria1());
  EXPECT_EQ(1, Setting2());  // the old settings stay
  // The broken file is not tried again until it changes.
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_FALSE(reloaded);
  WriteModule("6", 1000000300);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_EQ(6, Setting2());

  // A missing file fails its check on every call; the other is still seen.
  std::remove(tree.LinksPath().c_str());
  WriteModule("7", 1000000400);
  EXPECT_EQ(static_cast<HRESULT>(0x80070002u), holder.RefreshIfNeeded(reloaded));
  EXPECT_EQ(7, Setting2());
  EXPECT_EQ(static_cast<HRESULT>(0x80070002u), holder.RefreshIfNeeded(reloaded));
  EXPECT_EQ(5, Criteria1());
}

// An in-place writer finishes the file while a reload is still failing on
// the half-written version: the finished version must still be loaded.
const CInstallTree* g_finishingTree = nullptr;
void FinishTheFileWhileTheParseFails(const char* text) {
  if (g_finishingTree != nullptr && std::strstr(text, "LoadSettings HRESULT exception") != nullptr) {
    g_finishingTree->WriteModule(ModuleSettings(Item(2, "5") + Item(81, "0"), ""));
    g_finishingTree = nullptr;
  }
}

TEST_F(Reload, AVersionFinishedDuringAFailedParseIsLoaded) {
  const LogSinkFn previousSink = GetLogSink();
  const DWORD previousMode = GetLogMode();
  SetLogSink(&FinishTheFileWhileTheParseFails);
  SetLogMode(LOG_MODE_WRITE);
  tree.WriteModule("<SETTINGS><GENERALSETTINGS>");  // the writer is half-way
  g_finishingTree = &tree;
  bool reloaded = false;
  EXPECT_LT(holder.RefreshIfNeeded(reloaded), 0);
  SetLogMode(previousMode);
  SetLogSink(previousSink);
  ASSERT_EQ(nullptr, g_finishingTree) << "the parse did not fail";
  EXPECT_EQ(1, Setting2());

  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_TRUE(reloaded);
  EXPECT_EQ(5, Setting2());
}

TEST_F(Reload, AnyOtherVersionIsDueWhateverItsTime) {
  bool reloaded = false;
  // Saved by rename with the very same time as the version loaded.
  CInstallTree::Replace(tree.ModulePath(), ModuleSettings(Item(2, "2") + Item(81, "0"), ""), 1000000000);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_EQ(2, Setting2());
  // Rewritten in place, its time set back to the same second.
  WriteModule("3", 1000000000);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_EQ(3, Setting2());
  // Restored from a backup with an older time.
  CInstallTree::Replace(tree.ModulePath(), ModuleSettings(Item(2, "4") + Item(81, "0"), ""), 900000000);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_EQ(4, Setting2());
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_FALSE(reloaded);
}

// What a save cut short or an editor's empty buffer leaves holds no settings
// set. Taken, it would drop every set's block level; it is refused instead,
// at a reload and at start-up, the settings in force stay, and the event log
// names the file and why.
TEST_F(Reload, AFileWithoutSettingsSetIsRefusedAndReported) {
  tree.WriteModule(ModuleSettings(Item(2, "4") + Item(81, "0"),
                                  "<SETTING ID=\"3\" DESCR=\"d\"><ITEMS>" + Item(43, "0") + "</ITEMS></SETTING>"));
  SetFileTimeSeconds(tree.ModulePath(), 1000000100);
  bool reloaded = false;
  ASSERT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  const std::string events = tree.dir.Path() + "events.txt";
  SetEventReportFile(events);
  CEventLog eventLog;
  ASSERT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);

  long seconds = 1000000200;
  for (const char* empty : {"<SETTINGS/>", "<?xml version=\"1.0\"?>\n<SETTINGS><GENERALSETTINGS>"
                            "<ITEM ID=\"1\" DESCR=\"d\" VALUE=\"C:/Engine/conv.ini\"/></GENERALSETTINGS></SETTINGS>"}) {
    SCOPED_TRACE(empty);
    tree.WriteModule(empty);
    SetFileTimeSeconds(tree.ModulePath(), ++seconds);
    EXPECT_LT(holder.RefreshIfNeeded(reloaded), 0);
    EXPECT_TRUE(reloaded);
    int32_t level = -1;
    EXPECT_TRUE(holder.GetIntValue(43, level, 3, 0));
    EXPECT_EQ(0, level);
    EXPECT_EQ(4, Setting2());
  }
  CHandlePLSettings startUp;
  std::string dir = tree.SettingsDir();
  EXPECT_LT(startUp.LoadSettings(dir), 0);
  SetModuleEventLog(nullptr);
  SetEventReportFile("");

  std::ifstream in(events);
  std::vector<std::string> reports;
  for (std::string line; std::getline(in, line);) reports.push_back(line);
  const std::string report = "Quenlith Pellora\tERROR\t0x60000074\t0\tThe settings file " + tree.ModulePath() +
                             " holds no settings set; it was not loaded.";
  EXPECT_EQ(reports, std::vector<std::string>(3, report));
}

// An administrator's typo, a file cut short and a deleted file: the settings
// in force stay, and each change is reported once, however often requests
// look: the file, the parser's reason and line.
TEST_F(Reload, AFileThatCannotBeReadIsReportedOncePerChange) {
  const std::string events = tree.dir.Path() + "events.txt";
  SetEventReportFile(events);
  CEventLog eventLog;
  ASSERT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);
  const std::string whole = ModuleSettings(Item(2, "5") + Item(81, "0"), "");
  long seconds = 1000000100;
  for (const std::string& text : {std::string("<?xml version=\"1.0\"?>\n<SETTINGS>\n<GENERALSETTINGS></GENERALSETING>"
                                              "\n</SETTINGS>"),
                                  whole.substr(0, whole.size() / 2)}) {
    tree.WriteModule(text);
    SetFileTimeSeconds(tree.ModulePath(), ++seconds);
    for (int poll = 0; poll < 3; ++poll) {
      bool reloaded = false;
      holder.RefreshIfNeeded(reloaded);
    }
    EXPECT_EQ(1, Setting2());
  }
  std::remove(tree.ModulePath().c_str());
  for (int poll = 0; poll < 3; ++poll) {
    bool reloaded = false;
    EXPECT_LT(holder.RefreshIfNeeded(reloaded), 0);
  }
  EXPECT_EQ(1, Setting2());
  SetModuleEventLog(nullptr);
  SetEventReportFile("");

  std::ifstream in(events);
  std::vector<std::string> reports;
  for (std::string line; std::getline(in, line);) reports.push_back(line);
  ASSERT_EQ(3u, reports.size());
  const std::string prefix = "Quenlith Pellora\tERROR\t0x60000074\t0\tThe settings file " + tree.ModulePath() +
                             " cannot be read: ";
  const std::string stay = "; the settings in force stay until the file can be read.";
  for (const std::string& report : reports) {
    EXPECT_EQ(0u, report.rfind(prefix, 0)) << report;
    EXPECT_NE(std::string::npos, report.find(stay)) << report;
  }
  EXPECT_NE(std::string::npos, reports[0].find("mismatch at line 3, position ")) << reports[0];
  EXPECT_NE(std::string::npos, reports[1].find(" at line ")) << reports[1];
  EXPECT_NE(std::string::npos, reports[2].find("the file is missing")) << reports[2];
}

// What a reload changes of the settings that decide downloads is said in
// one information event; turning the checks off (74 = 0) is said too. A
// folder in place of the file, or a root element in another case, keeps the
// settings in force and is reported by the file's name and the reason.
TEST_F(Reload, ChangesOfDecisionsAndFilesThatCannotBeReadAreReported) {
  const std::string events = tree.dir.Path() + "events.txt";
  SetEventReportFile(events);
  CEventLog eventLog;
  ASSERT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);
  bool reloaded = false;
  tree.WriteModule(ModuleSettings(Item(2, "1") + Item(81, "0") + Item(43, "2") + Item(85, "1"), ""));
  SetFileTimeSeconds(tree.ModulePath(), 1000000100);
  WriteLinks("2", 1000000100);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  // Nothing that decides changes: no event.
  tree.WriteModule(ModuleSettings(Item(2, "3") + Item(81, "0") + Item(43, "2") + Item(85, "1"), ""));
  SetFileTimeSeconds(tree.ModulePath(), 1000000150);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));

  const std::string path = tree.ModulePath();
  std::remove(path.c_str());
  std::filesystem::create_directory(path);
  EXPECT_LT(holder.RefreshIfNeeded(reloaded), 0);
  std::filesystem::remove(path);
  // A pipe would hold the reload, and every request waiting on it.
  ASSERT_EQ(0, mkfifo(path.c_str(), 0600));
  EXPECT_LT(holder.RefreshIfNeeded(reloaded), 0);
  std::filesystem::remove(path);
  tree.WriteModule("<?xml version=\"1.0\"?>\n<settings><SETTING ID=\"1\" DESCR=\"d\"/></settings>");
  SetFileTimeSeconds(path, 1000000200);
  EXPECT_LT(holder.RefreshIfNeeded(reloaded), 0);
  EXPECT_EQ(3, Setting2());
  tree.WriteModule(ModuleSettings(Item(2, "3") + Item(81, "0") + Item(74, "0"), ""));
  SetFileTimeSeconds(path, 1000000300);
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  SetModuleEventLog(nullptr);
  SetEventReportFile("");

  std::ifstream in(events);
  std::vector<std::string> reports;
  for (std::string line; std::getline(in, line);) {
    if (line.find("conversion options file") == std::string::npos) reports.push_back(line);
  }
  ASSERT_EQ(6u, reports.size()) << ::testing::PrintToString(reports);
  EXPECT_EQ("Quenlith Pellora\tINFORMATION\t0x60000074\t0\tThe settings files " + path + " and " + tree.LinksPath() +
                " were reloaded; what decides downloads changed: the link of criteria 1 (\"settings 1\" -> \"settings "
                "2\"), setting 43 of <GENERALSETTINGS> (none -> \"2\"), setting 85 of <GENERALSETTINGS> (none -> \"1\").",
            reports[0]);
  EXPECT_NE(std::string::npos, reports[1].find(path + " cannot be read: it is a folder, not a file; the settings in "
                                               "force stay"))
      << reports[1];
  EXPECT_NE(std::string::npos, reports[2].find(path + " cannot be read: it is not a regular file")) << reports[2];
  EXPECT_NE(std::string::npos, reports[3].find(path + " cannot be read: it has no <SETTINGS> root element (element "
                                               "names are case-sensitive; the file's root is <settings>)"))
      << reports[3];
  EXPECT_NE(std::string::npos, reports[4].find("Setting 74 of the settings file " + path + " is 0")) << reports[4];
  EXPECT_NE(std::string::npos, reports[5].find("setting 43 of <GENERALSETTINGS> (\"2\" -> none)")) << reports[5];
}

// Both switches of the module file are read anew by every reload: the
// interval goes on to the link-criteria file, and a switched-off refresh
// stays off.
TEST_F(Reload, AReloadTakesTheRefreshSwitchAndTheIntervalAnew) {
  tree.WriteModule(ModuleSettings(Item(2, "8") + Item(81, "7") + Item(74, "0"), ""));
  SetFileTimeSeconds(tree.ModulePath(), 1000000100);
  bool reloaded = false;
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_EQ(8, Setting2());
  EXPECT_EQ(7, holder.GetLinkCriteria().GetReloadInterval());

  holder.GetPLSettings().SetReloadInterval(0);
  WriteModule("9", 1000000200);
  reloaded = false;
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_FALSE(reloaded);
  EXPECT_EQ(8, Setting2());
}

// Eight request threads check and read while a writer saves the file, by
// rename and in place; the settings end as the last version written.
TEST(SettingsHolderConcurrent, NoSavedVersionIsLost) {
  CInstallTree tree;
  tree.WriteLinks(Links("<HX ID=\"3\"/>"));
  auto version = [](int n) { return ModuleSettings(Item(2, std::to_string(n)) + Item(81, "0"), ""); };
  tree.WriteModule(version(0));
  CHandlePLSettings holder;
  std::string dir = tree.SettingsDir();
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));

  constexpr int kVersions = 120;
  std::atomic<bool> writing{true};
  std::vector<std::thread> readers;
  for (int r = 0; r < 8; ++r) {
    readers.emplace_back([&] {
      while (writing.load()) {
        bool reloaded = false;
        holder.RefreshIfNeeded(reloaded);
        int32_t v = -1;
        holder.GetIntValue(2, v, -1, 0);
      }
    });
  }
  for (int n = 1; n <= kVersions; ++n) {
    if (n % 2 == 0) {
      CInstallTree::Replace(tree.ModulePath(), version(n), 1000000000 + n % 3);
    } else {
      tree.WriteModule(version(n));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  writing = false;
  for (auto& t : readers) t.join();

  bool reloaded = false;
  holder.RefreshIfNeeded(reloaded);
  int32_t v = -1;
  holder.GetIntValue(2, v, -1, 0);
  EXPECT_EQ(kVersions, v);
}

TEST(ReloadInterval, NoCheckBeforeTheIntervalHasPassed) {
  CInstallTree tree;
  tree.WriteLinks(Links(""));
  tree.WriteModule(ModuleSettings(Item(2, "1"), ""));  // interval stays 15
  SetFileTimeSeconds(tree.ModulePath(), 1000000000);
  CHandlePLSettings holder;
  std::string dir = tree.SettingsDir();
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  EXPECT_EQ(15, holder.GetPLSettings().GetReloadInterval());
  tree.WriteModule(ModuleSettings(Item(2, "2"), ""));
  SetFileTimeSeconds(tree.ModulePath(), 1000000100);
  bool due = false;
  EXPECT_EQ(S_OK, holder.GetPLSettings().IsReloadNeeded(&due));
  EXPECT_FALSE(due);
  holder.GetPLSettings().SetReloadInterval(0);
  EXPECT_EQ(S_OK, holder.GetPLSettings().IsReloadNeeded(&due));
  EXPECT_TRUE(due);
  // Until the reload runs, the change stays due.
  due = false;
  EXPECT_EQ(S_OK, holder.GetPLSettings().IsReloadNeeded(&due));
  EXPECT_TRUE(due);
}

// A check that finds the file unchanged starts the interval again: the next
// look comes a whole interval later, not at once.
TEST(ReloadInterval, ACheckWithoutChangeStartsTheIntervalAgain) {
  CInstallTree tree;
  tree.WriteModule("<SETTINGS>");  // fails: looked at never before
  CPLSettings settings;
  ASSERT_LT(settings.LoadSettings(tree.ModulePath()), 0);
  settings.HashFileDate();
  ASSERT_EQ(15, settings.GetReloadInterval());
  bool due = false;
  EXPECT_EQ(S_OK, settings.IsReloadNeeded(&due));
  EXPECT_FALSE(due);
  tree.WriteModule(ModuleSettings(Item(2, "2"), ""));
  EXPECT_EQ(S_OK, settings.IsReloadNeeded(&due));
  EXPECT_FALSE(due);
}

}  // namespace
