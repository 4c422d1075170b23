#include <gtest/gtest.h>

#include "settings/handle_pl_settings.h"
#include "settings/link_criteria.h"
#include "settings/settings_paths.h"
#include "settings_files.h"

namespace {

std::map<int32_t, int32_t> LinksOf(const CLinkCriteria& criteria, int32_t hx) {
  const auto it = criteria.GetLinkMap().find(hx);
  return it == criteria.GetLinkMap().end() ? std::map<int32_t, int32_t>{} : it->second->m_criteria;
}

TEST(LinkCriteriaFile, MergingRulesOfHxAndLinkElements) {
  CTempDir dir;
  const std::string path = dir.Write(
      "l.xml", Links("<HX DESCR=\"first without id\"><LINK CRITERIA_ID=\"9\" SETTINGS_ID=\"9\"/></HX>"
                     "<HX ID=\"3\" DESCR=\"web\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"1\"/>"
                     "<LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"2\"/><LINK CRITERIA_ID=\"4\"/></HX>"
                     "<HX DESCR=\"no id\"><LINK CRITERIA_ID=\"5\" SETTINGS_ID=\"6\"/></HX>"
                     "<HX ID=\"3\"><LINK CRITERIA_ID=\"7\" SETTINGS_ID=\"8\"/></HX>"
                     "<HX ID=\"1\" DESCR=\"other\"/><OTHER ID=\"2\"/>"));
  CLinkCriteria criteria;
  ASSERT_EQ(S_OK, criteria.LoadLinkCriteria(path));
  EXPECT_EQ(2u, criteria.GetLinkMap().size());
  // Last LINK of a criteria wins; a missing SETTINGS_ID is 0; an HX without
  // ID takes its links nowhere; two HX 3 elements share one item.
  EXPECT_EQ((std::map<int32_t, int32_t>{{1, 2}, {4, 0}, {7, 8}}), LinksOf(criteria, 3));
  EXPECT_EQ("web", criteria.GetLinkMap().at(3)->m_strDescription);  // the second HX 3 has no DESCR
  EXPECT_TRUE(LinksOf(criteria, 1).empty());
}

TEST(LinkCriteriaFile, FailedLoadsKeepTheLinksAndSaveRoundTrips) {
  CTempDir dir;
  const std::string path = dir.Write("l.xml", Links("<HX ID=\"3\" DESCR=\"a &amp; b\"><LINK CRITERIA_ID=\"2\" "
                                                    "SETTINGS_ID=\"5\"/><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"4\"/>"
                                                    "</HX>"));
  CLinkCriteria criteria;
  ASSERT_EQ(S_OK, criteria.LoadLinkCriteria(path));

  dir.Write("l.xml", "<HEXMOORS><HX ID=\"3\"></HEXMOORS>");
  EXPECT_LT(criteria.LoadLinkCriteria(path), 0);
  EXPECT_EQ(static_cast<HRESULT>(0x80070002u), criteria.LoadLinkCriteria(dir.Path() + "none.xml"));
  EXPECT_EQ((std::map<int32_t, int32_t>{{1, 4}, {2, 5}}), LinksOf(criteria, 3));

  // Written back and read again, the links are the same.
  ASSERT_EQ(S_OK, criteria.SaveLinkCriteria());
  CLinkCriteria reread;
  ASSERT_EQ(S_OK, reread.LoadLinkCriteria(path));
  EXPECT_EQ((std::map<int32_t, int32_t>{{1, 4}, {2, 5}}), LinksOf(reread, 3));
  EXPECT_EQ("a & b", reread.GetLinkMap().at(3)->m_strDescription);

  // A document without the root element loads as no links at all.
  dir.Write("l.xml", "<OTHER/>");
  EXPECT_EQ(S_OK, reread.LoadLinkCriteria(path));
  EXPECT_TRUE(reread.GetLinkMap().empty());
}

TEST(SettingsPaths, CommonFilesFolderBesideTheProductFolder) {
  EXPECT_EQ("/opt/Quenlith/Common Files/Settings/", GetCommonSettingsDirectory("/opt/Quenlith/Pellora/Settings/"));
  EXPECT_EQ("/opt/Quenlith/Common Files/Settings/", GetCommonSettingsDirectory("/opt/Quenlith/Pellora/Settings"));
  EXPECT_EQ("C:\\Q\\Common Files/Settings/", GetCommonSettingsDirectory("C:\\Q\\Pellora Long Name\\Settings\\"));
  EXPECT_EQ("/Common Files/Settings/", GetCommonSettingsDirectory("/Pellora/Settings/"));
  EXPECT_EQ("Settings/", GetCommonSettingsDirectory("Settings/"));
  EXPECT_EQ("", GetCommonSettingsDirectory(""));
}

class HolderWithFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    tree.WriteLinks(Links("<HX ID=\"3\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"2\"/></HX>"
                          "<HX ID=\"4\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"9\"/></HX>"));
    tree.WriteModule(ModuleSettings(Item(2, "1") + Item(81, "0"), ""));
  }
  CInstallTree tree;
  CHandlePLSettings holder;
};

