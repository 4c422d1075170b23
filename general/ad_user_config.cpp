#include "general/ad_user_config.h"

#include <cstdio>
#include <exception>

#include "common/debug_log.h"
#include "common/revert_to_self_guard.h"
#include "common/string_utils.h"
#include "platform/adsi.h"
#include "platform/local_memory.h"
#include "platform/security_sid.h"
#include "platform/wide_text.h"

namespace {

// RFC 4515: the filter's special characters (and NUL) as \XX, so that a user
// identifier cannot widen or reshape a search.
std::string EscapeFilterValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  char hex[4];
  for (char c : value) {
    if (c == '*' || c == '(' || c == ')' || c == '\\' || c == '\0') {
      std::snprintf(hex, sizeof hex, "\\%02x", static_cast<unsigned char>(c));
      out += hex;
    } else {
      out += c;
    }
  }
  return out;
}

// A SID text searched as its binary form, each byte escaped; any other text
// escaped as it is.
std::string SidFilterValue(const std::string& sidText) {
  PSID sid = nullptr;
  if (!ConvertStringSidToSidA(sidText.c_str(), &sid)) return EscapeFilterValue(sidText);
  const auto* bytes = static_cast<const unsigned char*>(sid);
  const DWORD length = GetLengthSid(sid);
  // Every request of a known user builds this filter: escape by table, not
  // by a formatted print per byte.
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out(3u * length, '\\');
  for (DWORD i = 0; i < length; ++i) {
    out[3u * i + 1] = kHex[bytes[i] >> 4];
    out[3u * i + 2] = kHex[bytes[i] & 0xF];
  }
  LocalFree(sid);
  return out;
}

std::wstring SidText(const BYTE* bytes, DWORD length) {
  if (length < 8 || bytes[0] != SID_REVISION || length != 8u + 4u * bytes[1]) return {};
  unsigned long long authority = 0;
  for (int i = 2; i < 8; ++i) authority = (authority << 8) | bytes[i];
  std::wstring text = L"S-1-" + std::to_wstring(authority);
  for (DWORD i = 0; i < bytes[1]; ++i) {
    const BYTE* p = bytes + 8 + 4 * i;
    const uint32_t sub = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    text += L"-" + std::to_wstring(sub);
  }
  return text;
}

std::wstring GuidText(const BYTE* b, DWORD length) {
  if (length != 16) return {};
  wchar_t text[39];
  std::swprintf(text, 39, L"{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[3], b[2], b[1],
                b[0], b[5], b[4], b[7], b[6], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
  return text;
}

const char* TypeName(ADSTYPE type) {
  switch (type) {
    case ADSTYPE_DN_STRING:
      return " ADSTYPE_DN_STRING ";
    case ADSTYPE_CASE_EXACT_STRING:
      return " ADSTYPE_CASE_EXACT_STRING ";
    case ADSTYPE_CASE_IGNORE_STRING:
      return " ADSTYPE_CASE_IGNORE_STRING ";
    case ADSTYPE_PRINTABLE_STRING:
      return " ADSTYPE_PRINTABLE_STRING ";
    case ADSTYPE_NUMERIC_STRING:
      return " ADSTYPE_NUMERIC_STRING ";
    case ADSTYPE_BOOLEAN:
      return " ADSTYPE_BOOLEAN ";
    case ADSTYPE_INTEGER:
      return " ADSTYPE_INTEGER ";
    case ADSTYPE_OCTET_STRING:
      return " ADSTYPE_OCTET_STRING ";
    case ADSTYPE_NT_SECURITY_DESCRIPTOR:
      return " ADSTYPE_NT_SECURITY_DESCRIPTOR ";
    default:
      return " ADSTYPE_UNKNOWN ";
  }
}

// The text of one value by its type; false when the type adds nothing.
bool ValueText(const ADS_SEARCH_COLUMN& column, const ADSVALUE& value, std::wstring& text) {
  const ci_string name = ToCI(BytesFromWide(column.pszAttrName != nullptr ? column.pszAttrName : L""));
  switch (column.dwADsType) {
    case ADSTYPE_DN_STRING:
    case ADSTYPE_CASE_EXACT_STRING:
    case ADSTYPE_CASE_IGNORE_STRING:
    case ADSTYPE_PRINTABLE_STRING:
    case ADSTYPE_NUMERIC_STRING:
      if (value.CaseIgnoreString == nullptr) return false;
      text = value.CaseIgnoreString;
      return true;
    case ADSTYPE_BOOLEAN:
      text = value.Boolean ? L"TRUE" : L"FALSE";
      return true;
    case ADSTYPE_INTEGER:
      text = std::to_wstring(value.Integer);
      return true;
    case ADSTYPE_OCTET_STRING:
      if (name == "objectSID") {
        text = SidText(value.OctetString.lpValue, value.OctetString.dwLength);
      } else if (name == "objectGUID" || name == "msExchMailboxGUID") {
        text = GuidText(value.OctetString.lpValue, value.OctetString.dwLength);
      } else {
        return false;
      }
      return !text.empty();
    case ADSTYPE_NT_SECURITY_DESCRIPTOR:
      return false;
    default:
      DebugLog("Unknown type %d.\n", static_cast<int>(column.dwADsType));
      return false;
  }
}

// Logs a failure unless it only repeats a directory outage already logged in
// this retry interval.
bool ShouldLogFailure() { return !ADsLastFailureIsRepeat(); }

}  // namespace

