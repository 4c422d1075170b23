#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "platform/last_error.h"
#include "platform/shared_memory.h"

namespace {

std::string UniqueName(const char* what) {
  return std::string("Global\\hxshmtest_") + what + "_" + std::to_string(getpid());
}

TEST(ShmName, WindowsNamespacesMapToOneMachineWideName) {
  EXPECT_EQ("/QLCommonLog.log", ShmNameFromWindowsName("Global\\QLCommonLog.log"));
  EXPECT_EQ("/QLCommonLog.log", ShmNameFromWindowsName("global\\QLCommonLog.log"));
  EXPECT_EQ("/x", ShmNameFromWindowsName("Local\\x"));
  EXPECT_EQ("/a_b_c", ShmNameFromWindowsName("a/b\\c"));
  EXPECT_EQ("/_", ShmNameFromWindowsName("Global\\"));
  EXPECT_EQ("/_", ShmNameFromWindowsName(nullptr));
}

TEST(SharedMemory, CreatedForOwnerAndGroupOnlyThenOpenedBySecondCaller) {
  const std::string name = UniqueName("perm");
  CSharedMemory::Remove(name.c_str());
  const mode_t oldMask = umask(077);  // group rights must survive a strict umask
  CSharedMemory first;
  bool created = false;
  ASSERT_TRUE(first.CreateOrOpen(name.c_str(), 4096, created));
  umask(oldMask);
  EXPECT_TRUE(created);
  EXPECT_EQ(4096u, first.Size());

  struct stat st{};
  ASSERT_EQ(0, stat(("/dev/shm" + ShmNameFromWindowsName(name.c_str())).c_str(), &st));
  EXPECT_EQ(0660u, st.st_mode & 0777u);

  char* a = static_cast<char*>(first.MapView(4096));
  ASSERT_NE(nullptr, a);
  std::memcpy(a, "shared", 6);

  CSharedMemory second;
  ASSERT_TRUE(second.CreateOrOpen(name.c_str(), 99999, created));
  EXPECT_FALSE(created);
  EXPECT_EQ(4096u, second.Size());  // an existing object keeps its size
  char* b = static_cast<char*>(second.MapView(4096));
  ASSERT_NE(nullptr, b);
  EXPECT_EQ(0, std::memcmp(b, "shared", 6));

  EXPECT_TRUE(second.Grow(8192));
  EXPECT_TRUE(second.Grow(100));  // never shrinks
  EXPECT_EQ(8192u, first.Size());

  CSharedMemory::UnmapView(a, 4096);
  CSharedMemory::UnmapView(b, 4096);
  EXPECT_TRUE(CSharedMemory::Remove(name.c_str()));
  EXPECT_FALSE(CSharedMemory::Remove(name.c_str()));
}

// /dev/shm is everyone's: an object made first under the ring's or the
// lock's name by another user is refused, and one of ours left open to
// others is closed before use.
TEST(SharedMemory, AnObjectAnotherUserMadeFirstIsRefused) {
  const std::string name = UniqueName("squat");
  const std::string path = ShmNameFromWindowsName(name.c_str());
  CSharedMemory::Remove(name.c_str());
  const int fd = shm_open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, fchmod(fd, 0666));
  CSharedMemory shm;
  bool created = true;
  ASSERT_TRUE(shm.CreateOrOpen(name.c_str(), 4096, created));
  EXPECT_FALSE(created);
  struct stat st{};
  ASSERT_EQ(0, fstat(fd, &st));
  EXPECT_EQ(0660u, st.st_mode & 0777u);
  shm.Close();
  if (geteuid() == 0 && fchown(fd, 54321, 54321) == 0) {
    EXPECT_EQ("it belongs to user 54321, a user outside this process's group", WhyNamedSectionIsRefused(name.c_str()));
    EXPECT_FALSE(shm.CreateOrOpen(name.c_str(), 4096, created));
    EXPECT_EQ(ERROR_ACCESS_DENIED, GetLastError());
  }
  close(fd);
  CSharedMemory::Remove(name.c_str());
}

// shm_open never follows a link, so a link under the ring's name turns the
// ring off: it is named as refused, for start-up to say so. An object another
// member of the server's group made open to every user cannot be closed by us
// and is refused too.
TEST(SharedMemory, ALinkOrAnObjectOpenToAllThatIsNotOursIsRefused) {
  const std::string name = UniqueName("link");
  const std::string path = ShmPathFromWindowsName(name.c_str());
  CSharedMemory::Remove(name.c_str());
  ASSERT_EQ(0, symlink("/etc/hostname", path.c_str()));
  CSharedMemory shm;
  bool created = true;
  EXPECT_NE("", WhyNamedSectionIsRefused(name.c_str()));
  EXPECT_FALSE(shm.CreateOrOpen(name.c_str(), 4096, created));
  unlink(path.c_str());
  if (geteuid() != 0) return;
  const int fd = shm_open(ShmNameFromWindowsName(name.c_str()).c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(0, fchmod(fd, 0666));
  ASSERT_EQ(0, fchown(fd, 54321, getegid()));
  EXPECT_EQ("it is open to every user", WhyNamedSectionIsRefused(name.c_str()));
  EXPECT_FALSE(shm.CreateOrOpen(name.c_str(), 4096, created));
  close(fd);
  CSharedMemory::Remove(name.c_str());
}

TEST(SharedMemory, FailuresLeaveAnErrorCode) {
  CSharedMemory shm;
  bool created = true;
  const std::string tooLong = "Global\\" + std::string(400, 'n');
  EXPECT_FALSE(shm.CreateOrOpen(tooLong.c_str(), 4096, created));
  EXPECT_FALSE(created);
  EXPECT_NE(0u, GetLastError());
  EXPECT_FALSE(shm.IsOpen());
  EXPECT_EQ(nullptr, shm.MapView(4096));
  EXPECT_EQ(0u, shm.Size());
}

}  // namespace
