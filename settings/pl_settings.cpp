#include "settings/pl_settings.h"

#include <algorithm>
#include <climits>
#include <initializer_list>
#include <utility>
#include <vector>

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "common/event_log.h"
#include "common/string_operation.h"
#include "platform/local_memory.h"
#include "settings/numeric_settings.h"
#include "settings/setting_ids.h"
#include "settings/settings_text.h"

namespace {

// Never destroyed: a request may be reloading the file while the process exits.
using Names = std::vector<std::string>;
const Names& kItemNames = *new Names{"ID", "DESCR", "VALUE"};
const Names& kIdDescrNames = *new Names{"ID", "DESCR"};
const Names& kInfoNames = *new Names{"ID", "DESCR", "VALUE", "ON"};
const Names& kAppNames = *new Names{"NAME", "Extension", "ACTION"};

CXMLNode SelectOne(const CXMLNode& node, const char* xpath) {
  CXMLNode found;
  if (node.IsNull()) return found;
  const HRESULT hr = node.selectSingleNode(_bstr_t(xpath), &found);
  if (FAILED(hr)) throw hr;
  return found;
}

// An INFO row's ID or ON, read by the one number reader.
bool ReadInfoNumber(const VARIANT& v, int32_t* out) {
  if (v.vt == VT_I4) {
    *out = v.lVal;
    return true;
  }
  if (v.vt != VT_BSTR) return false;
  return ReadSettingsNumber(v.bstrVal != nullptr ? v.bstrVal : "", 0, INT32_MAX, out);
}

std::string TextOf(const VARIANT& v) {
  std::string text;
  CBasicSettings::VariantToString(&text, v);
  return text;
}

// The elements the reader takes the first of and passes the others by.
constexpr const char* kReadOnce[] = {"GENERALSETTINGS", "DEFAULTHIGHSPEED", "HIGHSPEED", "ENGINES", "ITEMS",
                                     "SUMMARY", "GENERAL", "OPTIONS"};

bool IsReadOnce(const std::string& name) {
  for (const char* once : kReadOnce) {
    if (name == once) return true;
  }
  return false;
}

// Child elements of parent whose names the reader does not know (names are
// case-sensitive: an <item> is not an <ITEM>), and a second one of a name
// it reads once (an <ITEMS> added below the first), are reported, not read.
void NoteUnreadElements(const CXMLNode& parent, std::initializer_list<const char*> known, const char* parentName,
                        const std::string& where, const std::string& path, CSettingsMistakes& mistakes) {
  if (parent.IsNull()) return;
  CXMLNodeList children;
  LONG length = 0;
  if (FAILED(parent.selectNodes(_bstr_t("*"), &children)) || FAILED(children.get_length(&length))) return;
  std::vector<std::string> seen;
  for (LONG i = 0; i < length; ++i) {
    CXMLNode child;
    _bstr_t name;
    if (FAILED(children.get_item(i, &child)) || child.IsNull() || FAILED(child.get_nodeName(&name))) continue;
    bool isKnown = false;
    for (const char* k : known) isKnown = isKnown || name.str() == k;
    const bool again = isKnown && IsReadOnce(name.str()) && std::find(seen.begin(), seen.end(), name.str()) != seen.end();
    if (again) {
      mistakes.Add("The settings file %s has a second <%s> in %s%s%s, which is not read: only the first one is; "
                   "move what it holds into the first.",
                   path.c_str(), name.c_str(), parentName, where.empty() ? "" : " of ", where.c_str());
      continue;
    }
    seen.push_back(name.str());
    if (isKnown) continue;
    mistakes.Add("The settings file %s has an element <%s> in %s%s%s that is not read (element names are "
                 "case-sensitive); what it would set comes from the general settings or the built-in default.",
                 path.c_str(), name.c_str(), parentName, where.empty() ? "" : " of ", where.c_str());
  }
}

// An item element whose attributes stop short: one without an ID is not
// read; one without DESCR or VALUE is kept without a value.
void NoteIncompleteItem(const CBasicSettings::TagItems& attributes, const char* element, const std::string& where,
                        const std::string& path, CSettingsMistakes& mistakes) {
  if (attributes.size() != 3) return;
  if (attributes[0].value.vt == VT_EMPTY) {
    mistakes.Add("The settings file %s has an <%s> in %s without an ID attribute (attribute names are "
                 "case-sensitive); it is not read.",
                 path.c_str(), element, where.c_str());
    return;
  }
  const bool noDescr = attributes[1].value.vt == VT_EMPTY;
  if (!noDescr && attributes[2].value.vt != VT_EMPTY) return;
  const char* missing = noDescr ? "DESCR" : "VALUE";
  std::string id;
  CBasicSettings::VariantToString(&id, attributes[0].value);
  mistakes.Add("The settings file %s has <%s ID=\"%s\"> in %s without a %s attribute (attribute names are "
               "case-sensitive); it is kept without a value, so its readers use their built-in default, and a "
               "block level without a value refuses downloads.",
               path.c_str(), element, id.c_str(), where.c_str(), missing);
}

// An element other than an item whose attributes stop short; consequence
// says what is made of it.
void NoteMissingAttribute(const CBasicSettings::TagItems& attributes, const char* element, const std::string& where,
                          const std::string& path, const char* consequence, CSettingsMistakes& mistakes) {
  for (const CBasicSettings::TAGITEM& attribute : attributes) {
    if (attribute.value.vt != VT_EMPTY) continue;
    mistakes.Add("The settings file %s has an <%s> in %s without the %s attribute (attribute names are "
                 "case-sensitive); %s.",
                 path.c_str(), element, where.c_str(), attribute.name.c_str(), consequence);
    return;
  }
}

// An element whose ID names nothing: its children are not read.
void NoteUnreadableID(const CBasicSettings::TagItems& attributes, const char* element, const std::string& where,
                      const std::string& path, CSettingsMistakes& mistakes) {
  std::string text;
  const bool haveText = !attributes.empty() && CBasicSettings::VariantToString(&text, attributes[0].value);
  mistakes.Add("The settings file %s has a <%s> element in %s %s%s%s (attribute names are case-sensitive); it and "
               "everything in it are not read, so what it would set comes from the general settings or the built-in "
               "default.",
               path.c_str(), element, where.c_str(), haveText ? "whose ID \"" : "without an ID attribute",
               haveText ? text.c_str() : "", haveText ? "\" is not a number" : "");
}

// A file without a single settings set is what a save cut short or an empty
// editor buffer leaves ("<SETTINGS/>"). Taken, it would empty the bypass
// list and put every block level at its default, which allows every
// download; so it fails like a file without setting 1, and the settings in
// force stay.
[[noreturn]] void RefuseWithoutSettingsSet(const std::string& path) {
  DebugLog("LoadSettings found no settings set in %s", path.c_str());
  LogEventF(1, "The settings file %s holds no settings set; it was not loaded.", path.c_str());
  throw static_cast<HRESULT>(E_FAIL);
}

}  // namespace

