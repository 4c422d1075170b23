// The ISAPI filter structures that the filter host hands the module inside its
// per-request record. Field order and widths follow the ISAPI filter
// interface on 64-bit Windows, so host and module agree byte for byte.
#pragma once

#include <cerrno>
#include <cstddef>

#include "platform/win_types.h"

// Host and module are separate binaries, each with its own copy of the
// thread's last error. A server call that fails reports its Win32 error code
// in the thread's errno, the one error slot the whole process shares; the
// module moves it into its own last error right after the call returns.
inline void IsapiSetCallError(DWORD code) { errno = static_cast<int>(code); }
inline DWORD IsapiCallError() { return static_cast<DWORD>(errno); }
inline void IsapiClearCallError() { errno = 0; }

// Size of the description field of the version record, terminator included.
constexpr DWORD SF_MAX_FILTER_DESC_LEN = 257;

// Notification values (the filter's registration flags and the type of each
// call).
constexpr DWORD SF_NOTIFY_SEND_RESPONSE = 0x00000040;
constexpr DWORD SF_NOTIFY_END_OF_REQUEST = 0x00000080;
constexpr DWORD SF_NOTIFY_SEND_RAW_DATA = 0x00000400;
constexpr DWORD SF_NOTIFY_AUTHENTICATION = 0x00002000;
constexpr DWORD SF_NOTIFY_PREPROC_HEADERS = 0x00004000;
constexpr DWORD SF_NOTIFY_ORDER_LOW = 0x00020000;
constexpr DWORD SF_NOTIFY_AUTH_COMPLETE = 0x04000000;

struct HTTP_FILTER_VERSION {
  DWORD dwServerFilterVersion;
  DWORD dwFilterVersion;
  char lpszFilterDesc[SF_MAX_FILTER_DESC_LEN];
  DWORD dwFlags;
};

struct HTTP_FILTER_CONTEXT;

using PFN_GET_SERVER_VARIABLE = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszVariableName, LPVOID lpvBuffer,
                                         LPDWORD lpdwSize);
using PFN_ADD_RESPONSE_HEADERS = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszHeaders, DWORD dwReserved);
using PFN_WRITE_CLIENT = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, LPVOID Buffer, LPDWORD lpdwBytes, DWORD dwReserved);
using PFN_ALLOC_MEM = void* (*)(HTTP_FILTER_CONTEXT* pfc, DWORD cbSize, DWORD dwReserved);
using PFN_SERVER_SUPPORT_FUNCTION = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, DWORD sfReq, LPVOID pData, ULONG_PTR ul1,
                                             ULONG_PTR ul2);

struct HTTP_FILTER_CONTEXT {
  DWORD cbSize;
  DWORD Revision;
  LPVOID ServerContext;  // the server's own per-request state
  DWORD ulReserved;
  BOOL fIsSecurePort;
  LPVOID pFilterContext;  // the filter's own per-request state
  PFN_GET_SERVER_VARIABLE GetServerVariable;
  PFN_ADD_RESPONSE_HEADERS AddResponseHeaders;
  PFN_WRITE_CLIENT WriteClient;
  PFN_ALLOC_MEM AllocMem;
  PFN_SERVER_SUPPORT_FUNCTION ServerSupportFunction;
};

using PFN_GET_HEADER = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPVOID lpvBuffer, LPDWORD lpdwSize);
using PFN_SET_HEADER = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);
using PFN_ADD_HEADER = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, LPSTR lpszName, LPSTR lpszValue);
using PFN_GET_USER_TOKEN = BOOL (*)(HTTP_FILTER_CONTEXT* pfc, HANDLE* phToken);

// Pre-process-headers notification; the send-response notification uses the
// same record.
struct HTTP_FILTER_PREPROC_HEADERS {
  PFN_GET_HEADER GetHeader;
  PFN_SET_HEADER SetHeader;
  PFN_ADD_HEADER AddHeader;
  DWORD HttpStatus;
  DWORD dwReserved;
};
using HTTP_FILTER_SEND_RESPONSE = HTTP_FILTER_PREPROC_HEADERS;

struct HTTP_FILTER_AUTH_COMPLETE_INFO {
  PFN_GET_HEADER GetHeader;
  PFN_SET_HEADER SetHeader;
  PFN_ADD_HEADER AddHeader;
  PFN_GET_USER_TOKEN GetUserToken;
  DWORD HttpStatus;
  BOOL fResetAuth;
  DWORD dwReserved;
};

struct HTTP_FILTER_RAW_DATA {
  LPVOID pvInData;
  DWORD cbInData;
  DWORD cbInBuffer;
  DWORD dwReserved;
};

static_assert(offsetof(HTTP_FILTER_VERSION, lpszFilterDesc) == 8);
static_assert(offsetof(HTTP_FILTER_VERSION, dwFlags) == 268);
static_assert(sizeof(HTTP_FILTER_VERSION) == 272);
static_assert(offsetof(HTTP_FILTER_CONTEXT, ServerContext) == 8);
static_assert(offsetof(HTTP_FILTER_CONTEXT, pFilterContext) == 24);
static_assert(offsetof(HTTP_FILTER_CONTEXT, GetServerVariable) == 32);
static_assert(offsetof(HTTP_FILTER_CONTEXT, ServerSupportFunction) == 64);
static_assert(offsetof(HTTP_FILTER_PREPROC_HEADERS, AddHeader) == 16);
static_assert(offsetof(HTTP_FILTER_PREPROC_HEADERS, HttpStatus) == 24);
static_assert(offsetof(HTTP_FILTER_AUTH_COMPLETE_INFO, AddHeader) == 16);
static_assert(offsetof(HTTP_FILTER_AUTH_COMPLETE_INFO, HttpStatus) == 32);
static_assert(offsetof(HTTP_FILTER_RAW_DATA, cbInData) == 8);
