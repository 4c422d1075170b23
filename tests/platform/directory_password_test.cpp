#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "platform/directory_password.h"
#include "support/temp_dir.h"

// Connections on many threads take the password while an administrator
// replaces the file: each gets the old or the new password whole, never a
// half-read one, and the file is read again only when it changed.
TEST(DirectoryPasswordConcurrent, ThreadsTakeOneReadWhileTheFileIsReplaced) {
  CTempDir dir;
  const std::string file = dir.Path() + "password";
  auto replace = [&](const std::string& password) {
    const std::string next = file + ".next";
    std::ofstream(next) << password << "\n";
    std::rename(next.c_str(), file.c_str());
  };
  replace("first-password");
  std::atomic<bool> stop{false};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      while (!stop.load()) {
        std::string password, why;
        const HRESULT hr = DirectoryPassword(file.c_str(), password, why);
        if (hr != S_OK || (password != "first-password" && password != "second-password-longer")) ++wrong;
      }
    });
  }
  for (int i = 0; i < 200; ++i) replace(i % 2 == 0 ? "second-password-longer" : "first-password");
  stop = true;
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
}

// The first line goes to the directory as a password: a file or a link
// another user could put under the name (one leading to /etc/shadow) is not
// read, and the event names the entry at fault; mended, it is used without
// the file itself changing.
TEST(DirectoryPasswordFile, AnotherUsersFileOrLinkIsNotRead) {
  CTempDir dir;
  const std::string secret = dir.Write("secret", "root:$6$hash:1::\n");
  const std::string ours = dir.Write("shared/ours", "our-password\n");
  const std::string shared = dir.Path() + "shared";
  ASSERT_EQ(0, chmod(shared.c_str(), 01777));
  std::string password, why;
  EXPECT_EQ(S_OK, DirectoryPassword(ours.c_str(), password, why)) << why;
  EXPECT_EQ(password, "our-password");

  ASSERT_EQ(0, chmod(shared.c_str(), 0777));
  EXPECT_EQ(HRESULT_FROM_WIN32(5), DirectoryPassword(ours.c_str(), password, why));
  EXPECT_EQ(why, shared + " may be written by other users");
  EXPECT_EQ(password, "");
  ASSERT_EQ(0, chmod(shared.c_str(), 01777));
  EXPECT_EQ(S_OK, DirectoryPassword(ours.c_str(), password, why)) << why;

  if (geteuid() != 0) GTEST_SKIP() << "giving a file to another user needs root";
  const std::string link = shared + "/link";
  ASSERT_EQ(0, symlink(secret.c_str(), link.c_str()));
  ASSERT_EQ(0, lchown(link.c_str(), 65534, 65534));
  EXPECT_EQ(HRESULT_FROM_WIN32(5), DirectoryPassword(link.c_str(), password, why));
  EXPECT_EQ(why.rfind(link + " belongs to user 65534", 0), 0u) << why;
  EXPECT_EQ(password, "");
  const std::string theirs = dir.Write("shared/theirs", "their-password\n");
  ASSERT_EQ(0, chown(theirs.c_str(), 65534, 65534));
  EXPECT_EQ(HRESULT_FROM_WIN32(5), DirectoryPassword(theirs.c_str(), password, why));
  EXPECT_EQ(password, "");
  // An entry of the folder's ACL lets them replace the file as the mode
  // bits would.
  ASSERT_EQ(0, chmod(shared.c_str(), 0755));
  ASSERT_EQ(0, std::system(("setfacl -m u:65534:rwx '" + shared + "'").c_str()));
  EXPECT_EQ(HRESULT_FROM_WIN32(5), DirectoryPassword(ours.c_str(), password, why));
  EXPECT_EQ(why.rfind(shared + " may be written by other users (its ACL lets", 0), 0u) << why;
  EXPECT_EQ(password, "");
}

std::vector<std::string>& Reported() {
  static std::vector<std::string> reported;
  return reported;
}

void KeepReport(const std::string& text, bool warning) { Reported().push_back((warning ? "W " : "E ") + text); }

std::string Named(const std::string& path) {
  return "The directory password file " + path + " (HX_LDAP_PASSWORD_FILE)";
}