TEST_F(HolderWithFiles, StartUpLoadsBothFilesAndMapsCriteria) {
  std::string dir = tree.SettingsDir();
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  EXPECT_EQ(tree.ModulePath(), dir);  // the file name is appended in place
  int32_t settingsID = -5;
  EXPECT_TRUE(holder.GetLinkCriteriaSetting(1, settingsID));
  EXPECT_EQ(2, settingsID);
  EXPECT_FALSE(holder.GetLinkCriteriaSetting(7, settingsID));
  EXPECT_EQ(0, settingsID);  // an unknown criteria writes 0

  holder.SetHXID(5);
  settingsID = -5;
  EXPECT_FALSE(holder.GetLinkCriteriaSetting(1, settingsID));
  EXPECT_EQ(-5, settingsID);
  holder.SetHXID(0);
  EXPECT_FALSE(holder.GetLinkCriteriaSetting(1, settingsID));
  EXPECT_EQ(-5, settingsID);
  EXPECT_EQ(0, holder.GetLinkCriteria().GetReloadInterval());  // follows the module file
}

TEST_F(HolderWithFiles, MissingLinkCriteriaKeepsTheModuleFileUnloaded) {
  std::remove(tree.LinksPath().c_str());
  std::string dir = tree.SettingsDir();
  EXPECT_EQ(static_cast<HRESULT>(0x80070002u), holder.LoadSettings(dir));
  int32_t v = -1;
  EXPECT_FALSE(holder.GetIntValue(2, v, -1, 0));

  std::string empty;
  EXPECT_EQ(E_FAIL, holder.LoadSettings(empty));

  // The caller may name the link-criteria folder itself.
  std::string dir2 = tree.SettingsDir();
  const std::string elsewhere = tree.dir.Path() + "shared";
  tree.dir.Write("shared/LinkCriteriaSettings.xml", Links(""));
  EXPECT_EQ(S_OK, holder.LoadSettings(dir2, elsewhere));
  EXPECT_TRUE(holder.GetIntValue(2, v, -1, 0));
}

TEST_F(HolderWithFiles, SettingZeroOfRefreshTurnsReloadingOffForGood) {
  tree.WriteModule(ModuleSettings(Item(2, "1") + Item(74, "0") + Item(81, "0"), ""));
  std::string dir = tree.SettingsDir();
  ASSERT_EQ(S_OK, holder.LoadSettings(dir));
  EXPECT_FALSE(holder.IsRefreshEnabled());
  tree.WriteModule(ModuleSettings(Item(2, "3") + Item(74, "1"), ""));
  SetFileTimeSeconds(tree.ModulePath(), 2000000000);
  bool reloaded = true;
  EXPECT_EQ(S_OK, holder.RefreshIfNeeded(reloaded));
  EXPECT_TRUE(reloaded);  // untouched
  int32_t v = 0;
  holder.GetIntValue(2, v, -1, 0);
  EXPECT_EQ(1, v);
}

}  // namespace
