#include <gtest/gtest.h>

#include "platform/local_memory.h"
#include "platform/request_identity.h"
#include "platform/security_sid.h"

namespace {
thread_local const HX_REQUEST_IDENTITY* t_hostRecord = nullptr;
}

// What a filter host that loads the module as a shared library exports.
extern "C" __attribute__((visibility("default"))) const HX_REQUEST_IDENTITY* HxGetRequestIdentity() {
  return t_hostRecord;
}

namespace {

TEST(HostRequestIdentity, TheHostsRecordAnswersWhenTheModuleHasNone) {
  PSID admins = nullptr;
  ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-32-544", &admins));
  const char* groups[] = {"S-1-5-32-545", "S-1-5-32-544"};
  const HX_REQUEST_IDENTITY record{"erin", "CORP", "S-1-5-21-9-9-9-1000", groups, 2};

  ClearRequestIdentity();
  BOOL member = TRUE;
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
  EXPECT_FALSE(member);
  EXPECT_EQ(nullptr, GetRequestIdentity());

  t_hostRecord = &record;
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
  EXPECT_TRUE(member);
  ASSERT_NE(nullptr, GetRequestIdentity());
  EXPECT_EQ("erin", GetRequestIdentity()->account);
  EXPECT_EQ(2u, GetRequestIdentity()->groupSids.size());
  {
    // A record set inside the module comes first.
    CRequestIdentityScope own(CRequestIdentity{"frank", "CORP", "S-1-5-21-9-9-9-1001", {}});
    ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
    EXPECT_FALSE(member);
  }
  // The host reuses its record for the next request: the new texts count.
  groups[1] = "S-1-5-32-546";
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
  EXPECT_FALSE(member);
  groups[1] = "S-1-5-32-544";
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
  EXPECT_TRUE(member);
  t_hostRecord = nullptr;
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins, &member));
  EXPECT_FALSE(member);
  LocalFree(admins);
}

}  // namespace
