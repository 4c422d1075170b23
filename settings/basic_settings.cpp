#include "settings/basic_settings.h"

#include <climits>
#include <cstdio>

#include "common/debug_log.h"
#include "platform/last_error.h"
#include "settings/settings_text.h"

namespace {

constexpr int64_t kTicksPerMinute = 600000000;  // 100-ns ticks

HRESULT HResultFromWin32Code(DWORD err) {
  // A code that is not positive is taken as it is.
  return static_cast<int32_t>(err) > 0 ? HRESULT_FROM_WIN32(err) : static_cast<HRESULT>(err);
}

void LogTime(const char* prefix, const FILETIME& ft, int32_t interval) {
  SYSTEMTIME st{};
  FileTimeToSystemTime(&ft, &st);
  if (prefix != nullptr) {
    DebugLog("%s. Curent LastModifiedDate %d.%d.%d - %d:%d:%d:%d Interval: %d minutes", prefix, st.wDay, st.wMonth,
             st.wYear, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds, interval);
  } else {
    DebugLog("Previous LastModifiedDate %d.%d.%d - %d:%d:%d:%d", st.wDay, st.wMonth, st.wYear, st.wHour, st.wMinute,
             st.wSecond, st.wMilliseconds);
  }
}

}  // namespace

// ---- file times and the reload check -------------------------------------------

std::string CBasicSettings::GetPath() const {
  std::lock_guard<std::mutex> guard(m_stateLock);
  return m_strPath;
}

void CBasicSettings::SetPath(const std::string& path) {
  FileIdentity identity;
  GetFileIdentity(path, &identity);  // all zero when it cannot be read: then any readable file differs
  std::lock_guard<std::mutex> guard(m_stateLock);
  m_strPath = path;
  m_bHasPath.store(!path.empty(), std::memory_order_relaxed);
  m_parsingIdentity = identity;
}

FILETIME CBasicSettings::GetLoadedFileTime() const {
  std::lock_guard<std::mutex> guard(m_stateLock);
  return m_ftLoaded;
}

void CBasicSettings::HashFileDate() {
  const std::string path = GetPath();
  FileIdentity identity;
  const DWORD err = GetFileIdentity(path, &identity);
  if (err != ERROR_SUCCESS) {
    const HRESULT hr = HResultFromWin32Code(err);
    DebugLogError(static_cast<DWORD>(hr), "CBasicSettings::HashFileDate failed to read filedate %s. HR 0x%x",
                  path.c_str(), static_cast<unsigned>(hr));
    return;
  }
  std::lock_guard<std::mutex> guard(m_stateLock);
  m_ftLoaded = FileIdentityWriteTime(identity);
  m_loadedIdentity = identity;
}

void CBasicSettings::RecordLoad(bool haveFileTime, const FILETIME& fileTime) {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  std::lock_guard<std::mutex> guard(m_stateLock);
  m_ftLoaded = haveFileTime ? fileTime : now;
  m_loadedIdentity = m_parsingIdentity;
  m_nLastCheck.store(FileTimeToUInt64(now), std::memory_order_relaxed);
  m_bLoaded.store(true, std::memory_order_relaxed);
}

