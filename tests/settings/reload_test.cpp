#include <gtest/gtest.h>

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

}  // namespace
