// The module settings file "HXSettings.xml" in memory: general defaults,
// settings sets with their items, engines, summary rows, blocked extensions
// and direct-access ranges, the high-speed actions by extension, and the
// bypass list; with the lookups of a setting by setting, set and engine.
//
// A load reads the whole file into a new store and, only when every part of
// it was read, swaps it for the store in memory under the swap lock. The
// lookups take no lock of their own: the holder calls them under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "common/ci_string.h"
#include "common/counted_ptr.h"
#include "platform/request_identity.h"
#include "platform/security_sid.h"
#include "settings/basic_settings.h"
#include "settings/ip_range.h"

class CPLSettings : public CBasicSettings {
 public:
  using SettingItem = CBasicSettings::SettingItem;
  using ItemMap = std::map<int32_t, SettingItem>;

  // Owns an engine's option array: rows of (option id as VT_I4, value).
  struct COptionArray {
    SAFEARRAY* m_pArray = nullptr;
    COptionArray() = default;
    COptionArray(const COptionArray&) = delete;
    COptionArray& operator=(const COptionArray&) = delete;
    ~COptionArray() { SafeArrayDestroy(m_pArray); }
    // Takes ownership of array, releasing any earlier one.
    void Replace(SAFEARRAY* array) {
      SafeArrayDestroy(m_pArray);
      m_pArray = array;
    }
  };

  struct EngineRecord {
    CCountedPtr<COptionArray> m_spOptionArray;
    ItemMap m_measures;                 // GENERAL/MEASURE
    std::set<ci_string> m_measure33;    // pieces of measure 33
    ItemMap m_options;                  // OPTIONS/OPTION
    int32_t m_nEngineID = 0;
    std::string m_strName;
  };

  struct InfoRow {
    int32_t ID = 0;
    std::string value;
    std::string description;
    int32_t on = 0;
  };

  struct CriteriaRecord {
    ItemMap m_items;
    std::map<int32_t, CCountedPtr<EngineRecord>> m_engines;
    std::vector<InfoRow> m_summary;
    std::set<ci_string> m_bannedList;   // the set's own setting 42
    std::vector<int32_t> m_engineOrder;
    std::vector<IPRange> m_directAccessRanges;  // the set's own setting 45
    int32_t m_nSettingsID = 0;
    std::string m_strDescription;
  };

  struct HighSpeedApp {
    std::string name;
    std::string extension;  // ";"-separated
    int32_t action = 0;
  };

  // A converted bypass SID, freed with the list entry that holds it.
  struct CBypassSid {
    PSID m_pSid = nullptr;
    explicit CBypassSid(PSID sid) : m_pSid(sid) {}
    CBypassSid(const CBypassSid&) = delete;
    CBypassSid& operator=(const CBypassSid&) = delete;
    ~CBypassSid();
  };

  // Everything one load reads.
  struct CSettingsStore {
    std::vector<CCountedPtr<CBypassSid>> m_byPassList;
    ItemMap m_generalDefaults;
    std::map<int32_t, CCountedPtr<CriteriaRecord>> m_settingsSets;
    std::vector<HighSpeedApp> m_defaultApps;  // DEFAULTHIGHSPEED
    std::vector<HighSpeedApp> m_apps;         // HIGHSPEED
    std::map<ci_string, int32_t> m_extensionActions;
    std::string m_strSettingsDirectory;       // with its trailing separator
  };

  CPLSettings();
  ~CPLSettings() override;

  HRESULT LoadSettings(const std::string& path) override;
  // Writes the settings in memory to the file they were loaded from, which is
  // replaced as a whole; the caller holds the holder's lock. S_FALSE when no
  // document can be made; a failed write leaves the file untouched.
  HRESULT SaveSettings() override;
  // Writes one item of a section by kind: 1 SettingItem (the base's writer),
  // 2 HighSpeedApp (APP), 3 InfoRow (INFO); other kinds write nothing.
  using CBasicSettings::DipatchSaveItem;
  HRESULT DipatchSaveItem(CXMLDocument* document, CXMLNode* section, const std::vector<std::string>& names,
                          const void* item, const char* elementName, int32_t kind);

  // Lookups with fallback: engine's general items, then the set's own items,
  // then the general defaults; settings identifier -1 (or one without a set)
  // reads the defaults alone. The out value is left untouched on false.
  bool GetIntValue(int32_t settingID, int32_t& value, int32_t settingsID, int32_t engineID) const;
  bool GetStringValue(int32_t settingID, std::string& value, int32_t settingsID, int32_t engineID) const;
  bool GetStringValueCI(int32_t settingID, ci_string& value, int32_t settingsID, int32_t engineID) const;
  // An engine option, no fallback. Engine before set.
  bool GetEngineIntValue(int32_t optionID, int32_t& value, int32_t engineID, int32_t settingsID) const;
  bool GetHighSpeedAction(const ci_string& extension, int32_t& action, int32_t engineID, int32_t settingsID) const;
  // Whether the calling request's identity is in the bypass list.
  DWORD CheckByPassList(BOOL& isMember) const;
  // Whether the address lies in one of the set's direct-access ranges (the
  // first range that holds it is logged).
  bool IsInDirectAccessRange(const IPAddress& address, int32_t settingsID) const;

