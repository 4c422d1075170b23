#include "general/owa_ad_config.h"

#include "common/debug_log.h"
#include "common/revert_to_self_guard.h"
#include "platform/adsi.h"
#include "platform/wide_text.h"

namespace {

constexpr const char kAdministrativeGroupPart[] =
    ",CN=Servers,CN=Exchange Administrative Group (FYDIBOHF23SPDLT),CN=Administrative Groups,CN=";

// Releases a directory interface at the end of a scope.
template <class I>
struct CReleaser {
  I* p = nullptr;
  ~CReleaser() {
    if (p != nullptr) p->Release();
  }
};

// The constants of one of the two configuration searches.
struct CConfigSearch {
  const char* procedure;
  const wchar_t* filter;
  std::vector<const wchar_t*> attributes;  // the first one gives the result
};

const CConfigSearch kOrganizationSearch{
    "GetExchangeOrganizationCN", L"(objectCategory=msExchOrganizationContainer)", {L"cn", L"distinguishedName"}};
const CConfigSearch kVirtualDirectorySearch{
    "GetOWAWebSiteCN", L"(&(objectClass=msExchOWAVirtualDirectory)(cn=owa*))", {L"distinguishedName"}};

// Searches the subtree below `base` and gives the first attribute's first
// value of the last matching object.
HRESULT FindLastMatch(const CConfigSearch& search, const std::wstring& base, std::wstring& result) {
  const char* name = search.procedure;
  const std::wstring path = L"LDAP://" + base;
  CReleaser<IDirectorySearch> searcher;
  HRESULT hr = ADsGetObject(path, &searcher.p);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr),
                  "%s Get ADObject IID_IDirectorySearch configurationContext failed %S, HR=0x%x %S", name, path.c_str(),
                  static_cast<unsigned>(hr), GetADsErrorText(hr).c_str());
    return hr;
  }
  ADS_SEARCHPREF_INFO scope{};
  scope.dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
  scope.vValue.dwType = ADSTYPE_INTEGER;
  scope.vValue.Integer = ADS_SCOPE_SUBTREE;
  hr = searcher.p->SetSearchPreference(&scope, 1);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "%s SetSearchPreference failed %S, HR=0x%x %S", name, path.c_str(),
                  static_cast<unsigned>(hr), GetADsErrorText(hr).c_str());
    return hr;
  }
  ADS_SEARCH_HANDLE handle = nullptr;
  hr = searcher.p->ExecuteSearch(search.filter, search.attributes.data(), static_cast<DWORD>(search.attributes.size()),
                                 &handle);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "%s ExecuteSearch failed %S, HR=0x%x %S", name, path.c_str(),
                  static_cast<unsigned>(hr), GetADsErrorText(hr).c_str());
    return hr;
  }
  if (handle == nullptr) {
    DebugLog("%s ExecuteSearch goty an empty handle", name);
    return E_INVALIDARG;
  }
  DebugLog("%s ExecuteSearch got a handle", name);
  bool found = false;
  // Any failure of the row walk ends it: a failing directory must not keep
  // the start-up in a loop.
  while ((hr = searcher.p->GetNextRow(handle)) == S_OK) {
    for (size_t i = 0; i < search.attributes.size(); ++i) {
      ADS_SEARCH_COLUMN column{};
      hr = searcher.p->GetColumn(handle, search.attributes[i], &column);
      if (FAILED(hr)) {
        DebugLogError(static_cast<DWORD>(hr), "%s failed to get hr:0x%x %S", name, static_cast<unsigned>(hr),
                      GetADsErrorText(hr).c_str());
        continue;
      }
      DebugLog("%s ExecuteSearch got a handle", name);
      if (i == 0 && column.dwNumValues > 0 && column.pADsValues[0].dwType != ADSTYPE_OCTET_STRING &&
          column.pADsValues[0].CaseIgnoreString != nullptr) {
        result = column.pADsValues[0].CaseIgnoreString;
        found = true;
        DebugLog("%s ExecuteSearch got a %S", name, result.c_str());
      }
      searcher.p->FreeColumn(&column);
    }
  }
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "%s GetNextRow failed hr:0x%x %S", name, static_cast<unsigned>(hr),
                  GetADsErrorText(hr).c_str());
  }
  hr = searcher.p->CloseSearchHandle(handle);
  if (found && FAILED(hr)) hr = S_OK;
  return hr;
}

template <class T>
void AddHolder(std::vector<CCountedPtr<ADProp>>& table, T* member, const char* name, uint32_t kind) {
  table.push_back(CCountedPtr<ADProp>(new TReadADProp<T>(member, name, kind)));
}

