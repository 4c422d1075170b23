#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "platform/directory_back_off.h"
#include "platform/directory_health.h"
#include "platform/directory_uri_text.h"

// One rule tells a slow directory from a dead or refusing one.
TEST(DirectoryHealth, SlowDeadOrRefusing) {
  using T = DirectoryTrouble;
  using V = DirectoryVerdict;
  using std::chrono::milliseconds;
  struct Row {
    T trouble;
    DirectorySeen seen;
    V verdict;
  };
  const milliseconds whole = kWholeLimitSilence;
  const Row rows[] = {
      {T::NoAnswer, {true, true, false, milliseconds(0)}, V::Dead},
      {T::CredentialsRefused, {true, true, false, milliseconds(0)}, V::Refusing},
      {T::Other, {true, false, false, whole}, V::Answering},
      // Timed out after the directory answered: slow, however many in a
      // row, while no search had the whole limit (a step to slow replies).
      {T::TimedOut, {true, false, false, whole - milliseconds(1)}, V::Slow},
      // Others' searches are answered: slow, even for a silent connection.
      {T::TimedOut, {true, true, false, whole}, V::Slow},
      {T::TimedOut, {false, true, false, milliseconds(0)}, V::Slow},
      // Nothing answered at all, or a search given the whole limit: dead.
      {T::TimedOut, {false, false, false, milliseconds(0)}, V::Dead},
      {T::TimedOut, {true, false, false, whole}, V::Dead},
      // A probe must have its search answered.
      {T::TimedOut, {true, true, true, milliseconds(0)}, V::Dead},
  };
  for (size_t i = 0; i < std::size(rows); ++i) {
    EXPECT_EQ(JudgeDirectory(rows[i].trouble, rows[i].seen), rows[i].verdict) << "row " << i;
  }
}

// A bind goes out alone; those that waited while it was out go together
// once it is accepted, but not one that asks after that: the password may
// have changed since. A wait that is no longer wanted ends at once, and a
// directory's bind holds no other directory's.
TEST(DirectoryBindTurn, WaitersGoOnceTheLoneBindIsAccepted) {
  using Clock = std::chrono::steady_clock;
  const CBindPasswordFile credentials{"/turn-test", {}, 1};
  const std::string uri = "ldap://turn-test/";
  auto take = [&](CBindTurn& turn, std::chrono::milliseconds within, bool (*over)() = nullptr) {
    bool refused = false;
    return turn.Take(Clock::now() + within, credentials, uri, false, &refused, over);
  };
  CBindTurn lone;
  ASSERT_EQ(take(lone, std::chrono::seconds(1)), CBindTurn::Outcome::Go);
  std::atomic<int> waiting{0};
  CBindTurn::Outcome waited = CBindTurn::Outcome::TimedOut;
  std::thread waiter([&] {
    CBindTurn turn;
    ++waiting;
    waited = take(turn, std::chrono::seconds(5));
  });
  while (waiting.load() == 0) std::this_thread::yield();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  lone.Accepted(credentials);
  waiter.join();
  EXPECT_EQ(waited, CBindTurn::Outcome::Go);
  // The lone bind still holds the turn: a later one waits for its own.
  CBindTurn later;
  EXPECT_EQ(take(later, std::chrono::milliseconds(100)), CBindTurn::Outcome::TimedOut);
  // Another directory's binds are not held.
  CBindTurn elsewhere;
  bool refused = false;
  EXPECT_EQ(elsewhere.Take(Clock::now() + std::chrono::milliseconds(100), credentials, "ldap://turn-test-2/", false,
                           &refused),
            CBindTurn::Outcome::Go);
  const auto start = Clock::now();
  CBindTurn unwanted;
  EXPECT_EQ(take(unwanted, std::chrono::seconds(5), [] { return true; }), CBindTurn::Outcome::GivenUp);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
}

// Whatever text names a URI, its user part and password are left out;
// where the server part cannot be told, more goes rather than a password.
TEST(DirectoryUriText, UserPartLeftOut) {
  const std::pair<const char*, const char*> rows[] = {
      {"bind ldap://admin:PW@host:389/: Invalid credentials", "bind ldap://host:389/: Invalid credentials"},
      {"ldap_initialize ldap://a:p@ss@host/", "ldap_initialize ldap://host/"},
      {"ldap://u:p/w?x@host/ ldaps://v:q w@other/", "ldap://host/ ldaps://other/"},
      {"ldap://host/ ldap://host2/", "ldap://host/ ldap://host2/"},
      {"ldapi://%2fvar%2frun%2fslapd.sock", "ldapi://%2fvar%2frun%2fslapd.sock"},
      {"libldap's default ldap://x:y@h", "libldap's default ldap://h"},
      // Read as a URI reader reads it, escapes decoded: what is not a host
      // and port may be a user part whose "@" was escaped.
      {"bind ldap://admin:PW%40host/: x", "bind ldap://[not shown: not a host and port]/: x"},
      {"ldap://admin:PW/ ldap://[::1]:389/ ldap://h:389: x",
       "ldap://[not shown: not a host and port]/ ldap://[::1]:389/ ldap://h:389: x"},
      {"ldap://h/??x-bindpw=PW x", "ldap://h/?... x"},
      {"ldap://[PW]/ ldap://a;PW/ ldap:///", "ldap://[not shown: not a host and port]/ "
                                              "ldap://[not shown: not a host and port]/ ldap:///"},
      // Cleaned once, the same again.
      {"ldap://[not shown: not a host and port]/", "ldap://[not shown: not a host and port]/"},
      // A password holding "@" and a blank or a comma; a URI run into the next.
      {"ldap://admin:a@b c@dc1", "ldap://dc1"},
      {"ldap://admin:x@y,z@dc1", "ldap://dc1"},
      {"ldaps://a:b@h1:636ldap://c:secret@h2", "ldaps://[not shown: not a host and port]://h2"},
  };
  for (const auto& [in, out] : rows) EXPECT_EQ(UriWithoutUserPart(in), out) << in;
  const std::pair<const char*, const char*> configured[] = {
      {"ldap:/admin:PW%40host/", "[not shown: not a host and port]"},
      {"ldap://admin:PW%40host/", "ldap://[not shown: not a host and port]/"},
      // A password with a blank or a comma: its rest is a piece of its own.
      {"ldap://h/ ldap://admin:PW1 PW2,PW3%40host/",
       "ldap://h/ ldap://[not shown: not a host and port] [not shown: not a host and port],"
       "[not shown: not a host and port]"},
      {"ldap://admin:a@b c@dc1", "ldap://dc1"},
      {"ldap://admin:x@y,z@dc1", "ldap://dc1"},
      {"ldaps://a:b@h1:636ldap://c:secret@h2", "ldaps://h2"},
  };
  for (const auto& [in, out] : configured) EXPECT_EQ(ConfiguredUriWithoutUserPart(in), out) << in;
}
