// The back-off of directories found dead or refusing the credentials:
// connections to such a directory fail at once for the retry interval; then
// one thread probes it on a new connection while the others go on failing
// at once until that probe has its answer.
//
// A dead directory (unreachable, or silent) is probed again after
// kADsFirstRetryMs; while it stays dead the interval grows with the outage,
// an eighth of it, doubling as the outage doubles, up to the retry
// interval: a directory back after an outage goes unused for at most an
// eighth of the outage (a second or two after a short one), and a long
// outage costs one probe per retry interval. Refused credentials are
// tried again at their own slow pace (account lock-out policies count the
// refused binds), or as soon as the password file is seen to change.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "platform/file_system.h"

// Whether connections to `uri` fail at once now, and whether for refused
// credentials. When its back-off has lapsed (or, for refused credentials,
// the password file changed) and `prober` is given, the calling thread
// becomes the one that probes the directory (*prober true) and must end the
// probe (EndProbe or MarkUnreachable); without `prober` a lapsed back-off
// only reads as over.
bool InBackOff(const std::string& uri, bool* prober, bool* refused = nullptr);

// Whether any directory is in its back-off, without a lock.
bool AnyBackOff();

// The password file of a bind, as it was when its password was read, and
// a digest of that password (never the password itself).
struct CBindPasswordFile {
  std::string passwordFile;  // empty: none (SASL, or no file)
  CFileStamp stamp;
  size_t passwordDigest = 0;

  bool operator==(const CBindPasswordFile&) const = default;
};

// Starts (or starts again) the back-off of `uri`; a probe running ends.
// A dead directory's back-off retires every kept connection (they went with
// it) and grows with the outage when its probe failed. Refused credentials
// (`refused` not null) retire none, since connections bound before still
// answer, and wait for their own interval or a change of the password file.
void MarkUnreachable(const std::string& uri, const CBindPasswordFile* refused = nullptr);

// Starts (or starts again) the back-off of `uri` for a certificate it
// refused, `why` saying what was wrong with it: a lasting mistake of the
// set-up, kept as a dead directory's (its interval grows as it lasts) with
// its own words, so that the handshakes that show the certificate go out
// once per interval, not once per look-up.
// The failure's words, with when it is tried again.
std::string MarkCertificateRefused(const std::string& uri, const std::string& why);

// Whether the password of `bind` was refused by `uri` within the refused
// interval: then no bind goes out with it, however often its file changes
// (a file rewritten with the same password, or two wrong ones taking
// turns, also with the right one accepted in between), and a back-off
// waits for the next change of the file. The caller's probe (`probing`)
// ends without an answer.
bool RefusedAlready(const std::string& uri, const CBindPasswordFile& bind, bool probing);

// The probe of `uri` had an answer: the directory is reachable again. The
// new generation of connections, or 0 when the probe ended in a new back-off.
uint64_t EndProbe(const std::string& uri);

// The longest back-off of a dead directory.
std::chrono::milliseconds RetryInterval();
void SetRetryInterval(std::chrono::milliseconds interval);

// How long refused credentials wait, the password file unchanged.
std::chrono::milliseconds RefusedRetryInterval();
void SetRefusedRetryInterval(std::chrono::milliseconds interval);

// Called after a probe found a directory answering again (at most one
// callback; null for none). It runs on the probing request thread: it must
// only hand the news on.
void SetDirectoryAnswersAgainCallback(void (*callback)());

struct CBindTurnState;

// Binds to a directory go out one at a time, except that those waiting
// while a bind went out alone go together once the directory accepted it
// (with the same credentials: the password file as it is now): a wrong
// password, or one changed in the directory (or an account disabled) while
// the credentials were good, is refused once, not by every request thread
// at the same moment, however the threads came to bind (at start, after a
// lost connection, as the pool grows).
class CBindTurn {
 public:
  enum class Outcome {
    Go,        // this thread may bind
    TimedOut,  // another thread's bind outlasted `deadline`
    BackOff,   // a bind refused or a directory lost meanwhile: no bind
    GivenUp,   // `over` said the wait was over
  };
  CBindTurn() = default;
  ~CBindTurn();
  CBindTurn(const CBindTurn&) = delete;
  CBindTurn& operator=(const CBindTurn&) = delete;
  // Waits while another thread's bind is out alone, until the directory
  // accepts it or the turn is let go. With the turn, a back-off of `uri`
  // started meanwhile (its refusal is marked before its turn is let go)
  // ends the wait without a bind, unless this thread `probing` ends that
  // back-off; *refused then says which kind. `over`, when given, is asked
  // now and then while waiting whether the bind is still wanted.
  Outcome Take(std::chrono::steady_clock::time_point deadline, const CBindPasswordFile& credentials,
               const std::string& uri, bool probing, bool* refused, bool (*over)() = nullptr);
  // The bind was accepted: the credentials are good, and the binds that
  // waited for it go.
  void Accepted(const CBindPasswordFile& credentials);

 private:
  CBindTurnState* m_state = nullptr;  // of the URI taken for
  bool m_held = false;
};

// A new start of the filter: every verdict on the directories (back-offs,
// refused passwords, accepted credentials, learned answer times) is
// forgotten, and connections kept from before are not used again.
void ForgetDirectoryVerdicts();
// How many times the verdicts were forgotten: a look-up still running from
// before a new start must not judge for it.
uint64_t DirectoryVerdictsRound();

// The words of a failure that a back-off of `uri` repeats: a dead
// directory's, a refused certificate's (*certificate true) or refused
// credentials'.
const std::string& BackOffWords(const std::string& uri, bool refused, bool* certificate = nullptr);

// Ends the calling thread's probe on every way out, unless handed on.
class CProbe {
 public:
  CProbe(std::string uri, bool active) : m_uri(std::move(uri)), m_active(active) {}
  ~CProbe() {
    if (m_active) EndProbe(m_uri);
  }
  CProbe(const CProbe&) = delete;
  CProbe& operator=(const CProbe&) = delete;
  // Whether this thread probes; from now on the caller ends the probe.
  bool HandOn() {
    const bool active = m_active;
    m_active = false;
    return active;
  }

 private:
  std::string m_uri;
  bool m_active;
};
