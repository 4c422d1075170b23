#include "general/ad_searches_in_flight.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

CADLookUpAnswer Answer(ADLookUpOutcome outcome, const char* value = "") {
  return CADLookUpAnswer{outcome == ADLookUpOutcome::Failed ? E_FAIL : S_OK, outcome, value};
}

// Runs one turn for `key` whose search, when it runs, answers `given`.
ADSearchTurn Turn(CADSearchesInFlight& flight, const char* key, uint64_t ticket, const CADLookUpAnswer& given,
                  int& searches, CADLookUpAnswer& got) {
  return flight.Share(
      key, ticket, got,
      [&](CADLookUpAnswer& a) {
        ++searches;
        a = given;
      },
      1s);
}

}  // namespace

// Many threads ask for one key while its search runs: one search, every
// thread its answer.
TEST(ADSearchesInFlightConcurrent, ThreadsShareOneSearch) {
  CADSearchesInFlight flight;
  std::atomic<int> searches{0};
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&] {
      CADLookUpAnswer got;
      const ADSearchTurn turn = flight.Share(
          "alice", flight.Ticket(), got,
          [&](CADLookUpAnswer& a) {
            ++searches;
            std::this_thread::sleep_for(200ms);  // the others come in meanwhile
            a = Answer(ADLookUpOutcome::Value, "fr-FR");
          },
          5s);
      if (turn == ADSearchTurn::GaveUp || got.value != "fr-FR") ++wrong;
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(searches.load(), 1);
  EXPECT_EQ(wrong.load(), 0);
}

// A request that missed the cache before an answer was handed on takes that
// answer, unless it was a failure, and only while it is fresh.
TEST(ADSearchesInFlight, LatecomersTakeFreshAnswersNeverFailures) {
  CADSearchesInFlight flight;
  int searches = 0;
  CADLookUpAnswer got;

  uint64_t ticket = flight.Ticket();
  EXPECT_EQ(Turn(flight, "k", ticket, Answer(ADLookUpOutcome::Failed), searches, got), ADSearchTurn::Searched);
  EXPECT_EQ(Turn(flight, "k", ticket, Answer(ADLookUpOutcome::Value, "v"), searches, got), ADSearchTurn::Searched);
  EXPECT_EQ(searches, 2);

  ticket = flight.Ticket();
  EXPECT_EQ(Turn(flight, "n", ticket, Answer(ADLookUpOutcome::Value, "v1"), searches, got), ADSearchTurn::Searched);
  EXPECT_EQ(Turn(flight, "n", ticket, Answer(ADLookUpOutcome::Value, "v2"), searches, got), ADSearchTurn::Shared);
  EXPECT_EQ(got.value, "v1");
  std::this_thread::sleep_for(CADSearchesInFlight::kAnswerKept + 100ms);
  EXPECT_EQ(Turn(flight, "n", ticket, Answer(ADLookUpOutcome::Value, "v3"), searches, got), ADSearchTurn::Searched);
  EXPECT_EQ(got.value, "v3");
  EXPECT_EQ(searches, 4);
}
