// The access level a conversion hands the viewer, with OWA's rules read from
// the directory (".pdf" allowed, ".docx" force-save, ".exe" blocked): it must
// be the level of the file the viewer converts, however the request names it
// (without a directory every file is blocked, so only here can a level be
// too high).
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/string_operation.h"
#include "general/host_probes.h"
#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"
#include "support/file_text.h"
#include "support/temp_dir.h"
#include "staged_install.h"
#include "test_directory.h"

namespace fs = std::filesystem;

namespace {

// A file name as a conversion link carries it: Base64, escaped for a query.
std::string Name(std::string text) {
  CStringOperation::Encode64(text);
  std::string escaped;
  for (char c : text) escaped += c == '+' ? "%2B" : c == '/' ? "%2F" : c == '=' ? "%3D" : std::string(1, c);
  return escaped;
}

TEST(ConversionLevelEndToEnd, LevelIsThatOfTheFileHoweverItIsNamed) {
  std::string hostName;
  std::string full;
  ReadComputerNames(hostName, full);
  CTestDirectory directory;
  ASSERT_EQ("", directory.Start(hostName));
  CTempDir dir;
  const std::string root = StageInstallCopy(dir.Path(), false);

  const struct {
    std::string query;
    const char* owaal;
  } cases[] = {
      // The product's own links.
      {"fn=" + Name("dir/report.pdf"), "3"},
      {"fn=" + Name("dir/plan.docx"), "2"},
      {"WR340U1=" + Name("dir/report.pdf"), "3"},
      {"fn=" + Name("dir/report.pdf") + "&WR340U1=" + Name("dir/report.pdf"), "3"},
      // Names that read two ways, or name another file than their extension.
      {"fn=" + Name("a.pdf") + "&fn=" + Name("evil.exe"), "1"},
      {"%66n=" + Name("a.pdf") + "&fn=" + Name("evil.exe"), "1"},
      {"FN=" + Name("a.pdf") + "&fn=" + Name("a.pdf"), "1"},
      {"fn=" + Name("a.pdf") + "&WR340U1=" + Name("evil.exe"), "1"},
      {"fn=" + Name("a.pdf") + "&WR340U1=" + Name("plan.docx"), "2"},
      {"fn=" + Name("a.pdf") + "&fn=" + Name("evil.exe") + "&WR340U1=" + Name("a.pdf"), "1"},
      // A name holding "?", "#" or ";" has the stricter level of its two
      // readings, so ordinary names keep their extension's.
      {"fn=" + Name("Invoice #123.pdf"), "3"},
      {"fn=" + Name("PO#4471.pdf"), "3"},
      {"fn=" + Name("dir/Q3; final.pdf"), "3"},
      {"fn=" + Name("dir/evil.exe?.pdf"), "1"},
      {"fn=" + Name("//fs/dir/evil.exe#.pdf"), "1"},
      {"fn=" + Name("http://sp/dir/evil.exe;.pdf"), "1"},
      // A file's own name holds "#", ";" and "~" as any other character.
      {"fn=" + Name("Rev 1.2 #final.pdf"), "3"},
      {"fn=" + Name("Contract v2.1;signed.pdf"), "3"},
      {"fn=" + Name("Quarterly Report~2.pdf"), "3"},
      // So does a relative path; a reading cut at "#", ";", ":" or "?"
      // counts only where it ends in an extension the directory names, where
      // unknown types are blocked too. A short name is a name of every named
      // extension that begins with its own.
      {"WR340U1=" + Name("Shared Documents/Rev 1.2 #final.pdf"), "3"},
      {"WR340U1=" + Name("Shared Documents/Contract v2.1;signed.pdf"), "3"},
      {"fn=" + Name("Team.Share/#42 minutes.pdf"), "3"},
      {"fn=" + Name("Minutes 03.12 10:30.pdf"), "3"},
      {"fn=" + Name("Are we at v1.5?.pdf"), "3"},
      {"fn=" + Name("Draft~2.pdf"), "3"},
      {"fn=" + Name("EVIL~1.EXE"), "1"},
      {"fn=" + Name("REPORT~1.HTM"), "1"},
      {"fn=" + Name(std::string("evil.exe\0.pdf", 13)), "1"},
      {"fn=" + Name(std::string("a.pdf\0.exe", 10)), "1"},
      {"fn=" + Name("evil.exe:x.pdf"), "1"},
      {"fn=" + Name("report.pdf.") + "&x=1", "1"},
      {"fn=" + Name("a.pdf") + "%00", "1"},
      {"f%u006E=" + Name("a.pdf"), "1"},
  };
  const bool ran = RunStagedModuleInChild(directory, dir.Path(), root, [&](HxHost& host) {
    std::string error;
    std::ofstream out(dir.Path() + "outcomes.txt", std::ios::binary);
    for (const auto& c : cases) {
      HxRequest request;
      if (!ParseRequestDescription("@client-address 192.0.2.21\n@criteria 1\n@user-account bob\n@user-domain HEXMOOR\n"
                                   "GET /X-Pellora/bin/view.htm?" + c.query +
                                       " HTTP/1.1\nHost: mail.example.com\nUser-Agent: Mozilla/4.0 (compatible; "
                                       "MSIE 7.0; Windows NT 6.1)\n",
                                   "", request, error)) {
        _exit(91);
      }
      out << host.Run(request).finalUrl << "\n";
    }
    out.close();  // _exit runs no destructors
  });
  ASSERT_TRUE(ran);
  std::ifstream outcomes(dir.Path() + "outcomes.txt");
  for (const auto& c : cases) {
    std::string finalUrl;
    std::getline(outcomes, finalUrl);
    const std::string level = finalUrl.substr(finalUrl.rfind('&') + 1);
    EXPECT_EQ(std::string("owaal=") + c.owaal, level) << c.query << "\n" << finalUrl;
  }
}

}  // namespace
