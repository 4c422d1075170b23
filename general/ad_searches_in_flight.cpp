// The searches of user properties running now, by user and property, and
// the threads waiting for their answers.
#include "general/ad_searches_in_flight.h"

ADSearchTurn CADSearchesInFlight::Share(const std::string& key, CADLookUpAnswer& answer,
                                        const std::function<void(CADLookUpAnswer&)>& search,
                                        std::chrono::milliseconds patience) {
  std::unique_lock<std::mutex> hold(m_lock);
  auto running = m_pending.find(key);
  if (running != m_pending.end()) {
    const std::shared_ptr<CPending> pending = running->second;
    if (!pending->answered.wait_for(hold, patience, [&] { return pending->done; })) return ADSearchTurn::GaveUp;
    answer = pending->answer;
    return ADSearchTurn::Shared;
  }
  const auto pending = std::make_shared<CPending>();
  m_pending.emplace(key, pending);
  hold.unlock();
  try {
    search(answer);
  } catch (...) {
    Publish(key, pending, CADLookUpAnswer{E_UNEXPECTED, ADLookUpOutcome::Failed, {}});
    throw;
  }
  Publish(key, pending, answer);
  return ADSearchTurn::Searched;
}

void CADSearchesInFlight::Publish(const std::string& key, const std::shared_ptr<CPending>& pending,
                                  const CADLookUpAnswer& answer) {
  std::lock_guard<std::mutex> hold(m_lock);
  pending->answer = answer;
  pending->done = true;
  m_pending.erase(key);
  pending->answered.notify_all();
}