HRESULT CBasicSettings::IsReloadNeeded(bool* due) {
  if (!m_bHasPath.load(std::memory_order_relaxed)) return S_OK;
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  // Truncated toward zero; a clock set back gives a negative count that
  // stays below the interval until the clock catches up.
  const int64_t elapsed = (static_cast<int64_t>(FileTimeToUInt64(now)) -
                           static_cast<int64_t>(m_nLastCheck.load(std::memory_order_relaxed))) /
                          kTicksPerMinute;
  const int32_t interval = GetReloadInterval();
  if (elapsed < interval) return S_OK;

  const std::string path = GetPath();
  if (path.empty()) return S_OK;
  FileIdentity current;
  const DWORD err = GetFileIdentity(path, &current);
  if (err != ERROR_SUCCESS) {
    const HRESULT hr = HResultFromWin32Code(err);
    // The check time is not stamped, so the next call looks at the file again.
    DebugLogError(static_cast<DWORD>(hr), "GetFileDate %s", path.c_str());
    if (!m_bMissingReported.exchange(true)) {
      ReportUnreadableSettingsFile(path, {"the file is missing or cannot be opened", 0, 0}, HasLoaded());
    }
    return hr;
  }
  m_bMissingReported.store(false);

  std::lock_guard<std::mutex> guard(m_stateLock);
  if (!(current == m_loadedIdentity)) {
    if (due != nullptr) *due = true;
    if (DebugLogEnabled()) {
      const std::string prefix = "Reload Settings " + path;
      LogTime(prefix.c_str(), FileIdentityWriteTime(current), interval);
      LogTime(nullptr, m_ftLoaded, interval);
    }
    // The loaded version moves on only when a reload has run, and the check
    // time stays, so the change is seen again until then.
    return S_OK;
  }
  m_nLastCheck.store(FileTimeToUInt64(now), std::memory_order_relaxed);
  return S_OK;
}

bool CBasicSettings::IsFileNewerThanLoaded() const {
  const std::string path = GetPath();
  FileIdentity current;
  if (path.empty() || GetFileIdentity(path, &current) != ERROR_SUCCESS) return false;
  std::lock_guard<std::mutex> guard(m_stateLock);
  return !(current == m_loadedIdentity);
}

HRESULT CBasicSettings::Refresh() {
  const std::string path = GetPath();
  const HRESULT hr = LoadSettings(path);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "Refresh failed to load %s HR= 0x%x", path.c_str(),
                  static_cast<unsigned>(hr));
    // The version that failed is not tried again until the file changes
    // once more; what a writer finished during the parse counts as such a
    // change. A good load has already recorded what it read.
    std::lock_guard<std::mutex> guard(m_stateLock);
    m_loadedIdentity = m_parsingIdentity;
    m_ftLoaded = FileIdentityWriteTime(m_parsingIdentity);
  }
  return hr;
}

// ---- conversions -------------------------------------------------------------------

bool CBasicSettings::GetIntFromVariant(int32_t* value, const VARIANT& variant) {
  if (variant.vt == VT_I4) {
    *value = variant.lVal;
    return true;
  }
  if (variant.vt == VT_BSTR) {
    if (variant.bstrVal != nullptr) *value = SettingsTextToInt(variant.bstrVal);
    return true;
  }
  return false;
}

bool CBasicSettings::ReadElementID(int32_t* value, const VARIANT& variant) {
  if (variant.vt == VT_I4) {
    *value = variant.lVal;
    return true;
  }
  if (variant.vt != VT_BSTR || variant.bstrVal == nullptr) return false;
  return ReadSettingsNumber(variant.bstrVal, 0, INT32_MAX, value);
}

bool CBasicSettings::VariantToString(std::string* value, const VARIANT& variant) {
  if (variant.vt != VT_BSTR || variant.bstrVal == nullptr) return false;
  value->assign(variant.bstrVal, SysStringLen(variant.bstrVal));
  return true;
}

bool CBasicSettings::ReadItem(const TagItems& attributes, SettingItem* item) {
  if (attributes.size() < 3) return false;
  bool ok = true;
  // An ID that is no number names no item: read as atoi reads it, "43abc"
  // or "+43" would stand in for item 43.
  if (!ReadElementID(&item->ID, attributes[0].value)) ok = false;
  const VARIANT& descr = attributes[1].value;
  if (descr.vt == VT_BSTR) {
    item->description = descr.bstrVal != nullptr ? _bstr_t(descr.bstrVal) : _bstr_t();
  }
  item->value = _variant_t(static_cast<const VARIANT&>(attributes[2].value));
  return ok;
}

// ---- walkers ---------------------------------------------------------------------

