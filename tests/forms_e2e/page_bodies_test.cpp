// Answers whose body is not the page as the browser shows it, through the
// host with the staged module and into headless Chromium with their own
// header lines, beside the same answer without the module.
#include <gtest/gtest.h>
#include <zlib.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "forms_e2e/applied_page.h"
#include "forms_e2e/browser_check.h"
#include "host/hx_request.h"
#include "test_bound.h"

namespace {

const std::string kMenu = "//div[@id='idqlplRMENU']";
const std::string kPageText = "//span[@id='spnAtmt']";

// The page in stored (uncompressed) deflate blocks with zlib's wrapper, as
// "deflate" sends it: its markup stays readable to a byte scan.
std::string Stored(const std::string& page) {
  z_stream z{};
  std::string out(page.size() + 1024, '\0');
  if (deflateInit(&z, Z_NO_COMPRESSION) != Z_OK) return {};
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(page.data()));
  z.avail_in = static_cast<uInt>(page.size());
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = static_cast<uInt>(out.size());
  const int status = deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return status == Z_STREAM_END ? out : std::string();
}

// The page as one chunk and the last, empty one.
std::string Chunked(const std::string& page) {
  char size[16];
  std::snprintf(size, sizeof size, "%zx\r\n", page.size());
  return size + page + "\r\n0\r\n\r\n";
}

using Headers = std::vector<std::pair<std::string, std::string>>;

// The server's answer without the module: its headers and one length.
std::string WithoutModule(const Headers& headers, const std::string& body, bool framed) {
  std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n";
  for (const auto& [name, value] : headers) answer += name + ": " + value + "\r\n";
  if (!framed) answer += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return answer + "\r\n" + body;
}

// Compressed, chunked and saved answers go out as the server sent them and
// show in the browser as without the module; a plain page, also one whose
// server states its own length, shows the module's menu.
TEST(PageBodies, OnlyThePageItselfIsEditedAndEveryAnswerLoads) {
  // Each answer the browser cannot show fails only at its load's limit.
  testbound::SetCurrentTestBound(std::chrono::seconds(120));
  HxRequest base;
  std::string error;
  ASSERT_TRUE(LoadRequestDescription(std::string(HX_SOURCE_DIR) + "/samples/requests/basic_read_item.txt", base,
                                     error))
      << error;
  std::string page;
  ASSERT_TRUE(ReadWholeFile(*base.responsePagePath, page));
  struct Row {
    const char* name;
    std::string body;
    Headers headers;
    bool edited;
  } rows[] = {
      {"plain page", page, {}, true},
      {"the server's own length", page, {{"Content-Length", std::to_string(page.size())}}, true},
      {"deflate", Stored(page), {{"Content-Encoding", "deflate"}}, false},
      {"chunked", Chunked(page), {{"Transfer-Encoding", "chunked"}}, false},
      {"attachment", page, {{"Content-Disposition", "attachment; filename=\"item.html\""}}, false},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    ASSERT_FALSE(row.body.empty());
    HxRequest request = base;
    request.responsePagePath.reset();
    request.responsePage = row.body;
    request.responseHeaders = row.headers;
    const HxOutcome out = SampleHost().Run(request);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(row.edited, out.answerKind == HxAnswerKind::RewrittenPage);
    if (!row.edited) {
      EXPECT_TRUE(out.serverResponse == out.answer) << "the answer is not the server's";
    }
    // A saved file's bytes are the answer's body, compared above; Chromium
    // without a window shows nothing for it, and may not end.
    if (row.headers.size() == 1 && row.headers[0].first == "Content-Disposition") continue;

    const BrowserPage shown = LoadAnswerInBrowser(out.answer);
    if (!shown.loaded) {
      ADD_FAILURE() << shown.error;
      continue;
    }
    EXPECT_EQ(row.edited, DomMatches(shown.dom, kMenu));
    if (row.edited) {
      EXPECT_TRUE(DomMatches(shown.dom, kPageText));
      continue;
    }
    const bool framed = row.headers[0].first == "Transfer-Encoding";
    const BrowserPage unchanged = LoadAnswerInBrowser(WithoutModule(row.headers, row.body, framed));
    ASSERT_TRUE(unchanged.loaded) << unchanged.error;
    EXPECT_TRUE(DomMatches(unchanged.dom, kPageText));
    EXPECT_TRUE(unchanged.dom == shown.dom) << "the browser shows another page than without the module";
  }
}

}  // namespace
