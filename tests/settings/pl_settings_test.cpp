#include <gtest/gtest.h>

#include "settings/pl_settings.h"
#include "settings/setting_ids.h"
#include "settings_files.h"

namespace {

// Defaults: 2=1, 3=1, 10="12abc", 11="", 12=text. Set 1: own 2=5, 42, engine
// 0 measure 2=9; engine 8 option 1=4. Set 2: nothing of its own but 3=0.
const char* kSets =
    "<SETTING ID=\"1\" DESCR=\"one\"><ENGINES>"
    "<ENGINE ID=\"0\" DESCR=\"General\"><GENERAL><MEASURE ID=\"2\" DESCR=\"m\" VALUE=\"9\"/>"
    "<MEASURE ID=\"33\" DESCR=\"m\" VALUE=\"doc;PDF;;xls\"/></GENERAL>"
    "<OPTIONS><OPTION ID=\"7\" DESCR=\"o\" VALUE=\"70\"/><OPTION ID=\"3\" DESCR=\"o\" VALUE=\"30\"/></OPTIONS></ENGINE>"
    "<ENGINE ID=\"8\" DESCR=\"Conv\"><OPTIONS><OPTION ID=\"1\" DESCR=\"o\" VALUE=\"4\"/></OPTIONS></ENGINE>"
    "<ENGINE ID=\"0\" DESCR=\"Renamed\"><OPTIONS><OPTION ID=\"5\" DESCR=\"o\" VALUE=\"50\"/></OPTIONS></ENGINE>"
    "</ENGINES><SUMMARY>"
    "<INFO ID=\"1\" DESCR=\"a\" VALUE=\"x\" ON=\"1\"/><INFO ID=\"2\" DESCR=\"b\" VALUE=\"y\" ON=\"1\"/>"
    "<INFO ID=\"1\" DESCR=\"a\" VALUE=\"x\" ON=\"0\"/><INFO ID=\"1234567890123456789012345\" DESCR=\"c\" VALUE=\"z\" "
    "ON=\"1\"/></SUMMARY>"
    "<ITEMS><ITEM ID=\"2\" DESCR=\"d\" VALUE=\"4\"/><ITEM ID=\"2\" DESCR=\"d\" VALUE=\"5\"/>"
    "<ITEM ID=\"42\" DESCR=\"d\" VALUE=\"exe;BAT;;cmd\"/>"
    "<ITEM ID=\"45\" DESCR=\"d\" VALUE=\"10.0.0.1;10.0.0.9;10.1.0.1\"/>"
    "<ITEM ID=\"20\" VALUE=\"7\"/>"
    "<ITEM ID=\"123456789012345678901234567890\" DESCR=\"d\" VALUE=\"8\"/>"
    "<ITEM ID=\"abc\" DESCR=\"d\" VALUE=\"zero\"/>"
    "</ITEMS></SETTING>"
    "<SETTING ID=\"2\" DESCR=\"two\"><ITEMS>"
    "<ITEM ID=\"3\" DESCR=\"d\" VALUE=\"0\"/><ITEM ID=\"42\" DESCR=\"d\" VALUE=\"\"/></ITEMS></SETTING>";

const char* kHighSpeed =
    "<DEFAULTHIGHSPEED><APP NAME=\"d\" Extension=\"rtf\" ACTION=\"3\"/></DEFAULTHIGHSPEED>"
    "<HIGHSPEED><APP NAME=\"w\" Extension=\"doc;;docx\" ACTION=\"1\"/><APP NAME=\"x\" Extension=\"DOC\" ACTION=\"3\"/>"
    "<APP NAME=\"any\" Extension=\"*\" ACTION=\"2\"/><APP NAME=\"noaction\" Extension=\"txt\"/></HIGHSPEED>";

class PLSettingsFile : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string general = Item(2, "1") + Item(3, "1") + Item(10, "12abc") + Item(11, "") +
                                Item(12, "text") + Item(5, "1") + Item(42, "general;list") + Item(81, "7");
    path = tree.dir.Write("Settings/HXSettings.xml", ModuleSettings(general, kSets, kHighSpeed));
    ASSERT_EQ(S_OK, settings.LoadSettings(path));
  }
  CInstallTree tree;
  std::string path;
  CPLSettings settings;
};

