#include "settings/decision_changes.h"

#include "settings/setting_ids.h"

namespace {

// The client address source (85) belongs with the ranges: at 1 the address
// a client names in X-Forwarded-For is the one the ranges are matched with.
constexpr int32_t kDecidingSettings[] = {SettingDirectFileAccessBlockLevel, SettingAttachmentButtonsBlockLevel,
                                         SettingDirectAccessIPRanges,       SettingClientIPSource,
                                         SettingBypassSidList,              SettingBypassSidListMore};

void AddItems(const CPLSettings::ItemMap& items, const std::string& where, DecisionDigest& digest) {
  for (const int32_t id : kDecidingSettings) {
    const auto item = items.find(id);
    if (item == items.end()) continue;
    std::string text;
    if (!CBasicSettings::VariantToString(&text, item->second.value)) text = "(no value)";
    digest["setting " + std::to_string(id) + " of " + where] = text;
  }
}

}  // namespace

DecisionDigest DigestOfDecisions(const CSettingsSnapshot& snapshot, int32_t hxID) {
  DecisionDigest digest;
  AddItems(snapshot.store.m_generalDefaults, "<GENERALSETTINGS>", digest);
  for (const auto& [settingsID, set] : snapshot.store.m_settingsSets) {
    if (!set) continue;
    const std::string where = "<SETTING ID=\"" + std::to_string(settingsID) + "\">";
    AddItems(set->m_items, where, digest);
    for (const auto& [engineID, engine] : set->m_engines) {
      if (engine) AddItems(engine->m_measures, "<ENGINE ID=\"" + std::to_string(engineID) + "\"> of " + where, digest);
    }
  }
  const auto hx = snapshot.links.find(hxID);
  if (hx != snapshot.links.end() && hx->second) {
    for (const auto& [criteria, settingsID] : hx->second->m_criteria) {
      digest["the link of criteria " + std::to_string(criteria)] = "settings " + std::to_string(settingsID);
    }
  }
  return digest;
}

std::string DescribeDecisionChanges(const DecisionDigest& before, const DecisionDigest& after) {
  std::string changes;
  const auto add = [&](const std::string& what, const char* was, const char* now) {
    changes += (changes.empty() ? "" : ", ") + what + " (" + was + " -> " + now + ")";
  };
  for (const auto& [what, text] : before) {
    const auto now = after.find(what);
    if (now == after.end()) {
      add(what, ("\"" + text + "\"").c_str(), "none");
    } else if (now->second != text) {
      add(what, ("\"" + text + "\"").c_str(), ("\"" + now->second + "\"").c_str());
    }
  }
  for (const auto& [what, text] : after) {
    if (before.count(what) == 0) add(what, "none", ("\"" + text + "\"").c_str());
  }
  return changes;
}
