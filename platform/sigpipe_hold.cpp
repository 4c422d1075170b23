// Holding SIGPIPE back on one thread: the signal a failed write raises is
// directed at the writing thread, so a thread's mask and pending set suffice.
#include "platform/sigpipe_hold.h"

#include <pthread.h>

#include <ctime>

namespace {

sigset_t PipeOnly() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGPIPE);
  return set;
}

bool PipePending() {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

CSigPipeHold::CSigPipeHold() {
  const sigset_t pipe = PipeOnly();
  pthread_sigmask(SIG_BLOCK, &pipe, &m_previousMask);
  m_wasPending = PipePending();
}

CSigPipeHold::~CSigPipeHold() {
  if (!m_wasPending && PipePending()) {
    const sigset_t pipe = PipeOnly();
    const timespec now{};
    sigtimedwait(&pipe, nullptr, &now);
  }
  pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
}
