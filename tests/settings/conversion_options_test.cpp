#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "common/event_log.h"
#include "settings/load_init_ini.h"
#include "settings/pl_settings.h"
#include "settings_files.h"

namespace {

// Rows of an option array: (option id, value) by row number.
struct OptionRows {
  SAFEARRAY* array = nullptr;

  LONG Count() const {
    LONG upper = -1;
    SafeArrayGetUBound(array, 1, &upper);
    return upper + 1;
  }
  _variant_t Cell(LONG column, LONG row) const {
    _variant_t cell;
    const LONG index[2] = {column, row};
    EXPECT_EQ(S_OK, SafeArrayGetElement(array, index, &cell));
    return cell;
  }
  int32_t Id(LONG row) const { return Cell(0, row).lVal; }
  // The value of the first row with the id; VT_NULL when there is none.
  _variant_t Find(int32_t id) const {
    for (LONG r = 0; r < Count(); ++r) {
      const _variant_t cell = Cell(0, r);
      if (cell.vt == VT_I4 && cell.lVal == id) return Cell(1, r);
    }
    _variant_t none;
    none.vt = VT_NULL;
    return none;
  }
  int32_t Int(int32_t id) const {
    const _variant_t v = Find(id);
    EXPECT_EQ(VT_I4, v.vt) << "id " << id;
    return v.lVal;
  }
  std::string Text(int32_t id) const {
    const _variant_t v = Find(id);
    EXPECT_EQ(VT_BSTR, v.vt) << "id " << id;
    return v.vt == VT_BSTR && v.bstrVal != nullptr ? v.bstrVal : "<null>";
  }
};

const char* kSets =
    "<SETTING ID=\"1\" DESCR=\"one\"><ENGINES>"
    "<ENGINE ID=\"0\" DESCR=\"General\"><OPTIONS><OPTION ID=\"3\" DESCR=\"o\" VALUE=\"30\"/>"
    "<OPTION ID=\"7\" DESCR=\"o\" VALUE=\"70\"/></OPTIONS></ENGINE>"
    "<ENGINE ID=\"8\" DESCR=\"Conv\"><OPTIONS><OPTION ID=\"1\" DESCR=\"o\" VALUE=\"4\"/></OPTIONS></ENGINE>"
    "</ENGINES></SETTING>"
    "<SETTING ID=\"2\" DESCR=\"two\"/>";

class ConversionOptions : public ::testing::Test {
 protected:
  void WriteIni(const std::string& text, const std::string& name = "conv.ini") const {
    tree.dir.Write("Vendor/Product/Engine/ini/" + name, text);
  }
  HRESULT Load(const std::string& iniSetting = "conv.ini") {
    tree.WriteModule(ModuleSettings(Item(1, iniSetting), kSets));
    return settings.LoadSettings(tree.ModulePath());
  }
  OptionRows Rows(int32_t settingsID) const {
    const auto& engines = settings.Store().m_settingsSets.at(settingsID)->m_engines;
    return OptionRows{engines.at(0)->m_spOptionArray->m_pArray};
  }
  CInstallTree tree;
  CPLSettings settings;
};

TEST_F(ConversionOptions, MissingFileGivesTheDefaultRowsThenTheSetsOwnRows) {
  ASSERT_EQ(S_OK, Load());
  const OptionRows one = Rows(1);
  ASSERT_EQ(185 + 2 + 1, one.Count());
  EXPECT_EQ(54, one.Id(0));
  EXPECT_EQ(247, one.Id(184));
  EXPECT_EQ(VT_EMPTY, one.Cell(1, 184).vt);  // no author styles
  EXPECT_EQ(3, one.Id(185));
  EXPECT_EQ(7, one.Id(186));
  EXPECT_EQ(226, one.Id(187));
  EXPECT_EQ(4, one.Cell(1, 187).lVal);  // engine 8's option 1

  EXPECT_EQ(1, one.Int(66));               // bGenerateURLs "TRUE"
  EXPECT_EQ('X', one.Int(169));            // cRedact
  EXPECT_EQ(' ', one.Int(168));            // cReplaceChar
  EXPECT_EQ(2147483647, one.Int(172));     // lcbMaxMemUsage "LONG_MAX"
  EXPECT_EQ(1, one.Int(160));              // nTableBorderWidth
  EXPECT_EQ(2, one.Int(161));              // KVGFX_PNG
  EXPECT_EQ(4, one.Int(162));              // KVGFX_WMF
  EXPECT_EQ(8, one.Int(152));              // the font sizes' fallbacks
  EXPECT_EQ(36, one.Int(158));
  EXPECT_EQ("", one.Text(1));              // an empty template text is an empty text
  EXPECT_EQ("KVCS_UNKNOWN", one.Text(240));
  EXPECT_EQ(0, one.Int(248));
  EXPECT_EQ(VT_NULL, one.Find(180).vt);    // no styles, no style row

  // A set without engine 0 gets an array of its own.
  const OptionRows two = Rows(2);
  EXPECT_NE(one.array, two.array);
  ASSERT_EQ(185 + 1, two.Count());
  EXPECT_EQ(226, two.Id(185));
  EXPECT_EQ(-1, two.Cell(1, 185).lVal);

  // Reloads build new arrays; they never add to the ones in memory.
  ASSERT_EQ(S_OK, settings.LoadSettings(tree.ModulePath()));
  ASSERT_EQ(S_OK, settings.LoadSettings(tree.ModulePath()));
  EXPECT_EQ(185 + 2 + 1, Rows(1).Count());
}

TEST_F(ConversionOptions, ValuesAreReadAsTheirKeysSay) {
  const std::string longText(600, 'w');
  WriteIni(
      "[KVHTMLTemplateEx]\n"
      "bHardPageMakesNewBlock=true\n"
      "szMainTop=" + longText + "\n"
      "lcbBlockSize=  42abc\n"
      "[KVHTMLOptionsEx]\n"
      "bGenerateURLs=FALSE\n"
      "lcbMaxMemUsage=long_max\n"
      "nTableBorderWidth=7\n"
      "FontSizeMap=9,,11,x4,15\n"
      "OutputCharSet=KVCS_NOPE\n"
      "eSrcCharSet=KVCS_UTF8\n"
      "cReplaceChar=_x\n"
      "[KVHTMLTOCOptions]\n"
      "headingCreateType=KVHC_CreateHeadingsAlways\n"
      "[KVHTMLHeadingInfo]\n"
      "bMustBeBold=TRUE, TRUE,TRUE\n"
      "minParaLen=5,,6\n"
      "[TrackChanges]\n"
      "HLStartBlock=<b>\n"
      "RMSummary=3\n"
      "[AUTHORSTYLE]\n"
      "Styles=2\n"
      "RMAuthorStyle0=red\n");
  // A leading separator is dropped from the file name.
  ASSERT_EQ(S_OK, Load("\\conv.ini"));
  const OptionRows rows = Rows(1);
  EXPECT_EQ(0, rows.Int(54));  // only "TRUE" is true
  EXPECT_EQ(longText, rows.Text(1));
  EXPECT_EQ(0, rows.Int(175));  // "42abc" is no number: reported, and its default is used
  EXPECT_EQ(0, rows.Int(66));
  EXPECT_EQ(2147483647, rows.Int(172));
  EXPECT_EQ(7, rows.Int(160));
  EXPECT_EQ(9, rows.Int(152));
  EXPECT_EQ(11, rows.Int(153));  // empty items are skipped
  EXPECT_EQ(12, rows.Int(154));  // "x4" is no number: reported, and the item's own default is used
  EXPECT_EQ(15, rows.Int(155));
  EXPECT_EQ(0, rows.Int(151));   // an unknown name
  EXPECT_EQ(53, rows.Int(170));
  EXPECT_EQ('_', rows.Int(168));
  EXPECT_EQ(1, rows.Int(174));
  EXPECT_EQ(1, rows.Int(78));    // H1 bold
  EXPECT_EQ(0, rows.Int(90));    // H2 " TRUE" is not "TRUE"
  EXPECT_EQ(1, rows.Int(102));   // H3
  EXPECT_EQ(5, rows.Int(86));    // H1 minParaLen
  EXPECT_EQ(6, rows.Int(98));    // H2 minParaLen
  EXPECT_EQ(0, rows.Int(110));   // H3 minParaLen: no item
  EXPECT_EQ("<b>", rows.Text(240));
  EXPECT_EQ("KVCS_UNKNOWN", rows.Text(241));
  EXPECT_EQ(3, rows.Int(248));
  EXPECT_EQ(2, rows.Int(246));

  const _variant_t authors = rows.Find(247);
  ASSERT_EQ(VT_ARRAY | VT_BSTR, authors.vt);
  BSTR text = nullptr;
  const LONG second = 1;
  ASSERT_EQ(S_OK, SafeArrayGetElement(authors.parray, &second, &text));
  EXPECT_STREQ("KVCS_UNKNOWN", text);  // a missing author style
  SysFreeString(text);
}

TEST_F(ConversionOptions, StylesOneThreeAndFive) {
  const char* flags[] = {"KVSTYLE_HEADING1", "6", "kvstyle_pre", "", "3"};
  const int32_t expected[] = {2, 6, 0, 0, 3};
  for (int count : {1, 3, 5}) {
    std::string ini = "[KVStyle]\nNumStyles=" + std::to_string(count) + "\n";
    for (int i = 1; i <= count; ++i) {
      ini += "[Style" + std::to_string(i) + "]\nStyleName=S" + std::to_string(i) + "\nFlags=" + flags[i - 1] + "\n";
    }
    WriteIni(ini);
    ASSERT_EQ(S_OK, Load()) << count;
    const OptionRows rows = Rows(1);
    EXPECT_EQ(185 + 1 + 2 + 1, rows.Count());
    const _variant_t styles = rows.Find(180);
    ASSERT_EQ(VT_ARRAY | VT_VARIANT, styles.vt);
    for (LONG i = 0; i < count; ++i) {
      _variant_t name;
      _variant_t markup;
      _variant_t flag;
      LONG index[4] = {0, 0, 0, i};
      ASSERT_EQ(S_OK, SafeArrayGetElement(styles.parray, index, &name));
      index[0] = 1;
      ASSERT_EQ(S_OK, SafeArrayGetElement(styles.parray, index, &markup));
      index[0] = 3;
      ASSERT_EQ(S_OK, SafeArrayGetElement(styles.parray, index, &flag));
      EXPECT_STREQ(("S" + std::to_string(i + 1)).c_str(), name.bstrVal);
      EXPECT_EQ(nullptr, markup.bstrVal);  // an empty style text is the null text
      EXPECT_EQ(expected[i], flag.lVal) << flags[i];
    }
  }
}

TEST_F(ConversionOptions, UnusablePathsFailTheLoadAndKeepTheLiveArrays) {
  ASSERT_EQ(S_OK, Load());
  const SAFEARRAY* live = Rows(1).array;
  EXPECT_EQ(E_FAIL, Load(std::string(260, 'n')));  // too long: no path at all
  EXPECT_EQ(live, Rows(1).array);
  EXPECT_EQ(185 + 2 + 1, Rows(1).Count());

  CTempDir elsewhere;  // no settings folder to find the engine folder from
  const std::string path = elsewhere.Write("HXSettings.xml", ModuleSettings(Item(1, "conv.ini"), kSets));
  EXPECT_EQ(E_FAIL, settings.LoadSettings(path));
  EXPECT_EQ(live, Rows(1).array);
}

// A rendering option must not take download control down: without setting 1,
// or with it empty, every option takes the default a missing file gives, the
// file loads, at start and at reload alike, and the mistake is named.
TEST_F(ConversionOptions, WithoutSetting1EveryOptionTakesItsDefault) {
  CEventLog log;
  ASSERT_TRUE(log.Register(nullptr));
  SetEventReportFile(tree.dir.Path() + "events.txt");
  SetModuleEventLog(&log);
  ASSERT_EQ(S_OK, Load("missing.ini"));
  // A load replaces the arrays: the defaults are kept as (id, kind, number).
  const auto rowsOf = [&] {
    std::vector<std::tuple<int32_t, VARTYPE, LONG>> rows;
    const OptionRows live = Rows(1);
    for (LONG r = 0; r < live.Count(); ++r) {
      const _variant_t value = live.Cell(1, r);
      rows.emplace_back(live.Id(r), value.vt, value.vt == VT_I4 ? value.lVal : 0);
    }
    return rows;
  };
  const auto defaults = rowsOf();
  const auto expectDefaults = [&] { EXPECT_EQ(defaults, rowsOf()); };
  EXPECT_EQ(S_OK, Load(""));
  expectDefaults();
  tree.WriteModule("<?xml version=\"1.0\"?>\n<SETTINGS><GENERALSETTINGS/>" + std::string(kSets) + "</SETTINGS>");
  EXPECT_EQ(S_OK, settings.LoadSettings(tree.ModulePath()));
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  expectDefaults();
  std::ifstream in(tree.dir.Path() + "events.txt");
  std::stringstream events;
  events << in.rdbuf();
  const std::string expected = "The settings file " + tree.ModulePath() +
                               " gives no conversion options file (setting 1 is missing or empty); every conversion "
                               "option takes its default";
  const size_t first = events.str().find(expected);
  EXPECT_NE(std::string::npos, first) << events.str();
  EXPECT_NE(std::string::npos, events.str().find(expected, first + 1)) << "once per load\n" << events.str();
}

// Only a folder named "Settings" is the settings folder; one whose name
// merely begins so, higher up the install path, is another folder.
TEST(ConversionOptionsFolder, TheSettingsFolderIsFoundByItsWholeName) {
  CTempDir dir;
  dir.Write("SettingsArchive/Vendor/Product/Engine/ini/conv.ini", "[KVHTMLTemplateEx]\nbHardPageMakesNewBlock=TRUE\n");
  const std::string path =
      dir.Write("SettingsArchive/Vendor/Product/Settings/HXSettings.xml", ModuleSettings(Item(1, "conv.ini"), kSets));
  CPLSettings settings;
  ASSERT_EQ(S_OK, settings.LoadSettings(path));
  const auto& engines = settings.Store().m_settingsSets.at(1)->m_engines;
  EXPECT_EQ(1, (OptionRows{engines.at(0)->m_spOptionArray->m_pArray}.Int(54)));
}

TEST_F(ConversionOptions, AFullLinuxPathStandsAsWritten) {
  const std::string path = tree.dir.Write("etc/conv/options.ini", "[KVHTMLTemplateEx]\nbHardPageMakesNewBlock=TRUE\n");
  ASSERT_EQ(S_OK, Load(path));
  EXPECT_EQ(1, Rows(1).Int(54));
}

// A count the file gives is never taken on trust: far above any real file's,
// it would have a reload allocate until memory runs out. A count of 1,000 is
// read; one above is reported once per load and read as 0, and the settings
// file still loads: a rendering option must not take download control down.
TEST_F(ConversionOptions, ACountAboveTheMaximumIsReportedAndReadAsZero) {
  CEventLog log;
  ASSERT_TRUE(log.Register(nullptr));
  SetEventReportFile(tree.dir.Path() + "events.txt");
  SetModuleEventLog(&log);
  WriteIni("[AUTHORSTYLE]\nStyles=1000\n");
  ASSERT_EQ(S_OK, Load());
  const _variant_t authors = Rows(1).Find(247);
  ASSERT_EQ(VT_ARRAY | VT_BSTR, authors.vt);
  LONG upper = -1;
  SafeArrayGetUBound(authors.parray, 1, &upper);
  EXPECT_EQ(999, upper);
  WriteIni("[AUTHORSTYLE]\nStyles=1001\n[KVStyle]\nNumStyles=2000000000\n");
  EXPECT_EQ(S_OK, Load());
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  EXPECT_EQ(VT_EMPTY, Rows(1).Find(247).vt);
  EXPECT_EQ(VT_NULL, Rows(1).Find(180).vt);

  std::ifstream in(tree.dir.Path() + "events.txt");
  std::stringstream events;
  events << in.rdbuf();
  const std::string text = events.str();
  for (const char* expected : {"gives [AUTHORSTYLE] Styles=1001, above the maximum of 1000; it is read as 0",
                               "gives [KVStyle] NumStyles=2000000000, above the maximum of 1000"}) {
    const size_t first = text.find(expected);
    EXPECT_NE(std::string::npos, first) << expected << "\n" << text;
    // Two settings sets read the file: still one report per load.
    EXPECT_EQ(std::string::npos, text.find(expected, first + 1)) << expected << "\n" << text;
  }
  EXPECT_EQ(std::string::npos, text.find("Styles=1000")) << text;

  // A count the number reader cannot read is no count either, quoted as
  // written: read with atoi, "+1001" would pass a check made on its text.
  SetEventReportFile(tree.dir.Path() + "events2.txt");
  SetModuleEventLog(&log);
  WriteIni("[KVStyle]\nNumStyles=+1001\n");
  EXPECT_EQ(S_OK, Load());
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  EXPECT_EQ(VT_NULL, Rows(1).Find(180).vt);
  std::ifstream in2(tree.dir.Path() + "events2.txt");
  std::stringstream events2;
  events2 << in2.rdbuf();
  EXPECT_NE(std::string::npos, events2.str().find("gives [KVStyle] NumStyles=+1001, which is not a whole number from "
                                                  "0 to 1000; it is read as 0"))
      << events2.str();
}

// What a Windows editor saves: UTF-16 with its byte-order mark, or lines
// ended by carriage returns alone, reads as the same text in UTF-8 would; a
// missing file and a line that cannot be read are reported by the file's path.
TEST_F(ConversionOptions, WindowsEditorsFilesReadAsTheirTextAndMistakesAreReported) {
  const std::string utf8 = "[KVHTMLTemplateEx]\nbHardPageMakesNewBlock=TRUE\nszMainTop=<b>\xC3\xA9t\xC3\xA9</b>\n";
  std::string utf16 = "\xFF\xFE";
  for (unsigned char c : std::string("[KVHTMLTemplateEx]\r\nbHardPageMakesNewBlock=TRUE\r\nszMainTop=<b>")) {
    utf16 += static_cast<char>(c);
    utf16 += '\0';
  }
  utf16 += std::string("\xE9\0t\0\xE9\0<\0/\0b\0>\0", 14);
  // The same text in UTF-16 big-endian: each unit's bytes swapped.
  std::string utf16be = utf16;
  for (size_t i = 0; i + 1 < utf16be.size(); i += 2) std::swap(utf16be[i], utf16be[i + 1]);
  for (const std::string& file : {utf8, utf16, utf16be, std::string("[KVHTMLTemplateEx]\rbHardPageMakesNewBlock=TRUE\r"
                                                           "szMainTop=<b>\xC3\xA9t\xC3\xA9</b>\r")}) {
    WriteIni(file);
    ASSERT_EQ(S_OK, Load());
    EXPECT_EQ(1, Rows(1).Int(54));
    EXPECT_EQ("<b>\xC3\xA9t\xC3\xA9</b>", Rows(1).Text(1));
  }

  CEventLog log;
  ASSERT_TRUE(log.Register(nullptr));
  SetEventReportFile(tree.dir.Path() + "events.txt");
  SetModuleEventLog(&log);
  EXPECT_EQ(S_OK, Load("missing.ini"));
  WriteIni("[KVHTMLTemplateEx]\nbHardPageMakesNewBlock=TRUE\nthis line is no key\n");
  EXPECT_EQ(S_OK, Load());
  EXPECT_EQ(1, Rows(1).Int(54));
  WriteIni("first line is no key\n[KVHTMLTemplateEx]\n", "first.ini");
  EXPECT_EQ(S_OK, Load("first.ini"));
  // Without its byte-order mark UTF-16 cannot be told from other bytes
  // safely; a folder is no file. Both are said, and the defaults apply.
  WriteIni(utf16.substr(2), "nomark.ini");
  EXPECT_EQ(S_OK, Load("nomark.ini"));
  // A zero byte ends its line: what follows it is lost, and that is said.
  WriteIni(std::string("[KVHTMLTemplateEx]\nszMainTop=<b>\0</b>\n", 38), "zero.ini");
  EXPECT_EQ(S_OK, Load("zero.ini"));
  EXPECT_EQ("<b>", Rows(1).Text(1));
  std::filesystem::create_directories(tree.dir.Path() + "Vendor/Product/Engine/ini/folder.ini");
  EXPECT_EQ(S_OK, Load("folder.ini"));
  SetModuleEventLog(nullptr);
  SetEventReportFile("");
  std::ifstream in(tree.dir.Path() + "events.txt");
  std::stringstream events;
  events << in.rdbuf();
  EXPECT_NE(std::string::npos, events.str().find("Engine/ini/missing.ini (setting 1) is missing")) << events.str();
  EXPECT_NE(std::string::npos, events.str().find("Engine/ini/conv.ini has lines that cannot be read, the first at "
                                                 "line 3"))
      << events.str();
  EXPECT_NE(std::string::npos, events.str().find("Engine/ini/first.ini has lines that cannot be read, the first at "
                                                 "line 1"))
      << events.str();
  EXPECT_NE(std::string::npos, events.str().find("Engine/ini/nomark.ini (setting 1) cannot be read: it is in UTF-16 "
                                                 "without a byte-order mark"))
      << events.str();
  EXPECT_NE(std::string::npos, events.str().find("Engine/ini/zero.ini has a zero byte in line 2, which ends the line "
                                                 "there: what follows it on that line is not read. Remove the byte."))
      << events.str();
  EXPECT_NE(std::string::npos, events.str().find("Engine/ini/folder.ini (setting 1) cannot be read: it is a folder, "
                                                 "not a file; every conversion option takes its default."))
      << events.str();
}

// A ";" after a blank starts a comment, also inside a section line, which
// then opens no section; a ";" without a blank before it is part of the name.
TEST_F(ConversionOptions, ASemicolonInASectionLine) {
  WriteIni("[KVHTMLTemplateEx]\n[KVHTMLOptionsEx ;a note]\nbHardPageMakesNewBlock=TRUE\n"
           "[KVHTMLOptionsEx]\n[Notes;2]\nbDisplayRelativeFontSize=TRUE\n");
  ASSERT_EQ(S_OK, Load());
  EXPECT_EQ(1, Rows(1).Int(54));
  EXPECT_EQ(0, Rows(1).Int(61));
}

TEST(ConversionOptionLoader, InputRowsWithoutIntegerIdsLeaveEmptyRowsAtTheEnd) {
  SAFEARRAYBOUND bounds[2] = {{2, 0}, {2, 0}};
  COptionArrayHolder holder(new CPLSettings::COptionArray);
  holder->Replace(SafeArrayCreate(VT_VARIANT, 2, bounds));
  const _variant_t textID("x");
  const _variant_t id(static_cast<LONG>(9));
  const _variant_t value("v");
  LONG index[2] = {0, 0};
  SafeArrayPutElement(holder->m_pArray, index, &textID);
  index[1] = 1;
  SafeArrayPutElement(holder->m_pArray, index, &id);
  index[0] = 1;
  SafeArrayPutElement(holder->m_pArray, index, &value);
  CConversionOptionList extra(1);
  extra[0].id = 226;
  extra[0].value = _variant_t(static_cast<LONG>(5));

  CLoadInitINI loader;
  loader.SetPath("/nonexistent/conv.ini");
  EXPECT_EQ(0u, loader.Load(holder, extra));
  const OptionRows rows{holder->m_pArray};
  ASSERT_EQ(185 + 2 + 1, rows.Count());
  EXPECT_EQ(9, rows.Id(185));
  EXPECT_EQ(226, rows.Id(186));
  EXPECT_EQ(VT_EMPTY, rows.Cell(0, 187).vt);

  COptionArrayHolder empty(new CPLSettings::COptionArray);
  try {
    loader.Load(empty, extra);
    ADD_FAILURE() << "a holder without an array loads nothing";
  } catch (const _com_error& e) {
    EXPECT_EQ(E_INVALIDARG, e.Error());
  }
}

}  // namespace