CPLSettings::CBypassSid::~CBypassSid() { LocalFree(m_pSid); }

CPLSettings::CPLSettings() : m_pStore(std::make_unique<CSettingsStore>()) {}

CPLSettings::~CPLSettings() = default;

// ---- loading ---------------------------------------------------------------------

HRESULT CPLSettings::LoadSettings(const std::string& path) {
  CLoadFailureReport failure(path, HasLoaded());
  // A file that is there but cannot be reached (a link loop, a folder
  // closed to the server) is said as such, not as a missing file.
  if (const DWORD lookUp = FindFileError(path); lookUp != ERROR_SUCCESS) {
    DebugLog("Load LoadSettings can not find file %s error %u", path.c_str(), static_cast<unsigned>(lookUp));
    return HRESULT_FROM_WIN32(lookUp);
  }
  FILETIME fileTime{};
  const bool haveFileTime = GetFileLastWriteTime(path, &fileTime) == ERROR_SUCCESS;

  std::unique_ptr<CSettingsStore> next;
  ReadContext context;
  int32_t interval = 0;
  bool haveInterval = false;
  try {
    SetPath(path);
    next = std::make_unique<CSettingsStore>();
    const size_t separator = path.find_last_of("/\\");
    if (separator == std::string::npos) {
      DebugLog("Invaliud path format %s", path.c_str());
      next->m_strSettingsDirectory = m_pStore->m_strSettingsDirectory;
    } else {
      next->m_strSettingsDirectory = path.substr(0, separator + 1);
    }

    context.store = next.get();
    context.path = path;
    CXMLDocument document;
    HRESULT hr = CreateXMLDocument(&document);
    if (FAILED(hr)) throw hr;
    XMLLoadFailure parseFailure;
    hr = LoadXMLDocument(&document, _bstr_t(path), &parseFailure);
    if (FAILED(hr)) {
      failure.Report(parseFailure);
      throw hr;
    }
    hr = document.setProperty(_bstr_t("SelectionLanguage"), _variant_t("XPath"));
    if (FAILED(hr)) throw hr;
    NoteRepeatedAttributes(document, "settings file", path, context.mistakes);
    NoteBytesNotUTF8(document, "settings file", path, context.mistakes);

    const CXMLNode root = SelectOne(document, "SETTINGS");
    if (root.IsNull()) {
      // Element names are case-sensitive: <settings> holds no setting this
      // reader can see, and taken it would put every setting at its default.
      failure.Report({"it has no <SETTINGS> root element (element names are case-sensitive; the file's root is <" +
                          document.RootElementName() + ">)",
                      0, 0});
      throw static_cast<HRESULT>(E_FAIL);
    }
    NoteUnreadElements(root, {"GENERALSETTINGS", "DEFAULTHIGHSPEED", "HIGHSPEED", "SETTING"},
                       "<SETTINGS>", "", path, context.mistakes);
    const CXMLNode general = SelectOne(document, "SETTINGS/GENERALSETTINGS");
    NoteUnreadElements(general, {"ITEM"}, "<GENERALSETTINGS>", "", path, context.mistakes);
    context.where = "<GENERALSETTINGS>";
    _functTrans<CPLSettings, ReadContext> addGeneral(this, &CPLSettings::AddGeneralItem, &context);
    ForEachElement(general, "ITEM", kItemNames, addGeneral);

    context.where = "<DEFAULTHIGHSPEED>";
    LoadHighSpeed(document, SelectOne(document, "SETTINGS/DEFAULTHIGHSPEED"), context);
    next->m_defaultApps = next->m_apps;
    context.where = "<HIGHSPEED>";
    LoadHighSpeed(document, SelectOne(document, "SETTINGS/HIGHSPEED"), context);
    LoadSettingSets(document, root, "SETTING", context);
    if (next->m_settingsSets.empty()) {
      failure.MarkReported();
      RefuseWithoutSettingsSet(path);
    }

    ParseBuildByPassList(*next, &context.mistakes, path);
    CheckNumericSettings(*next, context);
    haveInterval = ReadReloadInterval(*next, &interval);
    if (!LoadEngineIniFiles(*next, context)) {
      failure.Report({"the conversion options folder cannot be found: the file does not stand in a folder named "
                      "Settings",
                      0, 0});
      throw static_cast<HRESULT>(E_FAIL);
    }
  } catch (HRESULT e) {
    DebugLogError(static_cast<DWORD>(e), "LoadSettings HRESULT exception %x", static_cast<unsigned>(e));
    failure.ReportCode(e);
    return FAILED(e) ? e : E_FAIL;
  } catch (const _com_error& e) {
    DebugLogError(static_cast<DWORD>(e.Error()), "LoadSettings com exception %x", static_cast<unsigned>(e.Error()));
    failure.ReportCode(e.Error());
    return FAILED(e.Error()) ? e.Error() : E_FAIL;
  } catch (const std::exception& e) {
    DebugLogError(static_cast<DWORD>(E_FAIL), "LoadSettings General exception");
    failure.ReportText(e.what());
    return E_FAIL;
  } catch (...) {
    DebugLogError(static_cast<DWORD>(E_FAIL), "LoadSettings General exception");
    failure.ReportText(nullptr);
    return E_FAIL;
  }

  {
    CLockGuard guard(SwapLock());
    m_pStore.swap(next);
  }
  // The store replaced goes here, outside the lock.
  next.reset();
  if (haveInterval) SetReloadInterval(interval);
  RecordLoad(haveFileTime, fileTime);
  context.mistakes.Report("settings file", path);
  return S_OK;
}

