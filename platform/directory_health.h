// Whether a failed directory call means the directory is slow, dead or
// refusing the module's credentials: the one rule every directory call
// goes through, so that a slow answer never reads as a lost directory.
//
// A directory that answered within the look-up (the bind, or any reply) and
// then ran out of time is slow: only that look-up fails. A directory that
// never answered, closed the connection or cannot be connected to is dead:
// connections to it wait for its back-off. A directory that accepts binds
// but never answers a search would cost every request the whole limit: once
// several look-ups in a row timed out with no search answered by any
// thread meanwhile, it counts as dead too. A probe must have its search
// answered. Refused credentials are refused on every bind: they wait for
// the back-off as a dead directory does, so that the service account is
// not locked by a bind per request.
#pragma once

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
  int slowInARow = 0;                    // slow time-outs before it with no search answered between
};

// Slow time-outs in a row, no search answered meanwhile, after which the
// directory counts as dead.
constexpr int kSlowTimeOutsBeforeDead = 3;

DirectoryVerdict JudgeDirectory(DirectoryTrouble trouble, const DirectorySeen& seen);

// How many searches any thread had answered: a look-up notes it when it
// starts and compares when it fails.
uint64_t DirectorySearchesAnswered();
// A search was answered: slow time-outs in a row start again from 0.
void NoteDirectorySearchAnswered();
// The slow time-outs in a row so far, and one more of them.
int DirectorySlowInARow();
void NoteDirectorySlow();