void CADUserConfig::BuildFilter(const std::string& userId, int32_t kind) {
  // A SID is searched in its binary form; only the other kinds need the
  // escaped text.
  const bool bySid = kind == kUserIdSid || kind == kUserIdSidOrMasterSid;
  const std::string v = bySid ? std::string() : EscapeFilterValue(userId);
  std::string term;
  switch (kind) {
    case kUserIdPrincipalName:
      term = "(userPrincipalName=" + v + ")";
      break;
    case kUserIdName:
      term = "(name=" + v + ")";
      break;
    case kUserIdSmtpAddress:
      term = "(proxyAddresses=*SMTP:" + v + "*)";
      break;
    case kUserIdLegacyExchangeDN:
      term = "(legacyExchangeDN=" + v + ")";
      break;
    case kUserIdX500Address:
      term = "(proxyAddresses=*x500:" + v + "*)";
      break;
    case kUserIdSid:
      term = "(ObjectSID=" + SidFilterValue(userId) + ")";
      break;
    case kUserIdSidOrMasterSid: {
      const std::string sid = SidFilterValue(userId);
      term.reserve(2 * sid.size() + 40);
      term.append("(|(ObjectSID=").append(sid).append(")(msExchMasterAccountSid=").append(sid).append("))");
      break;
    }
    default:
      term = "(sAMAccountName=" + v + ")";
      break;
  }
  m_strUserFilter = ToCI(term);
}

HRESULT CADUserConfig::GetUserProperties(const std::string& propertyName, std::string& value) {
  auto known = m_mapResults.find(ToCI(propertyName));
  if (known != m_mapResults.end()) return known->second->GetValueAsString(value);
  CCountedPtr<ADProp> holder;
  HRESULT hr = ReadProperties(propertyName, holder, m_nConfigType);
  if (FAILED(hr)) return hr;
  std::string text;
  HRESULT read = holder->GetValueAsString(text);
  if (FAILED(read)) return read;
  value = text;
  m_mapResults[ToCI(propertyName)] = holder;
  return hr;
}

HRESULT CADUserConfig::DirectoryBackOffFailure() {
  // The path ReadProperties opens for the default provider.
  // Never destroyed, as every static a request reaches: the process may end
  // under running requests.
  static const std::wstring& kPath = *new std::wstring(std::wstring(kADUserConfigProvider) + L":");
  return ADsBackOffFailure(kPath);
}