CPLSettings::CriteriaRecord& CPLSettings::CurrentSet(ReadContext& context) {
  auto& sets = context.store->m_settingsSets;
  auto it = sets.find(context.currentSettingsID);
  if (it == sets.end() || !it->second) {
    auto* record = new CriteriaRecord;
    record->m_nSettingsID = context.currentSettingsID;
    it = sets.insert_or_assign(context.currentSettingsID, CCountedPtr<CriteriaRecord>(record)).first;
  }
  return *it->second;
}

bool CPLSettings::PutItem(ItemMap& target, const TagItems& attributes, const char* element, ReadContext& context) {
  NoteIncompleteItem(attributes, element, context.where, context.path, context.mistakes);
  SettingItem item;
  if (!ReadItem(attributes, &item)) {
    if (attributes[0].value.vt != VT_EMPTY) {
      context.mistakes.Add("The settings file %s has <%s ID=\"%s\"> in %s, whose ID is not a number (a plain decimal "
                           "number, blanks around it allowed); it is not read.",
                           context.path.c_str(), element, TextOf(attributes[0].value).c_str(), context.where.c_str());
    }
    return false;
  }
  const auto earlier = target.find(item.ID);
  if (earlier != target.end()) {
    // What SETTINGS.md has always said: the later one replaces the earlier.
    // Said aloud, so that a copy left below an edit cannot loosen a level
    // unseen.
    const std::string before = TextOf(earlier->second.value);
    const std::string after = TextOf(item.value);
    context.mistakes.Add("The settings file %s has a second <%s ID=\"%d\"> in %s (VALUE \"%s\", then \"%s\"); the "
                         "later one, \"%s\", is used.",
                         context.path.c_str(), element, static_cast<int>(item.ID), context.where.c_str(), before.c_str(),
                         after.c_str(), after.c_str());
    target.erase(earlier);
  }
  const int32_t id = item.ID;
  target.emplace(id, std::move(item));
  return true;
}

