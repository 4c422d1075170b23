// The module's three exported entry points, as the filter host calls them.
#pragma once

#include "filter/dll_context.h"
#include "platform/http_filter.h"

extern "C" {
__attribute__((visibility("default"))) BOOL GetFilterVersion(HTTP_FILTER_VERSION* pVer);
__attribute__((visibility("default"))) DWORD HttpFilterProc(CDLLContext* pContext);
__attribute__((visibility("default"))) DWORD TerminateFilter();
}
