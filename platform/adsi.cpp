#include "platform/adsi.h"

#include <ldap.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/ascii_text.h"
#include "platform/coarse_clock.h"
#include "platform/directory_back_off.h"
#include "platform/directory_connect.h"
#include "platform/directory_connections.h"
#include "platform/directory_health.h"
#include "platform/directory_password.h"
#include "platform/directory_uri_text.h"
#include "platform/sigpipe_hold.h"
#include "platform/wide_text.h"

namespace {

bool IsValidUtf8(const std::string& s) {
  std::wstring wide = WideFromBytes(s);
  return BytesFromWide(wide) == s;
}

bool IsBinaryAttribute(const std::string& lowerName) {
  return lowerName == "objectsid" || lowerName == "objectguid" || lowerName == "msexchmailboxguid" ||
         lowerName == "msexchmasteraccountsid";
}

using Values = std::vector<std::string>;

struct ParsedPath {
  bool globalCatalog = false;
  std::string server;
  std::string dn;
  bool rootDSE = false;
};

// Whether a wide text is an ASCII text, case ignored.
bool IsAsciiNoCase(const std::wstring& text, const char* ascii) {
  size_t i = 0;
  for (; ascii[i] != '\0'; ++i) {
    if (i >= text.size()) return false;
    const uint32_t c = static_cast<uint32_t>(text[i]);
    if (c > 0x7F || std::tolower(static_cast<int>(c)) != ascii[i]) return false;
  }
  return i == text.size();
}

bool ParsePath(const std::wstring& path, ParsedPath& parsed) {
  // The global catalog is opened for every user look-up: known without a
  // conversion.
  if (IsAsciiNoCase(path, "gc:") || IsAsciiNoCase(path, "gc://")) {
    parsed.globalCatalog = true;
    return true;
  }
  const std::string text = BytesFromWide(path);
  const std::string lower = AsciiLower(text);
  if (lower == "gc:" || lower == "gc://") {
    parsed.globalCatalog = true;
    return true;
  }
  if (lower.rfind("ldap://", 0) != 0) return false;
  std::string rest = text.substr(7);
  const size_t slash = rest.find('/');
  if (slash != std::string::npos && rest.substr(0, slash).find('=') == std::string::npos) {
    parsed.server = rest.substr(0, slash);
    rest = rest.substr(slash + 1);
  }
  if (rest.empty()) return false;
  parsed.rootDSE = AsciiLower(rest) == "rootdse";
  if (!parsed.rootDSE) parsed.dn = rest;
  return true;
}

struct ColumnStorage {
  std::wstring name;
  std::vector<std::wstring> texts;
  std::vector<std::string> bytes;
  std::vector<ADSVALUE> values;
};

}  // namespace

struct ADsSearch {
  LDAPMessage* result = nullptr;
  LDAPMessage* entry = nullptr;
  bool started = false;
  std::vector<std::string> requested;
  std::vector<std::string> columns;
  size_t nextColumn = 0;
};

namespace {

// One bound object with its own connection; both interfaces in one. A
// catalog object takes its connection from the thread's kept one (`reused`)
// and gives it back when released in good order.
class CDirectoryObject final : public IADs, public IDirectorySearch {
 public:
  CDirectoryObject(LDAP* ld, std::string uri, std::string dn, uint64_t generation, bool reused = false)
      : m_ld(ld), m_uri(std::move(uri)), m_dn(std::move(dn)), m_generation(generation), m_reused(reused) {}

  // The connection goes back to the thread when the object is released.
  void KeepConnection() { m_keep = true; }
  // The connection is the thread's shared one: released with the last
  // holder, not with this object.
  void ShareConnection(std::shared_ptr<LDAP> shared) { m_shared = std::move(shared); }
  // This object's first search (or its release) ends the thread's probe of
  // the directory.
  void EndsProbe() { m_probing = true; }