  const CSettingsStore& Store() const { return *m_pStore; }

  // Static forms over any store, used on a store that is still being built.
  static bool GetIntValue(const CSettingsStore& store, int32_t settingID, int32_t& value, int32_t settingsID,
                          int32_t engineID);
  static bool GetStringValue(const CSettingsStore& store, int32_t settingID, std::string& value, int32_t settingsID,
                             int32_t engineID);
  static bool GetEngineIntValue(const CSettingsStore& store, int32_t optionID, int32_t& value, int32_t engineID,
                                int32_t settingsID);
  static bool GetStringValueCI(const CSettingsStore& store, int32_t settingID, ci_string& value, int32_t settingsID,
                               int32_t engineID);
  static bool GetHighSpeedAction(const CSettingsStore& store, const ci_string& extension, int32_t& action,
                                 int32_t engineID, int32_t settingsID);
  static bool IsInDirectAccessRange(const CSettingsStore& store, const IPAddress& address, int32_t settingsID);
  // Where a lookup found its item: the engine's items, the set's own items
  // or the general defaults.
  enum class SettingSource { None, Engine, Set, General };
  // The item a lookup with fallback reads; null when no level holds one.
  static const SettingItem* FindItem(const CSettingsStore& store, int32_t settingID, int32_t settingsID,
                                     int32_t engineID, SettingSource* source = nullptr);
  // Whether the caller (its identity converted once) is in the store's
  // bypass list.
  static DWORD CheckByPassList(const CSettingsStore& store, const CCallerSids& caller, BOOL& isMember);
  // Adds the SIDs of settings 48 and 49 of the store to its bypass list; an
  // entry that is not a SID is left out and, with mistakes, reported as a
  // mistake of the file at path.
  static void ParseBuildByPassList(CSettingsStore& store, CSettingsMistakes* mistakes = nullptr,
                                   const std::string& path = "");

 private:
  struct ReadContext {
    CSettingsStore* store = nullptr;
    int32_t currentSettingsID = 0;
    bool haveSetting = false;
    std::vector<HighSpeedApp> apps;  // the APP elements of one high-speed element
    EngineRecord* engine = nullptr;  // the engine whose items are being read
    std::string path;                // the file, for the reports
    std::string where;               // the element whose items are being read
    CSettingsMistakes mistakes;
  };

  bool AddGeneralItem(TagItems& attributes, ReadContext& context);
  bool AddSetting(TagItems& attributes, ReadContext& context);
  bool AddEngine(TagItems& attributes, ReadContext& context);
  bool AddMeasureItem(TagItems& attributes, ReadContext& context);
  bool AddOptionItem(TagItems& attributes, ReadContext& context);
  bool AddSummaryInfo(TagItems& attributes, ReadContext& context);
  bool AddItem(TagItems& attributes, ReadContext& context);
  // Reads one ITEM, MEASURE or OPTION into target. Reports what stops short,
  // an ID that is no number (the element is skipped) and a second element
  // of one ID in one place (the later one is used, naming both values).
  static bool PutItem(ItemMap& target, const TagItems& attributes, const char* element, ReadContext& context);
  // Every numeric setting in every place is read in its range; what is not
  // is reported and replaced by what its rule uses instead.
  static void CheckNumericSettings(CSettingsStore& store, ReadContext& context);
  // Setting 81 of the general settings, read after CheckNumericSettings.
  static bool ReadReloadInterval(const CSettingsStore& store, int32_t* interval);
  bool AddHighSpeedApp(TagItems& attributes, ReadContext& context);

  HRESULT LoadHighSpeed(CXMLDocument& document, const CXMLNode& element, ReadContext& context);
  HRESULT LoadSettingSets(CXMLDocument& document, const CXMLNode& settings, const char* name, ReadContext& context);
  HRESULT LoadEngines(CXMLDocument& document, const CXMLNode& engines, const char* name,
                      const std::vector<std::string>& names, ReadContext& context);
  HRESULT LoadEngine(CXMLDocument& document, const CXMLNode& engine, EngineRecord& record, ReadContext& context);
  static HRESULT BuildEngineOptionsArray(EngineRecord& record);
  // Adds the document-conversion options of the INI file to the engines'
  // option arrays of the store being built; false fails the load.
  bool LoadEngineIniFiles(CSettingsStore& store, ReadContext& context);

  CriteriaRecord& CurrentSet(ReadContext& context);
  // The set's direct-access ranges from its own setting 45; a text that
  // cannot be read is reported and makes no range.
  static void ReadDirectAccessRanges(CriteriaRecord& set, ReadContext& context);

  template <class Container>
  HRESULT SaveSection(CXMLDocument* document, CXMLNode* parent, const std::vector<std::string>& names,
                      const Container& items, const char* itemName, const char* sectionName, int32_t kind);
  HRESULT SaveSetting(CXMLDocument* document, CXMLNode* settings, const CriteriaRecord& set);
  HRESULT SaveEngine(CXMLDocument* document, CXMLNode* engines, const EngineRecord& engine);

  std::unique_ptr<CSettingsStore> m_pStore;
};
