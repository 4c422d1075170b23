// The rule every file the module writes goes through: which folders it
// trusts and what it refuses before a byte changes. Another user is modelled
// by files root hands to an unused user ID.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cstddef>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>

#include "platform/file_system.h"
#include "platform/shared_memory.h"
#include "support/file_text.h"
#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kOtherUser = 54321;

// Runs check in a child process, where the system call failingCall (when
// given) fails with err, as it does on a file system that cannot answer it;
// true when check held.
bool InChild(const std::function<bool()>& check, long failingCall = -1, int err = 0) {
  const pid_t pid = fork();
  if (pid == 0) {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, static_cast<__u32>(failingCall), 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | (static_cast<__u32>(err) & SECCOMP_RET_DATA)),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof filter / sizeof filter[0]), filter};
    if (failingCall >= 0 && (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
                             prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0)) {
      _exit(2);
    }
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

class FileRule : public ::testing::Test {
 protected:
  void SetUp() override {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to put files of another user";
    fs::permissions(dir.Path(), fs::perms(0755));
    pub = dir.Path() + "pub";
    fs::create_directory(pub);
    fs::permissions(pub, fs::perms(01777));
    target = dir.Write("target", "secret");
    fs::permissions(target, fs::perms(0600));
  }
  // Opens as the write-out at exit does: emptying the file.
  bool Opens(const std::string& path, std::string* why = nullptr) {
    const int fd = OpenFileForOwnerAndGroup(path.c_str(), O_WRONLY | O_TRUNC, why);
    if (fd >= 0) close(fd);
    return fd >= 0;
  }
  CTempDir dir;
  std::string pub;
  std::string target;
};