HRESULT CADUserConfig::ReadProperties(const std::string& propertyName, CCountedPtr<ADProp>& holder,
                                      int32_t configType) {
  // The context of the log lines, up to the step reached; written out only
  // when a line is, so a request with the log off builds no texts.
  enum class Step { Start, Search, Find } step = Step::Start;
  std::wstring path;
  const char* const filter = m_strUserFilter.c_str();
  auto context = [&] {
    std::string text = "No DefaultNamingContext ";
    if (step >= Step::Search) text += " GetDirectorySearch " + BytesFromWide(path);
    if (step >= Step::Find) text += std::string(" FindUser ") + filter;
    return text;
  };
  try {
    CRevertToSelfGuard revert;
    // Connecting, reading the catalog's root and searching share one limit.
    CADsTimeLimit limit;
    path = m_wstrProvider + L":";
    step = Step::Search;
    IDirectorySearch* search = nullptr;
    HRESULT hr = GetDirectorySearch(&search, path);
    if (FAILED(hr) || search == nullptr) {
      if (SUCCEEDED(hr)) hr = E_FAIL;  // no directory found: no value
      if (ShouldLogFailure()) {
        DebugLogError(static_cast<DWORD>(hr), "ReadProperties couldn't get IDirectorySearch 0x%x ConfigType: %d",
                      static_cast<unsigned>(hr), configType);
      }
      return hr;
    }
    const std::wstring attribute = WideFromBytes(propertyName);
    const wchar_t* attributes[] = {attribute.c_str()};
    auto* typed = new TADProp<std::wstring>(propertyName, kADPropString);
    holder = CCountedPtr<ADProp>(typed);
    step = Step::Find;
    hr = FindUsers(search, WideFromBytes(ToStd(m_strUserFilter)), attributes, 1, typed->m_value);
    if (FAILED(hr) && DebugLogEnabled()) {
      DebugLogError(static_cast<DWORD>(hr),
                    "CADUserConfig failed to get AD user %s Prop %s hr: 0x%x ConfigType: %d  %s", filter,
                    propertyName.c_str(), static_cast<unsigned>(hr), configType, context().c_str());
    }
    search->Release();
    return hr;
  } catch (const _com_error& e) {
    if (DebugLogEnabled()) {
      DebugLogError(static_cast<DWORD>(e.Error()),
                    "ReadProperty from AD got an exception HR: 0x%x. Context: %s user %s Prop %s ConfigurationType: %d",
                    static_cast<unsigned>(e.Error()), context().c_str(), filter, propertyName.c_str(), configType);
    }
    return e.Error();
  } catch (const std::exception& e) {
    const char* what = e.what() != nullptr && *e.what() != '\0' ? e.what() : "EMPTY";
    if (DebugLogEnabled()) {
      DebugLog("ReadProperty from AD got an std exception %s Context: %s user %s Prop %s ConfigurationType: %d", what,
               context().c_str(), filter, propertyName.c_str(), configType);
    }
    return E_UNEXPECTED;
  } catch (...) {
    if (DebugLogEnabled()) {
      DebugLog("ReadProperty from AD got an general exception Context: %s user %s Prop %s ConfigurationType: %d",
               context().c_str(), filter, propertyName.c_str(), configType);
    }
    return E_UNEXPECTED;
  }
}

HRESULT GetDirectorySearch(IDirectorySearch** search, const std::wstring& path) {
  *search = nullptr;
  const bool namespaceRoot = path == L"GC:" || path == L"LDAP:";
  const std::wstring opened = path == L"LDAP:" ? L"LDAP://rootDSE" : path;
  HRESULT hr = ADsOpenObject(opened, nullptr, nullptr, ADS_SECURE_AUTHENTICATION, search);
  if (FAILED(hr) && ShouldLogFailure()) {
    if (namespaceRoot) {
      DebugLogError(static_cast<DWORD>(hr), "GetDirectorySearch ADsOpenObject failed to OPEN GC:: 0x%x\n",
                    static_cast<unsigned>(hr));
    } else {
      DebugLogError(static_cast<DWORD>(hr),
                    "GetDirectorySearch ADsOpenObject IID_IDirectorySearch Path: %S failed: 0x%x\n", path.c_str(),
                    static_cast<unsigned>(hr));
    }
  }
  return hr;
}

