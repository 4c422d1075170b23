#include "general/owa_ad_config.h"

COWAADConfig::COWAADConfig() = default;

COWAADConfig::~COWAADConfig() = default;

void COWAADConfig::InitPropertyTable() {}

HRESULT COWAADConfig::ReadProperties(const std::wstring& server) { return E_NOTIMPL; }

HRESULT COWAADConfig::GetExchangeOrganizationCN(IADs* rootDSE, const std::wstring& configurationNamingContext,
                                                std::wstring& cn) {
  return E_NOTIMPL;
}

HRESULT COWAADConfig::GetOWAWebSiteCN(IADs* rootDSE, const std::wstring& containerDN, std::wstring& dn) {
  return E_NOTIMPL;
}

std::wstring GetADsErrorText(HRESULT hr) { return {}; }
