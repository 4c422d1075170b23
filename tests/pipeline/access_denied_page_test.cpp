#include <gtest/gtest.h>

#include <string>

#include "filter/auth_complete_helper.h"
#include "filter/control_message.h"
#include "filter/core_services.h"
#include "filter/dll_context.h"
#include "filter/pl_hx_context.h"
#include "filter/request_flags.h"
#include "filter/request_info.h"
#include "general/pl_hx_general_settings.h"

namespace {

std::string g_sent;

DWORD CaptureResponse(CDLLContext*, const char* response, DWORD* length, CCoreServices*) {
  g_sent.assign(response, *length);
  return 0;
}

// A record of authentication complete with the module's own context in the
// given language, and a host that may lack its response sender.
struct DeniedRecord {
  CDLLContext record;
  CCoreServices services;
  CPLHXContext own;

  DeniedRecord(const char* language, bool withSender) : own(language, 0x409, "") {
    if (withSender) services.SendResponse = &CaptureResponse;
    record.m_pCoreServices = &services;
    record.m_pMyOwnContext = &own;
    g_sent.clear();
  }
  ~DeniedRecord() { delete[] record.m_pReplaceBuffer; }
};

// The body after the blank line, and the Content-Length the head declares.
void ExpectLengthMatches(const std::string& response) {
  const size_t blank = response.find("\r\n\r\n");
  ASSERT_NE(std::string::npos, blank) << response;
  const std::string head = response.substr(0, blank);
  const std::string body = response.substr(blank + 4);
  EXPECT_NE(std::string::npos, head.find("Content-Length: " + std::to_string(body.size()) + "\r\n")) << response;
}

TEST(AccessDeniedPage, LocalisedUtf8MessageAndFallbacks) {
  CResource& resource = CPLHXGeneralSettings::getInstance()->GetResource();
  {
    // No resource library: the built-in English text.
    DeniedRecord r("fr", true);
    ASSERT_EQ(0u, CAuthCompleteHelper::SendAccessDeniedResponse(&r.record));
    EXPECT_NE(std::string::npos, g_sent.find("<b>You are not authorized to view this file.</b></P></BODY></HTML>"));
    EXPECT_EQ(static_cast<DWORD>(ControlMessageCompleted), r.record.m_dwControlMessage);
  }
  ASSERT_TRUE(resource.LoadModule(std::string(HX_BINARY_DIR) + "/stage/Quenlith/Pellora/Resource/PelrRes64.dll"));
  {
    DeniedRecord r("fr", true);
    ASSERT_EQ(0u, CAuthCompleteHelper::SendAccessDeniedResponse(&r.record));
    EXPECT_EQ(0u, g_sent.find("HTTP/1.0 401 OK\r\nContent-Length: "));
    EXPECT_NE(std::string::npos, g_sent.find("<b>Acc\xC3\xA8s refus\xC3\xA9. ")) << g_sent;
    ExpectLengthMatches(g_sent);
  }
  {
    DeniedRecord r("xx", true);  // no strings of its own: English
    ASSERT_EQ(0u, CAuthCompleteHelper::SendAccessDeniedResponse(&r.record));
    EXPECT_NE(std::string::npos, g_sent.find("<b>Access denied. You are not allowed")) << g_sent;
  }
  {
    // Without a response sender the page still goes, as the replace buffer.
    DeniedRecord r("de", false);
    ASSERT_EQ(0u, CAuthCompleteHelper::SendAccessDeniedResponse(&r.record));
    EXPECT_EQ(static_cast<DWORD>(ControlMessageReplace), r.record.m_dwControlMessage);
    ASSERT_NE(nullptr, r.record.m_pReplaceBuffer);
    const std::string replaced(reinterpret_cast<const char*>(r.record.m_pReplaceBuffer),
                               r.record.m_dwReplaceBufferLength);
    EXPECT_NE(std::string::npos, replaced.find("Zugriff verweigert")) << replaced;
    ExpectLengthMatches(replaced);
  }
  resource.UnloadModule();
}

TEST(ForceSaveIdParam, OnlyAnUnresolvedIdGoes) {
  for (auto [query, after] : {std::pair{"id=unresolved&x=1", "x=1"}, {"a=1&ID=Unresolved", "a=1"},
                              {"id=unresolvedX", "id=unresolvedX"}, {"aid=unresolved", "aid=unresolved"}}) {
    ci_string text = query;
    EXPECT_EQ(std::string(query) != after, CAuthCompleteHelper::RemoveDocViewForceSaveIDParamIfSetToUnresolved(text));
    EXPECT_EQ(ci_string(after), text);
  }
}

TEST(ShowRedirect, MarkerInTheQueryPartIsNoFile) {
  CDLLContext record;
  record.m_spRequestInfo = CCountedPtr<CRequestInfo>(new CRequestInfo);
  record.m_dwSubscriptionType = SubscriptionType::PelloraShow;
  ci_string url = "/X-Pellora/cmd/show?x=/cmd/show/file/a.htm";
  ci_string query;
  EXPECT_EQ(13u, CAuthCompleteHelper::RedirectPelloraFakeRequest(&record, url, query, false));
  EXPECT_EQ(static_cast<DWORD>(ControlMessageNone), record.m_dwControlMessage);
}

}  // namespace
