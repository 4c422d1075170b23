// The product's pseudo-requests below its virtual folder (view, close, show,
// print, menu, "GetFile.js") exist as no file: each is rewritten internally
// to the product's viewer page with a command in its query string. The
// browser sees no redirect.
#include <algorithm>
#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/file_name_extensions.h"
#include "common/string_operation.h"
#include "common/string_utils.h"
#include "common/url_utils.h"
#include "filter/auth_complete_helper.h"
#include "filter/block_levels.h"
#include "filter/control_message.h"
#include "filter/decision_params.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/notifications_helper.h"
#include "filter/request_flags.h"
#include "filter/request_info.h"
#include "filter/result_codes.h"
#include "filter/ssl_connection.h"
#include "filter/util.h"
#include "general/owa_file_access.h"
#include "general/pl_hx_general_settings.h"

namespace {

constexpr const char kShowMarker[] = "/cmd/show/file/";
constexpr const char kMultimediaKey[] = "MMKey";

// One row per pseudo-request that ProcessCmd redirects.
struct CommandRedirect {
  DWORD subscriptionType;
  const char* prefix;
  const char* failure;  // the log line when the redirect failed
};

const CommandRedirect g_CommandRedirects[] = {
    {SubscriptionType::PelloraView, "?",
     "[CAuthCompleteHelper::RedirectPelloraFakeRequest] ProcessCmd failed to redirect the fake view request."},
    {SubscriptionType::PelloraClose, "?cmd=close&path=",
     "[CAuthCompleteHelper::RedirectPelloraFakeRequest] ProcessCmd failed to redirect the fake close request."},
    {SubscriptionType::PelloraPrint, "?cmd=print&path=",
     "[CAuthCompleteHelper::RedirectPelloraFakeRequest] ProcessCmd failed to redirect the fake print request."},
    {SubscriptionType::PelloraMenu, "?cmd=menu&",
     "[CAuthCompleteHelper::RedirectPelloraFakeRequest] ProcessCmd failed to redirect the fake menu request."},
    {SubscriptionType::PelloraGetFileScript, "?cmd=GetFile&",
     "[CAuthCompleteHelper::RedirectPelloraFakeRequest] ProcessCmd failed to redirect the fake GetFile.js request."},
};

const CommandRedirect* FindCommandRedirect(DWORD subscriptionType) {
  for (const CommandRedirect& row : g_CommandRedirects) {
    if (row.subscriptionType == subscriptionType) return &row;
  }
  return nullptr;
}

// "/" + virtual folder + "/bin/pellora.srf"
std::string ViewerPage() {
  return "/" + ToStd(CPLHXGeneralSettings::getInstance()->GetVirtualFolderName()) + "/bin/pellora.srf";
}

// A query string that starts with the multimedia key: over SSL, a hash that
// matches the link's URL lets the viewer cache multimedia. The key's query
// string is emptied in every case.
bool MultimediaMayBeCached(const CDLLContext* pContext, const ci_string& url, ci_string& queryString,
                           bool cacheMultimedia) {
  ci_string requestHash = queryString.substr(5);
  requestHash = requestHash.substr(0, requestHash.find('&'));
  ci_string hashedUrl = url;
  if (pContext->m_dwSubscriptionType == SubscriptionType::PelloraShow) {
    const size_t marker = url.find(kShowMarker);
    if (marker != ci_string::npos) hashedUrl = url.substr(marker);
  }
  const std::string hash = CUtil::HashString(hashedUrl.c_str());
  DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] URL for hash is <%s>, HASH: <%s>, Request Hash:<%s> ",
           hashedUrl.c_str(), hash.c_str(), requestHash.c_str());
  bool cache = false;
  if (IsSSLConnection(*pContext->m_spRequestInfo)) {
    if (requestHash == ToCI(hash)) {
      cache = cacheMultimedia;
      DebugLog("Cache Multimedia for SSL. Hash match.");
    } else {
      DebugLog("Don't Cache Multimedia for SSL - hashes don't match");
    }
  }
  queryString.clear();
  return cache;
}

