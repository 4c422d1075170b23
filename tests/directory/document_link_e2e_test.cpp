// The product's document-view links at block level 2 for a file that the
// directory's OWA rules allow: without a directory every file is blocked, so
// only here does the "fidh" hash and the Open and Save rule decide.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "general/host_probes.h"
#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"
#include "support/temp_dir.h"
#include "staged_install.h"
#include "test_directory.h"
#include "support/file_text.h"

namespace fs = std::filesystem;

namespace {

// The identifier hash of the product's links: h = h * 33 + each (signed)
// byte, 32-bit, in decimal.
std::string Hash(const std::string& text) {
  uint32_t h = 0;
  for (char c : text) h = h * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  return std::to_string(h);
}

// `text` as a query value: every byte but letters and digits escaped.
std::string Escaped(const std::string& text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) != 0) {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += kHex[c >> 4];
      out += kHex[c & 0xF];
    }
  }
  return out;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  ASSERT_NE(std::string::npos, at) << from;
  text.replace(at, from.size(), to);
}

TEST(DocumentLinkEndToEnd, HashAndOpenSaveDecideAnAllowedFile) {
  std::string hostName;
  std::string full;
  ReadComputerNames(hostName, full);
  CTestDirectory directory;
  ASSERT_EQ("", directory.Start(hostName));
  CTempDir dir;
  const std::string root = StageInstallCopy(dir.Path(), false);
  // Set 1 (criteria 1) is at level 2 with Open and Save on; set 2 (criteria
  // 2) goes to level 2 with Save alone off.
  const std::string settings = root + "Quenlith/Pellora/Settings/HXSettings.xml";
  std::string xml = ReadFile(settings);
  Replace(xml, "<ITEM ID=\"43\" DESCR=\"Direct file access block level\" VALUE=\"0\"/>",
          "<ITEM ID=\"43\" DESCR=\"Direct file access block level\" VALUE=\"2\"/>");
  std::ofstream(settings, std::ios::binary | std::ios::trunc) << xml;

  // The directory allows ".pdf"; the client is outside both sets' ranges.
  const std::string doc = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=/docs/report.pdf";
  // A name holding "?", "#" or ";" has the level of each reading of it:
  // ".exe" is blocked, whatever follows.
  const std::string invoice = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=%2Fdocs%2FInvoice%20%23123.pdf";
  std::vector<std::string> requests = {
      "@criteria 1\nGET " + doc + "&fidh=" + Hash("/docs/report.pdf"),
      "@criteria 1\nGET " + doc + "&fidh=" + Hash("/docs/other.pdf"),
      "@criteria 2\nGET " + doc + "&fidh=" + Hash("/docs/report.pdf"),
      "@criteria 1\nGET " + invoice + "&fidh=" + Hash("/docs/Invoice #123.pdf"),
  };
  std::string blocked;
  for (const char* cut : {"%23", "%3F", "%3B"}) {
    const std::string name = std::string("//sp/docs/evil.exe") + (cut[2] == '3' ? '#' : cut[2] == 'F' ? '?' : ';') + ".pdf";
    const std::string target = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=%2F%2Fsp%2Fdocs%2Fevil.exe" + std::string(cut) +
                               ".pdf&fidh=" + Hash(name);
    requests.push_back("@criteria 1\nGET " + target);
    blocked += std::string(HxAnswerKindName(HxAnswerKind::ModuleResponse)) + " " + target + "\n";
  }
  // A short name may stand for a long name of another extension that
  // begins with its own ("setup.exe"): it is blocked as the blocked ".exe".
  // A long name holding a "~" keeps its extension's level.
  const std::string shortName = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=%2Fdocs%2FSETUP~1.EX&fidh=" +
                                Hash("/docs/SETUP~1.EX");
  requests.push_back("@criteria 1\nGET " + shortName);
  blocked += std::string(HxAnswerKindName(HxAnswerKind::ModuleResponse)) + " " + shortName + "\n";
  const std::string tildeName = "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=%2Fdocs%2Fplan~1.v2.pdf";
  requests.push_back("@criteria 1\nGET " + tildeName + "&fidh=" + Hash("/docs/plan~1.v2.pdf"));
  blocked += std::string(HxAnswerKindName(HxAnswerKind::ServerResponse)) + " " + tildeName + "\n";
  // A file share's names hold "#", ";" and "~" as any other character, and
  // a SharePoint link's query is no part of its file name; a URL is also
  // read cut at its "?" and by its query's parameters, each decoded once,
  // and a short name by the named extensions that begin with its own. A
  // reading counts where it ends in an extension the directory names: here
  // unknown types are blocked, and "0", "def" or "12; final" are none.
  std::string ordinary;
  for (const char* name : {"\\\\fs01\\team\\Rev 1.2 #final.pdf", "\\\\fs01\\Team.Share\\#42 minutes.pdf",
                           "\\\\fs01\\team\\Contract v2.1;signed.pdf", "\\\\fs01\\team\\Scan~20240115.pdf",
                           "http://sp/docs/Budget.pdf?web=1", "http://sp/docs/report.pdf:x.exe?.pdf",
                           "http://sp/docs/Report.pdf?version=2.0", "http://sp/docs/Budget.pdf?web=1&e=abc.def",
                           "http://sp/docs/Minutes 03.12; final.pdf", "\\\\fs01\\team\\Draft~2.pdf",
                           "file://fs01/team/AB~12.pdf", "http://sp/docs/a.pdf?x%2Eexe", "http://sp/docs/a.pdf#x%2Eexe",
                           "http://sp/docs/a.pdf?f=evil%2Eexe&web=1", "http://sp/docs/a.pdf?x=evil.exe&y=1",
                           "http://sp/docs/evil.exe;.pdf", "\\\\fs01\\team\\EVIL~1.EXE",
                           " http://sp/docs/evil.exe#.pdf", "http://sp/docs/r.pdf?u=http://sp/evil.exe?x=1"}) {
    const std::string ns = name[0] == 'h' ? "SharepointDocument" : "UncDocument";
    const std::string target = "/owa/ev.owa?ns=" + ns + "&ev=GetDoc&URL=" + Escaped(name) + "&fidh=" + Hash(name);
    requests.push_back("@criteria 1\nGET " + target);
    const bool refused = std::string(name).find("exe") != std::string::npos ||
                         std::string(name).find("EXE") != std::string::npos;
    ordinary += std::string(HxAnswerKindName(refused ? HxAnswerKind::ModuleResponse : HxAnswerKind::ServerResponse)) +
                " " + (refused ? target : target.substr(0, target.find("&fidh="))) + "\n";
  }
  // A name spelt with "%uXXXX", as a script's escape() writes it, is read
  // both ways; its hash is of the name the server reads.
  for (const char* spelt : {"R%u00E9sum%u00E9.pdf", "evil%u002Eexe"}) {
    const std::string name = std::string("\\\\fs01\\team\\") + (spelt[0] == 'R' ? "R\u00E9sum\u00E9.pdf" : "evil.exe");
    const std::string target =
        "/owa/ev.owa?ns=UncDocument&ev=GetDoc&URL=%5c%5cfs01%5cteam%5c" + std::string(spelt) + "&fidh=" + Hash(name);
    requests.push_back("@criteria 1\nGET " + target);
    const bool refused = spelt[0] == 'e';
    ordinary += std::string(HxAnswerKindName(refused ? HxAnswerKind::ModuleResponse : HxAnswerKind::ServerResponse)) +
                " " + (refused ? target : target.substr(0, target.find("&fidh="))) + "\n";
  }
  const bool ran = RunStagedModuleInChild(directory, dir.Path(), root, [&](HxHost& host) {
    std::string error;
    std::ofstream out(dir.Path() + "outcomes.txt", std::ios::binary);
    for (const std::string& r : requests) {
      HxRequest request;
      if (!ParseRequestDescription("@client-address 192.0.2.21\n@user-account bob\n@user-domain HEXMOOR\n" + r +
                                       " HTTP/1.1\nHost: mail.example.com\nUser-Agent: Mozilla/4.0 (compatible; "
                                       "MSIE 7.0; Windows NT 6.1)\n",
                                   "", request, error)) {
        _exit(91);
      }
      const HxOutcome outcome = host.Run(request);
      out << HxAnswerKindName(outcome.answerKind) << " " << outcome.finalUrl << "\n";
    }
    out.close();  // _exit runs no destructors
  });
  ASSERT_TRUE(ran);
  const std::string allowed = std::string(HxAnswerKindName(HxAnswerKind::ServerResponse)) + " " + doc + "\n";
  const std::string refused = std::string(HxAnswerKindName(HxAnswerKind::ModuleResponse)) + " " + doc + "&fidh=" +
                              Hash("/docs/other.pdf") + "\n";
  const std::string invoiceAllowed = std::string(HxAnswerKindName(HxAnswerKind::ServerResponse)) + " " + invoice + "\n";
  EXPECT_EQ(allowed + refused + allowed + invoiceAllowed + blocked + ordinary, ReadFile(dir.Path() + "outcomes.txt"));
}

}  // namespace
