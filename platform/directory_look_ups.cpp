// Look-ups in flight, counted in two alternating rounds: a wait closes the
// current round and waits for it to empty, while the look-ups that begin
// meanwhile count in the next.
#include "platform/directory_look_ups.h"

#include <atomic>
#include <thread>

namespace {

std::atomic<unsigned> g_round{0};
std::atomic<int> g_inFlight[2] = {0, 0};
constexpr std::chrono::milliseconds kLookAgain{5};

}  // namespace

CDirectoryLookUpInFlight::CDirectoryLookUpInFlight() : m_round(static_cast<int>(g_round.load() & 1u)) {
  g_inFlight[m_round].fetch_add(1);
}

CDirectoryLookUpInFlight::~CDirectoryLookUpInFlight() { g_inFlight[m_round].fetch_sub(1); }

bool AwaitDirectoryLookUpsInFlight(std::chrono::milliseconds longest) {
  const int closed = static_cast<int>(g_round.fetch_add(1) & 1u);
  const auto end = std::chrono::steady_clock::now() + longest;
  while (g_inFlight[closed].load() != 0) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(kLookAgain);
  }
  return true;
}