// Whether Base64 text decoded through its end: decoding stops at a zero
// byte, behind which a reader of the bytes may find more of the name.
bool DecodedWhole(const ci_string& encoded, const ci_string& decoded) {
  size_t digits = 0;
  for (const char c : encoded) {
    if (c == '\0') break;
    const bool digit = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' || c == '/';
    if (digit) ++digits;
  }
  return decoded.size() == digits * 6 / 8;
}

// A decoded name the viewer could read as another file than the one its
// extensions are taken from: a control byte, or a file name that a file
// system or a browser reads as another (trailing dots, blanks or other white
// space). A ":" ("Minutes 10:30.pdf", "evil.exe:x.pdf"), a query or fragment
// mark or a path parameter ("evil.exe?.pdf") is no reason: the level is
// that of every reading of the name.
bool ReadsAsAnotherFile(const ci_string& name) {
  if (std::any_of(name.begin(), name.end(), IsControlByte)) return true;
  return FileNameLosesTrailingCharacters(name);
}

// OWA's file access level of the document a Base64 name names; the blocked
// level for a name that reads as another file. 13 when it does not decode.
DWORD LevelOfName(CDLLContext* pContext, const ci_string& encoded, DWORD& level) {
  level = OWAFileAccessLevel::Unknown;
  ci_string name = encoded;
  if (!CStringOperation::Decode64(name)) {
    DebugLog("[CAuthCompleteHelper::ProcessCmd] CStringOperation::Decode64() failed. File <%s>.", encoded.c_str());
    return HX_RC_INVALID_DATA;
  }
  if (!DecodedWhole(encoded, name) || ReadsAsAnotherFile(name)) {
    DebugLog("[CAuthCompleteHelper::ProcessCmd] The document's name <%s> may name another file; it is given the blocked level.",
             name.c_str());
    level = OWAFileAccessLevel::Blocked;
    return 0;
  }
  const size_t slash = name.rfind('/');
  const ci_string fileName = slash == ci_string::npos ? name : name.substr(slash + 1);
  const ci_string extension = ExtensionsOfFileName(fileName).whole;
  const bool publicClient = (pContext->m_dwRequestFlags & RequestFlag::FBAPublicClient) != 0;
  const DWORD dwRet = CPLHXGeneralSettings::getInstance()->GetOWAFileAccessLevelOfName(name, publicClient, level);
  if (dwRet != 0) {
    DebugLog("[CAuthCompleteHelper::ProcessCmd] CPLHXGeneralSettings::GetOWAFileAccessLevel() failed. Filename <%s> Ext <%s>.",
             fileName.c_str(), extension.c_str());
    return dwRet;
  }
  DebugLog("[CAuthCompleteHelper::ProcessCmd] This is a conversion (/bin/view.htm) request. Filename <%s> Ext <%s> OWA File access level is <%d>.",
           fileName.c_str(), extension.c_str(), static_cast<int>(level));
  return 0;
}

// A conversion request carries its document's name in Base64, as "fn" or
// else "WR340U1"; the viewer is told OWA's file access level of the
// document's extension. Each name is read one way: a name given twice or
// spelt two ways gives the blocked level, and a request that gives both
// names the stricter of their levels, whichever the viewer reads.
DWORD AppendConversionAccessLevel(CDLLContext* pContext, std::string& target) {
  const CRequestInfo& info = *pContext->m_spRequestInfo;
  const CDecisionParam fn = ReadDecisionParam(info, "fn");
  const CDecisionParam path = ReadDecisionParam(info, "WR340U1");
  if (fn.reading == CDecisionParam::Absent && path.reading == CDecisionParam::Absent) {
    DebugLog("[CAuthCompleteHelper::ProcessCmd] This is a conversion (/bin/view.htm) request, but the request URL doesn't contain neither <%s> (filename) nor <%s> (relative path) query string parameter!",
             "fn", "WR340U1");
    return HX_RC_INVALID_DATA;
  }
  DWORD level = OWAFileAccessLevel::Allowed;
  if (!fn.IsUnique() && !path.IsUnique()) {
    DebugLog("[CAuthCompleteHelper::ProcessCmd] The document's name is repeated or reads two ways; it is given the blocked level.");
    level = OWAFileAccessLevel::Blocked;
  } else if (fn.reading == CDecisionParam::Absent || path.reading == CDecisionParam::Absent) {
    const DWORD dwRet = LevelOfName(pContext, fn.IsUnique() ? fn.value : path.value, level);
    if (dwRet != 0) return dwRet;
  } else {
    // Two names: a name that cannot be read leaves only the blocked level.
    for (const CDecisionParam* name : {&fn, &path}) {
      DWORD nameLevel = OWAFileAccessLevel::Blocked;
      if (!name->IsUnique() || LevelOfName(pContext, name->value, nameLevel) != 0) nameLevel = OWAFileAccessLevel::Blocked;
      level = std::min(level, nameLevel);
    }
  }
  target += "&owaal=" + std::to_string(level);
  return 0;
}

