// The host's record of the mail server URL of a request: the root URL, then
// the base path. Page forms write both into pages.
#pragma once

#include <string>

#include "platform/layout_check.h"

class CExchangeURL {
 public:
  virtual ~CExchangeURL() = default;

  std::string m_sRootURL;
  std::string m_sBasePath;
};

HX_CHECK_OFFSET(CExchangeURL, m_sRootURL, 8)
HX_CHECK_OFFSET(CExchangeURL, m_sBasePath, 8 + sizeof(std::string))
