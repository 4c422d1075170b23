#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <thread>

#include "e2e_support.h"
#include "host/hx_host.h"

namespace {

TEST(ModuleEntryPoints, VersionRecordAndUnhandledNotification) {
  HxModule module;
  std::string error;
  ASSERT_TRUE(module.Load(StagedModule(), error)) << error;
  HTTP_FILTER_VERSION v;
  std::memset(&v, 0, sizeof v);
  v.dwServerFilterVersion = 0x60000;
  ASSERT_EQ(module.GetFilterVersion(&v), TRUE);
  EXPECT_EQ(v.dwFilterVersion, 0x60000u);
  EXPECT_EQ(v.dwFlags, 0x040264C0u);
  EXPECT_STREQ(v.lpszFilterDesc, "Quenlith Pellora");

  // The registered authentication notification is not handled.
  CDLLContext record;
  record.m_dwNotificationType = SF_NOTIFY_AUTHENTICATION;
  record.m_dwControlMessage = ControlMessageHandledRedirected;
  unsigned char before[sizeof record];
  std::memcpy(before, &record, sizeof record);
  EXPECT_EQ(module.HttpFilterProc(&record), 0u);
  EXPECT_EQ(std::memcmp(before, &record, sizeof record), 0);
  EXPECT_EQ(module.HttpFilterProc(nullptr), 0u);
  // Shutdown answers whether the event source it registered was closed.
  EXPECT_EQ(module.TerminateFilter(), 1u);
}

// A host kept in a global shuts the module down only after the process
// began its exit, when the module's settings object is already destroyed:
// the entry points answer without touching it.
TEST(ModuleEntryPoints, ShutDownAfterExitBeganFailsCleanly) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    static HxHost host;  // destroyed after the module's own statics
    std::string error;
    if (!host.Start(StagedModule(), error)) _exit(2);
    std::exit(0);
  }
  int status = 0;
  ASSERT_EQ(child, waitpid(child, &status, 0));
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST(ModuleEntryPoints, OnlyTheThreeEntryPointsAreExported) {
  const std::string command = "nm -D --defined-only '" + StagedModule() + "'";
  FILE* p = popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::set<std::string> names;
  char line[1024];
  while (std::fgets(line, sizeof line, p) != nullptr) {
    char address[64], type[8], name[900];
    if (std::sscanf(line, "%63s %7s %899s", address, type, name) == 3) names.insert(name);
  }
  ASSERT_EQ(pclose(p), 0) << command;
  // What the toolchain itself may define in any shared object.
  for (const char* toolchain : {"_init", "_fini", "_edata", "_end", "__bss_start"}) names.erase(toolchain);
  EXPECT_EQ(names, (std::set<std::string>{"GetFilterVersion", "HttpFilterProc", "TerminateFilter"}));
}

class HostWithModule : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(m_host.Start(StagedModule(), error)) << error;
  }
  HxRequest Sample(const char* name) {
    HxRequest r;
    std::string error;
    EXPECT_TRUE(LoadRequestDescription(SampleRequest(name), r, error)) << error;
    return r;
  }
  HxHost m_host;
};

TEST_F(HostWithModule, Status200GetsTheProductAndNoCacheHeadersInOrder) {
  const HxOutcome out = m_host.Run(Sample("read_message.txt"));
  ASSERT_TRUE(out.ok) << out.error;
  ASSERT_FALSE(out.notifications.empty());
  EXPECT_EQ(out.notifications.front().type, SF_NOTIFY_PREPROC_HEADERS);
  EXPECT_EQ(out.notifications.back().type, SF_NOTIFY_END_OF_REQUEST);
  EXPECT_EQ(out.notifications.back().result, 0u);

  std::vector<std::string> added;
  for (const HxHeaderChange& h : out.headerChanges) {
    if (h.notification == SF_NOTIFY_SEND_RESPONSE && h.add) added.push_back(h.name + " " + h.value);
  }
  EXPECT_EQ(added, (std::vector<std::string>{"X-QLProduct: PL_HX", "Pragma: no-cache", "Cache-control: no-cache",
                                             "Cache-control: must-revalidate", "Cache-control: max-age=0",
                                             "Cache-control: s-maxage=0", "Cache-control: no-store",
                                             "Cache-control: private", "Cache-control: proxy-revalidate"}));
  const size_t head = out.answer.find("\r\n\r\n");
  ASSERT_NE(head, std::string::npos);
  EXPECT_NE(out.answer.substr(0, head).find("X-QLProduct: PL_HX\r\nPragma: no-cache\r\nCache-control: no-cache"),
            std::string::npos);
}

TEST_F(HostWithModule, OtherStatusIsIgnoredWithoutHeaders) {
  HxRequest r = Sample("read_message.txt");
  r.responseStatus = 302;
  const HxOutcome out = m_host.Run(r);
  ASSERT_TRUE(out.ok);
  bool sawSendResponse = false;
  for (const HxNotificationRecord& n : out.notifications) {
    EXPECT_NE(n.type, SF_NOTIFY_SEND_RAW_DATA);
    if (n.type == SF_NOTIFY_SEND_RESPONSE) {
      sawSendResponse = true;
      EXPECT_EQ(n.controlMessage, ControlMessageIgnore);
    }
  }
  EXPECT_TRUE(sawSendResponse);
  EXPECT_EQ(out.notifications.back().type, SF_NOTIFY_END_OF_REQUEST);
  EXPECT_TRUE(out.headerChanges.empty());
}

TEST(HostConcurrent, RequestsOnSeveralThreadsThroughTheModule) {
  HxHost host;
  std::string error;
  ASSERT_TRUE(host.Start(StagedModule(), error)) << error;
  HxRequest request;
  ASSERT_TRUE(LoadRequestDescription(SampleRequest("read_message.txt"), request, error)) << error;
  std::vector<std::thread> threads;
  std::vector<int> good(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const HxOutcome out = host.Run(request);
        if (out.ok && out.headerChanges.size() == 9) ++good[t];
      }
    });
  }
  for (std::thread& th : threads) th.join();
  for (int t = 0; t < 4; ++t) EXPECT_EQ(good[t], 50) << t;
}

}  // namespace
