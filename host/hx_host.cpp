#include "host/hx_host.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>

#include "host/hx_buffer_apply.h"
#include "host/hx_request_info.h"
#include "host/hx_response_buffer.h"
#include "host/hx_routed_path.h"
#include "host/hx_start_events.h"
#include "host/hx_text.h"
#include "platform/request_identity.h"
#include "platform/user_token.h"

const char* HxNotificationName(DWORD type) {
  switch (type) {
    case SF_NOTIFY_PREPROC_HEADERS: return "pre-process headers";
    case SF_NOTIFY_AUTH_COMPLETE: return "authentication complete";
    case SF_NOTIFY_SEND_RESPONSE: return "send response";
    case SF_NOTIFY_SEND_RAW_DATA: return "send raw data";
    case SF_NOTIFY_END_OF_REQUEST: return "end of request";
    case SF_NOTIFY_AUTHENTICATION: return "authentication";
    default: return "unknown";
  }
}

const char* HxAnswerKindName(HxAnswerKind kind) {
  switch (kind) {
    case HxAnswerKind::ServerResponse: return "the server's response";
    case HxAnswerKind::RewrittenPage: return "the server's response with the module's page edits";
    case HxAnswerKind::ModuleResponse: return "the module's own response";
    case HxAnswerKind::ReplaceBuffer: return "the module's replace buffer";
    case HxAnswerKind::HostRefusal: return "the host's refusal";
  }
  return "unknown";
}

namespace {

// The identity of the request the calling thread is serving, published to
// the module as the operating system publishes a thread's token.
thread_local const HX_REQUEST_IDENTITY* t_requestIdentity = nullptr;

class CPublishedIdentity {
 public:
  explicit CPublishedIdentity(const HX_REQUEST_IDENTITY* identity) : m_previous(t_requestIdentity) {
    t_requestIdentity = identity;
  }
  ~CPublishedIdentity() { t_requestIdentity = m_previous; }
  CPublishedIdentity(const CPublishedIdentity&) = delete;
  CPublishedIdentity& operator=(const CPublishedIdentity&) = delete;

 private:
  const HX_REQUEST_IDENTITY* m_previous;
};

const char* ReasonPhrase(uint32_t status) {
  switch (status) {
    case 100: return "Continue";
    case 200: return "OK";
    case 204: return "No Content";
    case 301: return "Moved Permanently";
    case 302: return "Found";
    case 304: return "Not Modified";
    case 400: return "Bad Request";
    case 401: return "Unauthorized";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 440: return "Login Timeout";
    case 500: return "Internal Server Error";
    default: return "Status";
  }
}

// The response headers in the order they were added, names without the
// colon. Every text lives in one growing block and each header is four
// offsets into it, so that a module's header calls cost an append each, not
// two strings; a removed header only leaves its text behind.
class HxResponseHeaders {
 public:
  HxResponseHeaders() { m_entries.reserve(kEntryRoom); }
  HxResponseHeaders(const HxResponseHeaders&) = delete;
  HxResponseHeaders& operator=(const HxResponseHeaders&) = delete;

  void Add(std::string_view name, std::string_view value) {
    const size_t nameAt = m_size;
    Append(name);
    Append(value);
    m_entries.push_back({static_cast<uint32_t>(nameAt), static_cast<uint32_t>(name.size()),
                         static_cast<uint32_t>(value.size())});
  }
  void Remove(std::string_view name) {
    std::erase_if(m_entries, [&](const Entry& e) { return HxEqualsNoCase(Name(e), name); });
  }
  // Every header of that name, the values joined with ", " as a web server
  // hands a repeated response header to a filter.
  bool Find(std::string_view name, std::string& value) const {
    value.clear();
    bool found = false;
    for (const Entry& e : m_entries) {
      if (!HxEqualsNoCase(Name(e), name)) continue;
      if (found) value += ", ";
      value += Value(e);
      found = true;
    }
    return found;
  }
  template <typename Fn>
  void ForEach(Fn&& fn) const {
    for (const Entry& e : m_entries) fn(Name(e), Value(e));
  }