// Reads every holder's attribute; no failure stops the walk, and the result
// is that of the last attribute.
HRESULT ReadAttributes(IADs* object, std::vector<CCountedPtr<ADProp>>& table) {
  HRESULT hr = S_OK;
  for (CCountedPtr<ADProp>& holder : table) {
    const std::wstring name = WideFromBytes(holder->m_strName);
    _variant_t value;
    hr = holder->m_nKind == kADPropList ? object->GetEx(name, &value) : object->Get(name, &value);
    if (SUCCEEDED(hr)) {
      hr = holder->ReadVariant(value);
      if (FAILED(hr)) {
        DebugLogError(static_cast<DWORD>(hr), "Read content from OWA prop failed %s %S", holder->m_strName.c_str(),
                      GetADsErrorText(hr).c_str());
      }
    } else if (hr == E_ADS_PROPERTY_NOT_FOUND) {
      hr = S_OK;
      DebugLogError(0, " Read OWAProperty %s not found %S", holder->m_strName.c_str(), L"");
    } else {
      DebugLogError(static_cast<DWORD>(hr), " Read OWAProperty failed %s %S", holder->m_strName.c_str(),
                    GetADsErrorText(hr).c_str());
    }
  }
  return hr;
}

}  // namespace

COWAADConfig::COWAADConfig() = default;

COWAADConfig::~COWAADConfig() = default;

void COWAADConfig::InitPropertyTable() {
  auto& t = m_vProperties;
  AddHolder(t, &m_nUserContextTimeOut, "msExchOWAUserContextTimeOut", kADPropInteger);
  AddHolder(t, &m_nVersion, "msExchOWAVersion", kADPropInteger);
  AddHolder(t, &m_nVirtualDirectoryType, "msExchOWAVirtualDirectoryType", kADPropInteger);
  AddHolder(t, &m_nUseISO99519, "msExchOWAUseISO99519", kADPropInteger);
  AddHolder(t, &m_nUseGB18030, "msExchOWAUseGB18030", kADPropInteger);
  AddHolder(t, &m_nTranscodingFlag, "msExchOWATranscodingFlag", kADPropInteger);
  AddHolder(t, &m_vTranscodingMimesTypes, "msExchOWATranscodingMimesTypes", kADPropList);
  AddHolder(t, &m_vTranscodingFileTypes, "msExchOWATranscodingFileTypes", kADPropList);
  AddHolder(t, &m_vRemoteDocumentsInternalDomainSuffixList, "msExchOWARemoteDocumentsInternalDomainSuffixList",
            kADPropList);
  AddHolder(t, &m_vRemoteDocumentsBlockedServers, "msExchOWARemoteDocumentsBlockedServers", kADPropList);
  AddHolder(t, &m_vRemoteDocumentsAllowedServers, "msExchOWARemoteDocumentsAllowedServers", kADPropList);
  AddHolder(t, &m_nRemoteDocumentsActionForUnknownServers, "msExchOWARemoteDocumentsActionForUnknownServers",
            kADPropInteger);
  AddHolder(t, &m_nRedirectToOptimalOWAServer, "msExchOWARedirectToOptimalOWAServer", kADPropInteger);
  AddHolder(t, &m_nOutputCharSet, "msExchOWAOutputCharSet", kADPropInteger);
  AddHolder(t, &m_nNotificationInterval, "msExchOWANotificationInterval", kADPropInteger);
  AddHolder(t, &m_strMaxTranscodableDocumentSize, "msExchOWAMaxTranscodableDocumentSize", kADPropString);
  AddHolder(t, &m_nLogonFormat, "msExchOWALogonFormat", kADPropInteger);
  AddHolder(t, &m_nLogonAndErrorLanguage, "msExchOWALogonAndErrorLanguage", kADPropInteger);
  AddHolder(t, &m_nGZipLevel, "msExchOWAGZipLevel", kADPropInteger);
  AddHolder(t, &m_vForceSaveMimeTypes, "msExchOWAForceSaveMimeTypes", kADPropList);
  AddHolder(t, &m_vForceSaveFileTypes, "msExchOWAForceSaveFileTypes", kADPropList);
  AddHolder(t, &m_nFilterWebBeacons, "msExchOWAFilterWebBeacons", kADPropInteger);
  AddHolder(t, &m_nFileAccessControlOnPublicComputers, "msExchOWAFileAccessControlOnPublicComputers", kADPropInteger);
  AddHolder(t, &m_nFileAccessControlOnPrivateComputers, "msExchOWAFileAccessControlOnPrivateComputers", kADPropInteger);
  AddHolder(t, &m_nExchangeProxyDestination, "msExchOWAExchangeProxyDestination", kADPropInteger);
  AddHolder(t, &m_strDefaultTheme, "msExchOWADefaultTheme", kADPropString);
  AddHolder(t, &m_nDefaultClientLanguage, "msExchOWADefaultClientLanguage", kADPropInteger);
  AddHolder(t, &m_nAuthCleanUpLevel, "msExchOWAAuthCleanUpLevel", kADPropInteger);
  AddHolder(t, &m_vBlockedMIMETypes, "msExchOWABlockedMIMETypes", kADPropList);
  AddHolder(t, &m_vAllowedMimeTypes, "msExchOWAAllowedMimeTypes", kADPropList);
  AddHolder(t, &m_vBlockedFileTypes, "msExchOWABlockedFileTypes", kADPropList);
  AddHolder(t, &m_vAllowedFileTypes, "msExchOWAAllowedFileTypes", kADPropList);
  AddHolder(t, &m_nActionForUnknownFileAndMIMETypes, "msExchOWAActionForUnknownFileAndMIMETypes", kADPropInteger);
  AddHolder(t, &m_nMailboxFolderSet, "msExchMailboxFolderSet", kADPropInteger);
}