// Each file as the bind reads it: the password of its first line, or why
// it is not read; a file every user may read is used, with a warning that
// names it.
TEST(DirectoryPasswordFile, FirstLineOrWhyNot) {
  if (geteuid() != 0) GTEST_SKIP() << "giving entries to another user or group needs root";
  CTempDir dir;
  ASSERT_EQ(0, chmod(dir.Path().c_str(), 0700));
  SetDirectoryPasswordReportCallback(&KeepReport);
  auto file = [&](const std::string& name, const std::string& text, mode_t mode, gid_t group) {
    const std::string path = dir.Write(name, text);
    EXPECT_EQ(0, chown(path.c_str(), 0, group));
    EXPECT_EQ(0, chmod(path.c_str(), mode));
    return path;
  };
  // A link of ours that leads into another user's folder: they may put
  // another file there.
  const std::string theirs = dir.Path() + "theirs";
  ASSERT_EQ(0, mkdir(theirs.c_str(), 0755));
  const std::string inTheirs = file("theirs/password", "their-password\n", 0600, 0);
  ASSERT_EQ(0, chown(theirs.c_str(), 65534, 65534));
  const std::string link = dir.Path() + "link";
  ASSERT_EQ(0, symlink(inTheirs.c_str(), link.c_str()));
  struct Row {
    std::string path;
    HRESULT hr;
    std::string password;
    std::string report;  // the start of what is reported, or empty
  };
  const std::string crlf = file("crlf", "Secret1\r\nsecond line\n", 0600, 0);
  const std::string otherGroup = file("other-group", "group-password\n", 0660, 65534);
  // Readable by every user only where every folder on the way lets them in.
  const std::string sealed = file("sealed", "sealed-password\n", 0644, 0);
  CTempDir open;
  ASSERT_EQ(0, chmod(open.Path().c_str(), 0755));
  const std::string everyone = open.Write("everyone", "everyones-password\n");
  ASSERT_EQ(0, chmod(everyone.c_str(), 0644));
  const Row rows[] = {
      {crlf, S_OK, "Secret1", ""},
      {otherGroup, HRESULT_FROM_WIN32(5), "", "E " + Named(otherGroup) + " cannot be used: " + otherGroup +
                                                   " may be written by other users"},
      {link, HRESULT_FROM_WIN32(5), "", "E " + Named(link) + " cannot be used: " + theirs + " belongs to user 65534"},
      {sealed, S_OK, "sealed-password", ""},
      {everyone, S_OK, "everyones-password", "W " + Named(everyone) + " may be read by every user"},
  };
  for (const Row& row : rows) {
    Reported().clear();
    std::string password, why;
    EXPECT_EQ(row.hr, DirectoryPassword(row.path.c_str(), password, why)) << row.path << ": " << why;
    EXPECT_EQ(row.password, password) << row.path;
    if (row.report.empty()) {
      EXPECT_TRUE(Reported().empty()) << row.path;
    } else {
      ASSERT_EQ(Reported().size(), 1u) << row.path;
      EXPECT_EQ(Reported()[0].rfind(row.report, 0), 0u) << Reported()[0];
    }
  }
  // Warned of once, not at every connection.
  Reported().clear();
  std::string password, why;
  EXPECT_EQ(S_OK, DirectoryPassword(everyone.c_str(), password, why));
  EXPECT_TRUE(Reported().empty());
  SetDirectoryPasswordReportCallback(nullptr);
}

// A name missing when looked at is not read: another user who puts a link
// under it and takes it away again, over and over, never has it read.
TEST(DirectoryPasswordFile, ALinkPutBetweenLookAndReadIsNotRead) {
  if (geteuid() != 0) GTEST_SKIP() << "acting as another user needs root";
  CTempDir dir;
  const std::string secret = dir.Write("secret", "root:$6$hash:1::\n");
  const std::string shared = dir.Path() + "shared";
  ASSERT_EQ(0, mkdir(shared.c_str(), 0700));
  ASSERT_EQ(0, chmod(shared.c_str(), 01777));
  ASSERT_EQ(0, chmod(dir.Path().c_str(), 0755));
  const std::string link = shared + "/password";
  const pid_t other = fork();
  ASSERT_GE(other, 0);
  if (other == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(1);
    for (;;) {
      if (symlink(secret.c_str(), link.c_str()) == 0) unlink(link.c_str());
    }
  }
  int read = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  while (std::chrono::steady_clock::now() < end) {
    std::string password, why;
    if (DirectoryPassword(link.c_str(), password, why) == S_OK) ++read;
  }
  kill(other, SIGKILL);
  waitpid(other, nullptr, 0);
  EXPECT_EQ(read, 0);
}
