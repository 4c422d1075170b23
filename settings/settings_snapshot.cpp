#include "settings/settings_snapshot.h"

#include <utility>

#include "platform/thread_local_instance.h"

namespace {

std::atomic<uint64_t> g_nNextId{1};

// The snapshot a thread last used, of which holder and generation.
struct CKeptSnapshot {
  uint64_t nHolderId = 0;
  uint64_t nGeneration = 0;
  std::shared_ptr<const CSettingsSnapshot> pSnapshot;
};

// Every request reads settings several times.
CKeptSnapshot& Kept() { return ThreadLocalInstance<CKeptSnapshot>(); }

}  // namespace

CSettingsSnapshots::CSettingsSnapshots()
    : m_nId(g_nNextId.fetch_add(1, std::memory_order_relaxed)),
      m_pSnapshot(std::make_shared<const CSettingsSnapshot>()) {}

CSettingsSnapshots::~CSettingsSnapshots() = default;

void CSettingsSnapshots::Publish(const CPLSettings& settings, const CLinkCriteria& links) {
  auto next = std::make_shared<const CSettingsSnapshot>(CSettingsSnapshot{settings.Store(), links.GetLinkMap()});
  std::shared_ptr<const CSettingsSnapshot> previous;
  {
    std::lock_guard<std::mutex> guard(m_publishMutex);
    previous = std::exchange(m_pSnapshot, std::move(next));
    m_nGeneration.fetch_add(1, std::memory_order_release);
  }
  // The snapshot replaced goes here (or with the last thread that kept it).
}

const CSettingsSnapshot& CSettingsSnapshots::Current() const {
  const uint64_t nGeneration = m_nGeneration.load(std::memory_order_acquire);
  CKeptSnapshot& kept = Kept();
  if (kept.nHolderId != m_nId || kept.nGeneration != nGeneration || kept.pSnapshot == nullptr) {
    std::shared_ptr<const CSettingsSnapshot> current;
    uint64_t nCurrentGeneration;
    {
      std::lock_guard<std::mutex> guard(m_publishMutex);
      current = m_pSnapshot;
      nCurrentGeneration = m_nGeneration.load(std::memory_order_relaxed);
    }
    kept.pSnapshot = std::move(current);
    kept.nHolderId = m_nId;
    kept.nGeneration = nCurrentGeneration;
  }
  return *kept.pSnapshot;
}
