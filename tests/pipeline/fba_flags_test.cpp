#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>

#include "filter/auth_complete_helper.h"
#include "filter/dll_context.h"
#include "filter/notifications_helper.h"
#include "platform/http_filter.h"
#include "variable_server.h"

namespace {

TEST(FBAClientFlags, CadataDigitDecidesTheClass) {
  VariableServer s;
  struct {
    const char* cookie;
    DWORD flags;
  } cases[] = {
      {"a=1; cadata=\"4abc\"", 0x80},
      {"cadata=\"1xyz\"; b=2", 0x180},
      {"cadata=\"0\"", 0x180},
      {"cadata=\"2", 0x180},
      {"cadata=\"6", 0x80},
      {"cadata=\"3xyz\"", 0},
      {"cadata=4abc", 0},
      {"cadata=\"", 0},
      {"cadata=", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(c.flags, CAuthCompleteHelper::GetFBAClientFlags(&s.record, c.cookie)) << c.cookie;
  }
}

TEST(FBAClientFlags, FrontEndValueWhenTheCookieHasNone) {
  VariableServer s;
  EXPECT_EQ(0u, CAuthCompleteHelper::GetFBAClientFlags(&s.record, "sessionid=1"));
  s.variables["HTTP_X_QL_FBA_CVALUE"] = "\"5QkJ\"";
  EXPECT_EQ(0x80u, CAuthCompleteHelper::GetFBAClientFlags(&s.record, "sessionid=1"));
  // The cookie's own value wins over the front end's.
  EXPECT_EQ(0x180u, CAuthCompleteHelper::GetFBAClientFlags(&s.record, "cadata=\"1\""));
  // No record: only the cookie counts.
  EXPECT_EQ(0u, CAuthCompleteHelper::GetFBAClientFlags(nullptr, "sessionid=1"));
  std::string v = "x";
  EXPECT_EQ(FALSE, CNotificationsHelper::GetISAFBACadataCookieValue(nullptr, v));
  EXPECT_EQ("", v);
}

}  // namespace
