// Directory access in the shape the module's directory readers expect of
// ADSI, standing on OpenLDAP's libldap: bound objects ("LDAP://rootDSE",
// "LDAP://server/rootDSE", "LDAP://<dn>") with attribute reads, subtree
// searches over rows and columns, and the "GC:" namespace, which opens the
// global catalog.
//
// Where the directory is: libldap's own configuration (ldap.conf, LDAPCONF,
// and LDAPURI, which is read again for every connection). The global catalog
// is HX_LDAP_GC_URI when set, else that same directory. The bind follows the
// configuration: SASL when a mechanism is configured (SASL_MECH), simple when
// HX_LDAP_BINDDN and HX_LDAP_PASSWORD_FILE are set, else anonymous.
//
// Every operation is bounded: a connection attempt and every search give up
// after kADsTimeLimitSeconds, and a search returns at most kADsSizeLimit
// entries; within a CADsTimeLimit all operations of the thread share one
// such limit. A directory that answered within the look-up and then ran out
// of time is slow: that look-up fails, nothing more. A directory that could
// not be reached, never answered, left a search unanswered for the whole
// limit, or refused the credentials, is backed off (directory_health.h):
// connections to it fail at once for a while, so that it does not delay
// every request nor lock the service account; then one thread tries it
// again while the others go on failing at once until that try has its
// answer. A dead directory is tried again after kADsFirstRetryMs, the wait
// doubling while it stays dead, up to kADsRetryIntervalSeconds; refused
// credentials after kADsRefusedRetrySeconds, or as soon as the password
// file changes.
//
// Each thread keeps its global catalog connection between look-ups (a warm
// look-up is one search). A kept connection is not used again after
// kADsKeptIdleSeconds idle, once TCP keep-alive found it dead, or once a
// directory was lost, found again or found to have dropped a kept
// connection silently. A kept connection closed by the server, or silent
// longer than the directory usually takes (directory_connections.h), is
// tried once more on a new connection; every thread's kept connection is
// retired only when the kept one stays silent much longer still while the
// new one answered.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>

#include "platform/automation.h"
#include "platform/win_types.h"

constexpr int kADsTimeLimitSeconds = 5;
constexpr int kADsSizeLimit = 1000;
constexpr int kADsRetryIntervalSeconds = 30;
constexpr int kADsFirstRetryMs = 1000;
// At most 3 refused binds in any 30 minutes with one password file.
constexpr int kADsRefusedRetrySeconds = 600;
constexpr int kADsKeptIdleSeconds = 60;
constexpr int kADsKeptSilenceMinMs = 500;
// The longest value a search row gives: longer ones are left out as they
// are read (the column holds the others, or is not set), since their copies
// would cost many times their size on every request thread that reads one.
// Far past any value the module reads.
constexpr size_t kADsSearchValueMaxBytes = size_t{64} << 10;

constexpr HRESULT E_ADS_BAD_PATHNAME = static_cast<HRESULT>(0x80005000u);
constexpr HRESULT E_ADS_PROPERTY_NOT_FOUND = static_cast<HRESULT>(0x8000500Du);
constexpr HRESULT E_ADS_COLUMN_NOT_SET = static_cast<HRESULT>(0x80005010u);
constexpr HRESULT E_ADS_BAD_PARAMETER = static_cast<HRESULT>(0x80005008u);
// The object named does not exist.
constexpr HRESULT E_DS_NO_SUCH_OBJECT = static_cast<HRESULT>(0x80072030u);
constexpr HRESULT S_ADS_NOMORE_ROWS = static_cast<HRESULT>(0x00005012u);
constexpr HRESULT S_ADS_NOMORE_COLUMNS = static_cast<HRESULT>(0x00005013u);

constexpr DWORD ADS_SECURE_AUTHENTICATION = 0x1;

enum ADSTYPE : DWORD {
  ADSTYPE_INVALID = 0,
  ADSTYPE_DN_STRING = 1,
  ADSTYPE_CASE_EXACT_STRING = 2,
  ADSTYPE_CASE_IGNORE_STRING = 3,
  ADSTYPE_PRINTABLE_STRING = 4,
  ADSTYPE_NUMERIC_STRING = 5,
  ADSTYPE_BOOLEAN = 6,
  ADSTYPE_INTEGER = 7,
  ADSTYPE_OCTET_STRING = 8,
  ADSTYPE_UTC_TIME = 9,
  ADSTYPE_LARGE_INTEGER = 10,
  ADSTYPE_NT_SECURITY_DESCRIPTOR = 25,
};

struct ADS_OCTET_STRING {
  DWORD dwLength;
  BYTE* lpValue;
};

struct ADSVALUE {
  ADSTYPE dwType;
  union {
    wchar_t* DNString;
    wchar_t* CaseIgnoreString;
    DWORD Integer;
    BOOL Boolean;
    ADS_OCTET_STRING OctetString;
  };
};

constexpr DWORD ADS_SEARCHPREF_SEARCH_SCOPE = 2;
constexpr DWORD ADS_SCOPE_BASE = 0;
constexpr DWORD ADS_SCOPE_ONELEVEL = 1;
constexpr DWORD ADS_SCOPE_SUBTREE = 2;

struct ADS_SEARCHPREF_INFO {
  DWORD dwSearchPref;
  ADSVALUE vValue;
  DWORD dwStatus;
};

struct ADS_SEARCH_COLUMN {
  wchar_t* pszAttrName;
  ADSTYPE dwADsType;
  ADSVALUE* pADsValues;
  DWORD dwNumValues;
  HANDLE hReserved;
};

struct ADsSearch;
using ADS_SEARCH_HANDLE = ADsSearch*;

