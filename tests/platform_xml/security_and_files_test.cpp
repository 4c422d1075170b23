#include <gtest/gtest.h>

#include "platform/file_times.h"
#include "platform/last_error.h"
#include "platform/local_memory.h"
#include "platform/request_identity.h"
#include "platform/security_sid.h"
#include "support/temp_dir.h"

namespace {

struct SidHolder {
  PSID sid = nullptr;
  ~SidHolder() { LocalFree(sid); }
};

TEST(StringSid, ValidFormsConvertToTheBinaryLayout) {
  SidHolder h;
  ASSERT_TRUE(ConvertStringSidToSidA("S-1-5-21-1004336348-1177238915-682003330-512", &h.sid));
  const auto* sid = static_cast<const SID*>(h.sid);
  EXPECT_EQ(1, sid->Revision);
  EXPECT_EQ(5, sid->SubAuthorityCount);
  EXPECT_EQ(5, sid->IdentifierAuthority.Value[5]);
  EXPECT_EQ(8u + 5u * 4u, GetLengthSid(h.sid));

  SidHolder lower;
  EXPECT_TRUE(ConvertStringSidToSidA("s-1-5-32-544", &lower.sid));
  SidHolder hex;
  EXPECT_TRUE(ConvertStringSidToSidA("S-1-0x000000000005-32-544", &hex.sid));
  EXPECT_TRUE(EqualSid(lower.sid, hex.sid));
  SidHolder maxSub;
  EXPECT_TRUE(ConvertStringSidToSidA("S-1-5-4294967295", &maxSub.sid));
}

TEST(StringSid, MalformedTextsAreRefusedWithInvalidSid) {
  const char* bad[] = {"",           "S-",          "S-1",         "S-2-5-32",      "X-1-5-32",
                       "S-1-5-",     "S-1--5",      "S-1-5-32-x",  "S-1-5-4294967296", "S-1-5- 32",
                       "S-1-5-+32",  "S-1-0x5-32",  " S-1-5-32",
                       "S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15-16"};
  for (const char* text : bad) {
    PSID sid = reinterpret_cast<PSID>(1);
    SetLastError(0);
    EXPECT_FALSE(ConvertStringSidToSidA(text, &sid)) << text;
    EXPECT_EQ(nullptr, sid) << text;
    EXPECT_EQ(ERROR_INVALID_SID, GetLastError()) << text;
  }
  PSID sid = nullptr;
  EXPECT_FALSE(ConvertStringSidToSidA(nullptr, &sid));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, GetLastError());
  // Fifteen sub-authorities are the most a SID holds.
  SidHolder fifteen;
  EXPECT_TRUE(ConvertStringSidToSidA("S-1-5-1-2-3-4-5-6-7-8-9-10-11-12-13-14-15", &fifteen.sid));
}

TEST(RequestIdentity, MembershipFollowsTheThreadsIdentityAndScope) {
  SidHolder admins;
  SidHolder user;
  ConvertStringSidToSidA("S-1-5-32-544", &admins.sid);
  ConvertStringSidToSidA("S-1-5-21-1-2-3-1105", &user.sid);

  BOOL member = TRUE;
  ClearRequestIdentity();
  ASSERT_TRUE(CheckTokenMembership(nullptr, admins.sid, &member));
  EXPECT_FALSE(member);  // the process itself is in no configured group

  CRequestIdentity alice{"alice", "CORP", "S-1-5-21-1-2-3-1105", {"S-1-5-32-545", "S-1-5-32-544"}};
  {
    CRequestIdentityScope scope(alice);
    ASSERT_NE(nullptr, GetRequestIdentity());
    EXPECT_EQ("alice", GetRequestIdentity()->account);
    ASSERT_TRUE(CheckTokenMembership(nullptr, admins.sid, &member));
    EXPECT_TRUE(member);
    ASSERT_TRUE(CheckTokenMembership(nullptr, user.sid, &member));
    EXPECT_TRUE(member);
    {
      CRequestIdentityScope inner(CRequestIdentity{"bob", "CORP", "S-1-5-21-1-2-3-1200", {"not-a-sid"}});
      ASSERT_TRUE(CheckTokenMembership(nullptr, admins.sid, &member));
      EXPECT_FALSE(member);
    }
    EXPECT_EQ("alice", GetRequestIdentity()->account);
  }
  EXPECT_EQ(nullptr, GetRequestIdentity());

  EXPECT_FALSE(SetRequestIdentity(CRequestIdentity{"x", "y", "S-1-5-21-1-2-3-1", {"bad"}}));
  EXPECT_FALSE(CheckTokenMembership(reinterpret_cast<HANDLE>(8), admins.sid, &member));
  EXPECT_EQ(ERROR_INVALID_HANDLE, GetLastError());
  ClearRequestIdentity();
}

TEST(FileTimes, MissingFileGivesFileNotFoundAndTimesFollowTheFile) {
  CTempDir dir;
  FILETIME ft{};
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetFileLastWriteTime(dir.Path() + "none", &ft));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetLastError());
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetFileLastWriteTime(dir.Path() + "none/deeper", &ft));
  EXPECT_FALSE(FindFileExists(dir.Path() + "none"));

  const std::string path = dir.Write("f.txt", "x");
  EXPECT_TRUE(FindFileExists(path));
  SetFileTimeSeconds(path, 1000000000);  // 2001-09-09 01:46:40 UTC
  ASSERT_EQ(ERROR_SUCCESS, GetFileLastWriteTime(path, &ft));
  SYSTEMTIME st{};
  ASSERT_TRUE(FileTimeToSystemTime(&ft, &st));
  EXPECT_EQ(2001, st.wYear);
  EXPECT_EQ(9, st.wMonth);
  EXPECT_EQ(9, st.wDay);
  EXPECT_EQ(1, st.wHour);
  EXPECT_EQ(46, st.wMinute);

  FILETIME later{};
  SetFileTimeSeconds(path, 1000000001);
  GetFileLastWriteTime(path, &later);
  EXPECT_EQ(1, CompareFileTime(&later, &ft));
  EXPECT_EQ(-1, CompareFileTime(&ft, &later));
  EXPECT_EQ(0, CompareFileTime(&ft, &ft));
}

}  // namespace
