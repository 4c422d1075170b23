// Directories in their back-off, by URI, and the probe that ends it.
#include "platform/directory_back_off.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/adsi.h"
#include "platform/coarse_clock.h"
#include "platform/directory_connections.h"
#include "platform/thread_local_instance.h"

// The turn of a directory's binds. Under g_bindTurnLock.
struct CBindTurnState {
  bool taken = false;  // a bind is out alone
  // The credentials last accepted, while no bind has been refused since.
  bool accepted = false;
  CBindPasswordFile credentials;
  // How many binds that went alone the directory accepted.
  uint64_t acceptedAlone = 0;
};

namespace {

// How often a refused bind's password file is looked at: a corrected file
// is used within this, and a stat a second costs nothing.
constexpr std::chrono::seconds kStampCheckEvery{1};

// A directory in its back-off: connections to it fail at once until
// `until`; then one thread probes it (`probing`).
struct Unreachable {
  CoarseSteadyClock::time_point until;
  bool probing = false;
  bool refused = false;
  // When a dead directory was lost: its interval grows with the outage.
  CoarseSteadyClock::time_point lostSince;
  CBindPasswordFile bind;
  CoarseSteadyClock::time_point nextStampCheck;
  // The password file's stamp at the last check.
  CFileStamp seenStamp;
  // What was wrong with a refused certificate, with when it is tried
  // again; empty for any other back-off.
  std::string certificate;
};

// The passwords each directory refused, by digest, and when: each is not
// sent again within the refused interval, also after another password was
// accepted in between. A few: a file seldom takes many turns.
using RefusedPasswords = std::vector<std::pair<size_t, CoarseSteadyClock::time_point>>;
constexpr size_t kRefusedPasswordsKept = 8;

std::mutex g_backOffLock;
// Never destroyed: a request may look a directory up while the process exits.
std::map<std::string, Unreachable>& g_unreachableUntil = *new std::map<std::string, Unreachable>;
// How many directories the map holds, readable without the lock: while it
// is 0 no connection can be in its back-off.
std::atomic<size_t> g_unreachableCount{0};
// Counts the changes of the map, so that a thread can tell without the lock
// that an entry it found is still there as it was.
std::atomic<uint64_t> g_unreachableChanges{0};
// By URI, under g_backOffLock; never destroyed, as the map above.
std::map<std::string, RefusedPasswords>& g_refusedPasswords = *new std::map<std::string, RefusedPasswords>;
std::atomic<int64_t> g_retryIntervalMs{kADsRetryIntervalSeconds * int64_t{1000}};
std::atomic<int64_t> g_refusedIntervalMs{kADsRefusedRetrySeconds * int64_t{1000}};
std::atomic<void (*)()> g_answersAgain{nullptr};

// The bind turns, by directory URI (a silent directory holds no other's
// binds); entries stay, as a turn may be held. Never destroyed, as the
// maps above.
std::mutex g_bindTurnLock;
std::condition_variable& g_bindTurnFree = *new std::condition_variable;
std::map<std::string, CBindTurnState>& g_bindTurns = *new std::map<std::string, CBindTurnState>;

// Called under the lock after each change of the map.
void NoteBackOffChange() {
  g_unreachableCount.store(g_unreachableUntil.size(), std::memory_order_relaxed);
  g_unreachableChanges.fetch_add(1, std::memory_order_release);
}

// Of an outage, the share a directory back again may go unused: the
// interval doubles as the outage does.
constexpr int kOutageShare = 8;

// The back-off of a dead directory lost for `outage` so far.
std::chrono::milliseconds DeadInterval(CoarseSteadyClock::duration outage) {
  const auto grown = std::chrono::duration_cast<std::chrono::milliseconds>(outage) / kOutageShare;
  return std::min(std::max(grown, std::chrono::milliseconds(kADsFirstRetryMs)), RetryInterval());
}

// Whether a refused bind's password file changed since; looked at once per
// kStampCheckEvery. A change counts once two looks found the file alike: a
// file still being written in place must not be read half written, its
// first bytes sent as a password and refused. Called under the lock.
bool PasswordFileChanged(Unreachable& entry, CoarseSteadyClock::time_point now) {
  if (!entry.refused || entry.bind.passwordFile.empty() || now < entry.nextStampCheck) return false;
  entry.nextStampCheck = now + kStampCheckEvery;
  const CFileStamp stamp = StampOfFile(entry.bind.passwordFile.c_str());
  const bool settled = stamp == entry.seenStamp;
  entry.seenStamp = stamp;
  return settled && !(stamp == entry.bind.stamp);
}

// The back-off this thread found last. While the directory is lost every
// request thread asks for it: they need not all queue for the lock.
struct KnownBackOff {
  bool set = false;
  bool refused = false;
  std::string uri;
  std::string certificate;
  CoarseSteadyClock::time_point until;
  uint64_t changes = 0;
};

KnownBackOff& ThreadBackOff() { return ThreadLocalInstance<KnownBackOff>(); }

}  // namespace

