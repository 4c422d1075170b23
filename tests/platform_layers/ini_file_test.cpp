#include <gtest/gtest.h>

#include <string>

#include "platform/ini_file.h"
#include "support/temp_dir.h"

namespace {

std::string Get(const CIniFile& file, const char* section, const char* key, const char* fallback = "<default>",
                DWORD size = 2048) {
  char buffer[2048] = {};
  const DWORD copied = file.GetPrivateProfileStringA(section, key, fallback, buffer, size);
  EXPECT_EQ(std::string(buffer).size(), copied);
  return buffer;
}

TEST(IniFile, ReadsAsThePrivateProfileCallDoes) {
  CTempDir dir;
  const std::string path = dir.Write("a.ini",
                                     "[Main]\r\n"
                                     "Name =  padded value  \r\n"
                                     "  Indented=ordinary key\r\n"
                                     "Dup=first\r\n"
                                     "Dup=second\r\n"
                                     "Comment=kept ; dropped\r\n"
                                     "; Hidden=no\r\n"
                                     "[other]\r\n"
                                     "Name=other section\r\n"
                                     "[MAIN]\r\n"
                                     "Late=merged\r\n");
  const CIniFile file(path);
  EXPECT_EQ("padded value", Get(file, "Main", "Name"));
  EXPECT_EQ("padded value", Get(file, "mAiN", "NAME"));  // names without case
  EXPECT_EQ("ordinary key", Get(file, "Main", "Indented"));
  EXPECT_EQ("first", Get(file, "Main", "Dup"));
  EXPECT_EQ("kept", Get(file, "Main", "Comment"));
  EXPECT_EQ("<default>", Get(file, "Main", "Hidden"));
  EXPECT_EQ("other section", Get(file, "Other", "Name"));
  EXPECT_EQ("merged", Get(file, "Main", "Late"));
  EXPECT_EQ("<default>", Get(file, "Missing", "Name"));
  EXPECT_EQ("", Get(file, "Missing", "Name", nullptr));
  EXPECT_EQ("padd", Get(file, "Main", "Name", "", 5));  // truncated to the buffer

  const CIniFile missing(dir.Path() + "none.ini");
  EXPECT_EQ("<default>", Get(missing, "Main", "Name"));
}

// The library takes lines of a fixed length only; longer values still come
// back whole, blanks and all, up to the caller's buffer.
TEST(IniFile, LongLinesAreReadWhole) {
  std::string value;
  for (int i = 0; i < 120; ++i) value += "<td class='c" + std::to_string(i) + "'> a  b </td>";
  const std::string head = value.substr(0, value.find_last_not_of(' ', 1500) + 1);
  CTempDir dir;
  const std::string path = dir.Write("long.ini", "[S]\nLong=" + head + "\nNext=after\nHuge=" + value + "\n");
  const CIniFile file(path);
  EXPECT_EQ(head, Get(file, "S", "Long"));
  EXPECT_EQ("after", Get(file, "S", "Next"));
  ASSERT_GT(value.size(), 2047u);
  EXPECT_EQ(value.substr(0, 2047), Get(file, "S", "Huge"));
}

// A line reads as a short line of its kind would, whatever its length: a
// long comment holding "=" and ":" stays a comment, a long section header
// opens its section, and a long value keeps its words and its ";" that no
// blank precedes.
TEST(IniFile, LongLinesReadAsShortLinesOfTheirKind) {
  const std::string comment = "; key = " + std::string(300, 'c') + " tail : more";
  const std::string section = "Section" + std::string(300, 's');
  std::string value(250, 'w');
  for (int i = 0; i < 100; ++i) value += " a;b x";
  CTempDir dir;
  const std::string path = dir.Write("long.ini", "[Main]\nKey=value\n" + comment + "\nFlag=TRUE\n[" + section +
                                                     "]\nInner=inside\nLong=" + value + " ; a comment\n");
  const CIniFile file(path);
  EXPECT_EQ("value", Get(file, "Main", "Key"));
  EXPECT_EQ("TRUE", Get(file, "Main", "Flag"));
  EXPECT_EQ("<default>", Get(file, "Main", "Inner"));
  EXPECT_EQ("inside", Get(file, section.c_str(), "Inner"));
  EXPECT_EQ(value, Get(file, section.c_str(), "Long"));
}

}  // namespace
