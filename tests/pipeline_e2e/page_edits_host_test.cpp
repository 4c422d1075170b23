// A page rewritten by a stand-in form: the module's handlers as they are
// linked into this program, the form supplied by the test, the edits applied
// by the filter host.
#include <gtest/gtest.h>

#include <cctype>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "filter/control_message.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/send_raw_data.h"
#include "filter/util.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_exception.h"
#include "forms/pl_form.h"
#include "host/hx_host.h"
#include "host/hx_request.h"
#include "platform/http_filter.h"

namespace {

// Inserts a script link before </body> and deletes a word of the body's text.
class ScriptLinkForm : public CPLForm {
 public:
  explicit ScriptLinkForm(CCountedPtr<CHXFormContext> spContext)
      : CPLForm(spContext.get()), m_spContext(std::move(spContext)) {}
  DWORD Process() override {
    const CCommonPointers& words = *m_spContext->GetDLLContext()->m_spOutboundContext->m_pCommonPointers;
    CBufferInstructionList* list = m_spContext->GetBufferInstructions();
    const uint64_t bodyEnd = words[CCommonPointers::BodyEndTag];
    if (bodyEnd == 0) throw CHXFormException("page has no body end");
    CUtil::InsertHtmlStringAtPosition(bodyEnd, "<script src=\"/X-Pellora/hx.js\"></script>", list);
    const char* first = words.Address(CCommonPointers::FirstByte);
    const char* last = words.Address(CCommonPointers::LastByte);
    const std::string_view page(first, static_cast<size_t>(last - first) + 1);
    const size_t title = page.find("Plain page");
    if (title != std::string_view::npos) {
      CUtil::DeleteHtmlStringAtPosition(words[CCommonPointers::FirstByte] + title, 6, list);
    }
    return 0;
  }