  HRESULT Load(bool operational) {
    char all[] = "*";
    char plus[] = "+";
    char* attributes[] = {all, operational ? plus : nullptr, nullptr};
    LDAPMessage* result = nullptr;
    timeval limit{};
    if (!RemainingTime(limit)) return FailCall(LDAP_TIMEOUT, "read " + ObjectName());
    CSigPipeHold pipeHold;
    const auto asked = std::chrono::steady_clock::now();
    int rc = ldap_search_ext_s(m_ld, m_dn.c_str(), LDAP_SCOPE_BASE, "(objectClass=*)", attributes, 0, nullptr, nullptr,
                               &limit, 1, &result);
    if (Replied(rc)) NoteAnswered(true);
    if (rc == LDAP_TIMEOUT) NoteSearchSilence(asked);
    if (rc != LDAP_SUCCESS) {
      if (result != nullptr) ldap_msgfree(result);
      return FailCall(rc, "read " + ObjectName());
    }
    LDAPMessage* entry = ldap_first_entry(m_ld, result);
    if (entry == nullptr) {
      ldap_msgfree(result);
      return Fail(LDAP_NO_SUCH_OBJECT, m_ld, "read " + ObjectName());
    }
    BerElement* ber = nullptr;
    for (char* name = ldap_first_attribute(m_ld, entry, &ber); name != nullptr;
         name = ldap_next_attribute(m_ld, entry, ber)) {
      Values& values = m_properties[AsciiLower(name)];
      berval** raw = ldap_get_values_len(m_ld, entry, name);
      for (int i = 0; raw != nullptr && raw[i] != nullptr; ++i) values.emplace_back(raw[i]->bv_val, raw[i]->bv_len);
      ldap_value_free_len(raw);
      ldap_memfree(name);
    }
    if (ber != nullptr) ber_free(ber, 0);
    ldap_msgfree(result);
    return S_OK;
  }

  // How failures name the object read.
  std::string ObjectName() const { return m_dn.empty() ? "rootDSE" : m_dn; }

  // Searches go below `dn` from now on; the attributes read are dropped.
  void SearchFrom(std::string dn) {
    m_dn = std::move(dn);
    m_properties.clear();
  }

  // The first value of an attribute, empty when absent.
  std::string First(const char* name) const {
    auto it = m_properties.find(AsciiLower(name));
    return it == m_properties.end() || it->second.empty() ? std::string() : it->second.front();
  }

  HRESULT Get(const std::wstring& name, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    const Values* values = Find(name);
    if (values == nullptr) return E_ADS_PROPERTY_NOT_FOUND;
    VariantInit(value);
    BSTR text = SysAllocStringLen(values->front().data(), static_cast<UINT>(values->front().size()));
    if (text == nullptr) return E_OUTOFMEMORY;
    value->vt = VT_BSTR;
    value->bstrVal = text;
    return S_OK;
  }

  HRESULT GetEx(const std::wstring& name, VARIANT* value) override {
    if (value == nullptr) return E_POINTER;
    const Values* values = Find(name);
    if (values == nullptr) return E_ADS_PROPERTY_NOT_FOUND;
    SAFEARRAYBOUND bound{static_cast<ULONG>(values->size()), 0};
    SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 1, &bound);
    if (array == nullptr) return E_OUTOFMEMORY;
    for (LONG i = 0; i < static_cast<LONG>(values->size()); ++i) {
      _variant_t element;
      BSTR text = SysAllocStringLen((*values)[i].data(), static_cast<UINT>((*values)[i].size()));
      if (text == nullptr) {
        SafeArrayDestroy(array);
        return E_OUTOFMEMORY;
      }
      element.vt = VT_BSTR;
      element.bstrVal = text;
      HRESULT hr = SafeArrayPutElement(array, &i, &element);
      if (FAILED(hr)) {
        SafeArrayDestroy(array);
        return hr;
      }
    }
    VariantInit(value);
    value->vt = VT_ARRAY | VT_VARIANT;
    value->parray = array;
    return S_OK;
  }

  HRESULT SetSearchPreference(const ADS_SEARCHPREF_INFO* prefs, DWORD count) override {
    if (prefs == nullptr && count > 0) return E_POINTER;
    HRESULT hr = S_OK;
    for (DWORD i = 0; i < count; ++i) {
      const bool scope = prefs[i].dwSearchPref == ADS_SEARCHPREF_SEARCH_SCOPE &&
                         prefs[i].vValue.dwType == ADSTYPE_INTEGER && prefs[i].vValue.Integer <= ADS_SCOPE_SUBTREE;
      if (!scope) {
        hr = E_ADS_BAD_PARAMETER;
        continue;
      }
      const DWORD chosen = prefs[i].vValue.Integer;
      m_scope = chosen == ADS_SCOPE_BASE       ? LDAP_SCOPE_BASE
                : chosen == ADS_SCOPE_ONELEVEL ? LDAP_SCOPE_ONELEVEL
                                               : LDAP_SCOPE_SUBTREE;
    }
    return hr;
  }