HRESULT COWAADConfig::GetExchangeOrganizationCN(IADs* rootDSE, const std::wstring& configurationNamingContext,
                                                std::wstring& cn) {
  cn.clear();
  if (rootDSE == nullptr) return S_OK;
  return FindLastMatch(kOrganizationSearch, configurationNamingContext, cn);
}

HRESULT COWAADConfig::GetOWAWebSiteCN(IADs* rootDSE, const std::wstring& containerDN, std::wstring& dn) {
  dn.clear();
  if (rootDSE == nullptr) return S_OK;
  return FindLastMatch(kVirtualDirectorySearch, containerDN, dn);
}

HRESULT COWAADConfig::ReadProperties(const std::wstring& server) {
  CRevertToSelfGuard revert;
  // One deadline for the whole read, as for a request's look-up: a slow
  // directory must not hold the start-up for a limit per operation. A read
  // in the background brings a limit of its own, which this one keeps.
  CADsTimeLimit limit;
  // The four objects read share one connection: one bind, not four.
  CADsOneConnection oneConnection;
  const std::wstring rootPath = server.empty() ? L"LDAP://rootDSE" : L"LDAP://" + server + L"/rootDSE";
  CReleaser<IADs> rootDSE;
  HRESULT hr = ADsGetObject(rootPath, &rootDSE.p);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "[COWAADConfig::ReadProperties] Could not get rootDSE 0x%x %S",
                  static_cast<unsigned>(hr), GetADsErrorText(hr).c_str());
    return hr;
  }
  _variant_t context;
  hr = rootDSE.p->Get(L"configurationNamingContext", &context);
  const bool usable = SUCCEEDED(hr) && context.vt == VT_BSTR && context.bstrVal != nullptr && *context.bstrVal != '\0';
  if (!usable) {
    // Without the naming context nothing can be read: that is a failure, not
    // a read that found defaults.
    if (SUCCEEDED(hr)) hr = E_FAIL;
    DebugLogError(static_cast<DWORD>(hr),
                  "[COWAADConfig::ReadProperties] Could not get configurationNamingContext property on rootDSE 0x%x %S",
                  static_cast<unsigned>(hr), GetADsErrorText(hr).c_str());
    return hr;
  }
  const std::wstring namingContext = WideFromBytes(std::string(context.bstrVal, SysStringLen(context.bstrVal)));
  std::wstring organization;
  hr = GetExchangeOrganizationCN(rootDSE.p, namingContext, organization);
  if (SUCCEEDED(hr) && organization.empty()) hr = E_DS_NO_SUCH_OBJECT;
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "[COWAADConfig::ReadProperties] GetExchangeOrganizationCN failed 0x%x %S %S",
                  static_cast<unsigned>(hr), L"", GetADsErrorText(hr).c_str());
    return hr;
  }
  DebugLog("[COWAADConfig::ReadProperties] GetExchangeOrganizationCN succeeded.  CN is <%S>", organization.c_str());
  const std::wstring container = L"CN=HTTP,CN=Protocols,CN=" + m_wstrServerName +
                                 WideFromBytes(kAdministrativeGroupPart) + organization +
                                 L",CN=Microsoft Exchange,CN=Services," + namingContext;
  std::wstring site;
  hr = GetOWAWebSiteCN(rootDSE.p, container, site);
  if (SUCCEEDED(hr) && site.empty()) {
    hr = E_DS_NO_SUCH_OBJECT;
    DebugLogError(static_cast<DWORD>(hr), "[COWAADConfig::ReadProperties] No OWA virtual directory below <%S>",
                  container.c_str());
  }
  if (FAILED(hr)) return hr;
  DebugLog("[COWAADConfig::ReadProperties] GetOWAWebSiteCN succeeded.  OWA Path is <%S>", site.c_str());
  rootDSE.p->Release();
  rootDSE.p = nullptr;
  const std::wstring sitePath = L"LDAP://" + site;
  CReleaser<IADs> object;
  hr = ADsGetObject(sitePath, &object.p);
  if (FAILED(hr)) {
    DebugLog("[COWAADConfig::ReadProperties] Unable to open OWA Web Site object <%S>", sitePath.c_str());
    DebugLogError(static_cast<DWORD>(hr),
                  "[COWAADConfig::ReadProperties] Unable to open OWA Web Site object 0x%x %S %S",
                  static_cast<unsigned>(hr), sitePath.c_str(), GetADsErrorText(hr).c_str());
    return hr;
  }
  return ReadAttributes(object.p, m_vProperties);
}

std::wstring GetADsErrorText(HRESULT hr) {
  const auto facility = (static_cast<uint32_t>(hr) >> 16) & 0x1FFFu;
  if (facility != 7) return {};
  DWORD error = 0;
  wchar_t text[260];
  wchar_t provider[260];
  if (FAILED(ADsGetLastError(&error, text, 260, provider, 260))) return {};
  return std::wstring(text) + L" " + provider;
}