TEST_F(PLSettingsFile, LookupFallsBackFromEngineToSetToDefaults) {
  int32_t v = -100;
  EXPECT_TRUE(settings.GetIntValue(2, v, 1, 0));
  EXPECT_EQ(9, v);  // the engine's measure
  EXPECT_TRUE(settings.GetIntValue(2, v, 1, -1));
  EXPECT_EQ(5, v);  // the set's own item; the later of two equal IDs wins
  EXPECT_TRUE(settings.GetIntValue(2, v, 1, 77));
  EXPECT_EQ(5, v);  // an engine the set lacks reads the set's items
  EXPECT_TRUE(settings.GetIntValue(3, v, 1, 0));
  EXPECT_EQ(1, v);  // neither engine nor set: the defaults
  EXPECT_TRUE(settings.GetIntValue(3, v, 2, 0));
  EXPECT_EQ(0, v);
  EXPECT_TRUE(settings.GetIntValue(2, v, 99, 0));
  EXPECT_EQ(1, v);  // no such set: the defaults alone
  EXPECT_TRUE(settings.GetIntValue(2, v, kDefaultSettingsID, 0));
  EXPECT_EQ(1, v);

  v = -100;
  EXPECT_FALSE(settings.GetIntValue(999, v, 1, 0));
  EXPECT_FALSE(settings.GetIntValue(999, v, kDefaultSettingsID, 0));
  EXPECT_EQ(-100, v);  // the preset stands
}

TEST_F(PLSettingsFile, ValueConversionsKeepThePresetOnFailure) {
  int32_t v = -1;
  EXPECT_TRUE(settings.GetIntValue(10, v, -1, 0));
  EXPECT_EQ(12, v);  // leading digits
  v = -1;
  EXPECT_TRUE(settings.GetIntValue(11, v, -1, 0));
  EXPECT_EQ(-1, v);  // an empty text reads as true and writes nothing
  EXPECT_TRUE(settings.GetIntValue(12, v, -1, 0));
  EXPECT_EQ(1, v);  // no digits: setting 12's rule

  std::string s = "preset";
  EXPECT_FALSE(settings.GetStringValue(11, s, -1, 0));
  EXPECT_EQ("preset", s);
  // Setting 12 is a number: a text that is none is replaced at the load by
  // the value its rule uses instead, for every reader.
  ci_string ci;
  EXPECT_TRUE(settings.GetStringValueCI(12, ci, -1, 0));
  EXPECT_EQ(ci_string("1"), ci);

  // An ITEM without DESCR stops reading there: its value is empty.
  v = -1;
  EXPECT_FALSE(settings.GetIntValue(20, v, 1, -1));
  EXPECT_EQ(-1, v);
  // An ID that is no number (30 digits, no digits) drops the element: read as
  // atoi reads it, "abc" would stand in for item 0.
  EXPECT_FALSE(settings.GetStringValue(0, s, 1, -1));
  EXPECT_EQ("preset", s);
}

// An item's ID is read by the one number reader: blanks around it are what
// a hand-typed file has; "43abc", "+43", "43-old" and a number beyond 32
// bits name no item, and the item keeps the ID it had.
TEST(SettingItemId, ReadByTheNumberReader) {
  auto attributes = [](const std::string& id) {
    CBasicSettings::TagItems items(3);
    items[0].value = _variant_t(id.c_str());
    items[2].value = _variant_t("v");
    return items;
  };
  CBasicSettings::SettingItem item;
  item.ID = 5;
  // 18446744073709551659 is 2^64 + 43: a reader that let it wrap would read item 43.
  for (const char* id : {"43abc", "+43", "43-old", "99999999999999999999", "18446744073709551659", "", "0x2B"}) {
    EXPECT_FALSE(CBasicSettings::ReadItem(attributes(id), &item)) << id;
    EXPECT_EQ(5, item.ID) << id;
  }
  EXPECT_TRUE(CBasicSettings::ReadItem(attributes("7" + std::string(29, ' ')), &item));
  EXPECT_EQ(7, item.ID);
  EXPECT_TRUE(CBasicSettings::ReadItem(attributes(" 2147483647\t"), &item));
  EXPECT_EQ(2147483647, item.ID);
}

