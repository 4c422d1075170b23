#include "filter/iis_parm.h"
#include "filter/util.h"

DWORD CUtil::GetServerVariable(CDLLContext* pContext, const char* name, std::string& value) {
  if (pContext == nullptr || name == nullptr || pContext->m_pFilterContext == nullptr) return ERROR_SUCCESS;
  switch (pContext->m_dwNotificationType) {
    case SF_NOTIFY_SEND_RESPONSE:
    case SF_NOTIFY_END_OF_REQUEST:
    case SF_NOTIFY_SEND_RAW_DATA:
    case SF_NOTIFY_PREPROC_HEADERS:
    case SF_NOTIFY_AUTH_COMPLETE:
      GetIISParmT(pContext->m_pFilterContext, pContext->m_pFilterContext->GetServerVariable, name, value);
      break;
    default:
      break;
  }
  return ERROR_SUCCESS;
}
