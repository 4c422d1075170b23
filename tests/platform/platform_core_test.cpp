#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <ctime>
#include <string>
#include <utility>

#include "platform/adsi.h"
#include "platform/debug_output.h"
#include "platform/directory_connect.h"
#include "platform/file_system.h"
#include "platform/last_error.h"
#include "platform/local_time.h"
#include "platform/system_messages.h"

namespace {

TEST(LocalTime, MatchesTheWallClock) {
  // time() reads a coarser clock that may lag; compare with the same clock.
  timespec ts{};
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t before = ts.tv_sec;
  SYSTEMTIME st{};
  GetLocalTime(&st);
  clock_gettime(CLOCK_REALTIME, &ts);
  const time_t after = ts.tv_sec;
  tm local{};
  localtime_r(&before, &local);
  EXPECT_EQ(local.tm_year + 1900, st.wYear);
  EXPECT_GE(st.wMonth, 1);
  EXPECT_LE(st.wMonth, 12);
  EXPECT_LE(st.wMilliseconds, 999);
  EXPECT_LE(st.wDayOfWeek, 6);
  if (before == after) {
    EXPECT_EQ(local.tm_sec, st.wSecond);
    EXPECT_EQ(local.tm_mday, st.wDay);
    EXPECT_EQ(local.tm_wday, st.wDayOfWeek);
  }
  GetLocalTime(nullptr);  // must not crash
}

TEST(ThreadId, ForkedChildReportsItsOwn) {
  const DWORD parent = GetCurrentThreadId();
  EXPECT_EQ(static_cast<DWORD>(getpid()), parent);  // the main thread
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    DWORD child = GetCurrentThreadId();
    _exit(write(fds[1], &child, sizeof(child)) == sizeof(child) ? 0 : 1);
  }
  DWORD child = 0;
  ASSERT_EQ(static_cast<ssize_t>(sizeof(child)), read(fds[0], &child, sizeof(child)));
  waitpid(pid, nullptr, 0);
  EXPECT_EQ(static_cast<DWORD>(pid), child);
  close(fds[0]);
  close(fds[1]);
}

TEST(SystemMessages, Win32CodesAndHResults) {
  EXPECT_STREQ("Access is denied.\r\n", LookupSystemMessage(5));
  EXPECT_STREQ("Access is denied.\r\n", LookupSystemMessage(0x80070005u));
  EXPECT_STREQ("Unspecified error\r\n", LookupSystemMessage(0x80004005u));
  EXPECT_STREQ("", LookupSystemMessage(0x12345678u));
  // A link loop, a failing disk and a folder where a file should be each
  // say what they are, not that a device stopped working.
  for (const auto& [err, words] : {std::pair<int, const char*>{ELOOP, "The name of the file cannot be resolved"},
                                   {EIO, "I/O device error"},
                                   {EISDIR, "not supported on a directory"}}) {
    EXPECT_NE(ReasonInWords(HRESULT_FROM_WIN32(Win32ErrorFromErrno(err))).find(words), std::string::npos) << err;
  }
  // Every failure the directory layer reports has words: libldap's codes
  // as it maps them, and the directory objects' own.
  for (int rc = -20; rc <= 130; ++rc) {
    const HRESULT hr = FailText(rc, "x");
    EXPECT_STRNE("", LookupSystemMessage(static_cast<DWORD>(hr))) << rc;
  }
  for (HRESULT hr : {E_ADS_BAD_PATHNAME, E_ADS_PROPERTY_NOT_FOUND, E_ADS_COLUMN_NOT_SET, E_ADS_BAD_PARAMETER}) {
    EXPECT_STRNE("", LookupSystemMessage(static_cast<DWORD>(hr))) << hr;
  }
}

TEST(FileSystem, CreateDirectoryLeavesWin32Codes) {
  char dirTemplate[] = "/tmp/hxfstest.XXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dirTemplate));
  const std::string dir = std::string(dirTemplate) + "/d";
  EXPECT_TRUE(CreateDirectoryA(dir.c_str()));
  EXPECT_TRUE(IsDirectory(dir.c_str()));
  EXPECT_FALSE(CreateDirectoryA(dir.c_str()));
  EXPECT_EQ(ERROR_ALREADY_EXISTS, GetLastError());
  EXPECT_FALSE(CreateDirectoryA((dir + "/x/y").c_str()));
  EXPECT_EQ(ERROR_PATH_NOT_FOUND, GetLastError());
  EXPECT_FALSE(CreateDirectoryA(""));
  EXPECT_FALSE(PathExists(nullptr));
  rmdir(dir.c_str());
  rmdir(dirTemplate);
}

// The channel reads its switch once, so each case runs in a fresh child
// whose standard error goes to a pipe.
std::string DebugOutputOfChild(const char* setting) {
  int fds[2];
  if (pipe(fds) != 0) return "pipe failed";
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 2);
    if (setting != nullptr) {
      setenv("HX_DEBUG_OUTPUT", setting, 1);
    } else {
      unsetenv("HX_DEBUG_OUTPUT");
    }
    OutputDebugStringA("detached\n");
    OutputDebugStringA(nullptr);
    _exit(0);
  }
  close(fds[1]);
  waitpid(pid, nullptr, 0);
  std::string out;
  char buf[64];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof(buf))) > 0) out.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  return out;
}

TEST(DebugOutput, GoesToStandardErrorOnlyWhenSwitchedOn) {
  EXPECT_EQ("detached\n", DebugOutputOfChild("1"));
  EXPECT_EQ("", DebugOutputOfChild("0"));
  EXPECT_EQ("", DebugOutputOfChild(""));
  EXPECT_EQ("", DebugOutputOfChild(nullptr));
}

}  // namespace
