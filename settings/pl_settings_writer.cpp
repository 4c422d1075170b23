// Writing the module settings back to their file as a new document: general
// defaults, the two APP lists, then every settings set with its engines,
// items and summary rows. Sections are written even when empty. The file is
// replaced only when every element and attribute was written.
#include <string>
#include <vector>

#include "platform/file_replace.h"
#include "settings/pl_settings.h"

namespace {

const std::vector<std::string> kItemNames = {"ID", "DESCR", "VALUE"};
const std::vector<std::string> kInfoNames = {"ID", "DESCR", "VALUE", "ON"};
const std::vector<std::string> kAppNames = {"NAME", "Extension", "ACTION"};

constexpr int32_t kSettingItemKind = 1;
constexpr int32_t kHighSpeedAppKind = 2;
constexpr int32_t kInfoRowKind = 3;

HRESULT AsFailure(HRESULT hr) { return hr == S_OK ? S_OK : (FAILED(hr) ? hr : E_FAIL); }

// A new element appended to parent; out is the element in its place.
HRESULT AppendElement(CXMLDocument* document, CXMLNode* parent, const char* name, CXMLNode* out) {
  CXMLNode element = CreateXMLNode(document, NODE_ELEMENT, _bstr_t(name));
  if (element.IsNull()) return E_FAIL;
  return AsFailure(parent->appendChild(&element, out));
}

// Sets the attributes in order; the first failure is the result, and the
// later attributes are still set.
class CAttributeWriter {
 public:
  CAttributeWriter(CXMLDocument* document, const CXMLNode& element) : m_pDocument(document) {
    m_hr = AsFailure(element.get_attributes(&m_attributes));
  }
  void Int(const std::string& name, int32_t value) {
    Keep(SetXMLIntAttribute(m_pDocument, &m_attributes, _bstr_t(name), value));
  }
  void Text(const std::string& name, const std::string& value) {
    Keep(SetXMLStringAttribute(m_pDocument, &m_attributes, _bstr_t(name), _bstr_t(value)));
  }
  HRESULT Result() const { return m_hr; }

 private:
  void Keep(HRESULT hr) {
    if (m_hr == S_OK) m_hr = AsFailure(hr);
  }
  CXMLDocument* m_pDocument;
  CXMLNamedNodeMap m_attributes;
  HRESULT m_hr = S_OK;
};

HRESULT SaveApp(CXMLDocument* document, CXMLNode* section, const std::vector<std::string>& names,
                const CPLSettings::HighSpeedApp& app, const char* elementName) {
  CXMLNode element;
  const HRESULT hr = AppendElement(document, section, elementName, &element);
  if (FAILED(hr)) return hr;
  CAttributeWriter attributes(document, element);
  attributes.Text(names[0], app.name);
  attributes.Text(names[1], app.extension);
  attributes.Int(names[2], app.action);
  return attributes.Result();
}

HRESULT SaveInfo(CXMLDocument* document, CXMLNode* section, const std::vector<std::string>& names,
                 const CPLSettings::InfoRow& row, const char* elementName) {
  CXMLNode element;
  const HRESULT hr = AppendElement(document, section, elementName, &element);
  if (FAILED(hr)) return hr;
  CAttributeWriter attributes(document, element);
  attributes.Int(names[0], row.ID);
  attributes.Text(names[1], row.description);
  attributes.Text(names[2], row.value);
  attributes.Int(names[3], row.on);
  return attributes.Result();
}

const void* ItemOf(const std::pair<const int32_t, CPLSettings::SettingItem>& entry) { return &entry.second; }
const void* ItemOf(const CPLSettings::HighSpeedApp& app) { return &app; }
const void* ItemOf(const CPLSettings::InfoRow& row) { return &row; }

}  // namespace

HRESULT CPLSettings::DipatchSaveItem(CXMLDocument* document, CXMLNode* section, const std::vector<std::string>& names,
                                     const void* item, const char* elementName, int32_t kind) {
  switch (kind) {
    case kSettingItemKind:
      return CBasicSettings::DipatchSaveItem(document, section, names, static_cast<const SettingItem*>(item),
                                             elementName, kind);
    case kHighSpeedAppKind:
      if (section == nullptr || item == nullptr) return E_POINTER;
      return SaveApp(document, section, names, *static_cast<const HighSpeedApp*>(item), elementName);
    case kInfoRowKind:
      if (section == nullptr || item == nullptr) return E_POINTER;
      return SaveInfo(document, section, names, *static_cast<const InfoRow*>(item), elementName);
    default:
      return S_OK;
  }
}