// A bound directory object.
class IADs {
 public:
  // The attribute's first value as VT_BSTR; E_ADS_PROPERTY_NOT_FOUND when
  // the object has none.
  virtual HRESULT Get(const std::wstring& name, VARIANT* value) = 0;
  // Every value, as VT_ARRAY | VT_VARIANT of VT_BSTR in the directory's order.
  virtual HRESULT GetEx(const std::wstring& name, VARIANT* value) = 0;
  virtual void Release() = 0;

 protected:
  virtual ~IADs() = default;
};

// Searches below a bound object. One search handle at a time per object.
class IDirectorySearch {
 public:
  virtual HRESULT SetSearchPreference(const ADS_SEARCHPREF_INFO* prefs, DWORD count) = 0;
  // Returns only the named attributes.
  virtual HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                                ADS_SEARCH_HANDLE* handle) = 0;
  virtual HRESULT GetFirstRow(ADS_SEARCH_HANDLE handle) = 0;
  // Before the first row it gives the first row.
  virtual HRESULT GetNextRow(ADS_SEARCH_HANDLE handle) = 0;
  // *name is freed with FreeADsMem.
  virtual HRESULT GetNextColumnName(ADS_SEARCH_HANDLE handle, wchar_t** name) = 0;
  // E_ADS_COLUMN_NOT_SET when the row lacks the attribute; a column read is
  // freed with FreeColumn.
  virtual HRESULT GetColumn(ADS_SEARCH_HANDLE handle, const wchar_t* name, ADS_SEARCH_COLUMN* column) = 0;
  virtual HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) = 0;
  virtual HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE handle) = 0;
  virtual void Release() = 0;

 protected:
  virtual ~IDirectorySearch() = default;
};

HRESULT ADsGetObject(const std::wstring& path, IADs** object);
HRESULT ADsGetObject(const std::wstring& path, IDirectorySearch** object);
// No user name or password: the configured bind is used.
HRESULT ADsOpenObject(const std::wstring& path, const wchar_t* user, const wchar_t* password, DWORD flags,
                      IDirectorySearch** object);
void FreeADsMem(void* memory);

// S_OK when opening `path` now may reach its directory. While the directory
// is in its back-off, the failure such an open meets at once, with the
// thread's last failure set as that open sets it (a repeat): a caller can
// skip preparing a search that could not run.
HRESULT ADsBackOffFailure(const std::wstring& path);

// Whether the thread's last failure was a connection refused at once because
// its directory was found unreachable within the retry interval: that
// failure was reported when it first happened.
bool ADsLastFailureIsRepeat();

// Whether the thread's last failure is to be reported now: it is no repeat
// within a back-off, and no failure was claimed for a report within half a
// retry interval (a wrong password fails every look-up without a back-off;
// threads that lose a directory together all meet its first failure).
bool ADsClaimFailureReport();

// For reports of a failed directory operation on `path`: the directory's
// URI (a user part left out), how the module binds to it (bind name and
// password file, SASL mechanism or anonymous; never a password) and, when
// the thread's look-up met one, the library's text of its last failure.
std::string ADsDescribeFailure(const std::wstring& path);

// While it lives, every directory operation of the constructing thread
// shares one deadline, kADsTimeLimitSeconds from the first of them: a look-up
// that connects, reads the catalog's root and searches takes that long at
// most in all. A limit made inside another keeps the outer deadline; the
// outermost one starts with no last failure. Made and destroyed on one
// thread.
class CADsTimeLimit {
 public:
  CADsTimeLimit();
  // A limit of its own, `limit` long, for work no request waits on (a read
  // in the background): such work never probes a directory in its back-off,
  // which would keep requests failing at once for longer than a request's
  // limit. Inside another limit it keeps the outer one. Once `cut` is set
  // (by another thread) the work's waits end at once, as if out of time: a
  // shutdown need not wait for work nobody waits on. A new connection still
  // takes up to kADsTimeLimitSeconds to reach its directory.
  explicit CADsTimeLimit(std::chrono::milliseconds limit, const std::atomic<bool>* cut = nullptr);
  ~CADsTimeLimit();
  CADsTimeLimit(const CADsTimeLimit&) = delete;
  CADsTimeLimit& operator=(const CADsTimeLimit&) = delete;

 private:
  bool m_outermost;
};

// While it lives, the objects the constructing thread opens on one directory
// (any path but the global catalog's) share one connection and its one bind,
// as ADSI shares a connection while an object bound through it is open: a
// read of several objects costs one bind, not one per object. A failure on
// it makes the next object connect anew. Made and destroyed on one thread.
class CADsOneConnection {
 public:
  CADsOneConnection();
  ~CADsOneConnection();
  CADsOneConnection(const CADsOneConnection&) = delete;
  CADsOneConnection& operator=(const CADsOneConnection&) = delete;
};

// Back-offs of dead directories started from now on grow to at most
// `interval` instead of kADsRetryIntervalSeconds, and the next failure may be
// reported at once (tests shorten it).
void ADsSetRetryInterval(std::chrono::milliseconds interval);

// Refused credentials are tried again after `interval` instead of
// kADsRefusedRetrySeconds, and the next failure may be reported at once
// (tests shorten it).
void ADsSetRefusedRetryInterval(std::chrono::milliseconds interval);

// Kept connections are opened afresh after `age` idle instead of
// kADsKeptIdleSeconds (tests shorten it).
void ADsSetKeptIdleAge(std::chrono::milliseconds age);

// The wait on kept connections forgets what it learned of the directory's
// answer times (tests start from the floor).
void ADsForgetAnswerTimes();

// The extended error of the thread's last failed directory call: S_OK when
// it has one, with its text and the provider's name (at most `size` - 1
// characters each).
HRESULT ADsGetLastError(DWORD* error, wchar_t* text, DWORD textSize, wchar_t* provider, DWORD providerSize);
