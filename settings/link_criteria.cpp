#include "settings/link_criteria.h"

#include "common/crit_sec.h"
#include "common/debug_log.h"
#include "settings/setting_ids.h"
#include "settings/settings_text.h"

void CLinkCriteriaItem::Delete(CLinkCriteriaItem* item) {
  if (item == nullptr) return;
  item->m_criteria.clear();
  item->m_strDescription.clear();
  delete item;
}

CLinkCriteria::~CLinkCriteria() { m_links.clear(); }

bool CLinkCriteria::AddHX(TagItems& attributes, ReadContext& context) {
  int32_t id = 0;
  if (attributes.empty() || !ReadElementID(&id, attributes[0].value)) {
    // Its links must not join the HX read before it: that would move
    // criteria into another module's settings, or into this one's.
    context.currentHX.reset();
    std::string text;
    const bool haveText = !attributes.empty() && VariantToString(&text, attributes[0].value);
    context.mistakes.Add("The link-criteria file %s has an <HX> %s%s%s (attribute names are case-sensitive); none "
                         "of its links is read, and the criteria they would link are served as unlinked ones "
                         "(settings 0, else the general settings).",
                         context.path.c_str(), haveText ? "whose ID \"" : "without an ID attribute",
                         haveText ? text.c_str() : "", haveText ? "\" is not a number" : "");
    return false;
  }
  std::string description;
  const bool haveDescription = attributes.size() > 1 && VariantToString(&description, attributes[1].value);
  auto it = context.links.find(id);
  if (it != context.links.end()) {
    if (haveDescription) it->second->m_strDescription = description;
  } else {
    auto* item = new CLinkCriteriaItem;
    item->m_nHXID = id;
    item->m_strDescription = description;
    context.links.emplace(id, ItemPtr(item));
  }
  context.currentHX = id;
  return true;
}

bool CLinkCriteria::AddLink(TagItems& attributes, ReadContext& context) {
  int32_t criteria = 0;
  int32_t settings = 0;
  // An ID read as atoi reads it would link another criteria ("2x" as 2) or
  // a saturated one; such a link is not read.
  for (size_t i = 0; i < attributes.size() && i < 2; ++i) {
    int32_t* target = i == 0 ? &criteria : &settings;
    if (attributes[i].value.vt == VT_EMPTY || ReadElementID(target, attributes[i].value)) continue;
    std::string text;
    VariantToString(&text, attributes[i].value);
    context.mistakes.Add("The link-criteria file %s has a <LINK> whose %s \"%s\" is not a number (a plain decimal "
                         "number, blanks around it allowed); it is not read, and its criteria is served as an "
                         "unlinked one unless another link names it.",
                         context.path.c_str(), i == 0 ? "CRITERIA_ID" : "SETTINGS_ID", text.c_str());
    return false;
  }
  if (attributes.size() == 2 && (attributes[0].value.vt == VT_EMPTY || attributes[1].value.vt == VT_EMPTY)) {
    std::string text;
    VariantToString(&text, attributes[0].value);
    context.mistakes.Add("The link-criteria file %s has a <LINK> (CRITERIA_ID \"%s\") without a %s attribute "
                         "(attribute names are case-sensitive); it links criteria %d to settings %d.",
                         context.path.c_str(), text.c_str(),
                         attributes[0].value.vt == VT_EMPTY ? "CRITERIA_ID" : "SETTINGS_ID",
                         static_cast<int>(criteria), 0);
  }
  // Links before the first readable HX element have no item to join.
  if (!context.currentHX) return false;
  auto it = context.links.find(*context.currentHX);
  if (it == context.links.end()) return false;
  auto& links = it->second->m_criteria;
  const auto earlier = links.find(criteria);
  if (earlier != links.end() && earlier->second != settings) {
    context.mistakes.Add("The link-criteria file %s links criteria %d in <HX ID=\"%d\"> more than once (to settings "
                         "%d, then %d); the last link, to settings %d, is used.",
                         context.path.c_str(), static_cast<int>(criteria), static_cast<int>(*context.currentHX),
                         static_cast<int>(earlier->second), static_cast<int>(settings), static_cast<int>(settings));
  }
  links[criteria] = settings;
  return true;
}

