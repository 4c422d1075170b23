// The searches of user properties running now, by user and property, the
// answers just handed on, and the threads waiting for them.
#include "general/ad_searches_in_flight.h"

ADSearchTurn CADSearchesInFlight::Share(const std::string& key, uint64_t ticket, CADLookUpAnswer& answer,
                                        const std::function<void(CADLookUpAnswer&)>& search,
                                        std::chrono::milliseconds patience) {
  std::unique_lock<std::mutex> hold(m_lock);
  DropStale(Clock::now());
  auto found = m_pending.find(key);
  const bool shared = found != m_pending.end() && (!found->second->done || found->second->handedOn > ticket);
  if (shared) {
    const std::shared_ptr<CPending> pending = found->second;
    if (!pending->answered.wait_for(hold, patience, [&] { return pending->done; })) return ADSearchTurn::GaveUp;
    answer = pending->answer;
    return ADSearchTurn::Shared;
  }
  const auto pending = std::make_shared<CPending>();
  m_pending[key] = pending;
  hold.unlock();
  try {
    search(answer);
  } catch (...) {
    HandOn(key, pending, CADLookUpAnswer{E_UNEXPECTED, ADLookUpOutcome::Failed, {}});
    throw;
  }
  HandOn(key, pending, answer);
  return ADSearchTurn::Searched;
}

void CADSearchesInFlight::HandOn(const std::string& key, const std::shared_ptr<CPending>& pending,
                                 const CADLookUpAnswer& answer) {
  std::lock_guard<std::mutex> hold(m_lock);
  pending->answer = answer;
  pending->done = true;
  pending->handedOn = m_handedOn.fetch_add(1, std::memory_order_acq_rel) + 1;
  auto found = m_pending.find(key);
  if (answer.outcome == ADLookUpOutcome::Failed) {
    // A failure is not kept: the next request may find the directory again.
    if (found != m_pending.end() && found->second == pending) m_pending.erase(found);
  } else {
    pending->doneAt = Clock::now();
    m_answered.emplace_back(pending->doneAt, key);
  }
  pending->answered.notify_all();
}

void CADSearchesInFlight::DropStale(Clock::time_point now) {
  while (!m_answered.empty() && now - m_answered.front().first >= kAnswerKept) {
    auto found = m_pending.find(m_answered.front().second);
    // The key may have been searched again since.
    if (found != m_pending.end() && found->second->done && found->second->doneAt == m_answered.front().first) {
      m_pending.erase(found);
    }
    m_answered.pop_front();
  }
}