  HRESULT ExecuteSearch(const wchar_t* filter, const wchar_t* const* attributes, DWORD count,
                        ADS_SEARCH_HANDLE* handle) override {
    if (filter == nullptr || handle == nullptr || (attributes == nullptr && count > 0)) return E_POINTER;
    *handle = nullptr;
    auto search = std::make_unique<ADsSearch>();
    for (DWORD i = 0; i < count; ++i) search->requested.push_back(BytesFromWide(attributes[i]));
    std::vector<char*> names;
    for (std::string& name : search->requested) names.push_back(name.data());
    names.push_back(nullptr);
    const std::string filterText = BytesFromWide(filter);
    char** asked = count > 0 ? names.data() : nullptr;
    // A kept connection may have died without a word: it is given up when it
    // stays silent much longer than the directory takes to answer.
    const bool reused = m_reused;
    m_reused = false;
    HRESULT reconnected = S_OK;
    const int rc = reused ? SearchKept(filterText, asked, search->result, reconnected)
                          : Search(filterText, asked, search->result);
    if (FAILED(reconnected)) return SettleProbe(reconnected);
    // A search that hit the size limit keeps the entries it got.
    if (rc != LDAP_SUCCESS && rc != LDAP_SIZELIMIT_EXCEEDED) return SettleProbe(FailCall(rc, "search " + filterText));
    *handle = search.release();
    return SettleProbe(S_OK);
  }

  HRESULT GetFirstRow(ADS_SEARCH_HANDLE handle) override {
    if (handle == nullptr) return E_ADS_BAD_PARAMETER;
    handle->started = true;
    return EnterRow(handle, ldap_first_entry(m_ld, handle->result));
  }

  HRESULT GetNextRow(ADS_SEARCH_HANDLE handle) override {
    if (handle == nullptr) return E_ADS_BAD_PARAMETER;
    if (!handle->started) return GetFirstRow(handle);
    if (handle->entry == nullptr) return S_ADS_NOMORE_ROWS;
    return EnterRow(handle, ldap_next_entry(m_ld, handle->entry));
  }

  HRESULT GetNextColumnName(ADS_SEARCH_HANDLE handle, wchar_t** name) override {
    if (handle == nullptr || name == nullptr) return E_POINTER;
    *name = nullptr;
    if (handle->entry == nullptr) return E_ADS_BAD_PARAMETER;
    if (handle->nextColumn >= handle->columns.size()) return S_ADS_NOMORE_COLUMNS;
    const std::wstring wide = WideFromBytes(handle->columns[handle->nextColumn++]);
    auto* copy = static_cast<wchar_t*>(std::malloc((wide.size() + 1) * sizeof(wchar_t)));
    if (copy == nullptr) return E_OUTOFMEMORY;
    std::wmemcpy(copy, wide.c_str(), wide.size() + 1);
    *name = copy;
    return S_OK;
  }

  HRESULT GetColumn(ADS_SEARCH_HANDLE handle, const wchar_t* name, ADS_SEARCH_COLUMN* column) override {
    if (handle == nullptr || name == nullptr || column == nullptr) return E_POINTER;
    std::memset(column, 0, sizeof *column);
    if (handle->entry == nullptr) return E_ADS_BAD_PARAMETER;
    const std::string attribute = BytesFromWide(name);
    const std::string lower = AsciiLower(attribute);
    Values values = RowValues(handle->entry, attribute);
    ADSTYPE type = IsBinaryAttribute(lower) ? ADSTYPE_OCTET_STRING : ADSTYPE_CASE_IGNORE_STRING;
    if (values.empty() && lower == "distinguishedname") {
      // Directories that do not keep the name as an attribute still have it.
      char* dn = ldap_get_dn(m_ld, handle->entry);
      if (dn != nullptr) values.emplace_back(dn);
      ldap_memfree(dn);
    }
    if (lower == "distinguishedname") type = ADSTYPE_DN_STRING;
    if (values.empty()) return E_ADS_COLUMN_NOT_SET;
    for (const std::string& v : values) {
      if (type != ADSTYPE_OCTET_STRING && !IsValidUtf8(v)) type = ADSTYPE_OCTET_STRING;
    }
    auto storage = std::make_unique<ColumnStorage>();
    storage->name = name;
    storage->bytes = std::move(values);
    storage->values.resize(storage->bytes.size());
    storage->texts.reserve(storage->bytes.size());
    for (size_t i = 0; i < storage->bytes.size(); ++i) {
      ADSVALUE& v = storage->values[i];
      v.dwType = type;
      if (type == ADSTYPE_OCTET_STRING) {
        v.OctetString.dwLength = static_cast<DWORD>(storage->bytes[i].size());
        v.OctetString.lpValue = reinterpret_cast<BYTE*>(storage->bytes[i].data());
      } else {
        storage->texts.push_back(WideFromBytes(storage->bytes[i]));
        v.CaseIgnoreString = storage->texts.back().data();
      }
    }
    column->pszAttrName = storage->name.data();
    column->dwADsType = type;
    column->pADsValues = storage->values.data();
    column->dwNumValues = static_cast<DWORD>(storage->values.size());
    column->hReserved = storage.release();
    return S_OK;
  }

