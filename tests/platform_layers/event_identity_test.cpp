#include <gtest/gtest.h>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <syslog.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <thread>
#include <sstream>
#include <string>
#include <vector>

#include "common/event_log.h"
#include "common/revert_to_self_guard.h"
#include "common/security_access.h"
#include "platform/event_source.h"
#include "platform/last_error.h"
#include "platform/request_identity.h"
#include "platform/shared_memory.h"
#include "platform/thread_token.h"
#include "support/temp_dir.h"

// What a filter host hears: the report file cannot say that it is refused.
// Reports come from every thread of the concurrent tests.
std::mutex g_heardLock;
std::vector<std::string> g_heard;
extern "C" __attribute__((visibility("default"))) void HxEventReported(const char*, WORD, DWORD, const char* text) {
  std::lock_guard<std::mutex> hold(g_heardLock);
  g_heard.emplace_back(text);
}

namespace {

CRequestIdentity Alice() {
  CRequestIdentity id;
  id.account = "alice";
  id.domain = "EXAMPLE";
  id.sid = "S-1-5-21-1004336348-1177238915-682003330-1105";
  return id;
}

class EventLogTest : public ::testing::Test {
 protected:
  void SetUp() override { SetEventReportFile(dir.Path() + "events.txt"); }
  void TearDown() override { SetEventReportFile(""); }
  std::vector<std::string> Lines() {
    std::ifstream f(dir.Path() + "events.txt");
    std::vector<std::string> lines;
    for (std::string line; std::getline(f, line);) lines.push_back(line);
    return lines;
  }
  CTempDir dir;
};

TEST_F(EventLogTest, ReportsUpToSixStringsOnlyWhileRegistered) {
  CEventLog log;
  EXPECT_EQ(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "x"), 87u);
  EXPECT_TRUE(log.Register(nullptr));
  EXPECT_FALSE(log.Register("again"));
  EXPECT_EQ(log.ReportEvent(1, 2, 0x6000006F, 0, nullptr, "1", "2", "3", "4", "5", "6", "7"), 0u);
  EXPECT_EQ(
      log.ReportEvent(2, 0, 0x60000074, 0, nullptr, "a\tb\nc\x1B[2J", static_cast<const char*>(nullptr), "hidden"),
      0u);
  EXPECT_EQ(log.ReportEvent(9, 0, 0x60000065, 0, nullptr), 0u);
  EXPECT_TRUE(log.Deregister());
  EXPECT_FALSE(log.Deregister());
  EXPECT_EQ(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "late"), 87u);
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Quenlith Pellora\tERROR\t0x6000006F\t2\t1\t2\t3\t4\t5\t6");
  EXPECT_EQ(lines[1], "Quenlith Pellora\tWARNING\t0x60000074\t0\ta\\tb\\nc\\x1B[2J");
  EXPECT_EQ(lines[2], "Quenlith Pellora\tINFORMATION\t0x60000065\t0\tQuenlith Pellora started and serves requests.");
}

// Events name users and paths: a file an older version made open to others
// (0644) is closed to them before the next line goes in.
TEST_F(EventLogTest, AnEventFileOpenToOthersIsClosedToThem) {
  std::ofstream(dir.Path() + "events.txt") << "old\n";
  std::filesystem::permissions(dir.Path() + "events.txt", std::filesystem::perms(0644));
  CEventLog log;
  ASSERT_TRUE(log.Register("Test Source"));
  EXPECT_EQ(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "x"), 0u);
  EXPECT_EQ(std::filesystem::perms::none,
            std::filesystem::status(dir.Path() + "events.txt").permissions() & std::filesystem::perms::others_all);
  EXPECT_EQ(2u, Lines().size());

  // The system's log rotation moves the file aside: the next report begins
  // a new one, and the one moved aside gets nothing more.
  std::filesystem::rename(dir.Path() + "events.txt", dir.Path() + "events.txt.1");
  EXPECT_EQ(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "after"), 0u);
  EXPECT_EQ(1u, Lines().size());
  EXPECT_EQ(std::filesystem::perms::none,
            std::filesystem::status(dir.Path() + "events.txt").permissions() & std::filesystem::perms::others_all);
}

