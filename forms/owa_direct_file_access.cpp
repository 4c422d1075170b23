// OWA's file access control of the virtual directory, read from the directory
// at start-up: bit 0 lets that class of client access files directly. When the
// directory could not be read both values are 0, so access counts as off.
#include "forms/owa_direct_file_access.h"

#include "general/pl_hx_general_settings.h"

bool IsOWADirectFileAccessEnabled(bool bPublicClient) {
  const COWAADConfig& config = CPLHXGeneralSettings::getInstance()->GetOWAADConfig();
  const int control =
      bPublicClient ? config.m_nFileAccessControlOnPublicComputers : config.m_nFileAccessControlOnPrivateComputers;
  return (control & 1) != 0;
}