bool InBackOff(const std::string& uri, bool* prober, bool* refused) {
  if (prober != nullptr) *prober = false;
  KnownBackOff& known = ThreadBackOff();
  if (known.set && known.changes == g_unreachableChanges.load(std::memory_order_acquire) &&
      CoarseSteadyClock::now() < known.until && known.uri == uri) {
    if (refused != nullptr) *refused = known.refused;
    return true;
  }
  std::lock_guard<std::mutex> hold(g_backOffLock);
  auto it = g_unreachableUntil.find(uri);
  if (it == g_unreachableUntil.end()) return false;
  Unreachable& entry = it->second;
  const auto now = CoarseSteadyClock::now();
  const bool waiting = entry.probing || (now < entry.until && !PasswordFileChanged(entry, now));
  if (waiting) {
    known.set = true;
    known.refused = entry.refused;
    known.uri = uri;
    known.certificate = entry.certificate;
    // A probe ends with a change of the map, which this thread then sees;
    // refused credentials are looked at again when their file may have
    // changed.
    known.until = entry.probing   ? CoarseSteadyClock::time_point::max()
                  : entry.refused ? std::min(entry.until, entry.nextStampCheck)
                                  : entry.until;
    known.changes = g_unreachableChanges.load(std::memory_order_relaxed);
    if (refused != nullptr) *refused = entry.refused;
    return true;
  }
  if (prober == nullptr) {
    // Without a prober a changed password file is seen again by the next
    // thread that can probe.
    if (entry.refused && now < entry.until) entry.nextStampCheck = now;
    return false;
  }
  entry.probing = true;
  NoteBackOffChange();
  *prober = true;
  return false;
}

bool AnyBackOff() { return g_unreachableCount.load(std::memory_order_relaxed) != 0; }

namespace {

void StartBackOff(const std::string& uri, const CBindPasswordFile* refused, const std::string& certificate) {
  const auto now = CoarseSteadyClock::now();
  {
    std::lock_guard<std::mutex> hold(g_backOffLock);
    auto [it, added] = g_unreachableUntil.try_emplace(uri);
    Unreachable& entry = it->second;
    entry.certificate = certificate;
    // An outage goes on until a probe answers (which ends the entry).
    if (added || entry.refused) entry.lostSince = now;
    entry.probing = false;
    entry.refused = refused != nullptr;
    entry.bind = refused != nullptr ? *refused : CBindPasswordFile{};
    entry.seenStamp = entry.bind.stamp;
    entry.nextStampCheck = now + kStampCheckEvery;
    entry.until = now + (refused != nullptr ? RefusedRetryInterval() : DeadInterval(now - entry.lostSince));
    if (refused != nullptr && !refused->passwordFile.empty()) {
      auto& kept = g_refusedPasswords[uri];
      std::erase_if(kept, [&](const auto& r) {
        return r.first == refused->passwordDigest || now >= r.second + RefusedRetryInterval();
      });
      if (kept.size() >= kRefusedPasswordsKept) kept.erase(kept.begin());
      kept.emplace_back(refused->passwordDigest, now);
    }
    NoteBackOffChange();
  }
  if (refused == nullptr) {
    NewGeneration();
  } else {
    std::lock_guard<std::mutex> hold(g_bindTurnLock);
    g_bindTurns[uri].accepted = false;
  }
}

}  // namespace

void MarkUnreachable(const std::string& uri, const CBindPasswordFile* refused) { StartBackOff(uri, refused, ""); }

std::string MarkCertificateRefused(const std::string& uri, const std::string& why) {
  std::string words = why + "; tried again " + std::to_string(kADsFirstRetryMs / 1000) +
                      " s after it was refused, then less often as it lasts, at most " +
                      std::to_string(kADsRetryIntervalSeconds) + " s apart";
  StartBackOff(uri, nullptr, words);
  return words;
}

bool RefusedAlready(const std::string& uri, const CBindPasswordFile& bind, bool probing) {
  if (bind.passwordFile.empty()) return false;
  std::lock_guard<std::mutex> hold(g_backOffLock);
  auto known = g_refusedPasswords.find(uri);
  if (known == g_refusedPasswords.end()) return false;
  const auto now = CoarseSteadyClock::now();
  const RefusedPasswords& refused = known->second;
  const bool refusedLately = std::any_of(refused.begin(), refused.end(), [&](const auto& r) {
    return r.first == bind.passwordDigest && now < r.second + RefusedRetryInterval();
  });
  if (!refusedLately) return false;
  auto it = g_unreachableUntil.find(uri);
  if (it == g_unreachableUntil.end() || !it->second.refused) return true;
  Unreachable& entry = it->second;
  // The file as it is now holds a refused password: its next change is
  // looked for, the interval kept.
  entry.bind = bind;
  // Only the prober's own probe ends: another thread may hold it.
  if (probing) entry.probing = false;
  entry.nextStampCheck = now + kStampCheckEvery;
  NoteBackOffChange();
  return true;
}

