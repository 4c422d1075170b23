#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The file-ID hash as the product's links carry it: h = h * 33 + each
// (signed) byte, 32-bit, in decimal.
std::string FileIdHash(const std::string& text) {
  uint32_t h = 0;
  for (char c : text) h = h * 33 + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(c)));
  return std::to_string(h);
}

const char kIdentity[] = "@criteria 1\n@user-account bob\n@user-domain HEXMOOR\n";
const char kHeaders[] = "Host: mail.example.com\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64; rv:115.0) Gecko/20100101 "
                        "Firefox/115.0\nAccept: */*\n";

const std::string kDocument = "%5c%5cfs01%5cteam%5cPlan%20Q3.docx";

// What the host answered for one error page, and what became of the
// redirect's Location followed from elsewhere.
struct ForceSaveAnswer {
  std::string redirect;  // "not replaced" first when the page went out instead
  std::string followed;  // the follow-up's answer kind and the URL the server got
};

// A file share document that the directory's OWA configuration only offers
// for saving, asked for by a client of the office network (criteria 1 lets
// such addresses download directly); OWA answers with the error page. The
// redirect the module sends in its place is then followed from an address
// outside the office network, where only a valid "fidh" lets it through.
// pages are error page paths relative to samples/requests/ or absolute; the
// debug log goes to log.
std::vector<ForceSaveAnswer> RunForceSave(const std::vector<std::string>& pages, std::string& log) {
  std::vector<ForceSaveAnswer> answers(pages.size());
  std::string hostName;
  std::string full;
  ReadComputerNames(hostName, full);
  CTestDirectory directory;
  EXPECT_EQ("", directory.Start(hostName));
  CTempDir dir;
  const std::string root = StageInstallCopy(dir.Path(), true);

  const bool ran = RunStagedModuleInChild(directory, dir.Path(), root, [&](HxHost& host) {
    std::string error;
    for (size_t i = 0; i < pages.size(); ++i) {
      const std::string first = std::string("@client-address 10.0.0.7\n") + kIdentity + "@response-page " +
                                pages[i] +
                                "\nGET /owa/ev.owa?ns=UncDocument&ev=GetDoc&allowLevel=2&id=unresolved&URL=" +
                                kDocument + " HTTP/1.1\n" + kHeaders;
      HxRequest request;
      if (!ParseRequestDescription(first, std::string(HX_SOURCE_DIR) + "/samples/requests", request, error)) _exit(91);
      const HxOutcome redirect = host.Run(request);
      const std::string n = std::to_string(i);
      std::ofstream(dir.Path() + "redirect" + n + ".txt", std::ios::binary)
          << (redirect.answerKind == HxAnswerKind::ReplaceBuffer ? "" : "not replaced\n") << redirect.answer;
      // The browser follows the Location from elsewhere.
      const size_t at = redirect.answer.find("Location:");
      if (at == std::string::npos) continue;
      const std::string target = redirect.answer.substr(at + 9, redirect.answer.find("\r\n", at) - at - 9);
      HxRequest followUp;
      if (!ParseRequestDescription("@client-address 192.0.2.21\n" + std::string(kIdentity) + "GET " + target +
                                       " HTTP/1.1\n" + kHeaders,
                                   "", followUp, error)) {
        _exit(92);
      }
      const HxOutcome followed = host.Run(followUp);
      std::ofstream(dir.Path() + "followed" + n + ".txt", std::ios::binary)
          << HxAnswerKindName(followed.answerKind) << "\n"
          << followed.finalUrl;
    }
  });
  EXPECT_TRUE(ran);
  log = ReadFile(dir.Path() + "logs/QuenlithLogs/QLCommonLog.log");
  for (size_t i = 0; i < pages.size(); ++i) {
    answers[i].redirect = ReadFile(dir.Path() + "redirect" + std::to_string(i) + ".txt");
    answers[i].followed = ReadFile(dir.Path() + "followed" + std::to_string(i) + ".txt");
  }
  return answers;
}

