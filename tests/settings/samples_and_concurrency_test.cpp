#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/request_identity.h"
#include "settings/handle_pl_settings.h"
#include "settings/setting_ids.h"
#include "settings_files.h"

namespace {

TEST(SampleInstall, BothSettingsFilesLoadAndAnswer) {
  CHandlePLSettings holder;
  std::string dir = std::string(HX_SOURCE_DIR) + "/samples/install/Quenlith/Pellora/Settings/";
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  EXPECT_TRUE(holder.IsRefreshEnabled());
  EXPECT_EQ(15, holder.GetPLSettings().GetReloadInterval());

  int32_t settingsID = 0;
  ASSERT_TRUE(holder.GetLinkCriteriaSetting(2, settingsID));
  EXPECT_EQ(2, settingsID);
  ci_string folder;
  ASSERT_TRUE(holder.GetStringValueCI(SettingVirtualFolderName, folder, 0, 0));
  EXPECT_EQ(ci_string("x-pellora"), folder);
  int32_t level = 1;
  ASSERT_TRUE(holder.GetIntValue(SettingDirectFileAccessBlockLevel, level, 1, 0));
  EXPECT_EQ(2, level);
  int32_t cache = 0;
  ASSERT_TRUE(holder.GetIntValue(SettingCacheMultimedia, cache, 1, 7));
  EXPECT_EQ(1, cache);
  int32_t action = kDefaultHighSpeedAction;
  ASSERT_TRUE(holder.GetPerKeyValue("DOCX", action, 0, 1));
  EXPECT_EQ(1, action);
  // Engine before set: set 2 turns the actions off, the defaults leave them on.
  action = kDefaultHighSpeedAction;
  ASSERT_TRUE(holder.GetPerKeyValue("DOCX", action, 0, 2));
  EXPECT_EQ(kDefaultHighSpeedAction, action);
  bool found = false;
  EXPECT_TRUE(holder.CheckClientIPAgainstDirectAccessIPRange("192.168.1.200", found, 1));
  EXPECT_TRUE(holder.CheckClientIPAgainstDirectAccessIPRange("fd00::10", found, 2));
  EXPECT_EQ(3u, holder.GetPLSettings().Store().m_byPassList.size());
  int32_t profile = -1;
  EXPECT_TRUE(holder.GetPLSettings().GetEngineIntValue(kConversionEngineOption, profile, kConversionEngineID, 2));
  EXPECT_EQ(1, profile);

  CRequestIdentityScope admin(CRequestIdentity{"adm", "CORP", "S-1-5-21-1004336348-1177238915-682003330-1105", {}});
  BOOL member = FALSE;
  EXPECT_EQ(ERROR_SUCCESS, holder.CheckByPassList(member));
  EXPECT_TRUE(member);
}

// Each thread keeps the settings it read last; a second holder read on the
// same thread in between must not be taken for the first one.
TEST(SettingsHolderSnapshots, TwoHoldersOnOneThreadEachAnswerTheirOwn) {
  CInstallTree trees[2];
  CHandlePLSettings holders[2];
  for (int i = 0; i < 2; ++i) {
    trees[i].WriteModule(ModuleSettings(Item(2, std::to_string(i + 10)), ""));
    trees[i].WriteLinks(Links(""));
    std::string dir = trees[i].SettingsDir();
    ASSERT_EQ(S_OK, holders[i].LoadSettings(dir));
  }
  for (int round = 0; round < 3; ++round) {
    for (int i = 0; i < 2; ++i) {
      int32_t value = -1;
      ASSERT_TRUE(holders[i].GetIntValue(2, value, -1, 0));
      EXPECT_EQ(i + 10, value);
    }
  }
}

// Readers on many threads while the files are rewritten and reloaded: every
// read sees one whole version of the settings, never a mix or a torn value.
TEST(SettingsHolderConcurrent, ReadersDuringReloads) {
  CInstallTree tree;
  const auto writeVersion = [&](int version, long seconds) {
    const std::string v = std::to_string(version);
    CInstallTree::Replace(
        tree.ModulePath(),
        ModuleSettings(Item(2, v) + Item(7, "folder" + v) + Item(81, "0") + Item(5, "1"),
                       "<SETTING ID=\"1\" DESCR=\"s\"><ITEMS>" + Item(2, v) + Item(45, "10.0.0.1;10.0.0." + v) +
                           "</ITEMS></SETTING>",
                       "<HIGHSPEED><APP NAME=\"a\" Extension=\"doc\" ACTION=\"" + v + "\"/></HIGHSPEED>"),
        seconds);
    CInstallTree::Replace(tree.LinksPath(), Links("<HX ID=\"3\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"" + v + "\"/></HX>"),
                          seconds);
  };
  tree.WriteModule("");
  tree.WriteLinks("");
  writeVersion(1, 1000000000);
  CHandlePLSettings holder;
  std::string dir = tree.SettingsDir();
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));

  std::atomic<bool> stop{false};
  std::atomic<int> bad{0};
  std::atomic<long> reads{0};
  std::vector<std::thread> readers;
  for (int t = 0; t < 6; ++t) {
    readers.emplace_back([&] {
      CRequestIdentityScope identity(CRequestIdentity{"u", "d", "S-1-5-21-1-2-3-4", {}});
      while (!stop.load()) {
        bool reloaded = false;
        holder.RefreshIfNeeded(reloaded);
        int32_t a = -1;
        int32_t b = -1;
        int32_t action = -1;
        int32_t set = -1;
        ci_string folder;
        holder.GetIntValue(2, a, -1, 0);
        holder.GetIntValue(2, b, 1, 0);
        holder.GetStringValueCI(7, folder, -1, 0);
        holder.GetPerKeyValue("doc", action, 0, -1);
        holder.GetLinkCriteriaSetting(1, set);
        bool found = false;
        holder.CheckClientIPAgainstDirectAccessIPRange("10.0.0.1", found, 1);
        BOOL member = FALSE;
        holder.CheckByPassList(member);
        if ((a != 1 && a != 2) || (b != 1 && b != 2) || (action != 1 && action != 2) || (set != 1 && set != 2) ||
            !found || (folder != "folder1" && folder != "folder2")) {
          bad.fetch_add(1);
        }
        reads.fetch_add(1);
      }
    });
  }
  for (int i = 0; i < 40; ++i) {
    writeVersion(i % 2 == 0 ? 2 : 1, 1000000001 + i);
    bool reloaded = false;
    holder.RefreshIfNeeded(reloaded);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  stop.store(true);
  for (auto& t : readers) t.join();
  EXPECT_EQ(0, bad.load());
  EXPECT_GT(reads.load(), 0);

  // Whatever was skipped while others reloaded, the last version is the one
  // in memory once the files are checked again.
  bool reloaded = false;
  holder.RefreshIfNeeded(reloaded);
  int32_t last = -1;
  holder.GetIntValue(2, last, 1, 0);
  EXPECT_EQ(1, last);
  int32_t set = -1;
  holder.GetLinkCriteriaSetting(1, set);
  EXPECT_EQ(1, set);
}

}  // namespace