 private:
  CCountedPtr<CHXFormContext> m_spContext;
};

CPLForm* CreateScriptLinkForm(const CCountedPtr<CHXFormContext>& spContext) { return new ScriptLinkForm(spContext); }

BOOL TestGetFilterVersion(HTTP_FILTER_VERSION* pVer) {
  pVer->dwFilterVersion = 0x60000;
  std::strcpy(pVer->lpszFilterDesc, "pipeline test");
  pVer->dwFlags = 0x040264C0;
  return TRUE;
}

// The module's own handlers, with the test's form factory for page edits.
DWORD TestHttpFilterProc(CDLLContext* pContext) {
  CNotifications handlers;
  switch (pContext->m_dwNotificationType) {
    case SF_NOTIFY_PREPROC_HEADERS: return handlers.NotifyPreProcHeaders(pContext);
    case SF_NOTIFY_AUTH_COMPLETE: return handlers.NotifyAuthComplete(pContext);
    case SF_NOTIFY_SEND_RESPONSE: return handlers.NotifySendResponse(pContext);
    case SF_NOTIFY_SEND_RAW_DATA: return SendRawDataWithForms(pContext, &CreateScriptLinkForm);
    case SF_NOTIFY_END_OF_REQUEST: return handlers.NotifyEndOfRequest(pContext);
    default: return 0;
  }
}

DWORD TestTerminateFilter() { return 0; }

TEST(PipelinePageEdits, HostAppliesTheSubmittedEdits) {
  HxHost host;
  std::string error;
  ASSERT_TRUE(host.Start(&TestGetFilterVersion, &TestHttpFilterProc, &TestTerminateFilter, error)) << error;

  HxRequest request;
  ASSERT_TRUE(ParseRequestDescription(
      "@user-account aclerk\n"
      "GET /owa/?ae=Item&t=IPM.Note&id=RgAAAA HTTP/1.1\n"
      "Host: mail.example.com\n"
      "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)\n",
      "", request, error))
      << error;
  const std::string page = "<html><head><title>t</title></head><body><p>Plain page</p></body></html>";
  const std::string pagePath = std::string(HX_BINARY_DIR) + "/pipeline_plain_page.html";
  {
    FILE* f = std::fopen(pagePath.c_str(), "wb");
    ASSERT_NE(nullptr, f);
    std::fwrite(page.data(), 1, page.size(), f);
    std::fclose(f);
  }
  request.responsePagePath = pagePath;

  const HxOutcome out = host.Run(request);
  ASSERT_TRUE(out.ok) << out.error;
  EXPECT_TRUE(out.instructionsSubmitted);
  EXPECT_EQ(2u, out.instructionCount);
  EXPECT_EQ(0u, out.submitResult);
  EXPECT_EQ(HxAnswerKind::RewrittenPage, out.answerKind);
  const std::string expected =
      "<html><head><title>t</title></head><body><p>page</p>"
      "<script src=\"/X-Pellora/hx.js\"></script></body></html>";
  EXPECT_NE(std::string::npos, out.answer.find(expected)) << out.answer;
  // The no-cache headers of send response went out with it.
  EXPECT_NE(std::string::npos, out.answer.find("X-QLProduct: PL_HX")) << out.answer;
  host.Stop();
}

// The Content-Length values of an answer's head, in order, whatever the
// spelling of the name.
std::vector<std::string> ContentLengths(const std::string& answer) {
  std::vector<std::string> values;
  std::string head = answer.substr(0, answer.find("\r\n\r\n") + 2);
  for (char& c : head) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (size_t at = head.find("\r\ncontent-length: "); at != std::string::npos;
       at = head.find("\r\ncontent-length: ", at + 1)) {
    values.push_back(head.substr(at + 18, head.find("\r\n", at + 2) - at - 18));
  }
  return values;
}

// Only a body that is the page as the browser shows it is edited; any other
// goes out as the server sent it, and every answer states one length, the
// right one (none where a Transfer-Encoding frames the body).
TEST(PipelinePageEdits, OnlyABodyThatIsThePageIsEdited) {
  HxHost host;
  std::string error;
  ASSERT_TRUE(host.Start(&TestGetFilterVersion, &TestHttpFilterProc, &TestTerminateFilter, error)) << error;
  const std::string page = "<html><head><title>t</title></head><body><p>Plain page</p></body></html>";
  using Headers = std::vector<std::pair<std::string, std::string>>;
  struct Row {
    const char* name;
    Headers headers;
    bool edited;
    const char* method = "GET";
    uint32_t status = 200;
    bool hasPage = true;
    const char* length = nullptr;  // the Content-Length, when not the body's
  } rows[] = {
      {"plain page", {}, true},
      {"identity coding", {{"Content-Encoding", "identity"}}, true},
      {"inline with a comma in its file name", {{"Content-Disposition", "inline; filename=\"a, attachment\""}}, true},
      {"the server's own, wrong length", {{"Content-Length", "6683"}}, true},
      {"the server's own, right length", {{"content-length", std::to_string(page.size())}}, true},
      {"gzip", {{"Content-Encoding", "gzip"}}, false},
      {"deflate", {{"Content-Encoding", "deflate"}}, false},
      {"identity then br", {{"Content-Encoding", "identity"}, {"Content-Encoding", "br"}}, false},
      {"chunked", {{"Transfer-Encoding", "chunked"}, {"Content-Length", "6683"}}, false},
      {"attachment", {{"Content-Disposition", "attachment; filename=\"page.html\""}}, false},
      {"unknown disposition", {{"Content-Disposition", "x-save"}}, false},
      // Past the room a header value gets at first: read in a second call.
      {"attachment with a long name",
       {{"Content-Disposition", "inline; filename=\"" + std::string(300, 'n') + ".html\", attachment"}},
       false},
      {"HEAD", {}, false, "HEAD"},
      {"204", {}, false, "GET", 204, false, "0"},
      {"304 with the server's length", {{"Content-Length", "120"}}, false, "GET", 304, false, "120"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    HxRequest request;
    ASSERT_TRUE(ParseRequestDescription(std::string("@user-account aclerk\n") + row.method +
                                            " /owa/?ae=Item&t=IPM.Note&id=RgAAAA HTTP/1.1\n"
                                            "Host: mail.example.com\n"
                                            "User-Agent: Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)\n",
                                        "", request, error))
        << error;
    request.responseStatus = row.status;
    request.responseHeaders = row.headers;
    if (row.hasPage) request.responsePage = page;
    const HxOutcome out = host.Run(request);
    ASSERT_TRUE(out.ok) << out.error;
    EXPECT_EQ(row.edited, out.answerKind == HxAnswerKind::RewrittenPage) << out.answer;
    if (!row.edited) {
      EXPECT_TRUE(out.serverResponse == out.answer) << "the answer is not the server's";
    }
    const std::string body = out.answer.substr(out.answer.find("\r\n\r\n") + 4);
    const bool framed = !row.headers.empty() && row.headers[0].first == "Transfer-Encoding";
    const std::vector<std::string> expected = {row.length != nullptr ? row.length : std::to_string(body.size())};
    EXPECT_EQ(framed ? std::vector<std::string>() : expected, ContentLengths(out.answer)) << out.answer;
  }
  host.Stop();
}

}  // namespace