void CPLSettings::CheckNumericSettings(CSettingsStore& store, ReadContext& context) {
  const auto check = [&](ItemMap& items, const std::string& where) {
    for (auto& [id, item] : items) {
      const NumericSettingRule* rule = NumericSettingRuleOf(id);
      if (rule == nullptr || item.value.vt != VT_BSTR) continue;
      const std::string text = TextOf(item.value);
      int32_t value = 0;
      if (ReadSettingsNumber(text, rule->min, rule->max, &value)) continue;
      context.mistakes.Add("The settings file %s gives setting %d the value \"%s\" in %s, which is not a whole number "
                           "from %d to %d; %d is used instead.",
                           context.path.c_str(), static_cast<int>(id), text.c_str(), where.c_str(),
                           static_cast<int>(rule->min), static_cast<int>(rule->max), static_cast<int>(rule->instead));
      item.value = _variant_t(std::to_string(rule->instead).c_str());
    }
  };
  check(store.m_generalDefaults, "<GENERALSETTINGS>");
  for (auto& [settingsID, set] : store.m_settingsSets) {
    if (!set) continue;
    const std::string where = "<SETTING ID=\"" + std::to_string(settingsID) + "\">";
    check(set->m_items, where);
    for (auto& [engineID, engine] : set->m_engines) {
      if (engine) check(engine->m_measures, "<ENGINE ID=\"" + std::to_string(engineID) + "\"> of " + where);
    }
  }
}

bool CPLSettings::ReadReloadInterval(const CSettingsStore& store, int32_t* interval) {
  return GetIntValue(store, SettingReloadIntervalMinutes, *interval, kDefaultSettingsID, kNoEngineID);
}

bool CPLSettings::AddGeneralItem(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 3) return false;
  return PutItem(context.store->m_generalDefaults, attributes, "ITEM", context);
}

bool CPLSettings::AddItem(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 3) return false;
  return PutItem(CurrentSet(context).m_items, attributes, "ITEM", context);
}

bool CPLSettings::AddMeasureItem(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 3 || context.engine == nullptr) return false;
  return PutItem(context.engine->m_measures, attributes, "MEASURE", context);
}

bool CPLSettings::AddOptionItem(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 3 || context.engine == nullptr) return false;
  return PutItem(context.engine->m_options, attributes, "OPTION", context);
}

bool CPLSettings::AddSetting(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 2) return false;
  int32_t id = 0;
  if (!ReadElementID(&id, attributes[0].value)) {
    NoteUnreadableID(attributes, "SETTING", "<SETTINGS>", context.path, context.mistakes);
    return false;
  }
  if (context.store->m_settingsSets.count(id) != 0) {
    context.mistakes.Add("The settings file %s has a second <SETTING ID=\"%d\">; its items are read into the first "
                         "one, a later item replacing an earlier one of the same ID.",
                         context.path.c_str(), static_cast<int>(id));
  }
  context.currentSettingsID = id;
  context.haveSetting = true;
  CriteriaRecord& set = CurrentSet(context);
  std::string description;
  if (VariantToString(&description, attributes[1].value)) set.m_strDescription = description;
  return true;
}

bool CPLSettings::AddEngine(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 2) return false;
  int32_t id = 0;
  if (!ReadElementID(&id, attributes[0].value)) {
    DebugLog("AddEngine failed to read ID");
    NoteUnreadableID(attributes, "ENGINE", "<ENGINES> of <SETTING ID=\"" + std::to_string(context.currentSettingsID) +
                     "\">", context.path, context.mistakes);
    return false;
  }
  std::string name;
  if (!VariantToString(&name, attributes[1].value)) DebugLog("AddEngine failed to read EngineName");
  CriteriaRecord& set = CurrentSet(context);
  if (set.m_engines.find(id) == set.m_engines.end()) {
    auto* record = new EngineRecord;
    record->m_nEngineID = id;
    record->m_strName = name;
    set.m_engines.emplace(id, CCountedPtr<EngineRecord>(record));
  }
  set.m_engineOrder.push_back(id);
  return true;
}

