// The headers added to every status-200 response, in the order they are
// added: the product mark, then the headers that keep the page out of every
// cache. Constant-initialised, read-only.
#pragma once

#include <cstddef>

struct CResponseHeader {
  const char* m_pszName;  // with the colon, as the ISAPI header calls take it
  const char* m_pszValue;
};

inline constexpr CResponseHeader g_ResponseHeaders[] = {
    {"X-QLProduct:", "PL_HX"},
    {"Pragma:", "no-cache"},
    {"Cache-control:", "no-cache"},
    {"Cache-control:", "must-revalidate"},
    {"Cache-control:", "max-age=0"},
    {"Cache-control:", "s-maxage=0"},
    {"Cache-control:", "no-store"},
    {"Cache-control:", "private"},
    {"Cache-control:", "proxy-revalidate"},
};
inline constexpr size_t g_ResponseHeaderCount = sizeof(g_ResponseHeaders) / sizeof(g_ResponseHeaders[0]);