// In a folder every user may write to, a link another user put under the
// name first would take the lines to a file of the link's choosing.
TEST_F(EventLogTest, ALinkAnotherUserPlantedInAnOpenFolderIsNotFollowed) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  const std::string open = dir.Path() + "open";
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms(01777));
  const std::string target = dir.Path() + "target.txt";
  std::ofstream(target) << "";
  ASSERT_EQ(0, symlink(target.c_str(), (open + "/events.txt").c_str()));
  ASSERT_EQ(0, lchown((open + "/events.txt").c_str(), 54321, 54321));
  SetEventReportFile(open + "/events.txt");
  CEventLog log;
  ASSERT_TRUE(log.Register("Test Source"));
  EXPECT_NE(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "x"), 0u);
  EXPECT_EQ(0u, std::filesystem::file_size(target));
}

// Without the sticky bit another user may put a link in a folder of ours
// open to all; the refused file is said once, not at every report.
TEST_F(EventLogTest, AnEventFileInAFolderOpenToAllIsRefusedAndThatIsSaidOnce) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root to plant a link as another user";
  const std::string open = dir.Path() + "open";
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms(0777));
  const std::string target = dir.Path() + "target.txt";
  std::ofstream(target) << "";
  ASSERT_EQ(0, symlink(target.c_str(), (open + "/events.txt").c_str()));
  ASSERT_EQ(0, lchown((open + "/events.txt").c_str(), 54321, 54321));
  SetEventReportFile(open + "/events.txt");
  CEventLog log;
  ASSERT_TRUE(log.Register("Test Source"));
  {
    std::lock_guard<std::mutex> hold(g_heardLock);
    g_heard.clear();
  }
  EXPECT_NE(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "x"), 0u);
  EXPECT_NE(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "y"), 0u);
  EXPECT_EQ(0u, std::filesystem::file_size(target));
  ASSERT_EQ(g_heard.size(), 3u);
  EXPECT_EQ(g_heard[1], "The event file " + open + "/events.txt (HX_EVENTLOG_FILE) is not written: " + open +
                            " may be written to by other users and is not sticky; the events go to syslog only.");

  // A name that is a folder is no file to write either.
  SetEventReportFile(dir.Path());
  EXPECT_NE(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "z"), 0u);
  ASSERT_EQ(g_heard.size(), 5u);
  EXPECT_EQ(g_heard[4], "The event file " + dir.Path() + " (HX_EVENTLOG_FILE) is not written: Is a directory; the "
                            "events go to syslog only.");
}

// In a container the events go to the process's own standard error
// (/dev/stderr, a link to what it was given); an event file refused is said
// there too, as there may be no syslog to hear it.
TEST_F(EventLogTest, StandardErrorIsWrittenAndHearsARefusedEventFile) {
  CEventLog log;
  ASSERT_TRUE(log.Register("Test Source"));
  testing::internal::CaptureStderr();
  SetEventReportFile("/dev/stderr");
  const DWORD toStandardError = log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "to stderr");
  SetEventReportFile(dir.Path());
  const DWORD toFolder = log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "to a folder");
  // A link another user put in a folder open to all, leading there, is no
  // name the administrator gave it (root plants it as another user).
  const std::string open = dir.Path() + "open";
  std::filesystem::create_directory(open);
  std::filesystem::permissions(open, std::filesystem::perms(01777));
  ASSERT_EQ(0, symlink("/dev/stderr", (open + "/events.txt").c_str()));
  DWORD throughTheirLink = 1;
  if (lchown((open + "/events.txt").c_str(), 54321, 54321) == 0) {
    SetEventReportFile(open + "/events.txt");
    throughTheirLink = log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "through their link");
  }
  // A line break in a refused name does not begin a forged report there.
  const std::string forged = dir.Path() + "forged\nTest Source\tERROR\t0x6000006F\t0\tforged";
  std::filesystem::create_directory(forged);
  SetEventReportFile(forged);
  log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "to a folder");
  const std::string heard = testing::internal::GetCapturedStderr();
  EXPECT_EQ(heard.find("\nTest Source\tERROR\t0x6000006F\t0\tforged"), std::string::npos) << heard;
  EXPECT_EQ(toStandardError, 0u);
  EXPECT_NE(toFolder, 0u);
  EXPECT_NE(throughTheirLink, 0u);
  EXPECT_EQ(heard.find("through their link"), std::string::npos) << heard;
  EXPECT_NE(heard.find("is a link of user 54321 in " + open), std::string::npos) << heard;

  // With descriptor 2 closed the name leads nowhere, which is what is said.
  const int saved = dup(STDERR_FILENO);
  close(STDERR_FILENO);
  SetEventReportFile("/dev/stderr");
  EXPECT_NE(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "no stderr"), 0u);
  dup2(saved, STDERR_FILENO);
  close(saved);
  std::lock_guard<std::mutex> hold(g_heardLock);
  EXPECT_NE(g_heard.back().find("/dev/stderr leads nowhere, and the process has no standard error"), std::string::npos)
      << g_heard.back();
  EXPECT_NE(heard.find("Test Source\tERROR\t0x6000006F\t0\tto stderr\n"), std::string::npos) << heard;
  EXPECT_NE(heard.find("The event file " + dir.Path() + " (HX_EVENTLOG_FILE) is not written: Is a directory"),
            std::string::npos)
      << heard;
}