bool CPLSettings::AddSummaryInfo(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 4) return false;
  NoteMissingAttribute(attributes, "INFO", context.where, context.path,
                       "a row without an ID or ON is not read; one without a DESCR or VALUE is kept without it",
                       context.mistakes);
  InfoRow row;
  // A row whose ID or ON cannot be read is not taken; a missing one is
  // reported above.
  const bool idRead = ReadInfoNumber(attributes[0].value, &row.ID);
  if (!idRead || !ReadInfoNumber(attributes[3].value, &row.on)) {
    const TAGITEM& bad = attributes[idRead ? 3 : 0];
    if (bad.value.vt != VT_EMPTY) {
      context.mistakes.Add("The settings file %s has <INFO ID=\"%s\"> in %s whose %s \"%s\" is not a number (a plain "
                           "decimal number, blanks around it allowed); it is not read.",
                           context.path.c_str(), TextOf(attributes[0].value).c_str(), context.where.c_str(),
                           idRead ? "ON" : "ID", TextOf(bad.value).c_str());
    }
    return false;
  }
  VariantToString(&row.description, attributes[1].value);
  VariantToString(&row.value, attributes[2].value);
  CriteriaRecord& set = CurrentSet(context);
  for (auto it = set.m_summary.begin(); it != set.m_summary.end(); ++it) {
    if (it->ID == row.ID) {
      set.m_summary.erase(it);
      break;
    }
  }
  if (row.on != 0) set.m_summary.push_back(std::move(row));
  return true;
}

bool CPLSettings::AddHighSpeedApp(TagItems& attributes, ReadContext& context) {
  if (attributes.size() != 3) return false;
  NoteMissingAttribute(attributes, "APP", context.where, context.path,
                       "an application without an ACTION is not read; one without a NAME or Extension is kept "
                       "without it",
                       context.mistakes);
  HighSpeedApp app;
  VariantToString(&app.name, attributes[0].value);
  VariantToString(&app.extension, attributes[1].value);
  const VARIANT& action = attributes[2].value;
  // An application without a readable action is not taken.
  if (action.vt != VT_BSTR || action.bstrVal == nullptr) return false;
  if (!ReadSettingsNumber(action.bstrVal, 1, 3, &app.action)) {
    app.action = 2;
    context.mistakes.Add("The settings file %s has an <APP> in %s whose ACTION \"%s\" is not 1, 2 or 3; 2 (both "
                         "views) is used instead.",
                         context.path.c_str(), context.where.c_str(), action.bstrVal);
  }
  context.apps.push_back(std::move(app));
  return true;
}

HRESULT CPLSettings::LoadHighSpeed(CXMLDocument&, const CXMLNode& element, ReadContext& context) {
  context.apps.clear();
  NoteUnreadElements(element, {"APP"}, context.where.c_str(), "", context.path, context.mistakes);
  _functTrans<CPLSettings, ReadContext> addApp(this, &CPLSettings::AddHighSpeedApp, &context);
  ForEachElement(element, "APP", kAppNames, addApp);
  context.store->m_apps = context.apps;
  std::map<ci_string, int32_t> actions;
  for (const HighSpeedApp& app : context.store->m_apps) {
    if (app.extension.empty()) continue;
    for (const std::string& piece : SplitAll(app.extension, ';')) {
      if (!piece.empty()) actions.emplace(ToCI(piece), app.action);
    }
  }
  context.store->m_extensionActions.swap(actions);
  return S_OK;
}

HRESULT CPLSettings::LoadSettingSets(CXMLDocument& document, const CXMLNode& settings, const char* name,
                                     ReadContext& context) {
  if (settings.IsNull()) return S_OK;
  CXMLNodeList list;
  HRESULT hr = settings.selectNodes(_bstr_t(name), &list);
  if (FAILED(hr)) throw hr;
  LONG length = 0;
  hr = list.get_length(&length);
  if (FAILED(hr)) throw hr;

  _functTrans<CPLSettings, ReadContext> addInfo(this, &CPLSettings::AddSummaryInfo, &context);
  _functTrans<CPLSettings, ReadContext> addItem(this, &CPLSettings::AddItem, &context);
  for (LONG i = 0; i < length; ++i) {
    CXMLNode element;
    hr = list.get_item(i, &element);
    if (FAILED(hr)) throw hr;
    if (element.IsNull()) continue;
    TagItems tags(kIdDescrNames.size());
    for (size_t n = 0; n < kIdDescrNames.size(); ++n) tags[n].name = _bstr_t(kIdDescrNames[n]);
    hr = ReadAttributes(element, tags);
    if (FAILED(hr)) throw hr;
    // A set without a readable ID would file its children under whichever
    // set came before it; they are skipped instead.
    if (!AddSetting(tags, context)) continue;

    const std::string where = "<SETTING ID=\"" + std::to_string(context.currentSettingsID) + "\">";
    NoteUnreadElements(element, {"ENGINES", "ITEMS", "SUMMARY"}, where.c_str(), "", context.path, context.mistakes);
    const CXMLNode engines = SelectOne(element, "ENGINES");
    NoteUnreadElements(engines, {"ENGINE"}, "<ENGINES>", where, context.path, context.mistakes);
    LoadEngines(document, engines, "ENGINE", kIdDescrNames, context);
    const CXMLNode summary = SelectOne(element, "SUMMARY");
    NoteUnreadElements(summary, {"INFO"}, "<SUMMARY>", where, context.path, context.mistakes);
    context.where = "<SUMMARY> of " + where;
    ForEachElement(summary, "INFO", kInfoNames, addInfo);
    const CXMLNode items = SelectOne(element, "ITEMS");
    NoteUnreadElements(items, {"ITEM"}, "<ITEMS>", where, context.path, context.mistakes);
    context.where = where;
    ForEachElement(items, "ITEM", kItemNames, addItem);

    CriteriaRecord& set = CurrentSet(context);
    const auto banned = set.m_items.find(SettingBlockedExtensions);
    if (banned != set.m_items.end() && banned->second.value.vt == VT_BSTR) {
      std::string text;
      VariantToString(&text, banned->second.value);
      if (text.empty()) {
        DebugLog("Empty banned list for criteria ");
      } else {
        CStringOperation::Parse(ToCI(text), ";", set.m_bannedList);
      }
    }
    ReadDirectAccessRanges(set, context);
  }
  return S_OK;
}

