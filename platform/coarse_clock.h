// A monotonic clock read at the timer tick's resolution, a few milliseconds.
// It serves lifetimes counted in seconds and minutes that are checked on
// every request: the coarse clock is read without asking the clock source.
#pragma once

#include <chrono>
#include <ctime>

struct CoarseSteadyClock {
  using duration = std::chrono::nanoseconds;
  using rep = duration::rep;
  using period = duration::period;
  using time_point = std::chrono::time_point<CoarseSteadyClock>;
  static constexpr bool is_steady = true;

  static time_point now() noexcept {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC_COARSE, &ts);
    return time_point(std::chrono::seconds(ts.tv_sec) + std::chrono::nanoseconds(ts.tv_nsec));
  }
};
