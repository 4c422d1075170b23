#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "filter/control_message.h"
#include "pipeline_host.h"
#include "platform/http_filter.h"

namespace {

// Requests of several kinds on many threads at once: every record is the
// request's own, and each thread sees the classification of its request.
TEST(PipelineConcurrent, RequestsOfSeveralKindsOnManyThreads) {
  struct Kind {
    const char* description;
    DWORD flags;
  };
  const Kind kinds[] = {
      {"GET /owa/?ae=Item&t=IPM.Note&id=R HTTP/1.1\nUser-Agent: MSIE 7.0; Windows\nCookie: cadata=\"1x\"\n", 0x40},
      {"POST /owa/ev.owa?ns=UncListView&ev=Sort HTTP/1.1\nUser-Agent: Macintosh\n\n", 0x24 | 0x400},
      {"GET /owa/attachment.ashx?attach=1 HTTP/1.1\nUser-Agent: MSIE 8.0; Windows\nCookie: a=1, b=22\n", 0x50},
      {"GET /X-Pellora/cmd/show/x HTTP/1.1\nUser-Agent: MSIE 6.0; Windows\n", 0x42},
  };
  HxHost& host = PipelineHost::Get();
  std::vector<HxRequest> requests;
  for (const Kind& k : kinds) {
    HxRequest r;
    std::string error;
    ASSERT_TRUE(ParseRequestDescription(k.description, "", r, error)) << error;
    requests.push_back(r);
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const size_t k = static_cast<size_t>(t + i) % requests.size();
        const HxOutcome out = host.Run(requests[k]);
        const HxNotificationRecord* pre = After(out, SF_NOTIFY_PREPROC_HEADERS);
        if (!out.ok || pre == nullptr || pre->requestFlags != kinds[k].flags ||
            After(out, SF_NOTIFY_END_OF_REQUEST) == nullptr) {
          ++wrong;
        }
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(0, wrong.load());
}

}  // namespace