void CPLSettings::ReadDirectAccessRanges(CriteriaRecord& set, ReadContext& context) {
  // A set given twice is read again whole: its ranges are those of its last
  // setting 45, once.
  set.m_directAccessRanges.clear();
  const auto ranges = set.m_items.find(SettingDirectAccessIPRanges);
  if (ranges == set.m_items.end() || ranges->second.value.vt != VT_BSTR) return;
  std::string text;
  VariantToString(&text, ranges->second.value);
  if (text.empty()) {
    DebugLog("[CNotificationsHelper::CheckClientIPAgainstDirectAccessIPRange] Direct access IP ranges setting is "
             "empty.");
    return;
  }
  const std::vector<std::string> tokens = SplitAll(text, ';');
  for (size_t t = 0; t < tokens.size(); t += 2) {
    // A trailing ";" ends the list.
    if (t + 1 == tokens.size() && tokens[t].empty()) break;
    const std::string pair = t + 1 < tokens.size() ? tokens[t] + ";" + tokens[t + 1] : tokens[t];
    IPRange range;
    const char* fault = t + 1 < tokens.size() ? ReadIPRange(tokens[t], tokens[t + 1], range)
                                              : "an address without the other end of its range";
    if (fault == nullptr) {
      set.m_directAccessRanges.push_back(range);
      continue;
    }
    context.mistakes.Add("The settings file %s gives settings set %d the direct-access address range <%s>, which "
                         "cannot be read (%s; a range is two addresses, low;high, separated by \";\"); it allows no "
                         "download.",
                         context.path.c_str(), static_cast<int>(set.m_nSettingsID), pair.c_str(), fault);
  }
}

HRESULT CPLSettings::LoadEngines(CXMLDocument& document, const CXMLNode& engines, const char* name,
                                 const std::vector<std::string>& names, ReadContext& context) {
  if (engines.IsNull()) return S_OK;
  CXMLNodeList list;
  HRESULT hr = engines.selectNodes(_bstr_t(name), &list);
  if (FAILED(hr)) throw hr;
  LONG length = 0;
  hr = list.get_length(&length);
  if (FAILED(hr)) throw hr;
  for (LONG i = 0; i < length; ++i) {
    CXMLNode element;
    hr = list.get_item(i, &element);
    if (FAILED(hr)) throw hr;
    if (element.IsNull()) continue;
    TagItems tags(names.size());
    for (size_t n = 0; n < names.size(); ++n) tags[n].name = _bstr_t(names[n]);
    hr = ReadAttributes(element, tags);
    if (FAILED(hr)) throw hr;
    // An engine without a readable ID would file its items under the engine
    // read before it; it is skipped instead.
    if (!AddEngine(tags, context)) continue;
    const auto setIt = context.store->m_settingsSets.find(context.currentSettingsID);
    if (setIt == context.store->m_settingsSets.end() || !setIt->second) continue;
    CriteriaRecord& set = *setIt->second;
    if (set.m_engineOrder.empty()) continue;
    const auto engineIt = set.m_engines.find(set.m_engineOrder.back());
    if (engineIt == set.m_engines.end() || !engineIt->second) continue;
    context.where = "<ENGINE ID=\"" + std::to_string(engineIt->first) + "\"> of <SETTING ID=\"" +
                    std::to_string(context.currentSettingsID) + "\">";
    hr = LoadEngine(document, element, *engineIt->second, context);
    if (FAILED(hr)) throw hr;
  }
  return S_OK;
}

