// Runs a form's steps and turns a DOM exception into result 7, logged as
// "<prefix>Exception <message> nPos <position>." Other exceptions go on.
#pragma once

#include "common/debug_log.h"
#include "filter/result_codes.h"
#include "html/dom_exceptions.h"
#include "platform/win_types.h"

template <class Steps>
DWORD RunCatchingDomExceptions(const char* pPrefix, Steps&& steps) {
  try {
    return steps();
  } catch (const CDOMParserException& e) {
    DebugLog("%sException <%s> nPos <%d>.", pPrefix, e.m_strMessage.c_str(), static_cast<int>(e.m_nPos));
    return HX_RC_MISSING;
  }
}
