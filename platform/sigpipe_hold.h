// A write to a connection its peer has closed raises SIGPIPE, which ends the
// whole server process unless the server ignores the signal. The directory
// library writes with plain write(), and a kept connection may have been
// closed by the directory, so a look-up must not be able to take the host's
// process down with it. Holding costs four system calls: it is made where
// the directory is really written to.
#pragma once

#include <signal.h>

// While it lives, SIGPIPE is held back for the constructing thread; one
// raised meanwhile is taken on destruction, so it is never delivered and the
// write reports EPIPE instead. A SIGPIPE already pending at construction is
// left as it was. Made and destroyed on one thread.
class CSigPipeHold {
 public:
  CSigPipeHold();
  ~CSigPipeHold();
  CSigPipeHold(const CSigPipeHold&) = delete;
  CSigPipeHold& operator=(const CSigPipeHold&) = delete;

 private:
  sigset_t m_previousMask;
  bool m_wasPending = false;
};
