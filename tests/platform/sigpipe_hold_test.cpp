#include "platform/sigpipe_hold.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

// With SIGPIPE at its default, a signal left pending would end this test
// program as the hold lets the signal through again.
TEST(SigPipeHold, WriteToAClosedPeerFailsWithoutEndingTheProcess) {
  int fds[2];
  ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, fds));
  close(fds[1]);
  {
    CSigPipeHold hold;
    errno = 0;
    EXPECT_EQ(-1, write(fds[0], "x", 1));
    EXPECT_EQ(EPIPE, errno);
  }
  sigset_t pending;
  sigemptyset(&pending);
  ASSERT_EQ(0, sigpending(&pending));
  EXPECT_FALSE(sigismember(&pending, SIGPIPE));
  close(fds[0]);
}
