// Every test of every test program has a bound on its running time. A test
// still running at its bound (a wait on another process or thread that never
// ends) is reported by name and its test program ends with a failure, so CI
// shows the fault within seconds instead of at the program's time-out.
#pragma once

#include <chrono>

namespace testbound {

// The bound of a test that sets none.
constexpr std::chrono::seconds kDefaultBound{60};

// Sets the running test's bound, counted from the test's start. Sanitizer
// builds multiply every bound by four.
void SetCurrentTestBound(std::chrono::seconds bound);

}  // namespace testbound