  HRESULT FreeColumn(ADS_SEARCH_COLUMN* column) override {
    if (column == nullptr) return E_POINTER;
    delete static_cast<ColumnStorage*>(column->hReserved);
    std::memset(column, 0, sizeof *column);
    return S_OK;
  }

  HRESULT CloseSearchHandle(ADS_SEARCH_HANDLE handle) override {
    if (handle == nullptr) return E_ADS_BAD_PARAMETER;
    if (handle->result != nullptr) ldap_msgfree(handle->result);
    delete handle;
    return S_OK;
  }

  void Release() override {
    SettleProbe(S_OK);
    CKeptConnection& kept = ThreadConnection();
    if (m_keep && !m_broken && kept.ld == nullptr) {
      kept.ld = m_ld;
      kept.uri = m_uri;
      kept.base = m_dn;
      kept.generation = m_generation;
      kept.idleSince = CoarseSteadyClock::now();
      m_ld = nullptr;
    }
    delete this;
  }

 private:
  ~CDirectoryObject() override {
    if (m_shared) {
      if (m_broken) ForgetShared(m_shared.get());
      return;
    }
    if (m_ld != nullptr) {
      CSigPipeHold pipeHold;
      ldap_unbind_ext_s(m_ld, nullptr, nullptr);
    }
  }

  // One search within what is left of the limit; `result` holds what came
  // back (freed here on failure).
  int Search(const std::string& filter, char** attributes, LDAPMessage*& result) {
    result = nullptr;
    timeval limit{};
    if (!RemainingTime(limit)) return LDAP_TIMEOUT;
    CSigPipeHold pipeHold;
    const auto asked = std::chrono::steady_clock::now();
    int msgid = -1;
    int rc = SendSearch(filter, attributes, limit, msgid);
    if (rc == LDAP_SUCCESS) rc = AwaitSearch(m_ld, msgid, limit, result);
    if (rc == LDAP_TIMEOUT) GiveUp(msgid, asked);
    return Settle(rc, asked, result);
  }

  // A search of this connection had no answer in time: its late answer is
  // dropped when it comes, so that a slow directory's connection can be
  // kept for the next look-up.
  void GiveUp(int msgid, std::chrono::steady_clock::time_point asked) {
    NoteSearchSilence(asked);
    ldap_abandon_ext(m_ld, msgid, nullptr, nullptr);
  }

  // The kept search `msgid` has the rest of the limit on its own.
  int AwaitRest(int msgid, std::chrono::steady_clock::time_point asked, LDAPMessage*& result) {
    timeval left{};
    int rc = LDAP_TIMEOUT;
    if (RemainingTime(left)) rc = AwaitSearch(m_ld, msgid, left, result);
    if (rc == LDAP_TIMEOUT) GiveUp(msgid, asked);
    return Settle(rc, asked, result);
  }