// Whether the routed path is the viewer page or lies below it: the server
// hands a path after the page's name to the page as well. Every request
// passes here, so the page's name is looked for before the whole path is
// built.
bool NamesViewerPage(std::string_view path) {
  static constexpr std::string_view kViewerName = "/bin/pellora.srf";
  const ci_string_view routed = AsCIView(path);
  const size_t at = routed.find(AsCIView(kViewerName));
  if (at == ci_string_view::npos) return false;
  const size_t end = at + kViewerName.size();
  if (end != path.size() && path[end] != '/') return false;
  const std::string page = ViewerPage();
  return page.size() == end && routed.substr(0, end) == AsCIView(page);
}

// The viewer must hear its access level and whether it may cache multimedia
// from the module only: whatever the client sent under those names goes,
// however it spelt them.
ci_string WithoutViewerLevels(const ci_string& queryString) {
  return WithoutParamsNamed(queryString, {"owaal", "CMC245"});
}

// How the request may bring the viewer levels where the module can neither
// read them whole nor rewrite them.
enum class ClientLevels {
  None,       // none, or only in the query, which is rewritten
  Carried,    // in a cookie, which a look-up that falls back to cookies
              // finds once the query has lost them, or in a form body
  MayCarry,   // a body the module never sees (multipart, plain text,
              // chunked, by any method: the viewer reads its form on a HEAD
              // too): refused where a level is enforced
};

ClientLevels ClientLevelsOf(const CRequestInfo& info) {
  if (CookieMayHoldParam(info, "owaal") || CookieMayHoldParam(info, "CMC245")) return ClientLevels::Carried;
  if (ReadableFormBody(info)) {
    return FormBodyParamNamed(info, {"owaal", "CMC245"}) ? ClientLevels::Carried : ClientLevels::None;
  }
  return HasBody(info) ? ClientLevels::MayCarry : ClientLevels::None;
}

// Whether the request's settings set enforces a direct file access block
// level: every level but 1, which stops nothing (an invalid one included).
bool LevelEnforced(const CDLLContext* pContext) {
  CPLHXGeneralSettings* pSettings = CPLHXGeneralSettings::getInstance();
  int32_t settingsId = static_cast<int32_t>(pContext->m_dwSettingsID);
  pSettings->GetLinkCriteriaSetting(static_cast<int32_t>(pContext->m_dwCriteriaID), settingsId);
  return BlockLevels::ReadDirectFileAccessLevel(*pSettings, settingsId) != 1;
}

// Whether the viewer may take a document's name from the request ("fn" or
// "WR340U1" in any spelling, in the query, a form body or a cookie): it then
// hears the module's level of that document.
bool NamesDocument(const CRequestInfo& info) {
  return RequestParamNamed(info, {"fn", "WR340U1"}) || CookieMayHoldParam(info, "fn") ||
         CookieMayHoldParam(info, "WR340U1");
}

}  // namespace

