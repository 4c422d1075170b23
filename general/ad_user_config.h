// One attribute of one user, read from the global catalog: the user is found
// by one identifier (account name, address, SID and others), and the values
// of every matching object come back as one text joined with ";". Lives for
// one look-up; properties asked twice are read once.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "common/ci_string.h"
#include "common/counted_ptr.h"
#include "general/ad_prop.h"
#include "platform/win_types.h"

class IDirectorySearch;

// How a user is identified in the directory.
enum ADUserIdKind : int32_t {
  kUserIdAccountName = 0,
  kUserIdPrincipalName = 1,
  kUserIdName = 2,
  kUserIdSmtpAddress = 3,
  kUserIdLegacyExchangeDN = 4,
  kUserIdX500Address = 5,
  kUserIdSid = 6,
  kUserIdSidOrMasterSid = 7,
};

// The provider look-ups search unless told otherwise: the global catalog.
inline constexpr wchar_t kADUserConfigProvider[] = L"GC";

// The longest filter handed to the directory, in characters.
constexpr size_t kMaxUserFilterLength = 518;

class CADUserConfig {
 public:
  CADUserConfig() = default;
  virtual ~CADUserConfig() = default;
  CADUserConfig(const CADUserConfig&) = delete;
  CADUserConfig& operator=(const CADUserConfig&) = delete;

  // Replaces the filter term. The value is escaped, so that it can only ever
  // match itself; a kind's own wildcards stay. SID kinds take the SID text
  // and search its binary form.
  void BuildFilter(const std::string& userId, int32_t kind);
  // 0 with every value of the property, joined with ";". E_FAIL when the
  // search found no user, or users without the property (m_nUsersFound
  // tells which).
  HRESULT GetUserProperties(const std::string& propertyName, std::string& value);
  HRESULT ReadProperties(const std::string& propertyName, CCountedPtr<ADProp>& holder, int32_t configType);
  HRESULT FindUsers(IDirectorySearch* search, const std::wstring& userFilter, const wchar_t* const* attributes,
                    DWORD count, std::wstring& values);

  // S_OK when a look-up through the default provider may reach its
  // directory now; while the directory is in its back-off, the failure every
  // such look-up meets at once (see ADsBackOffFailure).
  static HRESULT DirectoryBackOffFailure();

  int32_t m_nConfigType = 0;
  // How many users the last FindUsers found; -1 when its search did not run
  // to its end (so nothing is known of the user).
  int32_t m_nUsersFound = -1;
  ci_string m_strUserFilter;
  std::map<ci_string, CCountedPtr<ADProp>> m_mapResults;
  std::wstring m_wstrBaseFilter = L"(objectClass=user)(objectCategory=person)";
  std::wstring m_wstrProvider = kADUserConfigProvider;
};

// The first global catalog ("GC:"), the first directory ("LDAP:") or the
// object of any other path, as a search object.
HRESULT GetDirectorySearch(IDirectorySearch** search, const std::wstring& path);
