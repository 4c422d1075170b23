// One directory search per user and property at a time. When an answer
// lapses from the cache, every request of that user misses it at once; the
// first one searches and the others wait for its answer instead of sending
// the same search again. A request that missed the cache before an answer
// was handed on, and comes only after that, takes the answer too (unless it
// was a failure): it would otherwise search once more for the same.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/win_types.h"

// What a directory look-up of one user's property came to.
enum class ADLookUpOutcome {
  Value,    // the user's value
  NoValue,  // the user has none, or the short name names several users
  NoUser,   // the directory knows no such user
  Failed,   // the directory could not be asked or did not answer
};

struct CADLookUpAnswer {
  HRESULT hr = E_FAIL;
  ADLookUpOutcome outcome = ADLookUpOutcome::Failed;
  std::string value;
};

// How a thread came by its answer.
enum class ADSearchTurn {
  Searched,  // it ran the search itself
  Shared,    // another thread's search answered it
  GaveUp,    // another thread was searching and did not answer in time
};

class CADSearchesInFlight {
 public:
  // Taken before the request looks in the cache: tells the answers handed
  // on since, which the cache may not have held then.
  uint64_t Ticket() const { return m_handedOn.load(std::memory_order_acquire); }

  // Runs `search` for `key`, unless another thread runs it for that key
  // already, or handed its answer on after `ticket` was taken: then waits at
  // most `patience` for that answer. The answer is filled unless the result
  // is GaveUp. A search that throws hands its waiters a failure and throws
  // on. What `search` stores in the cache is there before its answer is
  // handed on.
  ADSearchTurn Share(const std::string& key, uint64_t ticket, CADLookUpAnswer& answer,
                     const std::function<void(CADLookUpAnswer&)>& search, std::chrono::milliseconds patience);

  // How long an answer is kept for requests that come late.
  static constexpr std::chrono::seconds kAnswerKept{1};

 private:
  using Clock = std::chrono::steady_clock;

  struct CPending {
    bool done = false;
    uint64_t handedOn = 0;
    Clock::time_point doneAt;
    CADLookUpAnswer answer;
    std::condition_variable answered;
  };

  void HandOn(const std::string& key, const std::shared_ptr<CPending>& pending, const CADLookUpAnswer& answer);
  // Forgets the answers kept longer than kAnswerKept. Under the lock.
  void DropStale(Clock::time_point now);

  std::atomic<uint64_t> m_handedOn{0};
  std::mutex m_lock;
  std::map<std::string, std::shared_ptr<CPending>> m_pending;
  // The answers kept, oldest first.
  std::deque<std::pair<Clock::time_point, std::string>> m_answered;
};