 private:
  struct Entry {
    uint32_t nameAt;
    uint32_t nameLength;
    uint32_t valueLength;  // the value follows the name
  };
  std::string_view Name(const Entry& e) const { return std::string_view(m_text + e.nameAt, e.nameLength); }
  std::string_view Value(const Entry& e) const {
    return std::string_view(m_text + e.nameAt + e.nameLength, e.valueLength);
  }
  void Append(std::string_view text) {
    if (text.size() > m_capacity - m_size) {
      const size_t capacity = std::max(2 * m_capacity, m_size + text.size());
      auto grown = std::make_unique_for_overwrite<char[]>(capacity);
      std::memcpy(grown.get(), m_text, m_size);
      m_heap = std::move(grown);
      m_text = m_heap.get();
      m_capacity = capacity;
    }
    std::memcpy(m_text + m_size, text.data(), text.size());
    m_size += text.size();
  }

  // Room for an ordinary response's headers with the module's, on the
  // request's stack; the entries are kept below the allocator's
  // large-request size (about 1 KB), which would make it sweep its freed
  // small blocks on every request.
  static constexpr size_t kTextRoom = 512;
  static constexpr size_t kEntryRoom = 16;
  char m_local[kTextRoom];
  std::unique_ptr<char[]> m_heap;
  char* m_text = m_local;
  size_t m_size = 0;
  size_t m_capacity = kTextRoom;
  std::vector<Entry> m_entries;
};

// Everything the host keeps for one request. The record's first eight bytes
// (host-reserved) and the filter context's ServerContext lead back to it.
struct RequestState {
  const HxRequest* request = nullptr;
  CDLLContext record;
  HTTP_FILTER_CONTEXT filterContext{};
  HTTP_FILTER_PREPROC_HEADERS preprocHeaders{};
  HTTP_FILTER_AUTH_COMPLETE_INFO authComplete{};
  HTTP_FILTER_SEND_RESPONSE sendResponse{};
  HTTP_FILTER_RAW_DATA rawData{};
  CCoreServices services;
  CRequestInfo* info = nullptr;          // owned by the record
  HxOutboundContext* outbound = nullptr;  // owned by the record
  HxResponseHeaders responseHeaders;
  // The page the server sends: the request's own text, or the file's read
  // into pageFile.
  std::string pageFile;
  std::string_view page;
  bool hasPage = false;
  bool moduleResponseSent = false;
  std::string moduleResponse;
  bool pageRewritten = false;
  std::string rewrittenResponse;
  HxOutcome outcome;
  // The user's token for GetUserToken; its texts point into `request`.
  std::vector<const char*> groupSids;
  HX_USER_TOKEN userToken{};
  HX_REQUEST_IDENTITY identity{};
};

RequestState* StateOf(HTTP_FILTER_CONTEXT* pfc) {
  return pfc != nullptr ? static_cast<RequestState*>(pfc->ServerContext) : nullptr;
}
RequestState* StateOf(CDLLContext* pContext) {
  return pContext != nullptr ? static_cast<RequestState*>(pContext->m_pHostReserved0) : nullptr;
}

std::string_view WithoutColon(std::string_view name) {
  if (!name.empty() && name.back() == ':') name.remove_suffix(1);
  return name;
}

// Server-variable names compare without case and with "-" equal to "_", as
// the web server resolves "HTTP_" variables against the request headers.
bool SameVariableName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = HxLower(a[i]);
    char y = HxLower(b[i]);
    if (x == '-') x = '_';
    if (y == '-') y = '_';
    if (x != y) return false;
  }
  return true;
}

// Copies value into the caller's buffer the ISAPI way: the size counts the
// terminator; a short buffer gets error 122 and the size it needs.
BOOL CopyOut(std::string_view value, LPVOID buffer, LPDWORD size) {
  const DWORD needed = static_cast<DWORD>(value.size() + 1);
  if (buffer == nullptr || *size < needed) {
    *size = needed;
    IsapiSetCallError(ERROR_INSUFFICIENT_BUFFER);
    return FALSE;
  }
  std::memcpy(buffer, value.data(), value.size());
  static_cast<char*>(buffer)[value.size()] = '\0';
  *size = needed;
  return TRUE;
}

