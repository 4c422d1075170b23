#include <gtest/gtest.h>

#include <mutex>
#include <string>
#include <vector>

#include "common/debug_log.h"
#include "settings/handle_pl_settings.h"
#include "settings_files.h"

namespace {

std::mutex g_linesLock;
std::vector<std::string> g_lines;

void CaptureSink(const char* text) {
  std::lock_guard<std::mutex> guard(g_linesLock);
  g_lines.emplace_back(text);
}

// Turns the debug log on into memory for one test.
class LogLines : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previousSink = GetLogSink();
    m_previousMode = GetLogMode();
    SetLogSink(&CaptureSink);
    SetLogMode(LOG_MODE_WRITE);
    std::lock_guard<std::mutex> guard(g_linesLock);
    g_lines.clear();
  }
  void TearDown() override {
    SetLogMode(m_previousMode);
    SetLogSink(m_previousSink);
  }
  static bool Logged(const std::string& text) {
    std::lock_guard<std::mutex> guard(g_linesLock);
    for (const std::string& line : g_lines) {
      if (line.find(text) != std::string::npos) return true;
    }
    return false;
  }

 private:
  LogSinkFn m_previousSink = nullptr;
  DWORD m_previousMode = LOG_MODE_OFF;
};

TEST_F(LogLines, TheStoresOwnTexts) {
  CInstallTree tree;
  tree.WriteLinks(Links("<HX ID=\"3\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"1\"/></HX>"));
  tree.WriteModule(ModuleSettings(Item(48, "S-1-5-32-544;S-1-9-x") + Item(81, "0"),
                                  "<SETTING ID=\"1\" DESCR=\"s\"><ITEMS>" + Item(45, "10.0.0.1;10.0.0.9") +
                                      "</ITEMS></SETTING>"));
  SetFileTimeSeconds(tree.ModulePath(), 1000000000);
  CHandlePLSettings holder;
  std::string dir = tree.SettingsDir();
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  EXPECT_TRUE(Logged("Reading Groups from Global settings got an error 1337 . This group S-1-9-x will be ignored"));

  int32_t set = 0;
  holder.GetLinkCriteriaSetting(1, set);
  EXPECT_TRUE(Logged("Criteria 1 is SETTING ID 1 for HX 3"));
  holder.GetLinkCriteriaSetting(4, set);
  EXPECT_TRUE(Logged("Criteria 4 for HX 3 is not LinkCriteria settings"));
  holder.SetHXID(0);
  holder.GetLinkCriteriaSetting(1, set);
  EXPECT_TRUE(Logged("HX is not LinkCriteria settings 0"));

  bool found = false;
  holder.CheckClientIPAgainstDirectAccessIPRange("10.0.0.2", found, 1);
  EXPECT_TRUE(Logged("[CHandlePLSettings::CheckClientIPAgainstDirectAccessIPRange] Direct access IPv4 range found: "
                     "<10.0.0.1> - <10.0.0.9>."));
  BOOL member = FALSE;
  holder.CheckByPassList(member);
  EXPECT_TRUE(Logged("CheckByPassList didn't find a match user is allow to PL"));

  tree.WriteModule(ModuleSettings(Item(81, "0"), ""));
  SetFileTimeSeconds(tree.ModulePath(), 1000000100);
  holder.GetReloadLock().Lock();
  bool reloaded = false;
  holder.RefreshIfNeeded(reloaded);
  holder.GetReloadLock().Unlock();
  EXPECT_TRUE(Logged("Reload Settings " + tree.ModulePath() + ". Curent LastModifiedDate 9.9.2001 - 1:48:20:0"));
  EXPECT_TRUE(Logged("Previous LastModifiedDate 9.9.2001 - 1:46:40:0"));
  EXPECT_TRUE(Logged("CHandlePLSettings Refresh was necessary but Critical Section was locked decided to skip the "
                     "Refresh"));

  std::remove(tree.ModulePath().c_str());
  holder.RefreshIfNeeded(reloaded);
  EXPECT_TRUE(Logged("GetFileDate " + tree.ModulePath()));
  EXPECT_TRUE(Logged("CHandlePLSettings Check for HX  Refresh failed 0x80070002"));
}

TEST_F(LogLines, FailedLoadsNameTheirFault) {
  CTempDir dir;
  CPLSettings settings;
  EXPECT_LT(settings.LoadSettings(dir.Write("HXSettings.xml", "<SETTINGS>")), 0);
  EXPECT_TRUE(Logged("LoadSettings HRESULT exception c00ce5"));
  EXPECT_EQ(static_cast<HRESULT>(0x80070002u), settings.LoadSettings(dir.Path() + "none.xml"));
  EXPECT_TRUE(Logged("Load LoadSettings can not find file " + dir.Path() + "none.xml error 2"));
  CLinkCriteria links;
  EXPECT_LT(links.LoadLinkCriteria(dir.Write("l.xml", "<HEXMOORS>")), 0);
  EXPECT_TRUE(Logged("LoadLinkCriteria HRESULT exception c00ce5"));
}

}  // namespace
