#include <gtest/gtest.h>

#include <cstring>

#include "fake_server.h"
#include "filter/iis_parm.h"
#include "filter/notifications.h"
#include "filter/util.h"

namespace {

// A scripted GetServerVariable: the first call fails with firstError and
// reports firstSize; the second call writes `text` (all its bytes, zeros
// included) and reports secondSize, or fails with secondError.
struct Script {
  DWORD firstError = ERROR_INSUFFICIENT_BUFFER;
  DWORD firstSize = 0;
  bool firstSucceeds = false;
  std::string text;
  DWORD secondSize = 0;
  DWORD secondError = 0;
  int calls = 0;
  DWORD secondBufferSize = 0;
  std::string secondBufferBefore;
};
Script g_script;

BOOL Scripted(HTTP_FILTER_CONTEXT*, LPSTR, LPVOID buffer, LPDWORD size) {
  ++g_script.calls;
  if (g_script.calls == 1) {
    if (g_script.firstSucceeds) return TRUE;
    *size = g_script.firstSize;
    IsapiSetCallError(g_script.firstError);
    return FALSE;
  }
  g_script.secondBufferSize = *size;
  g_script.secondBufferBefore.assign(static_cast<char*>(buffer), *size);
  if (g_script.secondError != 0) {
    IsapiSetCallError(g_script.secondError);
    return FALSE;
  }
  std::memcpy(buffer, g_script.text.data(), std::min<size_t>(g_script.text.size(), *size));
  *size = g_script.secondSize;
  return TRUE;
}

bool Read(const Script& script, std::string& value) {
  g_script = script;
  return GetIISParmT(nullptr, &Scripted, "HTTP_X_TEST", value);
}

TEST(GetIISParmT, InsufficientBufferIsReadIntoAZeroedBufferOneLarger) {
  Script s;
  s.firstSize = 17;
  s.text = std::string("sixteen-chars-ok\0tail", 21).substr(0, 17);
  s.secondSize = 17;
  std::string value = "old";
  EXPECT_TRUE(Read(s, value));
  EXPECT_EQ(g_script.secondBufferSize, 18u);
  EXPECT_EQ(g_script.secondBufferBefore, std::string(18, '\0'));
  EXPECT_EQ(value, "sixteen-chars-ok");

  // Text up to its first zero byte only.
  s.text = std::string("ab\0cd", 5);
  s.firstSize = 6;
  s.secondSize = 6;
  EXPECT_TRUE(Read(s, value));
  EXPECT_EQ(value, "ab");
}

TEST(GetIISParmT, FailedSecondReadLeavesTheValueAndFails) {
  Script s;
  s.firstSize = 10;
  s.secondError = ERROR_INVALID_PARAMETER;
  std::string value = "kept";
  EXPECT_FALSE(Read(s, value));
  EXPECT_EQ(value, "kept");
}

TEST(GetIISParmT, ServerReportingMoreThanItsBufferNeverOverruns) {
  Script s;
  s.firstSize = 4;
  s.text = "abcde";   // fills the whole 5-byte buffer, no terminator
  s.secondSize = 500;  // and claims far more
  std::string value;
  EXPECT_TRUE(Read(s, value));
  EXPECT_EQ(value, "abcd");
}

TEST(GetIISParmT, OtherOutcomes) {
  std::string value = "kept";
  Script ok;
  ok.firstSucceeds = true;
  EXPECT_TRUE(Read(ok, value));
  EXPECT_EQ(value, "kept");

  for (DWORD error : {ERROR_INVALID_PARAMETER, ERROR_NO_DATA, ERROR_INVALID_INDEX, ERROR_ACCESS_DENIED}) {
    Script s;
    s.firstError = error;
    s.firstSize = 8;
    EXPECT_FALSE(Read(s, value)) << error;
    EXPECT_EQ(g_script.calls, 1) << error;
  }
  Script noSize;
  noSize.firstSize = 0;
  EXPECT_FALSE(Read(noSize, value));
  EXPECT_EQ(value, "kept");
  EXPECT_FALSE(GetIISParmT(nullptr, nullptr, "X", value));
}

TEST(ServerVariable, ReadOnlyDuringTheFiveHandledNotifications) {
  for (DWORD type : {SF_NOTIFY_SEND_RESPONSE, SF_NOTIFY_END_OF_REQUEST, SF_NOTIFY_SEND_RAW_DATA,
                     SF_NOTIFY_PREPROC_HEADERS, SF_NOTIFY_AUTH_COMPLETE}) {
    FakeServer s(type);
    s.variables["REMOTE_ADDR"] = "192.0.2.7";
    std::string value;
    EXPECT_EQ(CUtil::GetServerVariable(&s.record, "REMOTE_ADDR", value), 0u);
    EXPECT_EQ(value, "192.0.2.7") << type;
    std::string viaBase;
    EXPECT_EQ(CBaseNotifications::GetServerVariable(&s.record, "REMOTE_ADDR", viaBase), 0u);
    EXPECT_EQ(viaBase, "192.0.2.7");
    std::string absent = "unchanged";
    EXPECT_EQ(CUtil::GetServerVariable(&s.record, "HTTP_X_QL_FBA_CVALUE", absent), 0u);
    EXPECT_EQ(absent, "unchanged");
  }
  FakeServer other(SF_NOTIFY_AUTHENTICATION);
  other.variables["REMOTE_ADDR"] = "192.0.2.7";
  std::string value;
  EXPECT_EQ(CUtil::GetServerVariable(&other.record, "REMOTE_ADDR", value), 0u);
  EXPECT_EQ(value, "");
  FakeServer noContext(SF_NOTIFY_PREPROC_HEADERS);
  noContext.record.m_pFilterContext = nullptr;
  EXPECT_EQ(CUtil::GetServerVariable(&noContext.record, "REMOTE_ADDR", value), 0u);
  EXPECT_EQ(CUtil::GetServerVariable(nullptr, "REMOTE_ADDR", value), 0u);
  EXPECT_EQ(value, "");
}

}  // namespace