  // One search on the thread's kept connection. Closed by the server while
  // idle, it is opened again once. Silent past its KeptSilence, the search
  // is tried on a new connection while the kept one is still watched: when
  // the kept one answers first (a slow directory), its answer is taken, its
  // time learned and the new connection dropped. The kept one counts as
  // dead, and every thread's kept connection with it, only when it stays
  // silent past its DeadSilence while the new one answered. A new
  // connection that cannot be made leaves the kept one the rest of the
  // limit, and no new connection is tried while the directory is in its
  // back-off. `reconnected` fails when the look-up failed for want of a
  // new connection.
  int SearchKept(const std::string& filter, char** attributes, LDAPMessage*& result, HRESULT& reconnected) {
    using std::chrono::microseconds;
    reconnected = S_OK;
    result = nullptr;
    timeval limit{};
    if (!RemainingTime(limit)) return LDAP_TIMEOUT;
    const microseconds silence = KeptSilence(MicrosOf(limit));
    CSigPipeHold pipeHold;
    const auto asked = std::chrono::steady_clock::now();
    int msgid = -1;
    int rc = SendSearch(filter, attributes, limit, msgid);
    if (rc == LDAP_SUCCESS) rc = AwaitSearch(m_ld, msgid, TimevalOf(silence), result);
    if (rc != LDAP_SERVER_DOWN && rc != LDAP_TIMEOUT) return Settle(rc, asked, result);
    if (result != nullptr) ldap_msgfree(result);
    result = nullptr;
    const bool silent = rc == LDAP_TIMEOUT;
    if (silent) {
      NoteAnswerTime(silence);  // it takes at least that long
      if (InBackOff(m_uri, nullptr)) return AwaitRest(msgid, asked, result);
    }
    KeptWatch watch;
    watch.ld = m_ld;
    watch.msgid = msgid;
    CWatchKept watching(silent ? &watch : nullptr);
    LDAP* kept = m_ld;
    LDAP* fresh = nullptr;
    ConnectFailure failed;
    m_generation = CurrentGeneration();
    reconnected = Connect(m_uri, &fresh, &failed);
    if (watch.answered) {
      reconnected = S_OK;
      return TakeKeptAnswer(watch, asked, result);
    }
    if (FAILED(reconnected)) {
      if (silent) {
        StopWatchingKept();
        const int late = AwaitRest(msgid, asked, result);
        if (Replied(late)) {
          reconnected = S_OK;
          return late;
        }
      }
      if (failed.rc != LDAP_SUCCESS && failed.rc != LDAP_INVALID_CREDENTIALS) {
        ActOnFailure(m_uri, failed.rc, m_probing);
      }
      m_broken = true;
      return silent ? LDAP_TIMEOUT : rc;
    }
    m_ld = fresh;
    const int retried = Search(filter, attributes, result);
    if (watch.answered) {
      if (result != nullptr) ldap_msgfree(result);
      result = nullptr;
      ldap_unbind_ext_s(fresh, nullptr, nullptr);
      m_ld = kept;
      return TakeKeptAnswer(watch, asked, result);
    }
    StopWatchingKept();
    if (silent && (retried == LDAP_SUCCESS || retried == LDAP_SIZELIMIT_EXCEEDED)) {
      JudgeSilent(kept, msgid, asked, silence);
    }
    // The kept search stayed silent as long as the look-up ran.
    if (silent && retried == LDAP_TIMEOUT) NoteSearchSilence(asked);
    ldap_unbind_ext_s(kept, nullptr, nullptr);
    return retried;
  }

  // The kept search answered while a new connection was tried: the kept
  // connection goes on, and the directory's time is learned.
  int TakeKeptAnswer(KeptWatch& watch, std::chrono::steady_clock::time_point asked, LDAPMessage*& result) {
    StopWatchingKept();
    result = watch.result;
    watch.result = nullptr;
    return Settle(watch.rc, asked, result);
  }

  // The kept connection stayed silent while a new one answered. Silent
  // through its DeadSilence (within the look-up's limit), it was dead, and
  // so are the other threads' kept connections: they are retired. A late
  // reply shows a slow directory, whose time the wait learns.
  void JudgeSilent(LDAP* silent, int msgid, std::chrono::steady_clock::time_point asked,
                   std::chrono::microseconds silence) {
    using std::chrono::microseconds;
    const auto spent = std::chrono::duration_cast<microseconds>(std::chrono::steady_clock::now() - asked);
    microseconds wait = std::max(DeadSilence(silence) - spent, microseconds(0));
    timeval left{};
    wait = RemainingTime(left) ? std::min(wait, MicrosOf(left)) : microseconds(0);
    LDAPMessage* late = nullptr;
    const int rc = AwaitSearch(silent, msgid, TimevalOf(wait), late);
    if (late != nullptr) ldap_msgfree(late);
    if (Replied(rc)) {
      NoteAnswerTime(std::chrono::steady_clock::now() - asked);
      return;
    }
    m_generation = NewGeneration();
  }

