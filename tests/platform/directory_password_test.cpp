#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
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