TEST_F(PLSettingsFile, EngineOptionsHaveNoFallbackAndTakeEngineBeforeSet) {
  int32_t v = -1;
  EXPECT_TRUE(settings.GetEngineIntValue(1, v, 8, 1));
  EXPECT_EQ(4, v);
  v = -1;
  EXPECT_FALSE(settings.GetEngineIntValue(1, v, 1, 8));  // swapped: no set 8
  EXPECT_FALSE(settings.GetEngineIntValue(1, v, 8, 2));  // set 2 has no engine 8
  EXPECT_FALSE(settings.GetEngineIntValue(2, v, 0, 1));  // a measure is no option
  EXPECT_EQ(-1, v);
}

TEST_F(PLSettingsFile, RecordsOfSetsEnginesSummaryAndLists) {
  const auto& store = settings.Store();
  ASSERT_EQ(2u, store.m_settingsSets.size());
  const CPLSettings::CriteriaRecord& one = *store.m_settingsSets.at(1);
  EXPECT_EQ("one", one.m_strDescription);
  EXPECT_EQ((std::vector<int32_t>{0, 8, 0}), one.m_engineOrder);
  const CPLSettings::EngineRecord& engine = *one.m_engines.at(0);
  EXPECT_EQ("General", engine.m_strName);  // the second ENGINE 0 keeps the first name
  EXPECT_EQ(3u, engine.m_options.size());  // ... and adds its option
  EXPECT_EQ((std::set<ci_string>{"doc", "pdf"}), engine.m_measure33);

  // Option rows in ascending ID order: 3, 5, 7, after the 185 rows of the
  // conversion options and before their row 226.
  ASSERT_TRUE(engine.m_spOptionArray);
  SAFEARRAY* array = engine.m_spOptionArray->m_pArray;
  LONG rows = 0;
  SafeArrayGetUBound(array, 1, &rows);
  EXPECT_EQ(185 + 3, rows);
  VARIANT cell;
  LONG index[2] = {0, 186};
  SafeArrayGetElement(array, index, &cell);
  EXPECT_EQ(VT_I4, cell.vt);
  EXPECT_EQ(5, cell.lVal);
  index[0] = 1;
  SafeArrayGetElement(array, index, &cell);
  EXPECT_STREQ("50", cell.bstrVal);
  VariantClear(&cell);

  // Row 1 was removed by its ON=0 twin; an ID beyond the 32-bit range is
  // no number, and its row is not read.
  ASSERT_EQ(1u, one.m_summary.size());
  EXPECT_EQ(2, one.m_summary[0].ID);

  EXPECT_EQ((std::set<ci_string>{"exe", "bat"}), one.m_bannedList);  // stops at the empty piece
  EXPECT_TRUE(store.m_settingsSets.at(2)->m_bannedList.empty());     // general 42 is not split into sets
  ASSERT_EQ(1u, one.m_directAccessRanges.size());                    // the third address is dropped
  EXPECT_EQ(9, one.m_directAccessRanges[0].high.groups[3]);
  EXPECT_EQ(7, settings.GetReloadInterval());
}

TEST_F(PLSettingsFile, HighSpeedActionsByExtension) {
  const auto& store = settings.Store();
  EXPECT_EQ(1u, store.m_defaultApps.size());
  EXPECT_EQ(3u, store.m_apps.size());  // the APP without an action is not taken
  int32_t action = kDefaultHighSpeedAction;
  // Engine before set.
  EXPECT_TRUE(settings.GetHighSpeedAction("DOCX", action, 0, 1));
  EXPECT_EQ(1, action);
  EXPECT_TRUE(settings.GetHighSpeedAction("doc", action, 0, 1));
  EXPECT_EQ(1, action);  // the later "DOC" does not change it
  EXPECT_TRUE(settings.GetHighSpeedAction("rtf", action, 0, 1));
  EXPECT_EQ(2, action);  // DEFAULTHIGHSPEED is not in the map; "*" answers
}