  int SendSearch(const std::string& filter, char** attributes, timeval limit, int& msgid) {
    return ldap_search_ext(m_ld, m_dn.c_str(), m_scope, filter.c_str(), attributes, 0, nullptr, nullptr, &limit,
                           kADsSizeLimit, &msgid);
  }

  // What a search came to: an answer teaches the wait; a failure frees what
  // came back.
  static int Settle(int rc, std::chrono::steady_clock::time_point asked, LDAPMessage*& result) {
    if (Replied(rc)) NoteAnswered(true);
    const bool answered = rc == LDAP_SUCCESS || rc == LDAP_SIZELIMIT_EXCEEDED;
    if (answered) NoteAnswerTime(std::chrono::steady_clock::now() - asked);
    if (!answered && result != nullptr) {
      ldap_msgfree(result);
      result = nullptr;
    }
    return rc;
  }

  // The directory has answered (or has been found unreachable again, which
  // ended the probe already).
  HRESULT SettleProbe(HRESULT hr) {
    if (m_probing) {
      // The connection that answered the probe is of the new generation.
      const uint64_t generation = EndProbe(m_uri);
      if (generation != 0) m_generation = generation;
    }
    m_probing = false;
    return hr;
  }

  const Values* Find(const std::wstring& name) const {
    auto it = m_properties.find(AsciiLower(BytesFromWide(name)));
    return it == m_properties.end() || it->second.empty() ? nullptr : &it->second;
  }

  Values RowValues(LDAPMessage* entry, const std::string& attribute) {
    Values values;
    berval** raw = ldap_get_values_len(m_ld, entry, attribute.c_str());
    for (int i = 0; raw != nullptr && raw[i] != nullptr; ++i) {
      if (raw[i]->bv_len <= kADsSearchValueMaxBytes) values.emplace_back(raw[i]->bv_val, raw[i]->bv_len);
    }
    ldap_value_free_len(raw);
    return values;
  }

  // The row's columns: the requested attributes it holds, in request order
  // (the distinguished name always).
  HRESULT EnterRow(ADS_SEARCH_HANDLE handle, LDAPMessage* entry) {
    handle->entry = entry;
    handle->columns.clear();
    handle->nextColumn = 0;
    if (entry == nullptr) return S_ADS_NOMORE_ROWS;
    for (const std::string& name : handle->requested) {
      if (AsciiLower(name) == "distinguishedname" || !RowValues(entry, name).empty()) handle->columns.push_back(name);
    }
    return S_OK;
  }

  // The verdict on the directory decides whether its back-off starts. The
  // connection of a slow directory that answered this look-up is kept (its
  // late answer dropped): a new one would cost a bind as slow as the rest.
  HRESULT FailCall(int rc, const std::string& what) {
    const HRESULT hr = Fail(rc, m_ld, what);
    const DirectoryVerdict verdict = ActOnFailure(m_uri, rc, m_probing);
    const bool slowButTalking = verdict == DirectoryVerdict::Slow && AnsweredThisLookUp() && rc == LDAP_TIMEOUT;
    if (verdict != DirectoryVerdict::Answering && !slowButTalking) m_broken = true;
    return hr;
  }

  LDAP* m_ld;
  std::string m_uri;
  std::string m_dn;
  uint64_t m_generation;
  bool m_reused;
  bool m_keep = false;
  bool m_broken = false;
  bool m_probing = false;
  std::shared_ptr<LDAP> m_shared;
  int m_scope = LDAP_SCOPE_SUBTREE;
  std::map<std::string, Values> m_properties;
};

std::string UriOfPath(const ParsedPath& parsed) {
  return parsed.globalCatalog ? GlobalCatalogUri() : parsed.server.empty() ? DefaultUri() : "ldap://" + parsed.server;
}

// The thread's kept catalog connection to `uri` as an object, when it has
// one still usable; null otherwise.
CDirectoryObject* TakeKeptCatalog(const std::string& uri) {
  CKeptConnection& kept = ThreadConnection();
  if (kept.ld != nullptr && !KeptUsable(kept, uri)) kept.Drop();
  if (kept.ld == nullptr) return nullptr;
  auto* opened = new CDirectoryObject(kept.ld, uri, kept.base, kept.generation, true);
  kept.ld = nullptr;
  return opened;
}