BOOL HostGetServerVariable(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
  RequestState* st = StateOf(pfc);
  if (st == nullptr || name == nullptr || size == nullptr) {
    IsapiSetCallError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const auto& vars = st->info->m_mapHeaders;
  const std::string_view variable(name);
  auto it = vars.find(variable);
  if (it == vars.end()) {
    for (it = vars.begin(); it != vars.end(); ++it) {
      if (SameVariableName(it->first, variable)) break;
    }
  }
  // "HEADER_<name>" reads the request header of exactly that name, as the
  // web server offers it for headers whose names do not fit "HTTP_".
  if (it == vars.end() && HxStartsWithNoCase(variable, "HEADER_") && variable.size() > 7) {
    const std::string_view header = variable.substr(7);
    for (it = vars.begin(); it != vars.end(); ++it) {
      const std::string& key = it->first;
      if (!key.empty() && key.back() == ':' && HxEqualsNoCase(std::string_view(key).substr(0, key.size() - 1), header)) {
        break;
      }
    }
  }
  if (it == vars.end()) {
    IsapiSetCallError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  return CopyOut(it->second, buffer, size);
}

// The response headers during send response; the request headers otherwise.
BOOL HostGetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPVOID buffer, LPDWORD size) {
  RequestState* st = StateOf(pfc);
  if (st == nullptr || name == nullptr || size == nullptr) {
    IsapiSetCallError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  const std::string_view wanted = WithoutColon(name);
  if (st->record.m_dwNotificationType == SF_NOTIFY_SEND_RESPONSE) {
    if (HxEqualsNoCase(wanted, "status")) return CopyOut(std::to_string(st->outbound->m_dwStatusCode), buffer, size);
    std::string value;
    if (st->responseHeaders.Find(wanted, value)) return CopyOut(value, buffer, size);
  } else {
    const auto& h = st->info->m_mapHeaders;
    // A module may have set one of these to empty (removed); then it is absent.
    const char* line = HxEqualsNoCase(wanted, "url")       ? "HTTP_URL"
                       : HxEqualsNoCase(wanted, "method")  ? "HTTP_METHOD"
                       : HxEqualsNoCase(wanted, "version") ? "HTTP_VERSION"
                                                           : nullptr;
    if (line != nullptr) {
      auto it = h.find(line);
      if (it != h.end()) return CopyOut(it->second, buffer, size);
      IsapiSetCallError(ERROR_INVALID_INDEX);
      return FALSE;
    }
    for (const auto& [n, v] : h) {
      if (!n.empty() && n.back() == ':' && HxEqualsNoCase(std::string_view(n).substr(0, n.size() - 1), wanted)) {
        return CopyOut(v, buffer, size);
      }
    }
  }
  IsapiSetCallError(ERROR_INVALID_INDEX);
  return FALSE;
}

// The length of a header text, or npos when it holds a CR or LF, which would
// end the header line early and start another one (one pass for both).
size_t HeaderTextLength(const char* text) {
  const size_t length = std::strcspn(text, "\r\n");
  return text[length] == '\0' ? length : std::string_view::npos;
}

// Room for the headers of an ordinary response at the first change, so that
// a module's handful of header calls does not regrow the lists one by one.
// Kept below the allocator's large-request size (about 1 KB), which would
// make it sweep its freed small blocks on every request.
constexpr size_t kHeaderChangeRoom = 12;

void RecordHeaderChange(RequestState& st, DWORD type, bool add, std::string_view name, std::string_view value,
                        BOOL result) {
  auto& changes = st.outcome.headerChanges;
  if (changes.size() == changes.capacity()) changes.reserve(std::max(kHeaderChangeRoom, 2 * changes.size()));
  changes.emplace_back(type, add, name, value, result);
}

// Header names match without case; an empty value set removes the header.
// Each request header lives under its "Name:" key and its HTTP_ variable.
void ChangeRequestHeader(CRequestInfo& info, std::string_view bare, const char* value, bool add) {
  auto& h = info.m_mapHeaders;
  auto it = std::find_if(h.begin(), h.end(), [bare](const auto& entry) {
    const std::string& key = entry.first;
    return !key.empty() && key.back() == ':' && HxEqualsNoCase(std::string_view(key).substr(0, key.size() - 1), bare);
  });
  const std::string bareName(bare);
  const std::string keys[] = {it != h.end() ? it->first : bareName + ":", HxServerVariableName(bareName)};
  for (const std::string& key : keys) {
    auto found = h.find(key);
    if (add && found != h.end()) {
      found->second += ", ";
      found->second += value;
    } else if (!add && value[0] == '\0') {
      if (found != h.end()) h.erase(found);
    } else {
      h[key] = value;
    }
  }
}

// A server writes each response header, its own or a module's, as one line
// that a browser reads as that header: a name that is a token (a blank a
// browser trims, or a colon it splits at, would make it another header than
// the one the module asks for) and a value without a line break or NUL (a
// browser ends the line at a bare CR too and reads the rest as a header the
// module never heard of).
bool IsOneHeaderLine(std::string_view name, std::string_view value) {
  if (!HxIsToken(name)) return false;
  for (const char c : value) {
    if (c == '\r' || c == '\n' || c == '\0') return false;
  }
  return true;
}

BOOL ChangeHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value, bool add) {
  RequestState* st = StateOf(pfc);
  const size_t nameLength = name != nullptr ? HeaderTextLength(name) : std::string_view::npos;
  const size_t valueLength = value != nullptr ? HeaderTextLength(value) : std::string_view::npos;
  if (st == nullptr || nameLength == 0 || nameLength == std::string_view::npos ||
      valueLength == std::string_view::npos) {
    IsapiSetCallError(ERROR_INVALID_PARAMETER);
    if (st != nullptr) {
      RecordHeaderChange(*st, st->record.m_dwNotificationType, add, name != nullptr ? name : "",
                         value != nullptr ? value : "", FALSE);
    }
    return FALSE;
  }
  const DWORD type = st->record.m_dwNotificationType;
  const std::string_view nameText(name, nameLength);
  const std::string_view bare = nameText.back() == ':' ? nameText.substr(0, nameLength - 1) : nameText;
  if (type == SF_NOTIFY_SEND_RESPONSE && !IsOneHeaderLine(bare, std::string_view(value, valueLength))) {
    IsapiSetCallError(ERROR_INVALID_PARAMETER);
    RecordHeaderChange(*st, type, add, nameText, std::string_view(value, valueLength), FALSE);
    return FALSE;
  }
  if (type == SF_NOTIFY_SEND_RESPONSE) {
    auto& headers = st->responseHeaders;
    if (!add) headers.Remove(bare);
    if (add || valueLength != 0) headers.Add(bare, std::string_view(value, valueLength));
  } else if (!add && HxEqualsNoCase(nameText, "url")) {
    HxSetRequestUrl(value, *st->info);
    st->outcome.finalUrl = value;
  } else {
    ChangeRequestHeader(*st->info, bare, value, add);
  }
  RecordHeaderChange(*st, type, add, nameText, std::string_view(value, valueLength), TRUE);
  return TRUE;
}

BOOL HostSetHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value) { return ChangeHeader(pfc, name, value, false); }
BOOL HostAddHeader(HTTP_FILTER_CONTEXT* pfc, LPSTR name, LPSTR value) { return ChangeHeader(pfc, name, value, true); }

