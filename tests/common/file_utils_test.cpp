#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "common/file_utils.h"
#include "platform/last_error.h"

namespace {

class FileUtils : public ::testing::Test {
 protected:
  void SetUp() override {
    char dirTemplate[] = "/tmp/hxfiletest.XXXXXX";
    ASSERT_NE(nullptr, mkdtemp(dirTemplate));
    m_dir = dirTemplate;
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::permissions(m_dir + "/locked", std::filesystem::perms::owner_all, ec);
    std::filesystem::remove_all(m_dir, ec);
  }
  std::string m_dir;
};

TEST_F(FileUtils, CreateDirectoryPathCreatesEveryLevel) {
  const std::string path = m_dir + "/a/b/c";
  EXPECT_EQ(S_OK, CreateDirectoryPath(path.c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(path));
  // Existing levels are not an error, nor is a trailing slash.
  EXPECT_EQ(S_OK, CreateDirectoryPath(path.c_str()));
  EXPECT_EQ(S_OK, CreateDirectoryPath((m_dir + "/a/b/d/").c_str()));
  EXPECT_TRUE(std::filesystem::is_directory(m_dir + "/a/b/d"));
  EXPECT_EQ(E_INVALIDARG, CreateDirectoryPath(nullptr));
  EXPECT_EQ(E_INVALIDARG, CreateDirectoryPath(""));
}

TEST_F(FileUtils, CreateDirectoryPathReportsWhatHappened) {
  // A path without any separator is created and reported as created.
  ASSERT_EQ(0, chdir(m_dir.c_str()));
  EXPECT_EQ(S_OK, CreateDirectoryPath("plain"));
  EXPECT_TRUE(std::filesystem::is_directory(m_dir + "/plain"));
  EXPECT_EQ(S_OK, CreateDirectoryPath("plain"));
  ASSERT_EQ(0, chdir("/"));

  // A file in the way: at the end, or as a level inside.
  std::ofstream(m_dir + "/file").put('x');
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS), CreateDirectoryPath((m_dir + "/file").c_str()));
  EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND),
            CreateDirectoryPath((m_dir + "/file/sub").c_str()));

  if (geteuid() != 0) {  // root passes every permission check
    ASSERT_EQ(0, mkdir((m_dir + "/locked").c_str(), 0500));
    EXPECT_EQ(HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED),
              CreateDirectoryPath((m_dir + "/locked/x/y").c_str()));
  }
  const std::string tooLong = m_dir + "/" + std::string(300, 'n') + "/x";
  EXPECT_TRUE(FAILED(CreateDirectoryPath(tooLong.c_str())));
}

TEST_F(FileUtils, FileExistsSeesFilesAndFolders) {
  EXPECT_FALSE(FileExists(nullptr));
  EXPECT_TRUE(FileExists(m_dir.c_str()));
  EXPECT_FALSE(FileExists((m_dir + "/none").c_str()));
  std::ofstream(m_dir + "/f").put('x');
  EXPECT_TRUE(FileExists((m_dir + "/f").c_str()));
}

TEST(ModuleDirectory, OfProcessAndOfLoadedLibraryWithLevelsUp) {
  std::string dir;
  ASSERT_TRUE(GetModuleDirectory(dir, nullptr, true, 0));
  const std::string exe = std::filesystem::canonical("/proc/self/exe").string();
  EXPECT_EQ(exe.substr(0, exe.rfind('/') + 1), dir);

  std::string up;
  ASSERT_TRUE(GetModuleDirectory(up, nullptr, true, 1));
  const std::string parent = dir.substr(0, dir.rfind('/', dir.size() - 2) + 1);
  EXPECT_EQ(parent, up);
  ASSERT_TRUE(GetModuleDirectory(up, nullptr, true, 100));  // stops at the root
  EXPECT_EQ("/", up);

  std::string libc;
  ASSERT_TRUE(GetModuleDirectory(libc, "libc.so.6", false, 0));
  EXPECT_EQ('/', libc.front());
  EXPECT_EQ('/', libc.back());
  EXPECT_TRUE(std::filesystem::exists(libc + "libc.so.6"));

  std::string untouched = "keep";
  EXPECT_FALSE(GetModuleDirectory(untouched, "NotLoadedHere.dll", false, 0));
  EXPECT_EQ("keep", untouched);
}

TEST(FileHelpers, LastErrorAsHResultAndCharSearch) {
  SetLastError(5);
  EXPECT_EQ(static_cast<HRESULT>(0x80070005u), GetLastErrorHResult());
  SetLastError(0x12345);
  EXPECT_EQ(static_cast<HRESULT>(0x80072345u), GetLastErrorHResult());
  SetLastError(0);
  EXPECT_EQ(0, GetLastErrorHResult());
  SetLastError(0x80004005u);
  EXPECT_EQ(static_cast<HRESULT>(0x80004005u), GetLastErrorHResult());

  EXPECT_EQ(1, FindCharFrom("a/b/c", '/', 0));
  EXPECT_EQ(1, FindCharFrom("a/b/c", '/', 1));
  EXPECT_EQ(3, FindCharFrom("a/b/c", '/', 2));
  EXPECT_EQ(-1, FindCharFrom("a/b/c", '/', 5));
  EXPECT_EQ(-1, FindCharFrom("a/b/c", '/', -1));
  EXPECT_EQ(-1, FindCharFrom("abc", '/', 0));
  EXPECT_EQ(-1, FindCharFrom(nullptr, '/', 0));
}

}  // namespace