HRESULT CADUserConfig::FindUsers(IDirectorySearch* search, const std::wstring& userFilter,
                                 const wchar_t* const* attributes, DWORD count, std::wstring& values) {
  m_nUsersFound = -1;
  if (search == nullptr) return E_POINTER;
  std::string context;
  const std::wstring filter = L"(&" + m_wstrBaseFilter + userFilter + L")";
  if (filter.size() > kMaxUserFilterLength) {
    // A cut filter would no longer say what was asked; nothing is searched.
    DebugLog("CADUserConfig::FindUsers filter of %zu characters refused (at most %zu)", filter.size(),
             kMaxUserFilterLength);
    return E_INVALIDARG;
  }
  ADS_SEARCHPREF_INFO scope{};
  scope.dwSearchPref = ADS_SEARCHPREF_SEARCH_SCOPE;
  scope.vValue.dwType = ADSTYPE_INTEGER;
  scope.vValue.Integer = ADS_SCOPE_SUBTREE;
  HRESULT hr = search->SetSearchPreference(&scope, 1);
  if (FAILED(hr)) {
    DebugLogError(static_cast<DWORD>(hr), "CADUserConfig::FindUsers SetSearchPreference failed HR 0x%x",
                  static_cast<unsigned>(hr));
    return hr;
  }
  int columns = 0;
  int rows = 0;
  bool rowFailed = false;
  context += " ExecuteSearch " + (count > 0 ? BytesFromWide(attributes[0]) : std::string());
  ADS_SEARCH_HANDLE handle = nullptr;
  hr = search->ExecuteSearch(filter.c_str(), attributes, count, &handle);
  if (FAILED(hr)) {
    const std::wstring format = L"(&" + m_wstrBaseFilter + L"%s)";
    DebugLogError(static_cast<DWORD>(hr), "Execute search failed %S 0x%x", format.c_str(), static_cast<unsigned>(hr));
  } else {
    context += " GetFirstRow ";
    hr = search->GetFirstRow(handle);
    if (FAILED(hr)) {
      DebugLogError(static_cast<DWORD>(hr), "CADUserConfig::FindUsers GetFirstRow failed HR 0x%x",
                    static_cast<unsigned>(hr));
      rowFailed = true;
    }
    while (hr == S_OK) {
      ++rows;
      wchar_t* name = nullptr;
      context += " GetNextColumnName ";
      HRESULT columnHr = search->GetNextColumnName(handle, &name);
      if (FAILED(columnHr)) {
        context += " First call GetNextColumnName failed ";
        DebugLogError(static_cast<DWORD>(columnHr),
                      "CADUserConfig::FindUsers First call GetNextColumnName failed HR 0x%x",
                      static_cast<unsigned>(columnHr));
      }
      while (columnHr != S_ADS_NOMORE_COLUMNS && SUCCEEDED(columnHr)) {
        ADS_SEARCH_COLUMN column{};
        context += " Call GetColumn ";
        HRESULT got = search->GetColumn(handle, name, &column);
        if (SUCCEEDED(got)) {
          ++columns;
          context += " & GetColumn Count: " + ToString(columns) +
                     " Type: " + ToString(static_cast<int>(column.dwADsType)) + TypeName(column.dwADsType);
          for (DWORD i = 0; i < column.dwNumValues; ++i) {
            std::wstring text;
            if (!ValueText(column, column.pADsValues[i], text)) continue;
            if (!values.empty()) values += L";";
            values += text;
          }
          search->FreeColumn(&column);
        } else {
          DebugLogError(static_cast<DWORD>(got), "CADUserConfig::FindUsers GetColumn failed HR 0x%x",
                        static_cast<unsigned>(got));
        }
        FreeADsMem(name);
        name = nullptr;
        columnHr = search->GetNextColumnName(handle, &name);
        if (FAILED(columnHr)) {
          context += " GetNextColumnName failed ";
          DebugLogError(static_cast<DWORD>(columnHr), "CADUserConfig::FindUsers GetNextColumnName failed HR 0x%x",
                        static_cast<unsigned>(columnHr));
        }
      }
      FreeADsMem(name);
      hr = search->GetNextRow(handle);
      if (FAILED(hr)) {
        context += " GetNextRow failed ";
        DebugLogError(static_cast<DWORD>(hr), "CADUserConfig::FindUsers GetNextRow failed HR 0x%x",
                      static_cast<unsigned>(hr));
        rowFailed = true;
      }
    }
    HRESULT closed = search->CloseSearchHandle(handle);
    if (FAILED(closed)) {
      DebugLogError(static_cast<DWORD>(closed), "CADUserConfig::FindUsers CloseSearchHandle failed HR 0x%x",
                    static_cast<unsigned>(closed));
    }
    if (!rowFailed) m_nUsersFound = rows;
  }
  if (columns > 0 && !rowFailed && SUCCEEDED(hr)) {
    DebugLog("CADUserConfig::FindUsers %s hr:0x%x Count: %d", context.c_str(), static_cast<unsigned>(hr), columns);
    return S_OK;
  }
  if (SUCCEEDED(hr)) hr = E_FAIL;
  DebugLog("CADUserConfig::FindUsers %s hr:0x%x Count = 0 Error! No property was found", context.c_str(),
           static_cast<unsigned>(hr));
  return hr;
}
