#include <gtest/gtest.h>

#include "common/blocked_extensions.h"

namespace {

TEST(BlockedExtensionList, WholeEntriesOnlyWithoutCase) {
  const ci_string list = "exe;DOCX;com";
  EXPECT_TRUE(IsExtensionInBlockedList("exe", list));
  EXPECT_TRUE(IsExtensionInBlockedList("Docx", list));
  EXPECT_TRUE(IsExtensionInBlockedList("COM", list));
  // Parts of entries, an empty extension and empty entries block nothing.
  EXPECT_FALSE(IsExtensionInBlockedList("doc", list));
  EXPECT_FALSE(IsExtensionInBlockedList("xe", list));
  EXPECT_FALSE(IsExtensionInBlockedList("e", list));
  EXPECT_FALSE(IsExtensionInBlockedList("exe;com", list));
  EXPECT_FALSE(IsExtensionInBlockedList("", list));
  EXPECT_FALSE(IsExtensionInBlockedList("", ";exe;;"));
  EXPECT_FALSE(IsExtensionInBlockedList("exe", ""));
  // An empty entry does not end the list.
  EXPECT_TRUE(IsExtensionInBlockedList("com", "exe;;com;"));
}

TEST(BlockedExtensionList, EveryReadingOfAFileName) {
  const ci_string list = "exe";
  for (const char* name : {"evil.exe", "evil.exe#.pdf", "evil.exe?.pdf", "dir\\evil.exe;.pdf", "a.pdf?x.exe",
                           "\\\\fs01\\evil.exe.", "evil.exe ", "evil.exe::$DATA", "evil.exe. #.pdf",
                           "\\\\fs01\\evil.exe\\.", "/docs/evil.exe/x/.. ",
                           "http://sp/docs/evil%2Eexe"}) {
    EXPECT_TRUE(IsFileNameInBlockedList(name, list)) << name;
  }
  // A browser trims any trailing White_Space from a download's name (U+3000,
  // U+00A0, U+2003, U+0085, U+2028), also once decoded, and a name is read
  // also without its format characters (U+200B, U+FEFF, U+202E); "%uXXXX"
  // is decoded as IIS decodes it. A file system keeps a folder named U+3000,
  // which ".." passes over.
  for (const char* name : {"\\\\fs01\\team\\evil.exe\u3000", "evil.exe\u00A0", "evil.exe\u2003 .", "evil.exe\u0085",
                           "evil.exe\u2028\u3000", "http://sp/docs/evil.exe%E3%80%80", "evil.exe\u200B",
                           "evil.exe\uFEFF", "evil.exe\U000E0020", "evil.e\u200Bxe", "evil\u202Eexe.pdf\u202C.exe\u200D",
                           "http://sp/docs/evil%u002Eexe", "http://sp/docs/evil.exe%u3000", "evil.exe\U0001D173",
                           "\\\\fs01\\team\\evil.exe\\\u3000\\.."}) {
    EXPECT_TRUE(IsFileNameInBlockedList(name, list)) << name;
  }
  // A cut name without an extension of its own leaves the whole name's.
  for (const char* name : {"Invoice #123.pdf", "PO#4471.exe.pdf", "Q3; final.pdf", "a.exe/b.pdf", "Re: minutes.pdf",
                           "Report%20final.pdf", "r\u00E9sum\u00E9.pdf", "evil.exe\u00E9.pdf", "evil.exe\u200B.pdf",
                           "a\u3000.exe\u3000x.pdf"}) {
    EXPECT_FALSE(IsFileNameInBlockedList(name, list)) << name;
  }
}

}  // namespace
