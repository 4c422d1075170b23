// A worker process may end while requests are still running in the module:
// the host never unloads it and the process exits under the request
// threads. Nothing a request thread can reach may be destroyed by then.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "host/hx_host.h"
#include "host/hx_module.h"
#include "host/hx_request.h"

namespace {

constexpr int kRequestThreads = 4;
constexpr int kExits = 5;
constexpr auto kChildDeadline = std::chrono::seconds(30);

const char* const kSampleRequests[] = {"premium_read_item.txt", "premium_document_view.txt", "read_message.txt",
                                       "document_force_save.txt"};

std::vector<HxRequest> SampleRequests() {
  std::vector<HxRequest> requests;
  const std::string folder = std::string(HX_SOURCE_DIR) + "/samples/requests/";
  for (const char* name : kSampleRequests) {
    std::string text;
    HxRequest request;
    std::string error;
    if (!ReadWholeFile(folder + name, text) || !ParseRequestDescription(text, folder, request, error)) _exit(80);
    std::string page;
    if (request.responsePagePath) {
      if (!ReadWholeFile(*request.responsePagePath, page)) _exit(81);
      request.responsePage = page;
    }
    requests.push_back(request);
  }
  return requests;
}

// The child: the module started, four threads running requests without end,
// then the process exits under them (the host is never stopped).
[[noreturn]] void RunAndExitUnderRequests() {
  static HxHost* host = new HxHost();
  std::string error;
  if (!host->Start(HxModulePathInInstall(std::string(HX_BINARY_DIR) + "/stage"), error)) _exit(82);
  // Never destroyed: the threads run on through the exit.
  static const std::vector<HxRequest>& requests = *new std::vector<HxRequest>(SampleRequests());
  for (int t = 0; t < kRequestThreads; ++t) {
    std::thread([t] {
      for (size_t i = static_cast<size_t>(t);; ++i) host->Run(requests[i % requests.size()]);
    }).detach();
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  std::exit(0);
}

// The child's exit status; a child still running at the deadline is killed
// and counts as hung.
int WaitBounded(pid_t child) {
  const auto deadline = std::chrono::steady_clock::now() + kChildDeadline;
  int status = 0;
  while (waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      return -1;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return status;
}

TEST(RequestsAtExit, ProcessEndsCleanlyUnderRunningRequests) {
  for (int run = 0; run < kExits; ++run) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) RunAndExitUnderRequests();
    const int status = WaitBounded(child);
    ASSERT_NE(-1, status) << "exit " << run << " hung";
    // A use of freed memory shows as a signal, or as the sanitizer's failure
    // exit with its report on stderr.
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
        << "exit " << run << ": " << (WIFSIGNALED(status) ? "signal " : "exit code ")
        << (WIFSIGNALED(status) ? WTERMSIG(status) : WEXITSTATUS(status));
  }
}

}  // namespace