HRESULT CPLSettings::LoadEngine(CXMLDocument&, const CXMLNode& engine, EngineRecord& record, ReadContext& context) {
  HRESULT hr = S_OK;
  context.engine = &record;
  try {
    _functTrans<CPLSettings, ReadContext> addMeasure(this, &CPLSettings::AddMeasureItem, &context);
    _functTrans<CPLSettings, ReadContext> addOption(this, &CPLSettings::AddOptionItem, &context);
    NoteUnreadElements(engine, {"GENERAL", "OPTIONS"}, context.where.c_str(), "", context.path, context.mistakes);
    const CXMLNode general = SelectOne(engine, "GENERAL");
    NoteUnreadElements(general, {"MEASURE"}, "<GENERAL>", context.where, context.path, context.mistakes);
    ForEachElement(general, "MEASURE", kItemNames, addMeasure);
    const CXMLNode options = SelectOne(engine, "OPTIONS");
    NoteUnreadElements(options, {"OPTION"}, "<OPTIONS>", context.where, context.path, context.mistakes);
    ForEachElement(options, "OPTION", kItemNames, addOption);
    hr = BuildEngineOptionsArray(record);
    if (FAILED(hr)) throw hr;
    const auto m33 = record.m_measures.find(33);
    if (m33 != record.m_measures.end() && m33->second.value.vt == VT_BSTR) {
      std::string text;
      VariantToString(&text, m33->second.value);
      CStringOperation::Parse(ToCI(text), ";", record.m_measure33);
    }
  } catch (HRESULT e) {
    DebugLogError(static_cast<DWORD>(e), "LoadEngine HRESULT exception %x", static_cast<unsigned>(e));
    hr = FAILED(e) ? e : E_FAIL;
  } catch (const _com_error& e) {
    // An engine read only in part fails the whole load.
    DebugLogError(static_cast<DWORD>(e.Error()), "LoadEngine com exception %x", static_cast<unsigned>(e.Error()));
    hr = FAILED(e.Error()) ? e.Error() : E_FAIL;
  } catch (...) {
    DebugLogError(static_cast<DWORD>(E_FAIL), "LoadEngine General exception");
    hr = E_FAIL;
  }
  context.engine = nullptr;
  return hr;
}

HRESULT CPLSettings::BuildEngineOptionsArray(EngineRecord& record) {
  SAFEARRAYBOUND bounds[2];
  bounds[0].cElements = static_cast<ULONG>(record.m_options.size());  // rows
  bounds[0].lLbound = 0;
  bounds[1].cElements = 2;  // option id, value
  bounds[1].lLbound = 0;
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  if (array == nullptr) return E_OUTOFMEMORY;
  LONG row = 0;
  for (const auto& [id, item] : record.m_options) {
    const _variant_t optionID(static_cast<LONG>(item.ID));
    LONG index[2] = {0, row};
    SafeArrayPutElement(array, index, &optionID);
    index[0] = 1;
    SafeArrayPutElement(array, index, &item.value);
    ++row;
  }
  SAFEARRAY* copy = nullptr;
  const HRESULT hr = SafeArrayCopy(array, &copy);
  SafeArrayDestroy(array);
  if (FAILED(hr)) return hr;
  if (!record.m_spOptionArray) record.m_spOptionArray = CCountedPtr<COptionArray>(new COptionArray);
  record.m_spOptionArray->Replace(copy);
  return S_OK;
}

// ---- lookups ---------------------------------------------------------------------

const CPLSettings::SettingItem* CPLSettings::FindItem(const CSettingsStore& store, int32_t settingID,
                                                      int32_t settingsID, int32_t engineID, SettingSource* source) {
  SettingSource ignored = SettingSource::None;
  if (source == nullptr) source = &ignored;
  *source = SettingSource::General;
  const auto general = [&]() -> const SettingItem* {
    const auto d = store.m_generalDefaults.find(settingID);
    if (d != store.m_generalDefaults.end()) return &d->second;
    *source = SettingSource::None;
    return nullptr;
  };
  const auto setIt = store.m_settingsSets.find(settingsID);
  if (setIt == store.m_settingsSets.end()) return general();
  if (!setIt->second) {
    *source = SettingSource::None;
    return nullptr;
  }
  const CriteriaRecord& set = *setIt->second;
  const auto engineIt = set.m_engines.find(engineID);
  if (engineIt != set.m_engines.end() && engineIt->second) {
    const auto m = engineIt->second->m_measures.find(settingID);
    *source = SettingSource::Engine;
    if (m != engineIt->second->m_measures.end()) return &m->second;
  }
  const auto own = set.m_items.find(settingID);
  *source = SettingSource::Set;
  if (own != set.m_items.end()) return &own->second;
  *source = SettingSource::General;
  return general();
}

bool CPLSettings::GetIntValue(const CSettingsStore& store, int32_t settingID, int32_t& value, int32_t settingsID,
                              int32_t engineID) {
  const SettingItem* item = FindItem(store, settingID, settingsID, engineID);
  if (item == nullptr) return false;
  // Converted in place, with no copy of the stored value: the holder's lock
  // is held for the whole lookup.
  return GetIntFromVariant(&value, item->value);
}

bool CPLSettings::GetStringValue(const CSettingsStore& store, int32_t settingID, std::string& value,
                                 int32_t settingsID, int32_t engineID) {
  const SettingItem* item = FindItem(store, settingID, settingsID, engineID);
  if (item == nullptr) return false;
  return VariantToString(&value, item->value);
}