BOOL HostGetUserToken(HTTP_FILTER_CONTEXT* pfc, HANDLE* phToken) {
  RequestState* st = StateOf(pfc);
  if (st == nullptr || phToken == nullptr) {
    IsapiSetCallError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  *phToken = nullptr;
  if (st->request->identity.empty()) {
    IsapiSetCallError(ERROR_NO_TOKEN);
    return FALSE;
  }
  *phToken = &st->userToken;
  return TRUE;
}

DWORD HostSubmitBufferCommands(CDLLContext* pContext, CBufferInstructionList* pList) {
  RequestState* st = StateOf(pContext);
  if (st == nullptr || pList == nullptr) return ERROR_INVALID_PARAMETER;
  const std::string& buffer = st->outbound->Buffer();
  st->outcome.instructionsSubmitted = true;
  st->outcome.instructionCount = pList->size();
  std::string edited;
  const DWORD result = HxApplyBufferInstructions(buffer.data(), buffer.size(), *pList, edited);
  st->outcome.submitResult = result;
  if (result == ERROR_SUCCESS) {
    HxFixContentLength(edited);
    st->pageRewritten = true;
    st->rewrittenResponse = std::move(edited);
  }
  return result;
}

DWORD HostSendResponse(CDLLContext* pContext, const char* response, DWORD* pLength, CCoreServices*) {
  RequestState* st = StateOf(pContext);
  if (st == nullptr) return ERROR_INVALID_PARAMETER;
  st->moduleResponseSent = true;
  st->moduleResponse.assign(response != nullptr && pLength != nullptr ? response : "",
                            response != nullptr && pLength != nullptr ? *pLength : 0);
  return ERROR_SUCCESS;
}

// One Content-Length, the right one, as a server states it: a page goes out
// with its own length in place of any the response's headers give; a body
// framed by a Transfer-Encoding carries its length in its chunks and gets
// none. An answer without a page (HEAD, 204, 304) keeps the length the
// headers give, else states 0.
void StateContentLength(RequestState& st) {
  std::string value;
  const bool framed = st.responseHeaders.Find("Transfer-Encoding", value);
  if (!st.hasPage && st.responseHeaders.Find("Content-Length", value)) return;
  st.responseHeaders.Remove("Content-Length");
  if (framed) return;
  char length[24];
  const char* const lengthEnd = std::to_chars(length, length + sizeof length, st.page.size()).ptr;
  st.responseHeaders.Add("Content-Length", std::string_view(length, static_cast<size_t>(lengthEnd - length)));
}

std::string ResponseHead(const RequestState& st) {
  char digits[16];
  const char* const digitsEnd = std::to_chars(digits, digits + sizeof digits, st.outbound->m_dwStatusCode).ptr;
  const std::string_view status(digits, static_cast<size_t>(digitsEnd - digits));
  const std::string_view reason = ReasonPhrase(st.outbound->m_dwStatusCode);
  size_t size = 9 + status.size() + 1 + reason.size() + 2 + 2;
  st.responseHeaders.ForEach([&](std::string_view n, std::string_view v) { size += n.size() + 2 + v.size() + 2; });
  // Written in place: a module's dozen headers would otherwise cost four
  // checked appends each.
  std::string head(size, '\0');
  char* out = head.data();
  auto put = [&out](std::string_view text) {
    std::memcpy(out, text.data(), text.size());
    out += text.size();
  };
  put("HTTP/1.1 ");
  put(status);
  put(" ");
  put(reason);
  put("\r\n");
  st.responseHeaders.ForEach([&](std::string_view n, std::string_view v) {
    put(n);
    put(": ");
    put(v);
    put("\r\n");
  });
  put("\r\n");
  return head;
}

constexpr const char kBadRequestPage[] = "Bad Request";

// The host's 400 for a head or a path it cannot read: the module is never
// called, so no notification, not even end of request, is delivered.
HxOutcome RefusedByHost(const HxRequest& request, const char* why, HxOutcome out) {
  out.ok = true;
  out.pathRefusal = why;
  out.subscriptionFromUrl = !request.subscriptionType.has_value();
  out.subscriptionType = request.subscriptionType.value_or(0);
  out.originalUrl = request.target;
  out.finalUrl = request.target;
  out.answerKind = HxAnswerKind::HostRefusal;
  out.answer = "HTTP/1.1 400 Bad Request\r\nContent-Type: text/plain\r\nContent-Length: " +
               std::to_string(sizeof kBadRequestPage - 1) + "\r\n\r\n" + kBadRequestPage;
  out.serverResponse = out.answer;
  return out;
}

bool Stops(DWORD control) {
  return control == ControlMessageIgnore || control == ControlMessageCompleted || control == ControlMessageReplace;
}

}  // namespace

