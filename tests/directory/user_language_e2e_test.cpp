#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "general/host_probes.h"
#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"
#include "platform/http_filter.h"
#include "support/temp_dir.h"
#include "staged_install.h"
#include "test_directory.h"
#include "support/file_text.h"

namespace fs = std::filesystem;

namespace {

std::string Request(const std::string& user, const std::string& acceptLanguage) {
  std::string d = user;
  d += "GET /owa/?ae=Item&t=IPM.Note&id=R HTTP/1.1\nHost: mail.example.com\n"
       "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)\n";
  if (!acceptLanguage.empty()) d += "Accept-Language: " + acceptLanguage + "\n";
  return d;
}

// The staged module, with its debug log on, in a child process that uses the
// test directory; each request's authentication-complete result is written
// to the log's folder as well.
class UserLanguageEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string host;
    std::string full;
    ReadComputerNames(host, full);
    ASSERT_EQ("", directory.Start(host));
    root = StageInstallCopy(dir.Path(), true);
  }

  // The log of a run of the descriptions; results holds each request's
  // authentication-complete result.
  std::string Run(const std::vector<std::string>& descriptions, std::vector<DWORD>& results) {
    const std::string resultFile = dir.Path() + "results.txt";
    const bool ran = RunStagedModuleInChild(directory, dir.Path(), root, [&](HxHost& host) {
      std::string error;
      std::ofstream out(resultFile);
      for (const std::string& description : descriptions) {
        HxRequest request;
        if (!ParseRequestDescription(description, "", request, error)) _exit(91);
        const HxOutcome outcome = host.Run(request);
        DWORD result = 999;
        for (const auto& n : outcome.notifications) {
          if (n.type == SF_NOTIFY_AUTH_COMPLETE) result = n.result;
        }
        out << result << "\n";
      }
      out.close();
    });
    EXPECT_TRUE(ran);
    std::istringstream lines(ReadFile(resultFile));
    for (DWORD r; lines >> r;) results.push_back(r);
    return ReadFile(dir.Path() + "logs/QuenlithLogs/QLCommonLog.log");
  }

  CTestDirectory directory;
  CTempDir dir;
  std::string root;
};

TEST_F(UserLanguageEndToEnd, DirectoryCultureThenBrowserThenDefault) {
  const std::string alice = "@user-account alice\n@user-domain HEXMOOR\n@user-sid S-1-5-21-1-2-3-1001\n";
  // Without a SID the thread's identity cannot be read: "AUTH_USER" names him.
  const std::string bob = "@user-account bob\n@user-domain HEXMOOR\n";
  std::vector<DWORD> results;
  const std::string log = Run({Request(alice, "de-DE,de;q=0.9"), Request(bob, "pt-BR,pt;q=0.8"), Request(bob, ""),
                               Request("", "fr")},
                              results);
  EXPECT_EQ((std::vector<DWORD>{0, 0, 0, 7}), results);
  // The directory's culture wins over the browser's list.
  EXPECT_NE(std::string::npos, log.find("User <alice> user lang <fr> user lang id <1036>.")) << log;
  // A user without a culture gets the browser's language.
  EXPECT_NE(std::string::npos, log.find("User <HEXMOOR\\bob> user lang <pt-br> user lang id <1046>.")) << log;
  // No Accept-Language header: the list is "en".
  EXPECT_NE(std::string::npos,
            log.find("Reading <HTTP_ACCEPT-LANGUAGE> header value failed. Go with default value (en)."));
  EXPECT_NE(std::string::npos, log.find("User <HEXMOOR\\bob> user lang <en> user lang id <1033>.")) << log;
  // That he has none is an answer: his second request does not search.
  EXPECT_EQ(directory.CountLogged("(sAMAccountName=bob)"), 1);
  // An anonymous request is not served.
  EXPECT_NE(std::string::npos, log.find("'AUTH_USER' server variable is empty."));
}

}  // namespace
