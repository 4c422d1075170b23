// The rule that tells a slow directory from a dead or refusing one, and
// what it counts across threads.
#include "platform/directory_health.h"

#include <atomic>

namespace {
std::atomic<uint64_t> g_searchesAnswered{0};
}  // namespace

DirectoryVerdict JudgeDirectory(DirectoryTrouble trouble, const DirectorySeen& seen) {
  switch (trouble) {
    case DirectoryTrouble::NoAnswer:
      return DirectoryVerdict::Dead;
    case DirectoryTrouble::CredentialsRefused:
      return DirectoryVerdict::Refusing;
    case DirectoryTrouble::Other:
      return DirectoryVerdict::Answering;
    case DirectoryTrouble::TimedOut:
      break;
  }
  if (seen.probing) return DirectoryVerdict::Dead;
  if (seen.searchAnsweredMeanwhile) return DirectoryVerdict::Slow;
  if (!seen.answeredThisLookUp || seen.searchSilence >= kWholeLimitSilence) return DirectoryVerdict::Dead;
  return DirectoryVerdict::Slow;
}

uint64_t DirectorySearchesAnswered() { return g_searchesAnswered.load(std::memory_order_acquire); }

void NoteDirectorySearchAnswered() { g_searchesAnswered.fetch_add(1, std::memory_order_acq_rel); }
