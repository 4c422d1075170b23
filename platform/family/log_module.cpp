// The product family's log module. It hands out the lock under which the
// debug-log sinks of every module of the product write: one lock per product
// name, or the common one. The locks live in named shared memory, so the
// worker processes that share one log ring or file also share its lock. A
// holder that dies while holding it does not block the others: the next one
// takes the lock over.
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/process_shared_lock.h"

#define QL_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

struct LockTable {
  std::mutex lock;
  std::map<std::string, std::unique_ptr<CProcessSharedLock>> byName;
};

LockTable& Table() {
  static LockTable table;
  return table;
}

CSync* LockFor(const std::string& name) {
  LockTable& t = Table();
  std::lock_guard<std::mutex> guard(t.lock);
  auto it = t.byName.find(name);
  if (it == t.byName.end()) {
    auto made = std::make_unique<CProcessSharedLock>(LogModuleLockSection(name).c_str());
    if (!made->IsValid()) return nullptr;
    it = t.byName.emplace(name, std::move(made)).first;
  }
  return it->second.get();
}

}  // namespace

// The option (a setting of the calling module) is accepted for every value;
// all callers of one name share one lock.
QL_EXPORT int GetProductCS(const char* name, CSync** lock, int /*option*/) {
  if (name == nullptr || *name == '\0' || lock == nullptr) return 0;
  CSync* l = LockFor(std::string("Product.") + name);
  if (l == nullptr) return 0;
  *lock = l;
  return 1;
}

QL_EXPORT int GetGeneralCS(CSync** lock, int /*option*/) {
  if (lock == nullptr) return 0;
  CSync* l = LockFor("General");
  if (l == nullptr) return 0;
  *lock = l;
  return 1;
}