bool HxHost::Start(const std::string& modulePath, std::string& error) {
  if (m_started) return true;
  if (!m_module.Load(modulePath, error)) return false;
  return AfterLoad(modulePath, error);
}

bool HxHost::Start(HxModule::PFN_GetFilterVersion getFilterVersion, HxModule::PFN_HttpFilterProc httpFilterProc,
                   HxModule::PFN_TerminateFilter terminateFilter, std::string& error) {
  if (m_started) return true;
  m_module.Attach(getFilterVersion, httpFilterProc, terminateFilter);
  return AfterLoad("the filter", error);
}

bool HxHost::AfterLoad(const std::string& name, std::string& error) {
  m_version = HTTP_FILTER_VERSION{};
  m_version.dwServerFilterVersion = 0x60000;
  HxStartEvents events;
  if (!m_module.GetFilterVersion(&m_version)) {
    error = "GetFilterVersion of " + name + " failed";
    // The module tells why only to the event log.
    const std::vector<std::string> reported = events.Lines();
    if (!reported.empty()) error += "; the module reported:";
    for (const std::string& line : reported) error += "\n  " + line;
    m_module.Unload();
    return false;
  }
  m_started = true;
  return true;
}

DWORD HxHost::Stop() {
  if (!m_started) return 0;
  const DWORD result = m_module.TerminateFilter();
  m_module.Unload();
  m_started = false;
  return result;
}