HRESULT CLinkCriteria::LoadLinkCriteria(const std::string& path) {
  CLoadFailureReport failure(path, HasLoaded());
  // A file that is there but cannot be reached (a link loop, a folder
  // closed to the server) is said as such, not as a missing file.
  if (const DWORD lookUp = FindFileError(path); lookUp != ERROR_SUCCESS) {
    DebugLog("Load LoadLinkCriteria can not find file %s error %u", path.c_str(), static_cast<unsigned>(lookUp));
    return HRESULT_FROM_WIN32(lookUp);
  }
  FILETIME fileTime{};
  const bool haveFileTime = GetFileLastWriteTime(path, &fileTime) == ERROR_SUCCESS;

  ReadContext context;
  HRESULT hr = S_OK;
  CXMLNode root;
  try {
    SetPath(path);
    CXMLDocument document;
    hr = CreateXMLDocument(&document);
    if (FAILED(hr)) throw hr;
    XMLLoadFailure parseFailure;
    hr = LoadXMLDocument(&document, _bstr_t(path), &parseFailure);
    if (FAILED(hr)) {
      failure.Report(parseFailure);
      throw hr;
    }
    hr = document.selectSingleNode(_bstr_t("HEXMOORS"), &root);
    if (FAILED(hr)) throw hr;
    context.path = path;
    NoteRepeatedAttributes(document, "link-criteria file", path, context.mistakes);
    NoteBytesNotUTF8(document, "link-criteria file", path, context.mistakes);
    if (root.IsNull()) context.rootName = document.RootElementName();
    _functTrans<CLinkCriteria, ReadContext> hxStep(this, &CLinkCriteria::AddHX, &context);
    _functTrans<CLinkCriteria, ReadContext> linkStep(this, &CLinkCriteria::AddLink, &context);
    hr = ForEachElementWithChildren(root, "HX", {"ID", "DESCR"}, hxStep, "LINK", {"CRITERIA_ID", "SETTINGS_ID"},
                                    linkStep);
    NoteMistakes(root, context);
  } catch (HRESULT e) {
    DebugLogError(static_cast<DWORD>(e), "LoadLinkCriteria HRESULT exception %x", static_cast<unsigned>(e));
    failure.ReportCode(e);
    return FAILED(e) ? e : E_FAIL;
  } catch (const _com_error& e) {
    DebugLogError(static_cast<DWORD>(e.Error()), "LoadCoreSettings com exception %x", static_cast<unsigned>(e.Error()));
    failure.ReportCode(e.Error());
    return FAILED(e.Error()) ? e.Error() : E_FAIL;
  } catch (const std::exception& e) {
    DebugLogError(static_cast<DWORD>(E_FAIL), "LoadLinkCriteria General exception");
    failure.ReportText(e.what());
    return E_FAIL;
  } catch (...) {
    DebugLogError(static_cast<DWORD>(E_FAIL), "LoadLinkCriteria General exception");
    failure.ReportText(nullptr);
    return E_FAIL;
  }
  if (FAILED(hr)) return hr;

  {
    CLockGuard guard(SwapLock());
    m_links.swap(context.links);
  }
  // The links replaced are released here, outside the lock.
  context.links.clear();
  RecordLoad(haveFileTime, fileTime);
  context.mistakes.Report("link-criteria file", context.path);
  return S_OK;
}

void CLinkCriteria::NoteMistakes(const CXMLNode& root, ReadContext& context) {
  const char* path = context.path.c_str();
  if (root.IsNull()) {
    context.mistakes.Add("The link-criteria file %s has no <HEXMOORS> root element (element names are case-sensitive; "
                         "the file's root is <%s>); no criteria is linked, and every criteria is served as an "
                         "unlinked one (settings 0, else the general settings).",
                         path, context.rootName.c_str());
    return;
  }
  // Element names the walk passes by: an <hx> or a <link> links nothing.
  CXMLNodeList strays;
  LONG length = 0;
  if (SUCCEEDED(root.selectNodes(_bstr_t("*[name()!='HX'] | HX/*[name()!='LINK']"), &strays)) &&
      SUCCEEDED(strays.get_length(&length))) {
    for (LONG i = 0; i < length; ++i) {
      CXMLNode stray;
      _bstr_t name;
      if (FAILED(strays.get_item(i, &stray)) || stray.IsNull() || FAILED(stray.get_nodeName(&name))) continue;
      context.mistakes.Add("The link-criteria file %s has an element <%s> that is not read (element names are "
                           "case-sensitive); the criteria it would link are served as unlinked ones (settings 0, "
                           "else the general settings).",
                           path, name.c_str());
    }
  }
  if (context.links.count(kThisModuleHXID) != 0) return;
  std::string found;
  for (const auto& entry : context.links) found += (found.empty() ? "" : ", ") + std::to_string(entry.first);
  context.mistakes.Add("The link-criteria file %s has no <HX ID=\"%d\"> element, the one this module reads%s%s%s; "
                       "no criteria is linked, and every criteria is served as an unlinked one (settings 0, else "
                         "the general settings).",
                       path, static_cast<int>(kThisModuleHXID), found.empty() ? "" : " (it has HX ID ",
                       found.c_str(), found.empty() ? "" : ")");
}

HRESULT CLinkCriteria::SaveLinkCriteria() {
  try {
    CXMLDocument document;
    HRESULT hr = CreateXMLDocument(&document);
    if (FAILED(hr)) return hr;
    CXMLNode root = CreateXMLNode(&document, NODE_ELEMENT, _bstr_t("HEXMOORS"));
    if (root.IsNull()) return E_FAIL;
    hr = document.appendChild(&root, nullptr);
    if (FAILED(hr)) return hr;
    for (const auto& [hxID, item] : m_links) {
      CXMLNode hx = CreateXMLNode(&document, NODE_ELEMENT, _bstr_t("HX"));
      if (hx.IsNull()) return E_FAIL;
      hr = root.appendChild(&hx, nullptr);
      if (FAILED(hr)) return hr;
      CXMLNamedNodeMap hxAttributes;
      hx.get_attributes(&hxAttributes);
      SetXMLIntAttribute(&document, &hxAttributes, _bstr_t("ID"), hxID);
      SetXMLStringAttribute(&document, &hxAttributes, _bstr_t("DESCR"), _bstr_t(item->m_strDescription));
      for (const auto& [criteria, settings] : item->m_criteria) {
        CXMLNode link = CreateXMLNode(&document, NODE_ELEMENT, _bstr_t("LINK"));
        if (link.IsNull()) return E_FAIL;
        hr = hx.appendChild(&link, nullptr);
        if (FAILED(hr)) return hr;
        CXMLNamedNodeMap linkAttributes;
        link.get_attributes(&linkAttributes);
        SetXMLIntAttribute(&document, &linkAttributes, _bstr_t("CRITERIA_ID"), criteria);
        SetXMLIntAttribute(&document, &linkAttributes, _bstr_t("SETTINGS_ID"), settings);
      }
    }
    return SaveXMLDocument(&document, _bstr_t(GetPath()));
  } catch (const _com_error& e) {
    return FAILED(e.Error()) ? e.Error() : E_FAIL;
  } catch (...) {
    return E_FAIL;
  }
}