TEST(ForceSaveEndToEnd, ErrorPageBecomesRedirectWhoseHashTheAccessCheckAccepts) {
  std::string log;
  const ForceSaveAnswer answer = RunForceSave({"../pages/auth_error_force_save.html"}, log).front();
  const std::string document = kDocument;
  // The hash is of the URL parameter's value once decoded.
  const std::string fidh = FileIdHash("\\\\fs01\\team\\Plan Q3.docx");

  // The whole replacement, byte for byte: the page's first link below the
  // mail server's base path, with the hash of its document URL.
  const std::string target =
      "/owa/ev.owa?ns=UncDocument&ev=GetDoc&allowLevel=2&URL=" + document + "&fidh=" + fidh;
  const std::string body =
      "<head><title>Document Moved</title></head><body><h1>Object Moved</h1>This document may be found <a HREF=\""
      "/owa/ev.owa?ns=UncDocument&amp;ev=GetDoc&amp;allowLevel=2&amp;URL=" +
      document + "&amp;fidh=" + fidh + "\">here</a></body>";
  EXPECT_EQ("HTTP/1.1 302 Object Moved\r\n"
            "Location:" + target + "\r\n"
            "Content-Length:" + std::to_string(body.size()) + "\r\n"
            "Connection: close\r\n"
            "X-QLProduct: PL_HX\r\n"
            "Pragma: no-cache\r\n"
            "Cache-control: no-cache\r\n"
            "Cache-control: must-revalidate\r\n"
            "Cache-control: max-age=0\r\n"
            "Cache-control: no-store\r\n"
            "Cache-control: private\r\n"
            "Cache-control: proxy-revalidate\r\n"
            "Cache-control: s-maxage=0\r\n"
            "Content-Type: text/html; charset=utf-8\r\n"
            "\r\n" + body,
            answer.redirect)
      << log;

  // The follow-up is let on to the server without the product's hash.
  EXPECT_NE(std::string::npos,
            log.find("[CAuthCompleteHelper::CheckIfPLDirectDocumentViewFileAccessOrAllowedIP] File ID hash value is "
                     "<VALID>."))
      << log;
  EXPECT_EQ(std::string(HxAnswerKindName(HxAnswerKind::ServerResponse)) + "\n" +
                "/owa/ev.owa?ns=UncDocument&ev=GetDoc&allowLevel=2&URL=" + document,
            answer.followed)
      << log;
}

// OWA may write the link's "&" as "&amp;", as HTML allows: the redirect goes
// to the link the browser would follow, with the hash of its document URL as
// the check reads it, whether that parameter comes last or first.
TEST(ForceSaveEndToEnd, LinkWrittenWithCharacterReferencesIsFollowedDecoded) {
  CTempDir dir;
  const std::string page = ReadFile(std::string(HX_SOURCE_DIR) + "/samples/pages/auth_error_force_save.html");
  const std::string written = "ev.owa?ns=UncDocument&ev=GetDoc&allowLevel=2&URL=" + kDocument;
  ASSERT_NE(std::string::npos, page.find(written));
  const struct {
    std::string href;
    std::string query;
    std::string document = "\\\\fs01\\team\\Plan Q3.docx";
  } links[] = {
      {"ns=UncDocument&amp;ev=GetDoc&amp;allowLevel=2&amp;URL=" + kDocument,
       "ns=UncDocument&ev=GetDoc&allowLevel=2&URL=" + kDocument},
      {"URL=" + kDocument + "&amp;ns=UncDocument&#38;ev=GetDoc&#x26;allowLevel=2",
       "URL=" + kDocument + "&ns=UncDocument&ev=GetDoc&allowLevel=2"},
      // A "+" of the query is a blank to the server and to the check alike.
      {"ns=UncDocument&amp;ev=GetDoc&amp;allowLevel=2&amp;URL=%5c%5cfs01%5cteam%5cPlan+Q3.docx",
       "ns=UncDocument&ev=GetDoc&allowLevel=2&URL=%5c%5cfs01%5cteam%5cPlan+Q3.docx"},
      // So is a "%uXXXX" escape, as the server decodes it.
      {"ns=UncDocument&amp;ev=GetDoc&amp;allowLevel=2&amp;URL=%5c%5cfs01%5cteam%5cPl%u00E4n.docx",
       "ns=UncDocument&ev=GetDoc&allowLevel=2&URL=%5c%5cfs01%5cteam%5cPl%u00E4n.docx", "\\\\fs01\\team\\Pl\u00E4n.docx"},
  };
  std::vector<std::string> pages;
  for (const auto& link : links) {
    std::string text = page;
    text.replace(text.find(written), written.size(), "ev.owa?" + link.href);
    pages.push_back(dir.Write("page" + std::to_string(pages.size()) + ".html", text));
  }
  std::string log;
  const std::vector<ForceSaveAnswer> answers = RunForceSave(pages, log);
  for (size_t i = 0; i < pages.size(); ++i) {
    SCOPED_TRACE(links[i].href);
    const std::string fidh = FileIdHash(links[i].document);
    EXPECT_EQ(0u, answers[i].redirect.find("HTTP/1.1 302 Object Moved\r\nLocation:/owa/ev.owa?" + links[i].query +
                                           "&fidh=" + fidh + "\r\n"))
        << answers[i].redirect << log;
    EXPECT_EQ(std::string(HxAnswerKindName(HxAnswerKind::ServerResponse)) + "\n/owa/ev.owa?" + links[i].query,
              answers[i].followed)
        << log;
  }
}

}  // namespace
