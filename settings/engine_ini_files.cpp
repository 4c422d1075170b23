// The conversion options of the INI file named by setting 1, added to the
// option array of engine 0 of every settings set of a store being loaded. The
// store is not yet published, so a load that fails leaves the live arrays as
// they were.
#include <string>

#include "settings/load_init_ini.h"
#include "settings/pl_settings.h"
#include "settings/setting_ids.h"

using namespace ConversionOptionTables;

namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// Where the settings folder begins: the first separator followed by a
// folder named "Settings" in any case (the whole name: "SettingsBackup" is
// another folder); npos when there is none.
size_t FindSettingsFolder(const std::string& directory) {
  static const char kName[] = "SETTINGS";
  const size_t length = sizeof(kName) - 1;
  for (size_t i = 0; i + length < directory.size(); ++i) {
    if (!IsSeparator(directory[i])) continue;
    size_t k = 0;
    while (k < length && Upper(directory[i + 1 + k]) == kName[k]) ++k;
    const size_t end = i + 1 + length;
    if (k == length && (end == directory.size() || IsSeparator(directory[end]))) return i;
  }
  return std::string::npos;
}

// A full path is a name with a drive or, on this system, one starting with
// "/"; it is the path itself. Any other name is a file in the "Engine/ini"
// folder beside the settings folder, a leading backslash dropped. False when
// the settings directory has no settings folder.
bool ConversionIniPath(const std::string& value, const std::string& settingsDirectory, std::string* path) {
  const bool drive = value.find(":\\") != std::string::npos || value.find(":/") != std::string::npos;
  if (drive || value[0] == '/') {
    *path = value;
    return true;
  }
  const size_t folder = FindSettingsFolder(settingsDirectory);
  if (folder == std::string::npos) return false;
  const std::string name = IsSeparator(value[0]) ? value.substr(1) : value;
  *path = settingsDirectory.substr(0, folder) + "/Engine/ini/" + name;
  return true;
}

// The set's engine-0 option array; a set without engine 0 gets an engine-0
// record with an array of its own, empty before the load.
COptionArrayHolder EngineZeroArray(CPLSettings::CriteriaRecord& set) {
  CCountedPtr<CPLSettings::EngineRecord>& engine = set.m_engines[kGeneralEngineID];
  if (!engine) {
    engine = CCountedPtr<CPLSettings::EngineRecord>(new CPLSettings::EngineRecord);
    engine->m_nEngineID = kGeneralEngineID;
  }
  if (!engine->m_spOptionArray || engine->m_spOptionArray->m_pArray == nullptr) {
    SAFEARRAYBOUND bounds[2] = {{0, 0}, {2, 0}};
    SAFEARRAY* empty = SafeArrayCreate(VT_VARIANT, 2, bounds);
    if (empty == nullptr) _com_issue_error(E_OUTOFMEMORY);
    if (!engine->m_spOptionArray) engine->m_spOptionArray = COptionArrayHolder(new CPLSettings::COptionArray);
    engine->m_spOptionArray->Replace(empty);
  }
  return engine->m_spOptionArray;
}

}  // namespace

bool CPLSettings::LoadEngineIniFiles(CSettingsStore& store, ReadContext& context) {
  CLoadInitINI loader;
  std::string value;
  if (!GetStringValue(store, SettingConversionIniFile, value, kDefaultSettingsID, kGeneralEngineID)) value.clear();
  if (value.empty()) {
    // A rendering option must not take download control down: without a
    // file the options take the defaults a file without those keys gives.
    context.mistakes.Add("The settings file %s gives no conversion options file (setting 1 is missing or empty); "
                         "every conversion option takes its default, as from an INI file without it.",
                         context.path.c_str());
    loader.UseDefaultsOnly();
  } else {
    std::string path;
    if (!ConversionIniPath(value, store.m_strSettingsDirectory, &path)) return false;
    loader.SetPath(path.c_str());
  }

  // Every set is loaded; the load fails when any set's load did.
  bool result = true;
  for (auto& [settingsID, set] : store.m_settingsSets) {
    if (!set) continue;
    COptionArrayHolder holder = EngineZeroArray(*set);
    int32_t profile = kDefaultConversionEngineOption;
    GetEngineIntValue(store, kConversionEngineOption, profile, kConversionEngineID, settingsID);
    CConversionOptionList extra(1);
    extra[0].id = kEngineProfileOptionID;
    extra[0].value = _variant_t(static_cast<LONG>(profile));
    if (loader.Load(holder, extra) != 0) result = false;
  }
  loader.ReportMistakes();
  return result;
}