template <class Container>
HRESULT CPLSettings::SaveSection(CXMLDocument* document, CXMLNode* parent, const std::vector<std::string>& names,
                                 const Container& items, const char* itemName, const char* sectionName,
                                 int32_t kind) {
  CXMLNode section;
  if (sectionName == nullptr) {
    section = *parent;
  } else {
    const HRESULT hr = AppendElement(document, parent, sectionName, &section);
    if (FAILED(hr)) return hr;
  }
  HRESULT result = S_OK;
  for (const auto& item : items) {
    const HRESULT hr = DipatchSaveItem(document, &section, names, ItemOf(item), itemName, kind);
    if (result == S_OK) result = AsFailure(hr);
  }
  return result;
}

HRESULT CPLSettings::SaveEngine(CXMLDocument* document, CXMLNode* engines, const EngineRecord& engine) {
  CXMLNode element;
  HRESULT hr = AppendElement(document, engines, "ENGINE", &element);
  if (FAILED(hr)) return hr;
  CAttributeWriter attributes(document, element);
  attributes.Int("ID", engine.m_nEngineID);
  attributes.Text("DESCR", engine.m_strName);
  hr = attributes.Result();
  if (FAILED(hr)) return hr;
  hr = SaveSection(document, &element, kItemNames, engine.m_measures, "MEASURE", "GENERAL", kSettingItemKind);
  if (FAILED(hr)) return hr;
  return SaveSection(document, &element, kItemNames, engine.m_options, "OPTION", "OPTIONS", kSettingItemKind);
}

HRESULT CPLSettings::SaveSetting(CXMLDocument* document, CXMLNode* settings, const CriteriaRecord& set) {
  CXMLNode element;
  HRESULT hr = AppendElement(document, settings, "SETTING", &element);
  if (FAILED(hr)) return hr;
  CAttributeWriter attributes(document, element);
  attributes.Int("ID", set.m_nSettingsID);
  attributes.Text("DESCR", set.m_strDescription);
  hr = attributes.Result();
  if (FAILED(hr)) return hr;

  CXMLNode engines;
  hr = AppendElement(document, &element, "ENGINES", &engines);
  if (FAILED(hr)) return hr;
  // The engine order as read: an engine listed twice is written twice.
  for (const int32_t engineID : set.m_engineOrder) {
    const auto engine = set.m_engines.find(engineID);
    if (engine == set.m_engines.end() || !engine->second) continue;
    hr = SaveEngine(document, &engines, *engine->second);
    if (FAILED(hr)) return hr;
  }
  hr = SaveSection(document, &element, kItemNames, set.m_items, "ITEM", "ITEMS", kSettingItemKind);
  if (FAILED(hr)) return hr;
  return SaveSection(document, &element, kInfoNames, set.m_summary, "INFO", "SUMMARY", kInfoRowKind);
}

HRESULT CPLSettings::SaveSettings() {
  CXMLDocument document;
  if (FAILED(CreateXMLDocument(&document))) return S_FALSE;
  const CSettingsStore& store = Store();

  CXMLNode settings;
  HRESULT hr = AppendElement(&document, &document, "SETTINGS", &settings);
  if (SUCCEEDED(hr)) {
    hr = SaveSection(&document, &settings, kItemNames, store.m_generalDefaults, "ITEM", "GENERALSETTINGS",
                     kSettingItemKind);
  }
  if (SUCCEEDED(hr)) {
    hr = SaveSection(&document, &settings, kAppNames, store.m_defaultApps, "APP", "DEFAULTHIGHSPEED",
                     kHighSpeedAppKind);
  }
  if (SUCCEEDED(hr)) {
    hr = SaveSection(&document, &settings, kAppNames, store.m_apps, "APP", "HIGHSPEED", kHighSpeedAppKind);
  }
  for (auto set = store.m_settingsSets.begin(); SUCCEEDED(hr) && set != store.m_settingsSets.end(); ++set) {
    if (set->second) hr = SaveSetting(&document, &settings, *set->second);
  }
  if (FAILED(hr)) return hr;
  return ReplaceFileContent(GetPath(), [&document](const std::string& temp) {
    return SaveXMLDocument(&document, _bstr_t(temp));
  });
}
