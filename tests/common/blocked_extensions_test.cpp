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
  // A URL, a file URL too, is also read cut at its first "?", "#" or ";",
  // by its query's parameters and its fragment, each decoded once; a name
  // holding "?" is no Windows name. A name a URL parser trims to a URL, and
  // a query's value that is one, are read as URLs too.
  for (const char* name : {"evil.exe", "http://sp/evil.exe#.pdf", "evil.exe?.pdf", "//sp/dir/evil.exe;.pdf", "a.pdf?x.exe",
                           "\\\\fs01\\evil.exe.", "evil.exe ", "evil.exe::$DATA", "//sp/docs/evil.exe. #.pdf",
                           "\\\\fs01\\evil.exe\\.", "/docs/evil.exe/x/.. ", "http://sp/docs/report.pdf:x.exe?.pdf",
                           "http://sp/docs/evil%2Eexe", "evil%U002Eexe", "HTTP://sp/x.pdf?a#.exe",
                           "FILE:///fs01/t/evil.exe#.pdf", "http://sp/a.pdf?x%2Eexe", "http://sp/a.pdf#x%2Eexe",
                           "http://sp/a.pdf?f=evil%2Eexe&web=1", "http://sp/a.pdf?x=evil.exe&y=1", "evil.exe:x.pdf",
                           "http://sp/evil.exe;.pdf", "EVIL~1.EX", "\\\\fs01\\t\\EVIL~1.E",
                           " http://sp/evil.exe#.pdf", "ht\ttp://sp/evil.exe#.pdf", "/\\sp/evil.exe#.pdf",
                           "http://sp/r.pdf?u=http://sp/evil.exe?x=1", "http://sp/r.pdf?u=//sp/evil.exe%23.pdf",
                           "http://sp/evil%2Eexe;x.pdf", "http://sp/evil.exe%20;x.pdf",
                           "http://sp/a.pdf?SourceUrl=/docs/evil%252Eexe", "\u202Ahttp://sp/evil.exe#.pdf"}) {
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
                           "\\\\fs01\\team\\evil.exe\\\u3000\\..", "evil.exe\u200F", "evil.exe\u00AD"}) {
    EXPECT_TRUE(IsFileNameInBlockedList(name, list)) << name;
  }
  // A cut name without an extension of its own leaves the whole name's; a
  // Windows or SMB name holds "#" and ";" as ordinary characters, a file URL
  // ";", and so does a URL's path once decoded.
  for (const char* name : {"Invoice #123.pdf", "PO#4471.exe.pdf", "Q3; final.pdf", "a.exe/b.pdf", "Re: minutes.pdf",
                           "Report%20final.pdf", "r\u00E9sum\u00E9.pdf", "evil.exe\u00E9.pdf", "evil.exe\u200B.pdf",
                           "a\u3000.exe\u3000x.pdf", "tool.exe#.pdf", "dir\\tool.exe;.pdf", "\\\\fs01\\tool.exe#.pdf",
                           "file://fs01/team/tool.exe;v2.pdf?x", "C:\\tool.exe#.pdf", "http://sp/tool.exe%23.pdf",
                           "dir/tool.exe;.pdf", "Shared Documents/tool.exe #final.pdf", "TOOL~1.PDF"}) {
    EXPECT_FALSE(IsFileNameInBlockedList(name, list)) << name;
  }
}

}  // namespace

namespace {

// The names of ordinary documents keep the level of their extension, and a
// URL's query is no part of its file name; only a name a volume generates
// is a short name.
TEST(FileNameExtensions, OrdinaryDocumentNamesReadByTheirExtension) {
  for (const char* name : {"Rev 1.2 #final.pdf", "Minutes 03.12; final.pdf", "Contract v2.1;signed.pdf",
                           "Shared Documents/Rev 1.2 #final.pdf", "Team.Share/#42 minutes.pdf",
                           "dir/Contract v2.1;signed.pdf",
                           "\\\\fs01\\Team.Share\\#42 minutes.pdf", "file://fs01/team/Rev 1.2 %23final.pdf",
                           "http://sp/sites/f/Shared Documents/Budget.pdf?web=1&s=a/b", "http://sp/Rev%201.2%20%23final.pdf",
                           "Quarterly Report~2.pdf", "Scan~20240115.pdf", "a b~1.pdf", "A+B~1.pdf", "R\u00C9V~1.pdf"}) {
    const CFileNameExtensions extensions = ExtensionsOfFileName(name);
    EXPECT_EQ("pdf", extensions.whole) << name;
    for (const ci_string& other : extensions.others) EXPECT_EQ("pdf", other) << name;
    EXPECT_FALSE(extensions.shortName) << name;
  }
  for (const char* name : {"MACRO~1.DOC", "macro~12.doc", "A_B~1", "\\\\fs01\\t\\PLAN~2.PDF", "//sp/d/MACRO~1.DOC#x.pdf",
                           "MAC#RO~1.DOC"}) {
    EXPECT_TRUE(ExtensionsOfFileName(name).shortName) << name;
  }
}

}  // namespace
