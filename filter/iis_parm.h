// One server-variable read through the ISAPI GetServerVariable call: a size
// query first, then a read into a buffer of the size the server asked for.
#pragma once

#include <string>

#include "platform/http_filter.h"

// True when the variable was read; value is left unchanged otherwise.
bool GetIISParmT(HTTP_FILTER_CONTEXT* pfc, PFN_GET_SERVER_VARIABLE pfnGetServerVariable, const std::string& name,
                 std::string& value);
