// The OWA settings of this server's virtual directory, read once from the
// directory at start-up and only read afterwards, from any thread, without a
// lock. Each member is bound to its attribute by a table of holders.
#pragma once

#include <string>
#include <vector>

#include "common/ci_string.h"
#include "common/counted_ptr.h"
#include "general/ad_prop.h"
#include "platform/win_types.h"

class IADs;

class COWAADConfig {
 public:
  COWAADConfig();
  ~COWAADConfig();
  COWAADConfig(const COWAADConfig&) = delete;
  COWAADConfig& operator=(const COWAADConfig&) = delete;

  // Appends one holder per attribute (the table is not cleared first).
  void InitPropertyTable();
  // Reads every attribute of the virtual directory; `server` names a
  // directory server, empty for the configured one. All its directory
  // operations share one deadline (CADsTimeLimit: the caller's, when it has
  // one) and one connection with one bind (CADsOneConnection).
  HRESULT ReadProperties(const std::wstring& server);
  // The organisation's cn below the configuration naming context; 0 with an
  // empty cn when rootDSE is null.
  HRESULT GetExchangeOrganizationCN(IADs* rootDSE, const std::wstring& configurationNamingContext, std::wstring& cn);
  // The DN of the "owa*" virtual directory below the HTTP container.
  HRESULT GetOWAWebSiteCN(IADs* rootDSE, const std::wstring& containerDN, std::wstring& dn);

  std::wstring m_wstrServerName;
  int m_nVirtualDirectoryType = 0;
  int m_nVersion = 0;
  int m_nUserContextTimeOut = 0;
  int m_nUseISO99519 = 0;
  int m_nUseGB18030 = 0;
  std::vector<ci_string> m_vTranscodingMimesTypes;
  int m_nTranscodingFlag = 0;
  std::vector<ci_string> m_vTranscodingFileTypes;
  std::vector<ci_string> m_vRemoteDocumentsInternalDomainSuffixList;
  std::vector<ci_string> m_vRemoteDocumentsBlockedServers;
  std::vector<ci_string> m_vRemoteDocumentsAllowedServers;
  int m_nRemoteDocumentsActionForUnknownServers = -1;
  int m_nRedirectToOptimalOWAServer = 0;
  int m_nOutputCharSet = 0;
  int m_nNotificationInterval = 0;
  ci_string m_strMaxTranscodableDocumentSize;
  int m_nLogonFormat = 0;
  int m_nLogonAndErrorLanguage = -1;
  int m_nGZipLevel = 0;
  std::vector<ci_string> m_vForceSaveMimeTypes;
  std::vector<ci_string> m_vForceSaveFileTypes;
  int m_nFilterWebBeacons = 0;
  int m_nFileAccessControlOnPublicComputers = 0;
  int m_nFileAccessControlOnPrivateComputers = 0;
  int m_nExchangeProxyDestination = 0;
  std::string m_strDefaultTheme;
  int m_nDefaultClientLanguage = -1;
  int m_nAuthCleanUpLevel = 0;
  std::vector<ci_string> m_vBlockedMIMETypes;
  std::vector<ci_string> m_vAllowedMimeTypes;
  std::vector<ci_string> m_vBlockedFileTypes;
  std::vector<ci_string> m_vAllowedFileTypes;
  int m_nActionForUnknownFileAndMIMETypes = -1;
  int m_nMailboxFolderSet = -1;
  std::vector<CCountedPtr<ADProp>> m_vProperties;
};

// The directory's extended error for Win32-facility codes ("text provider"),
// else empty.
std::wstring GetADsErrorText(HRESULT hr);