DWORD CAuthCompleteHelper::ProcessCmd(CDLLContext* pContext, const ci_string& queryString, const char* commandPrefix) {
  DWORD dwRet = 0;
  // Any other command the viewer may read as a conversion ("cmd=view"
  // among a menu's parameters) hears the level of the document it names.
  const bool conversion = pContext->m_dwSubscriptionType == SubscriptionType::PelloraView ||
                          NamesDocument(*pContext->m_spRequestInfo);
  std::string target = ViewerPage() + commandPrefix + ToStd(WithoutViewerLevels(queryString));
  if (conversion) dwRet = AppendConversionAccessLevel(pContext, target);
  if (dwRet == 0) {
    pContext->m_dwControlMessage = ControlMessageHandledRedirected;
    if (CBaseNotifications::SetWorkerHeader(pContext, "URL", target) == FALSE) {
      DebugLog("[CAuthCompleteHelper::ProcessCmd] CBaseNotifications::SetWorkerHeader failed when redirecting URL to <%s>.",
               target.c_str());
      dwRet = HX_RC_MISSING;
    } else {
      DebugLog("[CAuthCompleteHelper::ProcessCmd] URL was successfully redirected to <%s>", target.c_str());
    }
  }
  DebugLog("[CAuthCompleteHelper::ProcessCmd] returned <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CAuthCompleteHelper::ProcessShowRedirect(CDLLContext* pContext, const ci_string& subPath, bool cacheMultimedia) {
  DWORD dwRet = 0;
  DebugLog("[CAuthCompleteHelper::ProcessShowRedirect] sub path <%s>.", subPath.c_str());
  const CRequestInfo& info = *pContext->m_spRequestInfo;
  ci_string bld, thm, prexp, m65l64x, aid, mid;
  const bool build = info.GetParamValue("bld", bld) && info.GetParamValue("thm", thm) &&
                     info.GetParamValue("prexp", prexp);
  const bool hasM65 = info.GetParamValue("m65l64x", m65l64x);
  const bool hasAid = info.GetParamValue("aid", aid);
  const bool hasMid = info.GetParamValue("mid", mid);

  std::string target;
  target.reserve(subPath.size() + 64);
  // The values were decoded once; the viewer decodes its query once more, so
  // each goes back into escapes and stays one parameter.
  auto client = [](const ci_string& value) { return URLEncodeQueryValue(AsStdView(value)); };
  target = ViewerPage() + "?cmd=show&cp2lta3=" + client(subPath) + "&CMC245=" + (cacheMultimedia ? "1" : "0");
  if (hasAid) target += "&aid=" + client(aid);
  if (hasMid) target += "&mid=" + client(mid);
  if (build) target += "&bld=" + client(bld) + "&thm=" + client(thm) + "&prexp=" + client(prexp);
  if (hasM65) target += "&m65l64x=" + client(m65l64x);

  if (CBaseNotifications::SetWorkerHeader(pContext, "URL", target) == FALSE) {
    DebugLog("[CAuthCompleteHelper::ProcessShowRedirect] CBaseNotifications::SetWorkerHeader failed when redirecting URL to <%s>.",
             target.c_str());
    dwRet = HX_RC_MISSING;
  } else {
    DebugLog("[CAuthCompleteHelper::ProcessShowRedirect] URL was successfully redirected to <%s>", target.c_str());
    pContext->m_dwControlMessage = ControlMessageHandledRedirected;
  }
  DebugLog("[CAuthCompleteHelper::ProcessShowRedirect] returned <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CAuthCompleteHelper::RedirectPelloraFakeRequest(CDLLContext* pContext, ci_string& url, ci_string& queryString,
                                                      bool cacheMultimedia) {
  DWORD dwRet = 0;
  DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] relative URL <%s>, QUERY_STRING <%s>, CacheMultimedia <%d>.",
           url.c_str(), queryString.c_str(), cacheMultimedia ? 1 : 0);
  if (pContext == nullptr || !pContext->m_spRequestInfo) {
    DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] invalid pointers.");
    dwRet = HX_RC_MISSING;
  } else {
    bool cache = false;
    if (queryString.size() >= 5 && queryString.compare(0, 5, kMultimediaKey) == 0) {
      cache = MultimediaMayBeCached(pContext, url, queryString, cacheMultimedia);
    } else {
      DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] qs is not a mm key.");
    }
    const DWORD type = pContext->m_dwSubscriptionType;
    if (type == SubscriptionType::PelloraShow) {
      const size_t marker = url.find(kShowMarker);
      if (marker != ci_string::npos) {
        const size_t question = url.find('?');
        if (question != ci_string::npos) {
          url.erase(question);
          DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] URL after removal of query string I-CHAIN <%s>",
                   url.c_str());
        }
        if (question != ci_string::npos && question < marker) {
          // The marker stood in the query part: there is no file to show.
          dwRet = HX_RC_INVALID_DATA;
        } else {
          dwRet = ProcessShowRedirect(pContext, url.substr(marker + sizeof kShowMarker - 1), cache);
        }
        if (dwRet != 0) {
          DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] ProcessShowRedirect failed to redirect the fake show request.");
        }
      }
    } else if (const CommandRedirect* row = FindCommandRedirect(type)) {
      dwRet = ProcessCmd(pContext, queryString, row->prefix);
      if (dwRet != 0) DebugLog("%s", row->failure);
    }
  }
  DebugLog("[CAuthCompleteHelper::RedirectPelloraFakeRequest] returned <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CAuthCompleteHelper::StripClientViewerLevels(CDLLContext* pContext) {
  const CRequestInfo& info = *pContext->m_spRequestInfo;
  const std::string* path = info.FindHeaderValue("URL");
  const bool straight = path != nullptr && NamesViewerPage(*path);
  if (!straight && !IsBrowseCommandRequest(pContext->m_dwSubscriptionType)) return 0;
  const ClientLevels carried = ClientLevelsOf(info);
  if (carried == ClientLevels::Carried) {
    DebugLog("[CAuthCompleteHelper::StripClientViewerLevels] The request to the viewer carries levels in a form body or a cookie, which the module cannot remove.");
    return HX_RC_INVALID_DATA;
  }
  if (carried == ClientLevels::MayCarry && LevelEnforced(pContext)) {
    DebugLog("[CAuthCompleteHelper::StripClientViewerLevels] The request to the viewer carries a body the module cannot read, which may hold levels.");
    return HX_RC_INVALID_DATA;
  }
  // A pseudo-request's query loses the levels when it is rewritten.
  if (!straight) return 0;
  const std::string* query = info.FindHeaderValue("QUERY_STRING");
  const ci_string received = query != nullptr ? ToCI(*query) : ci_string();
  const ci_string kept = WithoutViewerLevels(received);
  const std::string sent = CNotificationsHelper::PathAsSent(info, *path);
  std::string target = sent + "?" + ToStd(kept);
  // A request sent straight to the viewer that names a document hears the
  // module's level of it, as a conversion does. The client's kind (public or
  // not) is known from its cookie before authentication completes.
  const bool namesDocument = NamesDocument(info);
  if (namesDocument) {
    // The flags are classified after this step; the client's kind is lent
    // to the look-up only.
    struct RestoredFlags {
      DWORD& flags;
      const DWORD saved;
      ~RestoredFlags() { flags = saved; }
    } restored{pContext->m_dwRequestFlags, pContext->m_dwRequestFlags};
    const std::string* cookie = info.FindHeaderValue("HTTP_COOKIE");
    if (cookie != nullptr && !cookie->empty()) pContext->m_dwRequestFlags |= GetFBAClientFlags(pContext, *cookie);
    const DWORD dwRet = AppendConversionAccessLevel(pContext, target);
    if (dwRet != 0) {
      DebugLog("[CAuthCompleteHelper::StripClientViewerLevels] The document the viewer is asked for has no level; the request is refused.");
      return dwRet;
    }
    if (kept.empty()) target.erase(sent.size() + 1, 1);  // "?&owaal=" to "?owaal="
  } else if (kept.size() == received.size()) {
    return 0;
  } else if (kept.empty()) {
    target = sent;
  }
  if (CBaseNotifications::SetWorkerHeader(pContext, "URL", target) == FALSE) {
    DebugLog("[CAuthCompleteHelper::StripClientViewerLevels] CBaseNotifications::SetWorkerHeader failed when redirecting URL to <%s>.",
             target.c_str());
    return HX_RC_MISSING;
  }
  DebugLog("[CAuthCompleteHelper::StripClientViewerLevels] The viewer's levels were set by the module: <%s>", target.c_str());
  return 0;
}