// A folder another user made first under the log folder's name in /tmp, a
// link they put on the way, a folder all may write to without the sticky
// bit: each is refused, named with its owner, and nothing is written through
// it or made below it.
TEST_F(FileRule, FoldersAnotherUserControlsAreRefusedNamingTheFolderAndOwner) {
  const std::string theirs = pub + "/QuenlithLogs";
  fs::create_directory(theirs);
  fs::permissions(theirs, fs::perms(0777));
  ASSERT_EQ(0, symlink(target.c_str(), (theirs + "/x.log").c_str()));
  ASSERT_EQ(0, chown(theirs.c_str(), kOtherUser, kOtherUser));
  std::string why = WhyFolderIsUnsafe(theirs);
  EXPECT_NE(why.find(theirs + " belongs to user 54321"), std::string::npos) << why;
  EXPECT_FALSE(Opens(theirs + "/x.log", &why));
  EXPECT_NE(why.find(theirs), std::string::npos) << why;

  const std::string mine = dir.Path() + "mine";
  fs::create_directory(mine);
  ASSERT_EQ(0, symlink(mine.c_str(), (pub + "/link").c_str()));
  ASSERT_EQ(0, lchown((pub + "/link").c_str(), kOtherUser, kOtherUser));
  EXPECT_NE(WhyFolderIsUnsafe(pub + "/link/QuenlithLogs"), "");
  EXPECT_FALSE(Opens(pub + "/link/x.log"));
  // Folders are made level by level in the level just judged, so a link put
  // on the way (even after a check) is never made through.
  EXPECT_EQ(MakeFolderForOwnerAndGroup(pub + "/link/QuenlithLogs", &why), EACCES);
  EXPECT_NE(why.find(pub + "/link is a link of user 54321"), std::string::npos) << why;
  EXPECT_FALSE(fs::exists(mine + "/QuenlithLogs"));
  // Open to the group whatever the umask: every server user of the group
  // writes there.
  const mode_t umaskBefore = umask(022);
  EXPECT_EQ(MakeFolderForOwnerAndGroup(pub + "/made/QuenlithLogs", &why), 0);
  EXPECT_EQ(fs::status(pub + "/made/QuenlithLogs").permissions(), fs::perms(0770));
  EXPECT_TRUE(Opens(pub + "/made/QuenlithLogs/x.log"));
  EXPECT_EQ(fs::status(pub + "/made/QuenlithLogs/x.log").permissions(), fs::perms(0660));
  // A setgid folder hands on a group the server's user may only be a member
  // of: its other members get no write, which the rule would refuse.
  const std::string setgid = dir.Path() + "setgid";
  fs::create_directory(setgid);
  ASSERT_EQ(0, chown(setgid.c_str(), geteuid(), kOtherUser));
  ASSERT_EQ(0, chmod(setgid.c_str(), 02755));
  EXPECT_EQ(MakeFolderForOwnerAndGroup(setgid + "/QuenlithLogs", &why), 0) << why;
  struct stat made{};
  EXPECT_EQ(stat((setgid + "/QuenlithLogs").c_str(), &made), 0);
  EXPECT_EQ(made.st_mode & 07777, 02750u);
  EXPECT_TRUE(Opens(setgid + "/QuenlithLogs/x.log"));
  umask(umaskBefore);

  // Our group may write to a folder of ours; a link another member put
  // there is not followed either.
  const std::string shared = dir.Path() + "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms(0770));
  ASSERT_EQ(0, chown(shared.c_str(), 0, getegid()));
  ASSERT_EQ(0, symlink(mine.c_str(), (shared + "/link").c_str()));
  ASSERT_EQ(0, lchown((shared + "/link").c_str(), kOtherUser, getegid()));
  EXPECT_NE(WhyFolderIsUnsafe(shared + "/link").find("is a link of user 54321"), std::string::npos);
  EXPECT_EQ(WhyFolderIsUnsafe(shared), "");

  const std::string open = dir.Path() + "open";
  fs::create_directory(open);
  fs::permissions(open, fs::perms(0777));
  EXPECT_NE(WhyFolderIsUnsafe(open).find("not sticky"), std::string::npos);
  EXPECT_FALSE(Opens(open + "/x.log"));
  EXPECT_FALSE(fs::exists(open + "/x.log"));

  // Ours in the sticky folder, and one not made yet, are fine; a link under
  // the file's own name is never followed, even in our folder.
  bool missing = false;
  EXPECT_EQ(WhyFolderIsUnsafe(pub + "/new/QuenlithLogs", &missing), "");
  EXPECT_TRUE(missing);
  fs::create_directory(pub + "/ours");
  EXPECT_TRUE(Opens(pub + "/ours/x.log"));
  ASSERT_EQ(0, symlink(target.c_str(), (mine + "/y.log").c_str()));
  EXPECT_FALSE(Opens(mine + "/y.log", &why));
  EXPECT_NE(why.find("is a link"), std::string::npos) << why;
  EXPECT_EQ(ReadFile(target), "secret");
}

