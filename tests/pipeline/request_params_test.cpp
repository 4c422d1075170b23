#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "filter/notifications_helper.h"
#include "filter/request_info.h"

namespace {

TEST(GetURLParamValue, FirstParameterAfterTheQuestionMarkAndLaterOnes) {
  std::string v = "stale";
  const std::string url = "/X-Pellora/bin/pellora.srf?cmd=show&path=%2Fa%20b&fn=x.doc";
  EXPECT_TRUE(CNotificationsHelper::GetURLParamValue(url, "cmd", v));
  EXPECT_EQ("show", v);
  EXPECT_TRUE(CNotificationsHelper::GetURLParamValue(url, "path", v));
  EXPECT_EQ("/a b", v);
  EXPECT_TRUE(CNotificationsHelper::GetURLParamValue(url, "fn", v));
  EXPECT_EQ("x.doc", v);
  // Names match whole and with their case.
  EXPECT_FALSE(CNotificationsHelper::GetURLParamValue(url, "cm", v));
  EXPECT_EQ("", v);
  EXPECT_FALSE(CNotificationsHelper::GetURLParamValue(url, "CMD", v));
  EXPECT_FALSE(CNotificationsHelper::GetURLParamValue(url, "n", v));
  EXPECT_FALSE(CNotificationsHelper::GetURLParamValue("/no/query", "cmd", v));
  // An empty value is found.
  EXPECT_TRUE(CNotificationsHelper::GetURLParamValue("/p?a=&b=2", "a", v));
  EXPECT_EQ("", v);
}

TEST(GetURLParamValue, GivenStartPosition) {
  const std::string url = "/p?x=1&id=first?id=second&y=2";
  std::string v;
  const size_t second = url.find('?', 3);
  EXPECT_TRUE(CNotificationsHelper::GetURLParamValue(url, "id", v, second));
  EXPECT_EQ("second", v);
  EXPECT_TRUE(CNotificationsHelper::GetURLParamValue(url, "id", v));
  EXPECT_EQ("first?id=second", v);
  // A start past the end finds nothing and reads nothing out of bounds.
  EXPECT_FALSE(CNotificationsHelper::GetURLParamValue(url, "y", v, url.size() + 10));
}

CRequestInfo WithParams(std::initializer_list<std::pair<const char*, const char*>> params) {
  CRequestInfo info;
  for (const auto& [name, value] : params) info.m_mapParams.emplace(name, value);
  return info;
}

TEST(AttachmentIDs, CountsAndMissingIdentifiers) {
  std::vector<std::string> ids{"old"};
  EXPECT_EQ(7u, CNotificationsHelper::GetRequestParamAttIDs(nullptr, ids));
  EXPECT_TRUE(ids.empty());

  CRequestInfo none = WithParams({{"id", "1"}});
  EXPECT_EQ(0u, CNotificationsHelper::GetRequestParamAttIDs(&none, ids));
  EXPECT_TRUE(ids.empty());

  CRequestInfo bad = WithParams({{"attcnt", "2x"}});
  EXPECT_EQ(13u, CNotificationsHelper::GetRequestParamAttIDs(&bad, ids));

  for (const char* count : {"0", "-3"}) {
    CRequestInfo zero = WithParams({{"attcnt", count}, {"attid0", "A"}});
    EXPECT_EQ(0u, CNotificationsHelper::GetRequestParamAttIDs(&zero, ids)) << count;
    EXPECT_TRUE(ids.empty()) << count;
  }

  CRequestInfo gap = WithParams({{"ATTCNT", "2"}, {"attid0", "A"}});
  EXPECT_EQ(13u, CNotificationsHelper::GetRequestParamAttIDs(&gap, ids));
  EXPECT_EQ(std::vector<std::string>{"A"}, ids);

  CRequestInfo three = WithParams({{"attcnt", "3"}, {"attid0", "A"}, {"AttID1", "B"}, {"attid2", "C"}});
  EXPECT_EQ(0u, CNotificationsHelper::GetRequestParamAttIDs(&three, ids));
  EXPECT_EQ((std::vector<std::string>{"A", "B", "C"}), ids);
}

TEST(AttachmentIDs, JoinDropsTheLastCharacter) {
  std::string joined = "old", allButLast = "old", last = "old";
  CRequestInfo two = WithParams({{"attcnt", "2"}, {"attid0", "12"}, {"attid1", "34"}});
  EXPECT_EQ(0u, CNotificationsHelper::ConcatRequestParamAttIDs(&two, joined));
  EXPECT_EQ("123", joined);
  EXPECT_EQ(0u, CNotificationsHelper::ConcatRequestParamAttIDs(&two, allButLast, last));
  EXPECT_EQ("1", allButLast);
  EXPECT_EQ("34", last);

  CRequestInfo one = WithParams({{"attcnt", "1"}, {"attid0", "AB"}});
  EXPECT_EQ(0u, CNotificationsHelper::ConcatRequestParamAttIDs(&one, joined));
  EXPECT_EQ("A", joined);
  EXPECT_EQ(0u, CNotificationsHelper::ConcatRequestParamAttIDs(&one, allButLast, last));
  EXPECT_EQ("", allButLast);
  EXPECT_EQ("AB", last);

  CRequestInfo none;
  EXPECT_EQ(0u, CNotificationsHelper::ConcatRequestParamAttIDs(&none, joined));
  EXPECT_EQ("", joined);

  // A failed read leaves both outputs cleared and passes the code on.
  CRequestInfo gap = WithParams({{"attcnt", "2"}, {"attid0", "12"}});
  EXPECT_EQ(13u, CNotificationsHelper::ConcatRequestParamAttIDs(&gap, allButLast, last));
  EXPECT_EQ("", allButLast);
  EXPECT_EQ("", last);
  EXPECT_EQ(7u, CNotificationsHelper::ConcatRequestParamAttIDs(nullptr, joined));
}

}  // namespace
