// The process's standard streams belong to whoever started it. A server
// started without one (a daemon with descriptor 2 closed) would hand the
// module's next object that number, and every write meant for standard
// error would then land in it; a standard error whose reader went (a log
// collector restarted) raises SIGPIPE at the next write, which ends the
// process. Every descriptor the module keeps, and every write it makes to
// what may be a pipe or a socket, goes through here.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <string>

// A descriptor the module opened, moved above 0, 1 and 2 when it took one of
// them (closing the original), so that it never stands in for a standard
// stream. Returns the descriptor to use; -1 (errno set, the original closed)
// when no other could be had. Negative input is returned as it is, errno
// untouched.
int AboveStandardStreams(int fd);

// Whether descriptor 2 is the process's standard error: it was open when
// the module was loaded and still is. A process started with it closed has
// none, whatever object takes the number later.
bool IsInheritedStandardError();

// Writes as write(2) does, but a reader that went away (a pipe or a socket)
// gives -1 with EPIPE instead of a SIGPIPE that would end the process.
ssize_t WriteWithoutSigpipe(int fd, const void* data, size_t length);

// Writes the text to the process's own standard error, when it still has
// the one it was started with; false when it was not written.
bool WriteToStandardError(const std::string& text);

// While it lives, descriptors 0, 1 and 2 that were closed are held by
// placeholders of its own, so that a library opening something it keeps
// (the C library's syslog socket, a directory library's local socket) does
// not take one of their numbers. Costs three looks when all three are open.
class CStandardStreamsHeld {
 public:
  CStandardStreamsHeld();
  ~CStandardStreamsHeld();
  CStandardStreamsHeld(const CStandardStreamsHeld&) = delete;
  CStandardStreamsHeld& operator=(const CStandardStreamsHeld&) = delete;

 private:
  int m_held[3] = {-1, -1, -1};
};
