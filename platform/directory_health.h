// Whether a failed directory call means the directory is slow, dead or
// refusing the module's credentials: the one rule every directory call
// goes through, so that a slow answer never reads as a lost directory.
//
// A directory that answered within the look-up (the bind, or any reply) and
// then ran out of time is slow: only that look-up fails, whatever the wait
// learned so far. It is dead only when a search of the look-up had the
// whole limit (all of it but the bind) and no answer, with no search of any
// thread answered meanwhile: a directory that answers binds but never a
// search would cost every request the whole limit. A directory that closed
// the connection or cannot be connected to is dead too, and so is one that
// answered nothing of the look-up within its limit, unless other threads'
// searches were answered meanwhile (then the trouble is this look-up's
// connection). Dead directories wait for their back-off.
// A probe must have its search answered. Refused credentials are refused on
// every bind: they wait for a back-off of their own, so that the service
// account is not locked by a bind per request.
#pragma once

#include <chrono>
#include <cstdint>

enum class DirectoryTrouble {
  NoAnswer,            // no connection, or the connection closed
  TimedOut,            // the time limit ran out while waiting for a reply
  CredentialsRefused,  // the bind was answered with "invalid credentials"
  Other,               // any other answer of the directory
};

enum class DirectoryVerdict {
  Answering,  // the directory answered; the failure is the call's own
  Slow,       // this look-up fails, nothing else
  Dead,       // the back-off starts
  Refusing,   // the back-off starts, for the credentials
};

// What the look-up saw of the directory before its call failed.
struct DirectorySeen {
  bool answeredThisLookUp = false;       // its bind or any reply came back
  bool searchAnsweredMeanwhile = false;  // some thread's search was answered since it began
  bool probing = false;                  // it probes the directory after a back-off
  // The longest one search of the look-up waited with no answer.
  std::chrono::microseconds searchSilence{0};
};

// A search left unanswered this long had the whole limit: the look-up's
// limit (kADsTimeLimitSeconds) less what a bind on a new connection may take
// of it.
constexpr std::chrono::milliseconds kWholeLimitSilence{4000};

DirectoryVerdict JudgeDirectory(DirectoryTrouble trouble, const DirectorySeen& seen);

// How many searches any thread had answered: a look-up notes it when it
// starts and compares when it fails.
uint64_t DirectorySearchesAnswered();
// A search was answered.
void NoteDirectorySearchAnswered();
