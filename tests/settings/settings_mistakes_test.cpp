#include <gtest/gtest.h>

#include <atomic>
#include <climits>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/event_log.h"
#include "platform/xml_declared_encoding.h"
#include "settings/handle_pl_settings.h"
#include "settings/settings_mistakes.h"
#include "settings_files.h"

namespace {

// The events of one start-up load of both files.
std::string EventsOfLoad(CInstallTree& tree, CHandlePLSettings& holder) {
  const std::string events = tree.dir.Path() + "events.txt";
  SetEventReportFile(events);
  CEventLog eventLog;
  EXPECT_TRUE(eventLog.Register("Quenlith Pellora"));
  SetModuleEventLog(&eventLog);
  std::string dir = tree.SettingsDir();
  EXPECT_EQ(S_OK, holder.LoadSettings(dir));
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  std::stringstream text;
  text << std::ifstream(events).rdbuf();
  return text.str();
}

void ExpectOnce(const std::string& all, const std::string& text) {
  const size_t first = all.find(text);
  EXPECT_NE(std::string::npos, first) << text << "\n" << all;
  EXPECT_EQ(std::string::npos, all.find(text, first + 1)) << text << "\n" << all;
}

// The small mistakes of hand-typed files, each of which the reader passes by
// or reads otherwise than meant, reach the event log once per load, naming
// the file, the element or text, and what is used instead; the ranges that
// cannot be read allow nothing.
TEST(SettingsMistakes, EachIsReportedOncePerLoad) {
  CInstallTree tree;
  const std::string set1 = "<SETTING ID=\"1\" DESCR=\"caf\xE9\"><ITEMS><item ID=\"43\" DESCR=\"d\" VALUE=\"2\"/>"
                           "<ITEM ID=\"51\" DESCR=\"d\" VAULE=\"1\"/>" +
                           Item(45,
                                "127.0.0.0/8;10.0.0.9;10.0.0.9;10.0.0.1;10.0.0.1;127.0.0.256;"
                                "10.0.0.1,10.0.0.9;10.0.0.1 - 10.0.0.9;10.0.0.1;10.0.0.9;10.0.0.7") +
                           "</ITEMS></SETTING>";
  const std::string set1Again = "<SETTING ID=\"1\" DESCR=\"b\"><ITEMS>" + Item(2, "0") + "</ITEMS></SETTING>";
  tree.WriteModule(ModuleSettings(Item(43, "0"), set1 + set1Again));
  tree.WriteLinks(Links("<HX ID=\"4\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"1\"/><link CRITERIA_ID=\"2\" "
                        "SETTINGS_ID=\"1\"/><LINK CRITERIA_ID=\"3\" SETTINGS_ID_=\"1\"/></HX>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);

  const std::string module = "The settings file " + tree.ModulePath();
  ExpectOnce(all, module + " has an element <item> in <ITEMS> of <SETTING ID=\"1\"> that is not read (element "
                           "names are case-sensitive); what it would set comes from the general settings");
  ExpectOnce(all, module + " has <ITEM ID=\"51\"> in <SETTING ID=\"1\"> without a VALUE attribute");
  ExpectOnce(all, module + " has a second <SETTING ID=\"1\">; its items are read into the first one");
  ExpectOnce(all, module + " has bytes that are not UTF-8, the first at line 2, and declares no other set");
  for (const char* range : {"<127.0.0.0/8;10.0.0.9>", "<10.0.0.1;127.0.0.256>", "<10.0.0.1,10.0.0.9;10.0.0.1 - "
                            "10.0.0.9>", "<10.0.0.9;10.0.0.1>", "<10.0.0.7>"}) {
    ExpectOnce(all, module + " gives settings set 1 the direct-access address range " + range);
  }
  const std::string links = "The link-criteria file " + tree.LinksPath();
  ExpectOnce(all, links + " has no <HX ID=\"3\"> element, the one this module reads (it has HX ID 4); no criteria is "
                          "linked");
  ExpectOnce(all, links + " has an element <link> that is not read");
  ExpectOnce(all, links + " has a <LINK> (CRITERIA_ID \"3\") without a SETTINGS_ID attribute");
  EXPECT_EQ(std::string::npos, all.find("<10.0.0.1;10.0.0.9>")) << all;

  // The one readable range stands; the ones that cannot be read allow nothing.
  bool found = false;
  EXPECT_TRUE(holder.CheckClientIPAgainstDirectAccessIPRange("10.0.0.5", found, 1));
  EXPECT_FALSE(holder.CheckClientIPAgainstDirectAccessIPRange("127.0.0.1", found, 1));
  EXPECT_FALSE(holder.CheckClientIPAgainstDirectAccessIPRange("10.0.0.8", found, 2));
}

// An HX whose ID cannot be read links nothing: its links must not join the
// HX read before it, which would move criteria into another settings set.
TEST(SettingsMistakes, AnHxWithoutAReadableIdTakesNoneOfItsLinks) {
  CInstallTree tree;
  tree.WriteModule(ModuleSettings("", ""));
  tree.WriteLinks(Links("<HX ID=\"3\"><LINK CRITERIA_ID=\"2\" SETTINGS_ID=\"5\"/></HX>"
                        "<HX IDX=\"4\"><LINK CRITERIA_ID=\"1\" SETTINGS_ID=\"7\"/></HX>"
                        "<HX ID=\"three\"><LINK CRITERIA_ID=\"6\" SETTINGS_ID=\"7\"/></HX>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  int32_t settingsID = -1;
  EXPECT_TRUE(holder.GetLinkCriteriaSetting(2, settingsID));
  EXPECT_EQ(5, settingsID);
  for (int32_t criteria : {1, 6}) {
    settingsID = -1;
    holder.GetLinkCriteriaSetting(criteria, settingsID);
    EXPECT_NE(7, settingsID) << criteria;
  }
  const std::string links = "The link-criteria file " + tree.LinksPath();
  ExpectOnce(all, links + " has an <HX> without an ID attribute (attribute names are case-sensitive); none of its "
                          "links is read");
  ExpectOnce(all, links + " has an <HX> whose ID \"three\" is not a number");
}

// Two links of one criteria: the last one stands, as before, and is named.
TEST(SettingsMistakes, ASecondLinkOfACriteriaIsReported) {
  CInstallTree tree;
  tree.WriteModule(ModuleSettings("", ""));
  tree.WriteLinks(Links("<HX ID=\"3\"><LINK CRITERIA_ID=\"2\" SETTINGS_ID=\"5\"/>"
                        "<LINK CRITERIA_ID=\"2\" SETTINGS_ID=\"6\"/></HX>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  int32_t settingsID = -1;
  EXPECT_TRUE(holder.GetLinkCriteriaSetting(2, settingsID));
  EXPECT_EQ(6, settingsID);
  ExpectOnce(all, "The link-criteria file " + tree.LinksPath() +
                      " links criteria 2 in <HX ID=\"3\"> more than once (to settings 5, then 6); the last link, to "
                      "settings 6, is used.");
}

// The bypass list decides who skips all the module's work: an entry that is
// not a SID lets nobody past and is reported; an empty entry costs only itself.
TEST(SettingsMistakes, BypassListEntriesThatCannotBeReadAreReported) {
  CInstallTree tree;
  tree.WriteModule(ModuleSettings(Item(48, "S-1-5-32-544;;Administrators") + Item(49, "S-1-5-21-1-2-3-500;"), ""));
  tree.WriteLinks(Links("<HX ID=\"3\"/>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  EXPECT_EQ(2u, holder.GetPLSettings().Store().m_byPassList.size());
  const std::string module = "The settings file " + tree.ModulePath();
  ExpectOnce(all, module + " has the entry \"Administrators\" in the bypass list (settings 48 and 49), which is not "
                           "a SID (S-1-...); it is ignored");
  ExpectOnce(all, module + " has an empty entry in the bypass list (settings 48 and 49); it is skipped");

  // Blanks around an entry are ignored, and a ";" that ends the list (after
  // a blank too) holds no entry.
  tree.WriteModule(ModuleSettings(Item(48, " S-1-5-32-544 ; S-1-5-21-1-2-3-500 ; "), ""));
  CHandlePLSettings trimmed;
  const std::string clean = EventsOfLoad(tree, trimmed).substr(all.size());
  EXPECT_EQ(2u, trimmed.GetPLSettings().Store().m_byPassList.size());
  EXPECT_EQ(std::string::npos, clean.find("bypass list")) << clean;
}

// Every element list is checked alike: a child the reader does not know, an
// element short of an attribute, and a set or engine whose ID names nothing.
TEST(SettingsMistakes, EveryElementListIsChecked) {
  CInstallTree tree;
  const std::string set1 =
      "<SETTING ID=\"1\" DESCR=\"a\"><ENGINES><engine ID=\"2\" DESCR=\"e\"/>"
      "<ENGINE ID=\"0\" DESCR=\"e\"><GENERAL><measure ID=\"3\" DESCR=\"d\" VALUE=\"1\"/></GENERAL>"
      "<OPTIONS><option ID=\"4\" DESCR=\"d\" VALUE=\"1\"/><OPTION ID=\"5\" DESCR=\"d\"/></OPTIONS><Options/><OPTIONS/></ENGINE>"
      "<ENGINE IDX=\"8\" DESCR=\"e\"/></ENGINES>"
      "<SUMMARY><info ID=\"1\"/><INFO ID=\"2\" DESCR=\"d\" VALUE=\"v\"/><INFO ID=\"3\" DESCR=\"d\" VALUE=\"v\" "
      "ON=\"yes\"/></SUMMARY></SETTING>"
      "<SETTING ID=\"one\" DESCR=\"b\"/>"
      "<SETTING ID=\"2\" DESCR=\"c\"><ITEMS/><ITEMS>" + Item(43, "0") + "</ITEMS></SETTING>";
  const std::string highSpeed = "<DEFAULTHIGHSPEED><app/></DEFAULTHIGHSPEED>"
                                "<HIGHSPEED><APP NAME=\"n\" Extension=\"doc\"/></HIGHSPEED>";
  tree.WriteModule(ModuleSettings("", set1, highSpeed));
  tree.WriteLinks(Links("<HX ID=\"3\"/>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  const std::string module = "The settings file " + tree.ModulePath();
  const std::string engine0 = "<ENGINE ID=\"0\"> of <SETTING ID=\"1\">";
  for (const std::string& text : std::vector<std::string>{
           "an element <engine> in <ENGINES> of <SETTING ID=\"1\"> that is not read",
        "an element <measure> in <GENERAL> of " + engine0 + " that is not read",
        "an element <option> in <OPTIONS> of " + engine0 + " that is not read",
        "an element <Options> in " + engine0 + " that is not read",
        "<OPTION ID=\"5\"> in " + engine0 + " without a VALUE attribute",
        "a <ENGINE> element in <ENGINES> of <SETTING ID=\"1\"> without an ID attribute",
        "an element <info> in <SUMMARY> of <SETTING ID=\"1\"> that is not read",
        "an <INFO> in <SUMMARY> of <SETTING ID=\"1\"> without the ON attribute",
        "<INFO ID=\"3\"> in <SUMMARY> of <SETTING ID=\"1\"> whose ON \"yes\" is not a number",
        "a <SETTING> element in <SETTINGS> whose ID \"one\" is not a number",
        "an element <app> in <DEFAULTHIGHSPEED> that is not read",
        "an <APP> in <HIGHSPEED> without the ACTION attribute",
        "a second <ITEMS> in <SETTING ID=\"2\">, which is not read: only the first one is",
        "a second <OPTIONS> in " + engine0 + ", which is not read"}) {
    ExpectOnce(all, module + " has " + text);
  }
}

// Every ID and every numeric setting is read by the one number reader: an
// ID it cannot read is skipped, not read as atoi reads it ("43abc" as item
// 43, "2x" as set 2, a saturated criteria); a second item of one ID, a
// number out of its range and a repeated attribute are reported with what
// is used instead. No mistake loosens a level unseen.
TEST(SettingsMistakes, IdsAndNumbersAreReadByOneReader) {
  CInstallTree tree;
  const std::string raw = "<ITEM ID=\"43abc\" DESCR=\"d\" VALUE=\"1\"/><ITEM ID=\"+43\" DESCR=\"d\" VALUE=\"1\"/>"
                          "<ITEM ID=\"43-old\" DESCR=\"d\" VALUE=\"1\"/>"
                          "<ITEM ID=\"3\" DESCR=\"d\" VALUE=\"0\" VALUE=\"1\"/>";
  const std::string sets = "<SETTING ID=\"1\" DESCR=\"d\"><ITEMS>" + Item(43, "0") + raw + Item(2, "") +
                           "</ITEMS></SETTING><SETTING ID=\"2\" DESCR=\"d\"><ITEMS>" + Item(43, "0") + Item(43, "1") +
                           "</ITEMS></SETTING>";
  tree.WriteModule(ModuleSettings(Item(81, "99999999999999999999") + Item(74, "-1") + Item(85, "2"), sets));
  tree.WriteLinks(Links("<HX ID=\"3\"><LINK CRITERIA_ID=\"5\" SETTINGS_ID=\"2x\"/>"
                        "<LINK CRITERIA_ID=\"99999999999999999999\" SETTINGS_ID=\"1\"/>"
                        "<LINK CRITERIA_ID=\" 6 \" SETTINGS_ID=\"2\"/></HX>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  const std::string module = "The settings file " + tree.ModulePath();
  for (const char* id : {"43abc", "+43", "43-old"}) {
    ExpectOnce(all, module + " has <ITEM ID=\"" + id + "\"> in <SETTING ID=\"1\">, whose ID is not a number");
  }
  EXPECT_EQ(0, holder.ReadLevel(43, 1, 0).level);
  ExpectOnce(all, module + " has a second <ITEM ID=\"43\"> in <SETTING ID=\"2\"> (VALUE \"0\", then \"1\"); the "
                           "later one, \"1\", is used.");
  ExpectOnce(all, module + " has <ITEM ID=\"3\"> with the attribute VALUE given 2 times (\"0\", \"1\"), which XML "
                           "forbids; the first, \"0\", is used.");
  int32_t value = -5;
  EXPECT_TRUE(holder.GetIntValue(3, value, 1, 0));
  EXPECT_EQ(0, value);
  ExpectOnce(all, module + " gives setting 81 the value \"99999999999999999999\" in <GENERALSETTINGS>, which is not a "
                           "whole number from 0 to 1440; 15 is used instead.");
  EXPECT_EQ(15, holder.GetPLSettings().GetReloadInterval());
  ExpectOnce(all, module + " gives setting 74 the value \"-1\" in <GENERALSETTINGS>, which is not a whole number "
                           "from 0 to 2147483647; 1 is used instead.");
  EXPECT_TRUE(holder.IsRefreshEnabled());
  ExpectOnce(all, module + " gives setting 85 the value \"2\" in <GENERALSETTINGS>, which is not a whole number "
                           "from 0 to 1; 0 is used instead.");
  // An empty opening switch restricts, as the value that restricts is used.
  ExpectOnce(all, module + " gives setting 2 the value \"\" in <SETTING ID=\"1\">, which is not a whole number from "
                           "0 to 2147483647; 0 is used instead.");
  EXPECT_TRUE(holder.GetIntValue(2, value, 1, 0));
  EXPECT_EQ(0, value);

  const std::string links = "The link-criteria file " + tree.LinksPath();
  ExpectOnce(all, links + " has a <LINK> whose SETTINGS_ID \"2x\" is not a number");
  ExpectOnce(all, links + " has a <LINK> whose CRITERIA_ID \"99999999999999999999\" is not a number");
  int32_t settingsID = -1;
  EXPECT_FALSE(holder.GetLinkCriteriaSetting(5, settingsID));
  EXPECT_FALSE(holder.GetLinkCriteriaSetting(INT32_MAX, settingsID));
  EXPECT_TRUE(holder.GetLinkCriteriaSetting(6, settingsID));
  EXPECT_EQ(2, settingsID);
}

// A switch that restricts (opening 2, saving 3, the rich view 4) or applies
// the blocked extensions (22) and cannot be read takes the value that
// restricts: a typo must not offer "Budget 2026.xlsx" for viewing.
TEST(SettingsMistakes, UnreadableRestrictingSwitchesRestrict) {
  CInstallTree tree;
  const std::pair<int, int> restricting[] = {{2, 0}, {3, 0}, {4, 0}, {22, 1}};
  std::string items;
  for (const auto& [id, value] : restricting) items += Item(id, "on");
  tree.WriteModule(ModuleSettings(Item(22, "0") + Item(3, "1") + Item(4, "1"),
                                  "<SETTING ID=\"1\" DESCR=\"d\"><ITEMS>" + items + "</ITEMS></SETTING>"));
  tree.WriteLinks(Links("<HX ID=\"3\"/>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  for (const auto& [id, expected] : restricting) {
    int32_t value = -5;
    EXPECT_TRUE(holder.GetIntValue(id, value, 1, 0)) << id;
    EXPECT_EQ(expected, value) << id;
    ExpectOnce(all, "The settings file " + tree.ModulePath() + " gives setting " + std::to_string(id) +
                        " the value \"on\" in <SETTING ID=\"1\">, which is not a whole number from 0 to 2147483647; " +
                        std::to_string(expected) + " is used instead.");
  }
}

// A long quoted value neither merges the mistakes of two sets into one nor
// cuts off where the mistake is and what is used instead.
// Nor is a character cut in two where the text is shortened, whichever of
// its bytes the cut falls on.
TEST(SettingsMistakes, LongValuesKeepEachMistakeWhole) {
  std::string wide;
  for (int i = 0; i < 1000; ++i) wide += "\xE2\x82\xAC";
  for (const std::string& value : {std::string(3000, 'x'), wide, "x" + wide, "xx" + wide}) {
    CInstallTree tree;
    tree.WriteModule(ModuleSettings("", "<SETTING ID=\"1\" DESCR=\"d\"><ITEMS>" + Item(22, value) +
                                            "</ITEMS></SETTING><SETTING ID=\"2\" DESCR=\"d\"><ITEMS>" +
                                            Item(22, value) + "</ITEMS></SETTING>"));
    tree.WriteLinks(Links("<HX ID=\"3\"/>"));
    CHandlePLSettings holder;
    const std::string all = EventsOfLoad(tree, holder);
    for (const char* set : {"1", "2"}) {
      ExpectOnce(all, std::string("\" in <SETTING ID=\"") + set +
                          "\">, which is not a whole number from 0 to 2147483647; 1 is used instead.");
    }
    EXPECT_EQ(FirstByteNotUTF8(all), std::string::npos) << value.size();
  }
}

// Whoever may write a settings file decides what it lets through: a file,
// or a folder above it, that every user may write to is named (the file is
// still read: it is the administrator's).
TEST(SettingsMistakes, ASettingsFileOthersMayWriteIsNamed) {
  CInstallTree tree;
  tree.WriteModule(ModuleSettings("", ""));
  tree.WriteLinks(Links("<HX ID=\"3\"/>"));
  std::filesystem::permissions(tree.ModulePath(), std::filesystem::perms(0666));
  const std::string linksFolder = tree.dir.Path() + "Vendor/Common Files/Settings";
  std::filesystem::permissions(linksFolder, std::filesystem::perms(0777));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  ExpectOnce(all, "The settings file " + tree.ModulePath() + " may be changed by users other than the server's: " +
                      tree.ModulePath() + " may be written to by other users; whoever changes it sets every "
                      "download level. Close the file and its folders to other users.");
  ExpectOnce(all, "The settings file " + tree.LinksPath() + " may be changed by users other than the server's: " +
                      linksFolder + " may be written to by other users and is not sticky; whoever changes it sets "
                      "which settings set serves each request.");
}

// A file with thousands of mistakes reports the first ones one by one, then
// how many more it has, naming the file: the event log stays readable.
TEST(SettingsMistakes, ManyAreReportedUpToABound) {
  CInstallTree tree;
  const size_t count = CSettingsMistakes::kReportedMax + 50;
  std::string items;
  for (size_t i = 0; i < count; ++i) {
    items += "<ITEM ID=\"x" + std::to_string(i) + "\" DESCR=\"d\" VALUE=\"1\"/>";
  }
  tree.WriteModule(ModuleSettings("", "<SETTING ID=\"1\" DESCR=\"d\"><ITEMS>" + items + "</ITEMS></SETTING>"));
  tree.WriteLinks(Links("<HX ID=\"3\"/>"));
  CHandlePLSettings holder;
  const std::string all = EventsOfLoad(tree, holder);
  size_t reported = 0;
  for (size_t at = all.find("whose ID is not a number"); at != std::string::npos;
       at = all.find("whose ID is not a number", at + 1)) {
    ++reported;
  }
  EXPECT_EQ(CSettingsMistakes::kReportedMax, reported);
  ExpectOnce(all, "The settings file " + tree.ModulePath() + " has 50 more mistakes than the " +
                      std::to_string(CSettingsMistakes::kReportedMax) + " reported before");
  // The ones not reported may be of another kind than those reported (an
  // unreadable switch among bad IDs): the summary must not say otherwise.
  EXPECT_NE(std::string::npos, all.find("by its restricting value")) << all.substr(all.size() - 600);
}

// A level is a plain decimal number; any other text, the empty one included,
// reads as invalid, never as a level or as the reader's preset.
TEST(SettingsMistakes, LevelsReadOnlyPlainNumbers) {
  CInstallTree tree;
  std::string sets;
  const char* texts[] = {"", "two", "0x2", " 2", "2.0", "-1", "2", "7"};
  for (int i = 0; i < 8; ++i) {
    sets += "<SETTING ID=\"" + std::to_string(i + 1) + "\" DESCR=\"d\"><ITEMS>" + Item(43, texts[i]) +
            "</ITEMS></SETTING>";
  }
  tree.WriteModule(ModuleSettings(Item(43, "0"), sets + "<SETTING ID=\"20\" DESCR=\"d\"/>"));
  tree.WriteLinks(Links("<HX ID=\"3\"/>"));
  CHandlePLSettings holder;
  EventsOfLoad(tree, holder);
  using Outcome = CHandlePLSettings::LevelValue::Outcome;
  for (int i = 0; i < 6; ++i) {
    const CHandlePLSettings::LevelValue value = holder.ReadLevel(43, i + 1, 0);
    EXPECT_EQ(Outcome::Invalid, value.outcome) << texts[i];
    EXPECT_EQ(texts[i], value.text);
  }
  for (int i : {6, 7}) {
    const CHandlePLSettings::LevelValue value = holder.ReadLevel(43, i + 1, 0);
    EXPECT_EQ(Outcome::Read, value.outcome) << texts[i];
    EXPECT_EQ(CPLSettings::SettingSource::Set, value.source);
  }
  EXPECT_EQ(7, holder.ReadLevel(43, 8, 0).level);
  // A set without the level takes the general one, and says where it came from.
  const CHandlePLSettings::LevelValue general = holder.ReadLevel(43, 20, 0);
  EXPECT_EQ(Outcome::Read, general.outcome);
  EXPECT_EQ(0, general.level);
  EXPECT_EQ(CPLSettings::SettingSource::General, general.source);
}

}  // namespace

namespace {

// Many request threads meet one mistake at once: one of them reports it.
TEST(SettingsReportsConcurrent, OneReportPerKeyAndLoad) {
  CHandlePLSettings holder;
  std::atomic<int> reports{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        if (holder.FirstReportOfThisLoad("43 invalid " + std::to_string(i % 4))) ++reports;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(4, reports.load());
}

}  // namespace