bool CPLSettings::GetEngineIntValue(const CSettingsStore& store, int32_t optionID, int32_t& value, int32_t engineID,
                                    int32_t settingsID) {
  const auto setIt = store.m_settingsSets.find(settingsID);
  if (setIt == store.m_settingsSets.end() || !setIt->second) return false;
  const auto engineIt = setIt->second->m_engines.find(engineID);
  if (engineIt == setIt->second->m_engines.end() || !engineIt->second) return false;
  const auto option = engineIt->second->m_options.find(optionID);
  if (option == engineIt->second->m_options.end()) return false;
  return GetIntFromVariant(&value, option->second.value);
}

bool CPLSettings::GetIntValue(int32_t settingID, int32_t& value, int32_t settingsID, int32_t engineID) const {
  return GetIntValue(*m_pStore, settingID, value, settingsID, engineID);
}

bool CPLSettings::GetStringValue(int32_t settingID, std::string& value, int32_t settingsID, int32_t engineID) const {
  return GetStringValue(*m_pStore, settingID, value, settingsID, engineID);
}

bool CPLSettings::GetStringValueCI(int32_t settingID, ci_string& value, int32_t settingsID, int32_t engineID) const {
  return GetStringValueCI(*m_pStore, settingID, value, settingsID, engineID);
}

bool CPLSettings::GetStringValueCI(const CSettingsStore& store, int32_t settingID, ci_string& value,
                                   int32_t settingsID, int32_t engineID) {
  std::string text;
  if (!GetStringValue(store, settingID, text, settingsID, engineID)) return false;
  value.assign(text.data(), text.size());
  return true;
}

bool CPLSettings::GetEngineIntValue(int32_t optionID, int32_t& value, int32_t engineID, int32_t settingsID) const {
  return GetEngineIntValue(*m_pStore, optionID, value, engineID, settingsID);
}

bool CPLSettings::GetHighSpeedAction(const ci_string& extension, int32_t& action, int32_t engineID,
                                     int32_t settingsID) const {
  return GetHighSpeedAction(*m_pStore, extension, action, engineID, settingsID);
}

bool CPLSettings::GetHighSpeedAction(const CSettingsStore& store, const ci_string& extension, int32_t& action,
                                     int32_t engineID, int32_t settingsID) {
  int32_t enabled = kDefaultHighSpeedEnabled;
  if (!GetIntValue(store, SettingHighSpeedEnabled, enabled, settingsID, engineID) || enabled == 0) return true;
  const auto& actions = store.m_extensionActions;
  auto it = actions.find(extension);
  if (it == actions.end()) it = actions.find(ci_string("*"));
  if (it == actions.end()) return false;
  action = it->second;
  return true;
}

bool CPLSettings::IsInDirectAccessRange(const IPAddress& address, int32_t settingsID) const {
  return IsInDirectAccessRange(*m_pStore, address, settingsID);
}

bool CPLSettings::IsInDirectAccessRange(const CSettingsStore& store, const IPAddress& address, int32_t settingsID) {
  const auto setIt = store.m_settingsSets.find(settingsID);
  if (setIt == store.m_settingsSets.end() || !setIt->second) return false;
  for (const IPRange& range : setIt->second->m_directAccessRanges) {
    if (!IsIPAddressInRange(address, range)) continue;
    const int32_t* l = range.low.groups;
    const int32_t* h = range.high.groups;
    if (range.low.kind == kIPKindIPv4) {
      DebugLog("[CHandlePLSettings::CheckClientIPAgainstDirectAccessIPRange] Direct access IPv4 range found: "
               "<%d.%d.%d.%d> - <%d.%d.%d.%d>.",
               l[0], l[1], l[2], l[3], h[0], h[1], h[2], h[3]);
    } else {
      DebugLog("[CHandlePLSettings::CheckClientIPAgainstDirectAccessIPRange] Direct access IPv6 range found: "
               "<%x:%x:%x:%x:%x:%x:%x:%x> - <%x:%x:%x:%x:%x:%x:%x:%x>.",
               static_cast<unsigned>(l[0]), static_cast<unsigned>(l[1]), static_cast<unsigned>(l[2]),
               static_cast<unsigned>(l[3]), static_cast<unsigned>(l[4]), static_cast<unsigned>(l[5]),
               static_cast<unsigned>(l[6]), static_cast<unsigned>(l[7]), static_cast<unsigned>(h[0]),
               static_cast<unsigned>(h[1]), static_cast<unsigned>(h[2]), static_cast<unsigned>(h[3]),
               static_cast<unsigned>(h[4]), static_cast<unsigned>(h[5]), static_cast<unsigned>(h[6]),
               static_cast<unsigned>(h[7]));
    }
    return true;
  }
  return false;
}