TEST(PLSettingsHighSpeed, DisabledOrWithoutStarKeepsThePreset) {
  CTempDir dir;
  const std::string path = dir.Write(
      "HXSettings.xml", ModuleSettings(Item(5, "0"), "<SETTING ID=\"4\" DESCR=\"s\"><ITEMS>" + Item(5, "1") +
                                                         "</ITEMS></SETTING>",
                                       "<DEFAULTHIGHSPEED><APP NAME=\"a\" Extension=\"pdf\" ACTION=\"1\"/>"
                                       "</DEFAULTHIGHSPEED>"));
  CPLSettings settings;
  ASSERT_EQ(S_OK, settings.LoadSettings(path));
  int32_t action = kDefaultHighSpeedAction;
  EXPECT_TRUE(settings.GetHighSpeedAction("pdf", action, 0, -1));  // setting 5 is 0
  EXPECT_EQ(2, action);
  EXPECT_FALSE(settings.GetHighSpeedAction("pdf", action, 0, 4));  // on, but HIGHSPEED is missing
  EXPECT_TRUE(settings.Store().m_extensionActions.empty());
}

TEST_F(PLSettingsFile, FailedLoadsKeepTheSettingsTheyHad) {
  int32_t v = 0;
  tree.dir.Write("Settings/HXSettings.xml", "<SETTINGS><GENERALSETTINGS>" + Item(2, "8") + "</SETTINGS>");
  EXPECT_LT(settings.LoadSettings(path), 0);
  EXPECT_TRUE(settings.GetIntValue(2, v, 1, 0));
  EXPECT_EQ(9, v);
  EXPECT_EQ(3u, settings.Store().m_apps.size());  // the high-speed lists as well

  EXPECT_EQ(static_cast<HRESULT>(0x80070002u), settings.LoadSettings(tree.dir.Path() + "none.xml"));
  EXPECT_EQ(path, settings.GetPath());

  // A good file without setting 81 keeps the interval.
  tree.dir.Write("Settings/HXSettings.xml", ModuleSettings(Item(2, "8"), ""));
  EXPECT_EQ(S_OK, settings.LoadSettings(path));
  EXPECT_TRUE(settings.GetIntValue(2, v, 1, 0));
  EXPECT_EQ(8, v);  // set 1 is gone with the old file
  EXPECT_EQ(7, settings.GetReloadInterval());
  EXPECT_TRUE(settings.Store().m_apps.empty());
}

TEST(PLSettingsSkipped, MissingSectionsAndUnreadableIdsAreSkipped) {
  CTempDir dir;
  const std::string path = dir.Write(
      "HXSettings.xml",
      "<SETTINGS><GENERALSETTINGS>" + Item(1, "C:/Engine/conv.ini") +
          "</GENERALSETTINGS><SETTING DESCR=\"no id\"><ITEMS>" + Item(2, "1") +
          "</ITEMS></SETTING><SETTING ID=\"3\" DESCR=\"three\"><ENGINES><ENGINE DESCR=\"no id\"><GENERAL>"
          "<MEASURE ID=\"2\" DESCR=\"m\" VALUE=\"6\"/></GENERAL></ENGINE></ENGINES></SETTING></SETTINGS>");
  CPLSettings settings;
  ASSERT_EQ(S_OK, settings.LoadSettings(path));
  const auto& store = settings.Store();
  EXPECT_EQ(1u, store.m_generalDefaults.size());
  ASSERT_EQ(1u, store.m_settingsSets.size());
  // Only the engine 0 that holds the conversion options.
  EXPECT_TRUE(store.m_settingsSets.at(3)->m_engineOrder.empty());
  EXPECT_EQ(1u, store.m_settingsSets.at(3)->m_engines.size());
  int32_t v = -1;
  EXPECT_FALSE(settings.GetIntValue(2, v, 3, 0));
}

}  // namespace
