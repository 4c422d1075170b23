#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "settings/pl_settings.h"
#include "settings_files.h"

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

size_t Occurrences(const std::string& text, const std::string& what) {
  size_t n = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

// SUMMARY before ITEMS, engine 0 listed twice, a summary row switched off.
const char* kSets =
    "<SETTING ID=\"4\" DESCR=\"four\"><ENGINES>"
    "<ENGINE ID=\"0\" DESCR=\"General\"><GENERAL><MEASURE ID=\"24\" DESCR=\"m\" VALUE=\"1\"/></GENERAL>"
    "<OPTIONS><OPTION ID=\"3\" DESCR=\"o\" VALUE=\"800\"/></OPTIONS></ENGINE>"
    "<ENGINE ID=\"0\" DESCR=\"Again\"/></ENGINES>"
    "<SUMMARY><INFO ID=\"1\" DESCR=\"Open\" VALUE=\"Allowed\" ON=\"1\"/>"
    "<INFO ID=\"2\" DESCR=\"Save\" VALUE=\"Blocked\" ON=\"0\"/></SUMMARY>"
    "<ITEMS><ITEM ID=\"42\" DESCR=\"Blocked\" VALUE=\"exe;bat\"/></ITEMS></SETTING>"
    "<SETTING ID=\"5\"/>";

const char* kApps =
    "<DEFAULTHIGHSPEED><APP NAME=\"Word\" Extension=\"doc\" ACTION=\"2\"/></DEFAULTHIGHSPEED>"
    "<HIGHSPEED><APP NAME=\"Any\" Extension=\"*\" ACTION=\"3\"/></HIGHSPEED>";

TEST(SettingsWriter, WhatIsSavedLoadsBackTheSame) {
  CInstallTree tree;
  tree.WriteModule(ModuleSettings(Item(2, "1", "Open"), kSets, kApps));
  CPLSettings settings;
  ASSERT_EQ(S_OK, settings.LoadSettings(tree.ModulePath()));
  ASSERT_EQ(S_OK, settings.SaveSettings());
  const std::string saved = ReadText(tree.ModulePath());
  EXPECT_LT(saved.find("<ITEMS>"), saved.find("<SUMMARY>")) << saved;
  EXPECT_EQ(2u, Occurrences(saved, "<ENGINE ID=\"0\""));
  EXPECT_EQ(std::string::npos, saved.find("Blocked\" ON")) << "a switched-off row is not kept";
  EXPECT_NE(std::string::npos, saved.find("<SETTING ID=\"5\" DESCR=\"\">")) << saved;
  EXPECT_EQ(1u, Occurrences(saved, "<ENGINES />"));  // the set without engines

  CPLSettings again;
  ASSERT_EQ(S_OK, again.LoadSettings(tree.ModulePath()));
  int32_t value = 0;
  EXPECT_TRUE(again.GetIntValue(24, value, 4, 0));
  EXPECT_EQ(1, value);
  EXPECT_TRUE(again.GetEngineIntValue(3, value, 0, 4));
  EXPECT_EQ(800, value);
  std::string text;
  EXPECT_TRUE(again.GetStringValue(42, text, 4, -1));
  EXPECT_EQ("exe;bat", text);
  EXPECT_EQ(1u, again.Store().m_defaultApps.size());
  EXPECT_EQ(3, again.Store().m_apps.at(0).action);
  // Nothing is lost or added by a second round.
  ASSERT_EQ(S_OK, again.SaveSettings());
  EXPECT_EQ(saved, ReadText(tree.ModulePath()));
}

TEST(SettingsWriter, AFailedSaveLeavesTheFileAsItWas) {
  CInstallTree tree;
  tree.WriteModule(ModuleSettings("<ITEM ID=\"2\" DESCR=\"no value\"/>", ""));
  const std::string before = ReadText(tree.ModulePath());
  CPLSettings settings;
  ASSERT_EQ(S_OK, settings.LoadSettings(tree.ModulePath()));
  EXPECT_EQ(E_FAIL, settings.SaveSettings());
  EXPECT_EQ(before, ReadText(tree.ModulePath()));
}

std::vector<std::string> Entries(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
  return names;
}

// A save that fails after its temporary file was written (here the rename,
// over what is now a folder) removes that file again.
TEST(SettingsWriter, AFailedSaveRemovesItsTemporaryFile) {
  CInstallTree tree;
  tree.WriteModule(ModuleSettings(Item(2, "1"), kSets));
  CPLSettings settings;
  ASSERT_EQ(S_OK, settings.LoadSettings(tree.ModulePath()));
  std::filesystem::remove(tree.ModulePath());
  std::filesystem::create_directories(tree.ModulePath() + "/inside");
  EXPECT_LT(settings.SaveSettings(), 0);
  std::vector<std::string> entries = Entries(tree.SettingsDir());
  EXPECT_EQ(std::vector<std::string>{"HXSettings.xml"}, entries);
}

// The settings file is a link to a file elsewhere, with its own mode (and,
// where the test may set them, owner and group), beside the temporary file
// of a save that was killed.
TEST(SettingsWriter, ASaveLeavesTheFolderAsItFoundIt) {
  CInstallTree tree;
  const std::string target = tree.dir.Write("store/HXSettings.xml", ModuleSettings(Item(2, "1"), kSets));
  tree.dir.Write("store/HXSettings.xml.saving", "left by a killed save");
  std::filesystem::create_directories(tree.SettingsDir());
  std::filesystem::create_symlink("../../../store/HXSettings.xml", tree.ModulePath());
  ASSERT_EQ(0, chmod(target.c_str(), 0640));
  const bool mayChown = geteuid() == 0;
  if (mayChown) {
    ASSERT_EQ(0, chown(target.c_str(), 65534, 65534));
  }

  CPLSettings settings;
  ASSERT_EQ(S_OK, settings.LoadSettings(tree.ModulePath()));
  ASSERT_EQ(S_OK, settings.SaveSettings());
  EXPECT_TRUE(std::filesystem::is_symlink(tree.ModulePath()));
  EXPECT_NE(std::string::npos, ReadText(target).find("<SETTING ID=\"5\" DESCR=\"\">")) << "saved through the link";
  struct stat saved {};
  ASSERT_EQ(0, stat(target.c_str(), &saved));
  EXPECT_EQ(0640u, saved.st_mode & 07777);
  if (mayChown) {
    EXPECT_EQ(65534u, saved.st_uid);
    EXPECT_EQ(65534u, saved.st_gid);
  }
  EXPECT_EQ(std::vector<std::string>{"HXSettings.xml"}, Entries(tree.dir.Path() + "store"));
  EXPECT_EQ(std::vector<std::string>{"HXSettings.xml"}, Entries(tree.SettingsDir()));
}

}  // namespace
