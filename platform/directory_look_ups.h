// The directory look-ups of requests in flight, so that the filter's
// termination lets those already running end and report their failures
// before the event source closes, instead of losing them. Each look-up ends
// within its own time limit, so the wait is bounded.
#pragma once

#include <chrono>

// Counts one look-up (with the report of its failure) while it lives.
class CDirectoryLookUpInFlight {
 public:
  CDirectoryLookUpInFlight();
  ~CDirectoryLookUpInFlight();
  CDirectoryLookUpInFlight(const CDirectoryLookUpInFlight&) = delete;
  CDirectoryLookUpInFlight& operator=(const CDirectoryLookUpInFlight&) = delete;

 private:
  int m_round;
};

// Waits until every look-up that began before this call has ended, at most
// `longest`; false when some were still running. Look-ups that begin
// meanwhile are not waited for.
bool AwaitDirectoryLookUpsInFlight(std::chrono::milliseconds longest);
