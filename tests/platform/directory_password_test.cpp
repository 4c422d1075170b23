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
