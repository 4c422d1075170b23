// The end of a step of a directory connection, or of a whole look-up. Every
// step of a connection's life (name resolution, TCP connect, TLS handshake,
// bind, each search) takes one, so that none outlives the look-up's limit;
// work no request waits on can also be cut short by a shutdown.
#pragma once

#include <sys/time.h>

#include <algorithm>
#include <atomic>
#include <chrono>

class CDeadline {
 public:
  using Clock = std::chrono::steady_clock;

  explicit CDeadline(Clock::time_point at, const std::atomic<bool>* cut = nullptr) : m_at(at), m_cut(cut) {}
  static CDeadline After(std::chrono::microseconds span, const std::atomic<bool>* cut = nullptr) {
    return CDeadline(Clock::now() + span, cut);
  }

  Clock::time_point At() const { return m_at; }
  const std::atomic<bool>* Cut() const { return m_cut; }
  bool IsCut() const { return m_cut != nullptr && m_cut->load(std::memory_order_acquire); }

  // What is left: nothing once passed or cut.
  std::chrono::microseconds Left() const {
    if (IsCut()) return std::chrono::microseconds(0);
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(m_at - Clock::now());
    return std::max(left, std::chrono::microseconds(0));
  }
  bool Over() const { return Left() < std::chrono::milliseconds(1); }
  timeval LeftTimeval() const {
    const auto left = Left();
    timeval t{};
    t.tv_sec = static_cast<time_t>(left.count() / 1000000);
    t.tv_usec = static_cast<suseconds_t>(left.count() % 1000000);
    return t;
  }
  // Whole milliseconds left, rounded up, for poll().
  int LeftMs() const { return static_cast<int>((Left().count() + 999) / 1000); }

  // This deadline, or `span` from now when that comes first.
  CDeadline AtMost(std::chrono::microseconds span) const {
    return CDeadline(std::min(m_at, Clock::now() + span), m_cut);
  }
  // One of `parts` equal shares of what is left, from now.
  CDeadline Share(int parts) const { return AtMost(Left() / std::max(parts, 1)); }

 private:
  Clock::time_point m_at;
  const std::atomic<bool>* m_cut;
};