// A folder of ours that another group, or another user by an entry of its
// ACL, may write to lets them replace the log with a file of theirs: it is
// refused as a folder open to all is. Entries for our own user and group,
// or a mask that takes the write away, change nothing.
TEST_F(FileRule, AFolderAnotherGroupOrAclEntryMayWriteToIsRefused) {
  struct Row {
    const char* name;
    gid_t group;
    const char* acl;  // setfacl -m
    const char* why;  // empty: trusted
  };
  const std::string us = std::to_string(geteuid());
  const Row rows[] = {
      {"othergroup", 54321, nullptr, "(its group 54321, not the server's own, lets its members write to it) and is not sticky"},
      {"ourgroup", getegid(), nullptr, ""},
      {"acluser", 0, "u:54321:rwx", "(its ACL lets user 54321 write to it) and is not sticky"},
      {"aclgroup", 0, "g:54321:rwx", "(its ACL lets group 54321 write to it)"},
      {"aclowngroup", 54321, "g::r-x,u:54321:r-x", ""},
      {"aclothersgroup", 54321, "g::rwx,u:54321:r-x", "(its ACL lets group 54321 write to it)"},
      {"aclmasked", 0, "u:54321:rwx,m::r-x", ""},
      {"aclours", 0, "g:0:rwx", ""},
  };
  for (const Row& row : rows) {
    const std::string folder = dir.Path() + row.name;
    fs::create_directory(folder);
    fs::permissions(folder, fs::perms(0775));
    ASSERT_EQ(0, chown(folder.c_str(), 0, row.group));
    if (row.acl != nullptr) {
      ASSERT_EQ(0, std::system(("setfacl -m '" + std::string(row.acl) + "' '" + folder + "'").c_str())) << row.name;
    }
    const std::string why = WhyFolderIsUnsafe(folder);
    if (*row.why == '\0') {
      EXPECT_EQ(why, "") << row.name;
      continue;
    }
    EXPECT_NE(why.find(folder + " may be written to by other users"), std::string::npos) << row.name << ": " << why;
    EXPECT_NE(why.find(row.why), std::string::npos) << row.name << ": " << why;
    EXPECT_FALSE(Opens(folder + "/x.log")) << row.name;
    EXPECT_FALSE(fs::exists(folder + "/x.log")) << row.name;
  }

  // A default ACL would hand the users it names what the module writes:
  // the file made under it is closed to them.
  const std::string inherits = dir.Path() + "inherits";
  fs::create_directory(inherits);
  ASSERT_EQ(0, std::system(("setfacl -d -m u:54321:rw '" + inherits + "'").c_str()));
  EXPECT_TRUE(Opens(inherits + "/x.log"));
  EXPECT_EQ(getxattr((inherits + "/x.log").c_str(), "system.posix_acl_access", nullptr, 0), -1);
  EXPECT_EQ(fs::status(inherits + "/x.log").permissions() & fs::perms::others_all, fs::perms::none);
  // So is each folder made there level by level, which is then used.
  std::string why;
  EXPECT_EQ(MakeFolderForOwnerAndGroup(inherits + "/a/b", &why), 0) << why;
  EXPECT_EQ(getxattr((inherits + "/a").c_str(), "system.posix_acl_access", nullptr, 0), -1);
  EXPECT_EQ(getxattr((inherits + "/a/b").c_str(), "system.posix_acl_default", nullptr, 0), -1);

  // A long ACL is read to its end, its last entry too, rather than
  // refused as unreadable (tmpfs holds one longer than a page).
  const std::string listed = "/dev/shm/hx-acl-" + std::to_string(getpid());
  fs::create_directory(listed);
  fs::permissions(listed, fs::perms(0775));
  std::string entries = "u:65000:rwx";
  for (int id = 60000; id < 60600; ++id) entries += ",u:" + std::to_string(id) + ":r-x";
  const bool longAcl = std::system(("setfacl -m '" + entries + "' " + listed + " 2>/dev/null").c_str()) == 0;
  fs::permissions(listed, fs::perms(0775));
  if (longAcl) {
    EXPECT_NE(WhyFolderIsUnsafe(listed).find("its ACL lets user 65000 write"), std::string::npos);
  }
  fs::remove(listed);

  // A pipe another member of our group put under the log's name, with
  // them reading it, is no log file.
  const std::string shared = dir.Path() + "ourgroup";
  ASSERT_EQ(0, mkfifo((shared + "/p.log").c_str(), 0660));
  ASSERT_EQ(0, chown((shared + "/p.log").c_str(), kOtherUser, getegid()));
  const int reader = open((shared + "/p.log").c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  EXPECT_FALSE(Opens(shared + "/p.log", &why));
  EXPECT_EQ(why, shared + "/p.log is not a regular file");
  close(reader);
  // Nor is it one once they stopped reading, nor is a socket.
  EXPECT_FALSE(Opens(shared + "/p.log", &why));
  EXPECT_EQ(why, shared + "/p.log is not a regular file");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un at{};
  at.sun_family = AF_UNIX;
  std::snprintf(at.sun_path, sizeof at.sun_path, "%s/s.log", shared.c_str());
  ASSERT_EQ(0, bind(listener, reinterpret_cast<const sockaddr*>(&at), sizeof at));
  EXPECT_FALSE(Opens(shared + "/s.log", &why));
  EXPECT_EQ(why, shared + "/s.log is not a regular file");
  close(listener);
}

// What the kernel does not show cannot be trusted: an ACL that is there but
// cannot be read is taken as one that lets others write. And a log file is
// never open to others for a moment before its mode is set: where the mode
// cannot be changed afterwards, it is made 0660 (with no umask to help).
TEST_F(FileRule, AnUnreadableAclIsRefusedAndAFileIsMadeForTheGroupOnly) {
  const std::string shared = dir.Path() + "shared";
  fs::create_directory(shared);
  fs::permissions(shared, fs::perms(0775));
  ASSERT_EQ(0, chown(shared.c_str(), 0, getegid()));
  ASSERT_EQ(WhyFolderIsUnsafe(shared), "");
  EXPECT_TRUE(InChild([&] { return WhyFolderIsUnsafe(shared).find("its ACL cannot be read") != std::string::npos; },
                      SYS_getxattr, EIO));
  EXPECT_TRUE(InChild(
      [&] {
        umask(0);
        const int fd = OpenFileForOwnerAndGroup((shared + "/x.log").c_str(), O_WRONLY);
        struct stat st{};
        return fd >= 0 && fstat(fd, &st) == 0 && (st.st_mode & 07777) == 0660;
      },
      SYS_fchmod, EPERM));
}

// A trial run as root leaves the log folder, the file and the log module's
// lock to root: the server's user learns whose they are, why (permission
// denied) and what to do, not only that they could not be opened.
TEST_F(FileRule, WhatARunAsRootLeftIsNamedWithItsOwnerAndTheRemedy) {
  const std::string logs = dir.Path() + "logs";
  ASSERT_EQ(MakeFolderForOwnerAndGroup(logs), 0);
  ASSERT_TRUE(Opens(logs + "/x.log"));
  const std::string lock = "Global\\hx-rule-lock-" + std::to_string(getpid());
  CSharedMemory section;
  bool created = false;
  ASSERT_TRUE(section.CreateOrOpen(lock.c_str(), 64, created));
  const bool told = InChild([&] {
    if (setgroups(0, nullptr) != 0 || setgid(kOtherUser) != 0 || setuid(kOtherUser) != 0) return false;
    std::string why;
    const int fd = OpenFileForOwnerAndGroup((logs + "/x.log").c_str(), O_WRONLY | O_APPEND, &why);
    const std::string lockWhy = WhyNamedSectionIsRefused(lock.c_str());
    const bool file = fd < 0 && why.find("permission is denied, as its folder " + logs + " belongs to root (user 0)") !=
                                    std::string::npos &&
                      why.find("chown") != std::string::npos;
    const bool locked = lockWhy.find("belongs to root (user 0)") != std::string::npos &&
                        lockWhy.find("permission is denied") != std::string::npos;
    if (!file) std::fprintf(stderr, "%s\n", why.c_str());
    if (!locked) std::fprintf(stderr, "%s\n", lockWhy.c_str());
    return file && locked;
  });
  CSharedMemory::Remove(lock.c_str());
  EXPECT_TRUE(told);
}

// In a folder every user may write to, a file another user put under the
// name, or a second name of a file they cannot write, is refused before the
// open empties it.
TEST_F(FileRule, AFileAnotherUserPutIsRefusedBeforeItIsTruncated) {
  const std::string theirs = dir.Write("pub/x.log", "theirs");
  ASSERT_EQ(0, chown(theirs.c_str(), kOtherUser, kOtherUser));
  EXPECT_FALSE(Opens(theirs));
  EXPECT_EQ(ReadFile(theirs), "theirs");
  ASSERT_EQ(0, link(target.c_str(), (pub + "/h.log").c_str()));
  EXPECT_FALSE(Opens(pub + "/h.log"));
  EXPECT_EQ(ReadFile(target), "secret");
}

}  // namespace