// A container's log collector restarts: the standard error the events go
// to has no reader, and the next event's write fails there, as does the
// report of that failure; neither ends the process with SIGPIPE.
TEST_F(EventLogTest, AStandardErrorWithoutItsReaderEndsNoProcess) {
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    int ends[2];
    if (pipe(ends) != 0 || dup2(ends[1], STDERR_FILENO) < 0) _exit(2);
    close(ends[0]);
    close(ends[1]);
    CEventLog log;
    log.Register("Test Source");
    for (const char* name : {"/dev/stderr", "/dev/fd/2"}) {
      SetEventReportFile(name);
      if (log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "no reader") == 0) _exit(3);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// A daemon started with descriptor 2 closed: the module's own objects (here
// a lock's shared memory) never take the number, and an event file named
// /dev/stderr is not written into whatever object took it since; that is
// said instead. Runs in a process started so, this binary again.
TEST(EventLogStartedWithoutStandardError, NothingIsWrittenIntoWhatTookDescriptor2) {
  const char* taken = std::getenv("HX_TEST_TAKEN_FILE");
  if (taken == nullptr) {
    CTempDir dir;
    const std::string file = dir.Path() + "taken.txt";
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(STDERR_FILENO);
      setenv("HX_TEST_TAKEN_FILE", file.c_str(), 1);
      execl("/proc/self/exe", "test_platform_layers",
            "--gtest_filter=EventLogStartedWithoutStandardError.*", nullptr);
      _exit(2);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    EXPECT_EQ(std::filesystem::file_size(file), 0u);
    return;
  }
  CSharedMemory lock;
  bool created = false;
  const std::string name = "Global\\hx-closed-stderr-" + std::to_string(getpid());
  ASSERT_TRUE(lock.CreateOrOpen(name.c_str(), 64, created));
  EXPECT_EQ(fcntl(STDERR_FILENO, F_GETFD), -1);
  CSharedMemory::Remove(name.c_str());
  // Another part of the process takes the number.
  ASSERT_EQ(open(taken, O_RDWR | O_CREAT | O_TRUNC, 0600), STDERR_FILENO);
  CEventLog log;
  ASSERT_TRUE(log.Register("Test Source"));
  SetEventReportFile("/dev/stderr");
  EXPECT_NE(log.ReportEvent(1, 0, 0x6000006F, 0, nullptr, "not into it"), 0u);
  SetEventReportFile("");
  std::lock_guard<std::mutex> hold(g_heardLock);
  ASSERT_FALSE(g_heard.empty());
  EXPECT_NE(g_heard.back().find("not the standard error the process was started with"), std::string::npos)
      << g_heard.back();
}

// The event file's volume fills up in the middle of a report: the part that
// went in is cut off again, so the first report after room came back starts
// a line of its own and is not read as that one's end; the stop is said.
TEST_F(EventLogTest, AReportAFullVolumeCutDoesNotRunIntoTheNext) {
  if (geteuid() != 0) GTEST_SKIP() << "needs root for a volume of its own";
  const std::string volume = dir.Path() + "volume";
  std::filesystem::create_directory(volume);
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    if (unshare(CLONE_NEWNS) != 0 || mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("tmpfs", volume.c_str(), "tmpfs", 0, "size=8k") != 0) {
      _exit(2);
    }
    std::ofstream(volume + "/filler") << std::string(4096, 'f');
    SetEventReportFile(volume + "/events");
    CEventLog log;
    log.Register("Test Source");
    const std::string text(300, 'e');
    for (int i = 0; i < 14; ++i) log.ReportEvent(2, 0, 0x6000006F, 0, nullptr, text.c_str());
    std::filesystem::remove(volume + "/filler");
    log.ReportEvent(2, 0, 0x6000006F, 0, nullptr, "after");
    std::ifstream in(volume + "/events");
    std::string line;
    bool whole = true;
    while (std::getline(in, line)) {
      whole = whole && line.rfind("Test Source\t", 0) == 0 && line.find("Source", 12) == std::string::npos;
    }
    std::lock_guard<std::mutex> hold(g_heardLock);
    const bool said = std::any_of(g_heard.begin(), g_heard.end(), [](const std::string& heard) {
      return heard.find("is not written: it cannot be written, as its volume is full") != std::string::npos;
    });
    _exit(whole && said ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// A line break in a report's text (a path from a setting may hold one) does
// not begin a forged report in syslog either. Heard on a /dev/log of the
// test's own, where the machine has none.
TEST_F(EventLogTest, ALineBreakInATextStaysInItsSyslogLine) {
  if (geteuid() != 0 || access("/dev/log", F_OK) == 0) GTEST_SKIP() << "needs root and no syslog of the machine";
  const int sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "/dev/log");
  ASSERT_EQ(0, bind(sock, reinterpret_cast<sockaddr*>(&addr), sizeof addr));
  CEventLog log;
  ASSERT_TRUE(log.Register("Test Source"));
  EXPECT_EQ(log.ReportEvent(2, 0, 0x6000006F, 0, nullptr, "folder /x\nforged: event 0x60000065: y"), 0u);
  // Other test programs running meanwhile may report there too.
  const timeval wait{2, 0};
  setsockopt(sock, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
  std::string line;
  for (int i = 0; i < 100 && line.find("folder /x") == std::string::npos; ++i) {
    char heard[4096];
    const ssize_t n = recv(sock, heard, sizeof heard, 0);
    if (n <= 0) break;
    line.assign(heard, static_cast<size_t>(n));
  }
  // A process started without standard error: the socket the C library
  // keeps for syslog does not take descriptor 2.
  const pid_t pid = fork();
  if (pid == 0) {
    closelog();
    close(STDERR_FILENO);
    log.ReportEvent(2, 0, 0x6000006F, 0, nullptr, "no standard error");
    _exit(fcntl(STDERR_FILENO, F_GETFD) < 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
  closelog();
  close(sock);
  unlink("/dev/log");
  ASSERT_NE(line.find("folder /x"), std::string::npos) << line;
  EXPECT_EQ(line.find('\n'), std::string::npos) << line;
  EXPECT_NE(line.find("folder /x\\nforged"), std::string::npos) << line;
}

TEST_F(EventLogTest, FormattedReportsGoToTheModuleEventLog) {
  CEventLog log;
  ASSERT_TRUE(log.Register("Test Source"));
  SetModuleEventLog(&log);
  LogEventF(1, "%s", "");
  LogEventF(1, "Cache component failed to instantiate HRESULT: 0X%x", 0x80004005u);
  EventLogSink(nullptr);
  EventLogSink("a debug line");
  ReportEventCallback(2, "resource text");
  SetModuleEventLog(nullptr);
  LogEventF(1, "dropped");
  const std::vector<std::string> lines = Lines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "Test Source\tERROR\t0x60000074\t0\tCache component failed to instantiate HRESULT: 0X80004005");
  EXPECT_EQ(lines[1], "Test Source\tINFORMATION\t0x60000074\t0\ta debug line");
  EXPECT_EQ(lines[2], "Test Source\tWARNING\t0x60000074\t0\tresource text");
}

TEST_F(EventLogTest, ReportsRunAsTheProcessAndKeepTheImpersonation) {
  CEventLog log;
  ASSERT_TRUE(log.Register(nullptr));
  {
    CRequestIdentityScope scope(Alice());
    EXPECT_EQ(log.ReportEvent(4, 0, 1, 0, nullptr, "as process"), 0u);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    std::string sid;
    EXPECT_TRUE(GetTokenUserSid(token, &sid));
    EXPECT_EQ(sid, Alice().sid);
    CloseToken(token);
  }
  EXPECT_EQ(log.ReportEvent(4, 0, 1, 0, nullptr, "no identity"), 0u);
  HANDLE token = nullptr;
  EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  EXPECT_EQ(Lines().size(), 2u);
}

TEST(RevertToSelfGuard, DropsAndRestoresTheIdentity) {
  CRequestIdentityScope scope(Alice());
  HANDLE token = nullptr;
  {
    CRevertToSelfGuard guard(TOKEN_IMPERSONATE, true);
    EXPECT_TRUE(guard.IsReverted());
    EXPECT_FALSE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    EXPECT_EQ(GetLastError(), ERROR_NO_TOKEN);
  }
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  CloseToken(token);
  {
    CRevertToSelfGuard disabled(TOKEN_IMPERSONATE, false);
    EXPECT_FALSE(disabled.IsReverted());
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    CloseToken(token);
  }
}

TEST(RevertToSelfGuard, ThreadWithoutIdentityIsLeftAlone) {
  CRevertToSelfGuard guard(TOKEN_IMPERSONATE, true);
  EXPECT_FALSE(guard.IsReverted());
  EXPECT_EQ(guard.OpenError(), ERROR_NO_TOKEN);
}

TEST(SecurityAccess, ReadsTheImpersonatedUser) {
  CSecurityAccess access;
  std::string account = "a";
  std::string domain = "d";
  std::string sid = "s";
  EXPECT_EQ(access.GetUserIdentity(account, domain, sid), ERROR_NO_TOKEN);
  EXPECT_EQ(account + domain + sid, "ads");
  CRequestIdentityScope scope(Alice());
  EXPECT_EQ(access.GetUserIdentity(account, domain, sid), 0u);
  EXPECT_EQ(account, "alice");
  EXPECT_EQ(domain, "EXAMPLE");
  EXPECT_EQ(sid, Alice().sid);
  // The impersonation is back afterwards.
  HANDLE token = nullptr;
  ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
  CloseToken(token);
}

// The account look-up answers what was written last for a SID, also when
// another thread wrote it after this thread's own caller.
TEST(SecurityAccess, AccountWrittenOnAnotherThreadIsSeen) {
  CRequestIdentityScope scope(Alice());
  CSecurityAccess access;
  std::string account, domain, sid;
  ASSERT_EQ(access.GetUserIdentity(account, domain, sid), 0u);
  std::thread([] {
    CRequestIdentity renamed = Alice();
    renamed.account = "alice.renamed";
    CRequestIdentityScope other(renamed);
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenThreadToken(GetCurrentThread(), TOKEN_QUERY, TRUE, &token));
    CloseToken(token);
  }).join();
  std::string found;
  ASSERT_TRUE(LookupAccountSidA(nullptr, Alice().sid, &found, nullptr));
  EXPECT_EQ(found, "alice.renamed");
  // This thread's caller, asked again, is written back.
  EXPECT_EQ(access.GetUserIdentity(account, domain, sid), 0u);
  EXPECT_EQ(account, "alice");
}

}  // namespace

namespace {

// Reports come from any thread, each with its own identity to drop and
// restore.
class EventLogConcurrent : public EventLogTest {};

TEST_F(EventLogConcurrent, ReportsStayWholeAndKeepEachIdentity) {
  CEventLog log;
  ASSERT_TRUE(log.Register(nullptr));
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      CRequestIdentity id = Alice();
      id.account = "user" + std::to_string(t);
      id.sid = "S-1-5-21-1-2-3-" + std::to_string(2000 + t);
      CRequestIdentityScope scope(id);
      for (int i = 0; i < 50; ++i) {
        if (log.ReportEvent(4, 0, 7, 0, nullptr, ("thread " + std::to_string(t)).c_str()) != 0) ++wrong;
        CSecurityAccess access;
        std::string account, domain, sid;
        if (access.GetUserIdentity(account, domain, sid) != 0 || account != id.account) ++wrong;
      }
    });
  }
  for (std::thread& th : threads) th.join();
  EXPECT_EQ(wrong.load(), 0);
  const std::vector<std::string> lines = Lines();
  EXPECT_EQ(lines.size(), 200u);
  for (const std::string& line : lines) EXPECT_EQ(line.rfind("Quenlith Pellora\tINFORMATION\t0x00000007\t0\tthread ", 0), 0u);
}

}  // namespace