HRESULT CBasicSettings::ReadAttributes(const CXMLNode& element, TagItems& attributes) {
  if (element.IsNull()) return S_OK;
  CXMLNamedNodeMap map;
  HRESULT hr = element.get_attributes(&map);
  if (FAILED(hr)) return hr;
  if (map.IsNull()) return S_OK;
  for (TAGITEM& tag : attributes) {
    CXMLNode attr;
    hr = map.getNamedItem(tag.name, &attr);
    if (FAILED(hr)) return hr;
    // A missing attribute ends the read; it and the later ones stay empty.
    if (attr.IsNull()) break;
    hr = GetXMLNodeValue(attr, &tag.value);
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

namespace {

CXMLNodeList SelectOrThrow(const CXMLNode& node, const char* xpath, LONG* length) {
  CXMLNodeList list;
  HRESULT hr = node.selectNodes(_bstr_t(xpath), &list);
  if (FAILED(hr)) throw hr;
  hr = list.get_length(length);
  if (FAILED(hr)) throw hr;
  return list;
}

CBasicSettings::TagItems MakeTags(const std::vector<std::string>& names) {
  CBasicSettings::TagItems tags(names.size());
  for (size_t i = 0; i < names.size(); ++i) tags[i].name = _bstr_t(names[i]);
  return tags;
}

}  // namespace

HRESULT CBasicSettings::ForEachElement(const CXMLNode& node, const char* xpath, const std::vector<std::string>& names,
                                       _functBaseTrans& functor) {
  return ForEachElementWithChildren(node, xpath, names, functor, nullptr, {}, functor);
}

HRESULT CBasicSettings::ForEachElementWithChildren(const CXMLNode& node, const char* xpath,
                                                   const std::vector<std::string>& names, _functBaseTrans& functor,
                                                   const char* childXPath, const std::vector<std::string>& childNames,
                                                   _functBaseTrans& childFunctor) {
  if (node.IsNull()) return S_OK;
  LONG length = 0;
  const CXMLNodeList list = SelectOrThrow(node, xpath, &length);
  HRESULT hr = S_OK;
  for (LONG i = 0; i < length; ++i) {
    CXMLNode item;
    hr = list.get_item(i, &item);
    if (FAILED(hr)) throw hr;
    if (item.IsNull()) continue;
    if (!names.empty()) {
      TagItems tags = MakeTags(names);
      hr = ReadAttributes(item, tags);
      if (FAILED(hr)) throw hr;
      functor(tags);
    }
    if (childXPath != nullptr && !childNames.empty()) {
      hr = ForEachElement(item, childXPath, childNames, childFunctor);
      if (FAILED(hr)) throw hr;
    }
  }
  return hr;
}

// ---- writing -------------------------------------------------------------------

HRESULT CBasicSettings::DipatchSaveItem(CXMLDocument* document, CXMLNode* itemsNode,
                                        const std::vector<std::string>& names, const SettingItem* item,
                                        const char* elementName, int32_t kind) {
  if (kind != 1) return S_OK;
  if (itemsNode == nullptr || itemsNode->IsNull() || item == nullptr) {
    DebugLog("CBasicSettings::DipatchSaveItem pItemsNode NULL");
    return E_POINTER;
  }
  return AddItemElement(document, itemsNode, names, *item, elementName);
}

HRESULT CBasicSettings::AddItemElement(CXMLDocument* document, CXMLNode* parent, const std::vector<std::string>& names,
                                       const SettingItem& item, const char* elementName) {
  if (document == nullptr || parent == nullptr || names.size() < 3 || elementName == nullptr) return E_INVALIDARG;
  CXMLNode element = CreateXMLNode(document, NODE_ELEMENT, _bstr_t(elementName));
  if (element.IsNull()) return E_FAIL;
  CXMLNode inserted;
  HRESULT hr = parent->insertBefore(&element, nullptr, &inserted);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  CXMLNamedNodeMap attributes;
  hr = inserted.get_attributes(&attributes);
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  bool allOk = SetXMLIntAttribute(document, &attributes, _bstr_t(names[0]), item.ID) == S_OK;
  allOk = SetXMLStringAttribute(document, &attributes, _bstr_t(names[1]), item.description) == S_OK && allOk;
  if (item.value.vt == VT_I4) {
    allOk = SetXMLIntAttribute(document, &attributes, _bstr_t(names[2]), item.value.lVal) == S_OK && allOk;
  } else if (item.value.vt == VT_BSTR) {
    const _bstr_t text(item.value.bstrVal != nullptr ? item.value.bstrVal : "");
    allOk = SetXMLStringAttribute(document, &attributes, _bstr_t(names[2]), text) == S_OK && allOk;
  } else {
    return E_FAIL;
  }
  return allOk ? S_OK : E_FAIL;
}

// ---- free helpers ----------------------------------------------------------------

CXMLNode CreateXMLNode(CXMLDocument* document, int32_t nodeType, const _bstr_t& name) {
  CXMLNode node;
  if (document == nullptr) return node;
  const _variant_t type(static_cast<LONG>(nodeType));
  if (FAILED(document->createNode(type, name, _bstr_t(), &node))) return CXMLNode();
  return node;
}

namespace {
HRESULT SetAttributeText(CXMLDocument* document, CXMLNamedNodeMap* attributes, const _bstr_t& name,
                         const _bstr_t& text) {
  if (document == nullptr || attributes == nullptr || attributes->IsNull()) return S_FALSE;
  CXMLNode attr = CreateXMLNode(document, NODE_ATTRIBUTE, name);
  if (attr.IsNull()) return E_FAIL;
  const HRESULT hr = attributes->setNamedItem(&attr, nullptr);
  if (FAILED(hr)) return hr;
  return attr.put_text(text);
}
}  // namespace

HRESULT SetXMLIntAttribute(CXMLDocument* document, CXMLNamedNodeMap* attributes, const _bstr_t& name, int32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "%d", value);
  return SetAttributeText(document, attributes, name, _bstr_t(text));
}

HRESULT SetXMLStringAttribute(CXMLDocument* document, CXMLNamedNodeMap* attributes, const _bstr_t& name,
                              const _bstr_t& value) {
  return SetAttributeText(document, attributes, name, value);
}

HRESULT GetXMLNodeValue(const CXMLNode& node, VARIANT* value) { return node.get_nodeTypedValue(value); }

HRESULT LoadXMLDocument(CXMLDocument* document, const _bstr_t& path, XMLLoadFailure* failure) {
  if (document == nullptr) return E_POINTER;
  HRESULT hr = document->put_async(false);
  if (FAILED(hr)) return hr;
  VARIANT_BOOL ok = VARIANT_FALSE;
  hr = document->load(_variant_t(path), &ok);
  if (FAILED(hr)) return hr;
  CXMLParseError error;
  LONG code = 0;
  if (FAILED(document->get_parseError(&error)) || FAILED(error.get_errorCode(&code))) return E_FAIL;
  if (code != 0) {
    ReportXMLParseError(error);
    if (failure != nullptr) {
      _bstr_t reason;
      error.get_reason(&reason);
      failure->reason = reason.length() > 0 ? reason.c_str() : "";
      error.get_line(&failure->line);
      error.get_linepos(&failure->position);
    }
  }
  // The server's standard output is not the module's: what the load did
  // goes to the debug log.
  return code;
}

HRESULT SaveXMLDocument(CXMLDocument* document, const _bstr_t& path) {
  if (document == nullptr) return E_POINTER;
  return document->save(_variant_t(path));
}

HRESULT ReportXMLParseError(const CXMLParseError& error) {
  LONG line = 0;
  LONG pos = 0;
  LONG code = 0;
  _bstr_t url;
  _bstr_t reason;
  if (SUCCEEDED(error.get_line(&line)) && SUCCEEDED(error.get_linepos(&pos)) &&
      SUCCEEDED(error.get_errorCode(&code)) && SUCCEEDED(error.get_url(&url)) &&
      SUCCEEDED(error.get_reason(&reason))) {
    DebugLog("%s", reason.c_str());
    if (line > 0) DebugLog("Error on line %d, position %d in \"%s\".", line, pos, url.c_str());
  }
  return E_FAIL;
}
