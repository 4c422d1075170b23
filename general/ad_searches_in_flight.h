// One directory search per user and property at a time. When an answer
// lapses from the cache, every request of that user misses it at once; the
// first one searches and the others wait for its answer instead of sending
// the same search again.
#pragma once

#include <chrono>
#include <condition_variable>
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
  // Runs `search` for `key`, unless another thread runs it for that key
  // already: then waits at most `patience` for that thread's answer. The
  // answer is filled unless the result is GaveUp. A search that throws
  // hands its waiters a failure and throws on.
  ADSearchTurn Share(const std::string& key, CADLookUpAnswer& answer,
                     const std::function<void(CADLookUpAnswer&)>& search, std::chrono::milliseconds patience);

 private:
  struct CPending {
    bool done = false;
    CADLookUpAnswer answer;
    std::condition_variable answered;
  };

  void Publish(const std::string& key, const std::shared_ptr<CPending>& pending, const CADLookUpAnswer& answer);

  std::mutex m_lock;
  std::map<std::string, std::shared_ptr<CPending>> m_pending;
};