uint64_t EndProbe(const std::string& uri) {
  bool refused = false;
  {
    std::lock_guard<std::mutex> hold(g_backOffLock);
    auto it = g_unreachableUntil.find(uri);
    if (it == g_unreachableUntil.end() || !it->second.probing) return 0;
    refused = it->second.refused;
    g_unreachableUntil.erase(it);
    NoteBackOffChange();
  }
  void (*answersAgain)() = g_answersAgain.load(std::memory_order_acquire);
  if (answersAgain != nullptr) answersAgain();
  // Connections kept through refused credentials were bound before and
  // answer still; those kept through an outage may be dead.
  return refused ? CurrentGeneration() : NewGeneration();
}

std::chrono::milliseconds RetryInterval() {
  return std::chrono::milliseconds(g_retryIntervalMs.load(std::memory_order_relaxed));
}

void SetRetryInterval(std::chrono::milliseconds interval) {
  g_retryIntervalMs.store(interval.count(), std::memory_order_relaxed);
}

std::chrono::milliseconds RefusedRetryInterval() {
  return std::chrono::milliseconds(g_refusedIntervalMs.load(std::memory_order_relaxed));
}

void SetRefusedRetryInterval(std::chrono::milliseconds interval) {
  g_refusedIntervalMs.store(interval.count(), std::memory_order_relaxed);
}

void SetDirectoryAnswersAgainCallback(void (*callback)()) {
  g_answersAgain.store(callback, std::memory_order_release);
}

CBindTurn::~CBindTurn() {
  if (!m_held) return;
  {
    std::lock_guard<std::mutex> hold(g_bindTurnLock);
    m_state->taken = false;
  }
  g_bindTurnFree.notify_all();
}

CBindTurn::Outcome CBindTurn::Take(std::chrono::steady_clock::time_point deadline,
                                   const CBindPasswordFile& credentials, const std::string& uri, bool probing,
                                   bool* refused, bool (*over)()) {
  // How often `over` is asked.
  constexpr std::chrono::milliseconds kLookEvery{20};
  {
    std::unique_lock<std::mutex> hold(g_bindTurnLock);
    CBindTurnState& turn = g_bindTurns[uri];
    m_state = &turn;
    // The directory accepted these credentials after this thread asked:
    // a bind sent with them now is as good as that one.
    const uint64_t asked = turn.acceptedAlone;
    auto confirmed = [&] { return turn.acceptedAlone != asked && turn.accepted && turn.credentials == credentials; };
    while (turn.taken && !confirmed()) {
      const auto now = std::chrono::steady_clock::now();
      if (now >= deadline) return Outcome::TimedOut;
      g_bindTurnFree.wait_until(hold, over != nullptr ? std::min(deadline, now + kLookEvery) : deadline);
      if (!turn.taken || confirmed() || over == nullptr) continue;
      hold.unlock();
      const bool gone = over();
      hold.lock();
      if (gone) return Outcome::GivenUp;
    }
    if (confirmed()) return Outcome::Go;
    turn.taken = true;
    m_held = true;
  }
  // The thread that had the turn before marked its refusal (or the lost
  // directory) before letting the turn go; so may one that took no turn.
  return !probing && InBackOff(uri, nullptr, refused) ? Outcome::BackOff : Outcome::Go;
}

void CBindTurn::Accepted(const CBindPasswordFile& credentials) {
  {
    std::lock_guard<std::mutex> hold(g_bindTurnLock);
    if (m_state == nullptr) return;
    m_state->accepted = true;
    m_state->credentials = credentials;
    if (!m_held) return;
    ++m_state->acceptedAlone;
  }
  g_bindTurnFree.notify_all();
}

namespace {
std::atomic<uint64_t> g_verdictsRound{0};
}  // namespace

uint64_t DirectoryVerdictsRound() { return g_verdictsRound.load(std::memory_order_acquire); }

void ForgetDirectoryVerdicts() {
  g_verdictsRound.fetch_add(1, std::memory_order_acq_rel);
  {
    std::lock_guard<std::mutex> hold(g_backOffLock);
    g_unreachableUntil.clear();
    g_refusedPasswords.clear();
    NoteBackOffChange();
  }
  {
    std::lock_guard<std::mutex> hold(g_bindTurnLock);
    for (auto& [uri, turn] : g_bindTurns) turn.accepted = false;
  }
  ForgetAnswerTimes();
  NewGeneration();
}

const std::string& BackOffWords(const std::string& uri, bool refused, bool* certificate) {
  // The thread's back-off is the one it just found (InBackOff).
  const KnownBackOff& known = ThreadBackOff();
  const bool byCertificate = !refused && known.set && known.uri == uri && !known.certificate.empty();
  if (certificate != nullptr) *certificate = byCertificate;
  if (byCertificate) return known.certificate;
  // Never destroyed: a request may fail this way while the process exits.
  static const std::string& kUnreachable = *new std::string(
      "directory unreachable; tried again " + std::to_string(kADsFirstRetryMs / 1000) +
      " s after it was lost, then less often as the outage lasts, at most " +
      std::to_string(kADsRetryIntervalSeconds) + " s apart");
  static const std::string& kRefused =
      *new std::string("credentials refused by the directory; retried after " +
                       std::to_string(kADsRefusedRetrySeconds) +
                       " s or once the password file holds another password");
  return refused ? kRefused : kUnreachable;
}