// Whether the thread holds a connection to `uri` bound before, of the kind
// the path is opened on: its kept catalog connection, or the one it shares.
bool HasBoundConnection(const ParsedPath& parsed, const std::string& uri) {
  if (!parsed.globalCatalog) return TakeShared(uri) != nullptr;
  const CKeptConnection& kept = ThreadConnection();
  return kept.ld != nullptr && KeptUsable(kept, uri);
}

// Opens the object of a path; `load` reads its attributes (and so checks
// that it exists).
HRESULT Open(const std::wstring& path, bool load, CDirectoryObject** object) {
  *object = nullptr;
  ThreadLastError().repeat = false;
  ParsedPath parsed;
  if (!ParsePath(path, parsed)) {
    ThreadLastError() = LastError{};
    return E_ADS_BAD_PATHNAME;
  }
  const std::string uri = UriOfPath(parsed);
  bool prober = false;
  bool refused = false;
  if (!InLookUp()) StartLookUp();
  // Work no request waits on never probes: the probe is a request's, within
  // a request's limit, so that requests fail at once no longer than that.
  // Refused credentials refuse new binds only: a connection the thread bound
  // before still answers.
  const bool boundOnly = InBackOff(uri, IsBackgroundWork() ? nullptr : &prober, &refused);
  if (boundOnly && !(refused && HasBoundConnection(parsed, uri))) return BackOffFailure(uri, refused);
  // Only now is the directory written to: a look-up in the back-off costs no
  // system call for the signal.
  CSigPipeHold pipeHold;
  CProbe probe(uri, prober);
  // A probe goes out on a new connection: a kept one may be what was lost.
  if (prober) ThreadConnection().Drop();
  CDirectoryObject* kept = parsed.globalCatalog ? TakeKeptCatalog(uri) : nullptr;
  if (kept != nullptr) {
    kept->KeepConnection();
    *object = kept;
    return S_OK;
  }
  LDAP* ld = nullptr;
  const uint64_t generation = CurrentGeneration();
  std::shared_ptr<LDAP> shared = parsed.globalCatalog ? nullptr : TakeShared(uri);
  HRESULT hr = S_OK;
  if (shared) {
    ld = shared.get();
  } else if (boundOnly) {
    // The bound connection was retired meanwhile: no new bind goes out.
    return BackOffFailure(uri, refused);
  } else {
    hr = Connect(uri, &ld, nullptr, prober);
    if (FAILED(hr)) return hr;
    if (!parsed.globalCatalog) shared = Share(uri, ld);
  }
  auto* opened = new CDirectoryObject(ld, uri, parsed.dn, generation);
  if (shared) opened->ShareConnection(std::move(shared));
  if (probe.HandOn()) opened->EndsProbe();
  std::string base;
  if (parsed.globalCatalog && KnownCatalogBase(uri, base)) {
    opened->SearchFrom(base);
  } else if (parsed.globalCatalog) {
    // The catalog is searched from the forest's root, which its rootDSE names.
    hr = opened->Load(true);
    base = opened->First("rootDomainNamingContext");
    if (base.empty()) base = opened->First("defaultNamingContext");
    if (base.empty()) base = opened->First("namingContexts");
    opened->SearchFrom(base);
    if (SUCCEEDED(hr) && !base.empty()) NoteCatalogBase(uri, base);
  } else if (load) {
    hr = opened->Load(parsed.rootDSE);
  }
  if (FAILED(hr)) {
    opened->Release();
    return hr;
  }
  if (parsed.globalCatalog) opened->KeepConnection();
  *object = opened;
  return S_OK;
}

}  // namespace

HRESULT ADsGetObject(const std::wstring& path, IADs** object) {
  if (object == nullptr) return E_POINTER;
  CDirectoryObject* opened = nullptr;
  HRESULT hr = Open(path, true, &opened);
  *object = opened;
  return hr;
}

HRESULT ADsGetObject(const std::wstring& path, IDirectorySearch** object) {
  if (object == nullptr) return E_POINTER;
  CDirectoryObject* opened = nullptr;
  HRESULT hr = Open(path, false, &opened);
  *object = opened;
  return hr;
}

HRESULT ADsOpenObject(const std::wstring& path, const wchar_t* user, const wchar_t* password, DWORD flags,
                      IDirectorySearch** object) {
  return ADsGetObject(path, object);
}

void FreeADsMem(void* memory) { std::free(memory); }