HxOutcome HxHost::Run(const HxRequest& request) const {
  // On the stack: a heap block of this size (over 1 KB) would make the
  // allocator sweep its freed small blocks once per request.
  RequestState state;
  RequestState* const st = &state;
  HxOutcome& out = st->outcome;
  if (!m_started) {
    out.error = "the module is not loaded";
    return std::move(out);
  }
  // A server refuses a head or a path it cannot read safely before any
  // filter runs.
  const HxHeadRefusal headRefusal = HxCheckRequestHead(request);
  if (headRefusal != HxHeadRefusal::None) return RefusedByHost(request, HxHeadRefusalText(headRefusal), std::move(out));
  const HxPathRefusal refusal = HxRoutePath(request.Path(), out.routedPath);
  if (refusal != HxPathRefusal::None) return RefusedByHost(request, HxPathRefusalText(refusal), std::move(out));

  st->request = &request;
  for (const std::string& g : request.identity.groupSids) st->groupSids.push_back(g.c_str());
  st->userToken = {request.identity.account.c_str(), request.identity.domain.c_str(), request.identity.sid.c_str(),
                   static_cast<DWORD>(st->groupSids.size()), st->groupSids.data()};
  st->identity = {request.identity.account.c_str(), request.identity.domain.c_str(), request.identity.sid.c_str(),
                  st->groupSids.data(), static_cast<uint32_t>(st->groupSids.size())};
  // An anonymous request runs on a thread that impersonates nobody.
  CPublishedIdentity published(request.identity.empty() ? nullptr : &st->identity);
  if (!IsOneHeaderLine("Content-Type", request.responseContentType)) {
    out.error = "the response's Content-Type cannot go out on one header line";
    return std::move(out);
  }
  for (const auto& [name, value] : request.responseHeaders) {
    if (!IsOneHeaderLine(name, value)) {
      out.error = "the response header <" + name + "> cannot go out as one header line a browser reads as it";
      return std::move(out);
    }
  }
  if (request.responsePage) {
    st->page = *request.responsePage;
    st->hasPage = true;
  } else if (request.responsePagePath) {
    if (!ReadWholeFile(*request.responsePagePath, st->pageFile)) {
      out.error = "cannot read the response page " + *request.responsePagePath;
      return std::move(out);
    }
    st->page = st->pageFile;
    st->hasPage = true;
  }

  // The request record and what hangs off it.
  CDLLContext& rec = st->record;
  rec.m_pHostReserved0 = st;
  st->info = new CRequestInfo;
  rec.m_spRequestInfo = CCountedPtr<CRequestInfo>(st->info);
  HxFillRequestInfo(request, out.routedPath, *st->info);
  st->outbound = new HxOutboundContext;
  rec.m_spOutboundContext = CCountedPtr<COutboundContext>(st->outbound);
  st->outbound->m_dwStatusCode = request.responseStatus;
  auto* exchangeUrl = new CExchangeURL;
  rec.m_spExchangeURL = CCountedPtr<CExchangeURL>(exchangeUrl);
  HxFillExchangeUrl(request, *exchangeUrl);
  st->services.SubmitBufferCommands = &HostSubmitBufferCommands;
  st->services.SendResponse = &HostSendResponse;
  rec.m_pCoreServices = &st->services;
  rec.m_dwCriteriaID = request.criteriaId;
  out.subscriptionFromUrl = !request.subscriptionType.has_value();
  out.subscriptionType = request.subscriptionType.value_or(
      HxSubscriptionTypeForPath(out.routedPath, virtualFolder, HxExchangeBasePath(request)));
  rec.m_dwSubscriptionType = out.subscriptionType;
  out.originalUrl = request.target;
  out.finalUrl = request.target;

  HTTP_FILTER_CONTEXT& fc = st->filterContext;
  fc.cbSize = sizeof(HTTP_FILTER_CONTEXT);
  fc.Revision = 0x60000;
  fc.ServerContext = st;
  fc.GetServerVariable = &HostGetServerVariable;
  rec.m_pFilterContext = &fc;
  st->preprocHeaders = {&HostGetHeader, &HostSetHeader, &HostAddHeader, 0, 0};
  st->authComplete = {&HostGetHeader, &HostSetHeader, &HostAddHeader, &HostGetUserToken, 0, FALSE, 0};
  st->responseHeaders.Add("Content-Type", request.responseContentType);
  for (const auto& [name, value] : request.responseHeaders) st->responseHeaders.Add(name, value);
  StateContentLength(*st);

  auto deliver = [&](DWORD type, void* notification) {
    rec.m_dwNotificationType = type;
    rec.m_pNotification = notification;
    HxNotificationRecord r;
    r.type = type;
    r.result = m_module.HttpFilterProc(&rec);
    r.controlMessage = rec.m_dwControlMessage;
    r.requestFlags = rec.m_dwRequestFlags;
    r.settingsId = rec.m_dwSettingsID;
    out.notifications.push_back(r);
    return !Stops(rec.m_dwControlMessage);
  };

  if (onBeginRequest) onBeginRequest(request);
  bool goOn = deliver(SF_NOTIFY_PREPROC_HEADERS, &st->preprocHeaders);
  if (goOn) goOn = deliver(SF_NOTIFY_AUTH_COMPLETE, &st->authComplete);
  if (goOn) {
    st->sendResponse = {&HostGetHeader, &HostSetHeader, &HostAddHeader, st->outbound->m_dwStatusCode, 0};
    goOn = deliver(SF_NOTIFY_SEND_RESPONSE, &st->sendResponse);
  }
  // The buffer carries the headers as they stand after send response.
  const std::string head = ResponseHead(*st);
  out.serverResponse.reserve(head.size() + st->page.size());
  out.serverResponse.append(head).append(st->page);
  st->outbound->SetResponse(out.serverResponse, head.size());
  if (goOn && st->hasPage) {
    const std::string& buffer = st->outbound->Buffer();
    st->rawData = {const_cast<char*>(buffer.data()), static_cast<DWORD>(buffer.size()),
                   static_cast<DWORD>(buffer.size()), 0};
    deliver(SF_NOTIFY_SEND_RAW_DATA, &st->rawData);
  }

  // The answer, taken before end of request frees the replace buffer.
  const DWORD control = rec.m_dwControlMessage;
  if (control == ControlMessageCompleted && st->moduleResponseSent) {
    out.answerKind = HxAnswerKind::ModuleResponse;
    out.answer = st->moduleResponse;
  } else if (control == ControlMessageReplace && rec.m_pReplaceBuffer != nullptr) {
    out.answerKind = HxAnswerKind::ReplaceBuffer;
    out.answer.assign(reinterpret_cast<const char*>(rec.m_pReplaceBuffer), rec.m_dwReplaceBufferLength);
  } else if (st->pageRewritten && control != ControlMessageIgnore) {
    out.answerKind = HxAnswerKind::RewrittenPage;
    out.answer = st->rewrittenResponse;
  } else {
    out.answerKind = HxAnswerKind::ServerResponse;
    out.answer = st->outbound->Buffer();
  }

  deliver(SF_NOTIFY_END_OF_REQUEST, nullptr);
  if (onEndRequest) onEndRequest(request);
  out.ok = true;
  // The outcome lives in the request's state, which goes now: moved, not copied.
  return std::move(out);
}

extern "C" __attribute__((visibility("default"))) const HX_REQUEST_IDENTITY* HxGetRequestIdentity() {
  return t_requestIdentity;
}
