// What setting reads see: the two settings files' data as of the last load,
// copied into one immutable snapshot when a load has swapped it in. Readers
// take no lock: each thread keeps the snapshot it last used and compares a
// generation number, which only a publication changes; a thread whose
// snapshot is out of date fetches the new one under the publication lock.
// A snapshot stays alive while any thread still holds it.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>

#include "settings/link_criteria.h"
#include "settings/pl_settings.h"

struct CSettingsSnapshot {
  CPLSettings::CSettingsStore store;
  CLinkCriteria::LinkMap links;
};

class CSettingsSnapshots {
 public:
  CSettingsSnapshots();
  ~CSettingsSnapshots();
  CSettingsSnapshots(const CSettingsSnapshots&) = delete;
  CSettingsSnapshots& operator=(const CSettingsSnapshots&) = delete;

  // Makes a copy of what the two objects hold the current snapshot. The
  // caller holds the lock the objects swap their data under, so that the
  // copy is of one consistent state.
  void Publish(const CPLSettings& settings, const CLinkCriteria& links);

  // The current snapshot for the calling thread. The reference is valid
  // until the same thread asks any holder for its snapshot again.
  const CSettingsSnapshot& Current() const;

 private:
  // Unique for the process's life, so that a thread's kept snapshot is never
  // taken for one of a later holder at the same address.
  const uint64_t m_nId;
  std::atomic<uint64_t> m_nGeneration{0};
  mutable std::mutex m_publishMutex;
  std::shared_ptr<const CSettingsSnapshot> m_pSnapshot;
};