HRESULT ADsBackOffFailure(const std::wstring& path) {
  if (!AnyBackOff()) return S_OK;
  ParsedPath parsed;
  bool refused = false;
  if (!ParsePath(path, parsed)) return S_OK;
  const std::string uri = UriOfPath(parsed);
  if (!InBackOff(uri, nullptr, &refused)) return S_OK;
  // Refused credentials refuse new binds only: the thread's connection bound
  // before may still answer.
  if (refused && HasBoundConnection(parsed, uri)) return S_OK;
  return BackOffFailure(uri, refused);
}

bool ADsLastFailureIsRepeat() { return ThreadLastError().repeat; }

namespace {

// When the next failure may be claimed for a report, on the coarse clock.
std::atomic<int64_t> g_nextReport{0};

// The URI libldap connects to for a path without a server of its own, as
// texts name it: cleaned, while the words that say it is libldap's default
// stay.
std::string NamedEffectiveUri(const std::string& uri) {
  if (!uri.empty()) return ConfiguredUriWithoutUserPart(uri);
  InitialiseLibrary();
  char* configured = nullptr;
  std::string text = "libldap's default";
  CLibraryDefaults defaults;
  if (defaults.Open() && ldap_get_option(nullptr, LDAP_OPT_URI, &configured) == LDAP_OPT_SUCCESS &&
      configured != nullptr) {
    text += " " + ConfiguredUriWithoutUserPart(configured);
    ldap_memfree(configured);
  }
  return text;
}

std::string DescribeBind() {
  InitialiseLibrary();
  CLibraryDefaults defaults;
  if (!defaults.Open()) return "bind not known (the process is exiting)";
  const BindConfig config = ConfiguredBind(nullptr);
  if (!config.mechanism.empty()) {
    // Both set: the administrator learns which one binds.
    const char* dn = std::getenv("HX_LDAP_BINDDN");
    return "SASL mechanism " + config.mechanism +
           (dn != nullptr && *dn != '\0' ? " (HX_LDAP_BINDDN is not used while a SASL mechanism is set)" : "");
  }
  if (config.dn == nullptr) return "anonymous bind";
  return "bind name " + std::string(config.dn) + ", password file " + DirectoryPasswordFileName(config.passwordFile);
}

}  // namespace

bool ADsClaimFailureReport() {
  if (ThreadLastError().repeat) return false;
  const int64_t now = CoarseSteadyClock::now().time_since_epoch().count();
  const int64_t gap = std::chrono::nanoseconds(RetryInterval()).count() / 2;
  int64_t next = g_nextReport.load();
  while (now >= next) {
    if (g_nextReport.compare_exchange_weak(next, now + gap)) return true;
  }
  return false;
}

std::string ADsDescribeFailure(const std::wstring& path) {
  ParsedPath parsed;
  const std::string named = ParsePath(path, parsed) ? NamedEffectiveUri(UriOfPath(parsed))
                                                    : ConfiguredUriWithoutUserPart(BytesFromWide(path));
  std::string text = "directory " + named + ", " + DescribeBind();
  if (ThreadLastError().code != 0) text += ": " + ThreadLastError().text;
  return text;
}

HRESULT ADsGetLastError(DWORD* error, wchar_t* text, DWORD textSize, wchar_t* provider, DWORD providerSize) {
  if (error == nullptr || text == nullptr || provider == nullptr || textSize == 0 || providerSize == 0) {
    return E_POINTER;
  }
  auto copy = [](const std::wstring& from, wchar_t* to, DWORD size) {
    const size_t n = from.size() < size - 1 ? from.size() : size - 1;
    std::wmemcpy(to, from.data(), n);
    to[n] = L'\0';
  };
  *error = ThreadLastError().code;
  copy(WideFromBytes(ThreadLastError().text), text, textSize);
  copy(L"LDAP Provider", provider, providerSize);
  return S_OK;
}


void ADsSetRetryInterval(std::chrono::milliseconds interval) {
  SetRetryInterval(interval);
  g_nextReport.store(0);
}

void ADsSetRefusedRetryInterval(std::chrono::milliseconds interval) {
  SetRefusedRetryInterval(interval);
  g_nextReport.store(0);
}

void ADsSetKeptIdleAge(std::chrono::milliseconds age) { SetKeptIdleAge(age); }

void ADsForgetAnswerTimes() { ForgetAnswerTimes(); }
