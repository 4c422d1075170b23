#include "platform/standard_streams.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/sigpipe_hold.h"

namespace {

// Looked at when the module is loaded, before it opened anything of its own:
// a process started with descriptor 2 closed has no standard error, whatever
// takes the number later (its host may redirect one it has, on purpose).
const bool g_startedWithStandardError = fcntl(STDERR_FILENO, F_GETFD) >= 0;

}  // namespace

int AboveStandardStreams(int fd) {
  if (fd < 0 || fd > STDERR_FILENO) return fd;
  const int moved = fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
  const int err = errno;
  ::close(fd);
  errno = err;
  return moved;
}

bool IsInheritedStandardError() { return g_startedWithStandardError && fcntl(STDERR_FILENO, F_GETFD) >= 0; }

ssize_t WriteWithoutSigpipe(int fd, const void* data, size_t length) {
  // A socket says so itself; anything else (a pipe) needs the signal held
  // back on this thread for the write.
  const ssize_t sent = ::send(fd, data, length, MSG_NOSIGNAL);
  if (sent >= 0 || errno != ENOTSOCK) return sent;
  CSigPipeHold hold;
  return ::write(fd, data, length);
}

bool WriteToStandardError(const std::string& text) {
  if (!IsInheritedStandardError()) return false;
  size_t written = 0;
  while (written < text.size()) {
    const ssize_t n = WriteWithoutSigpipe(STDERR_FILENO, text.data() + written, text.size() - written);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    written += static_cast<size_t>(n);
  }
  return true;
}

CStandardStreamsHeld::CStandardStreamsHeld() {
  bool anyClosed = false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) anyClosed = anyClosed || fcntl(fd, F_GETFD) < 0;
  if (!anyClosed) return;
  // The lowest free number is what open gives: only what it gave is held,
  // never a number another thread may have taken meanwhile.
  for (int i = 0; i < 3; ++i) {
    const int fd = ::open("/", O_PATH | O_CLOEXEC);
    if (fd < 0) return;
    if (fd > STDERR_FILENO) {
      ::close(fd);
      return;
    }
    m_held[i] = fd;
  }
}

CStandardStreamsHeld::~CStandardStreamsHeld() {
  const int err = errno;
  for (const int fd : m_held) {
    if (fd >= 0) ::close(fd);
  }
  errno = err;
}
