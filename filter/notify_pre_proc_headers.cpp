#include <exception>
#include <stdexcept>
#include <string>
#include <string_view>

#include "common/ci_string.h"
#include "common/debug_log.h"
#include "common/log_words.h"
#include "common/string_utils.h"
#include "common/unicode_white_space.h"
#include "filter/auth_complete_helper.h"
#include "filter/decision_params.h"
#include "filter/dll_context.h"
#include "filter/notifications.h"
#include "filter/request_flags.h"
#include "filter/request_info.h"
#include "filter/result_codes.h"
#include "filter/util.h"

namespace {

// One request parameter as looked up: whether it was there, and its value
// (read in place: the request information outlives the handler).
struct RequestParam {
  bool found = false;
  ci_string_view value;

  // The names are literals: their length is known without a count.
  template <size_t N>
  void Read(const CRequestInfo& info, const char (&name)[N]) {
    const ci_string* stored = info.FindParamValue(ci_string_view(name, N - 1));
    found = stored != nullptr;
    if (found) value = *stored;
  }
  // Present and equal to `text` as a whole, case ignored.
  bool Is(const char* text) const { return found && value == text; }
};

// What a header that is absent or was not read logs as.
// Never destroyed, as every static a request reaches: the process may end
// under running requests.
const std::string& kNoText = *new std::string;

// A header text read in place (the request information outlives the
// handler); an absent header reads as empty.
template <size_t N>
bool ReadHeader(const CRequestInfo& info, const char (&name)[N], const std::string*& text) {
  text = info.FindHeaderValue(std::string_view(name, N - 1));
  if (text != nullptr) return true;
  text = &kNoText;
  return false;
}

bool EqualsNoCase(const std::string& a, const char* b) { return AsCIView(a) == b; }

// A name that reads two ways may name a document, or its fetch, to the
// server; so may one the module does not see where a body it cannot read
// (`bodyMayHoldIt`) may carry it: "POST /owa/ev.owa" with "ns", "ev" and
// "URL" in a multipart body.
bool MayBe(const CDecisionParam& param, bool bodyMayHoldIt) {
  return param.reading == CDecisionParam::Undecidable ||
         (bodyMayHoldIt && param.reading == CDecisionParam::Absent);
}
// A value the server may take for `text` once its white space is trimmed, as
// a parser of names does: a blank ("ns=UncDocument+") or any other of
// Unicode's White_Space and format characters (U+00A0, U+3000, U+200B), at
// either end, and compared without case as the server compares; a server
// that splits pairs at ";" too reads the value up to the first.
bool MayRead(const CDecisionParam& param, const char* text) {
  return param.IsUnique() && ReadsAsName(std::string_view(param.value.data(), param.value.size()), text);
}
bool MayNameDocument(const CDecisionParam& ns, bool bodyMayHoldIt) {
  return MayRead(ns, "UncDocument") || MayRead(ns, "SharepointDocument") || MayBe(ns, bodyMayHoldIt);
}
bool MayFetchDocument(const CDecisionParam& ev, bool bodyMayHoldIt) {
  return MayRead(ev, "GetDoc") || MayBe(ev, bodyMayHoldIt);
}

// The viewer would take the levels the client sent if they stayed, so a
// failure of any kind while they are removed is reported as one.
DWORD StripViewerLevelsOrFail(CDLLContext* pContext) noexcept {
  try {
    return CAuthCompleteHelper::StripClientViewerLevels(pContext);
  } catch (const std::exception& e) {
    DebugLog("[CNotifications::NotifyPreProcHeaders] Runtime exception: %s", e.what());
  } catch (...) {
    DebugLog("[CNotifications::NotifyPreProcHeaders] Unexpected exception");
  }
  return HX_RC_INTERNAL_ERROR;
}

// After an exception the request's kind is unknown. A request to a handler
// that serves files goes on to be decided as a download, which refuses it
// where downloads are restricted; anything else is let go as before.
void ClassifyAfterFailure(CDLLContext* pContext) noexcept {
  const DWORD type = pContext->m_dwSubscriptionType;
  if (type == SubscriptionType::OwaAttachment) {
    pContext->m_dwRequestFlags |= RequestFlag::DirectAttachmentAccess;
  } else if (type == SubscriptionType::OwaEvent) {
    pContext->m_dwRequestFlags |= RequestFlag::DocumentViewDirectFileAccess;
  } else {
    pContext->m_dwControlMessage = ControlMessageIgnore;
    return;
  }
  DebugLog("[CNotifications::NotifyPreProcHeaders] The request is decided as a download after the exception.");
}

}  // namespace

void (*g_pfnPreProcHeadersTestFault)() = nullptr;

DWORD CNotifications::NotifyPreProcHeaders(CDLLContext* pContext) {
  DWORD dwRet = 0;
  if (pContext == nullptr) {
    DebugLog("[CNotifications::NotifyPreProcHeaders] CDLLContext pointer is NULL.");
    dwRet = HX_RC_INVALID_DATA;
    LogNotificationFinished("NotifyPreProcHeaders", dwRet, pContext);
    return dwRet;
  }
  if (!pContext->m_spRequestInfo) {
    DebugLog("[CNotifications::NotifyPreProcHeaders] CDLLContext.m_spRequestInfo is NULL.");
    dwRet = HX_RC_INVALID_DATA;
    pContext->m_dwControlMessage = ControlMessageIgnore;
    LogNotificationFinished("NotifyPreProcHeaders", dwRet, pContext);
    return dwRet;
  }

  try {
    // The host reuses records; nothing of an earlier request may leak into
    // this one. The own context is only forgotten here: end of request frees it.
    pContext->m_dwRequestFlags = 0;
    pContext->m_pMyOwnContext = nullptr;
    pContext->m_pReplaceBuffer = nullptr;
    pContext->m_dwReplaceBufferLength = 0;

    const CRequestInfo& info = *pContext->m_spRequestInfo;
    const DWORD type = pContext->m_dwSubscriptionType;
    const std::string* url = &kNoText;
    const std::string* method = &kNoText;
    const std::string* userAgent = &kNoText;
    bool isGet = false;
    bool isPost = false;
    bool asGet = false;
    bool kinds[10] = {};
    bool inlineAttachment = false;
    if (g_pfnPreProcHeadersTestFault != nullptr) g_pfnPreProcHeadersTestFault();

    // The viewer page serves requests the module rewrote and requests sent
    // to it straight, which reach no later notification. Requests to the
    // mail server's own handlers never name it.
    const bool mailServerRequest = type == SubscriptionType::OwaPage || type == SubscriptionType::OwaReadPage ||
                                   type == SubscriptionType::OwaEvent || type == SubscriptionType::OwaAttachment;
    dwRet = mailServerRequest ? 0 : StripViewerLevelsOrFail(pContext);
    if (dwRet != 0) {
      // The viewer would take the levels the client sent.
      DebugLog("[CNotifications::NotifyPreProcHeaders] CAuthCompleteHelper::StripClientViewerLevels() failed; the request is refused.");
      CAuthCompleteHelper::RefuseUndecided(pContext);
      LogNotificationFinished("NotifyPreProcHeaders", dwRet, pContext);
      return dwRet;
    } else if (!ReadHeader(info, "HTTP_URL", url)) {
      DebugLog("[CNotifications::NotifyPreProcHeaders] Reading HTTP_URL header failed.");
      dwRet = HX_RC_MISSING;
    } else if (!ReadHeader(info, "HTTP_METHOD", method)) {
      DebugLog("[CNotifications::NotifyPreProcHeaders] Reading HTTP_METHOD header failed.");
      dwRet = HX_RC_MISSING;
    } else {
      isPost = EqualsNoCase(*method, "POST");
      isGet = EqualsNoCase(*method, "GET");
      // The handlers that serve files answer other methods (PUT, OPTIONS,
      // PROPFIND, unknown ones) as they answer a GET, which ordinary clients
      // never need: such a request is decided as that GET would be. A HEAD
      // carries no file back; method names are case-sensitive, so "head" is
      // one of the unknown ones.
      const bool fileHandler = type == SubscriptionType::OwaEvent || type == SubscriptionType::OwaAttachment;
      asGet = isGet || (fileHandler && !isPost && *method != "HEAD");
      if (isPost) pContext->m_dwRequestFlags |= RequestFlag::Post;
      // A client that leaves the header out must not skip the download
      // checks: it reads as an empty user agent (neither Mac nor Premium).
      if (!ReadHeader(info, "HTTP_USER_AGENT", userAgent)) {
        DebugLog("[CNotifications::NotifyPreProcHeaders] No HTTP_USER_AGENT header; classified with an empty user agent.");
      }
    }

    if (dwRet == 0) {
      if (CUtil::IsMacClient(*userAgent)) pContext->m_dwRequestFlags |= RequestFlag::MacClient;
      if (CUtil::IsPremiumIEClient(*userAgent) || CUtil::IsOWAAuthWindowsClient(*userAgent)) {
        pContext->m_dwRequestFlags |= RequestFlag::PremiumClient;
      }
      RequestParam smime;
      smime.Read(info, "smime");
      if (smime.found && !smime.value.empty()) pContext->m_dwRequestFlags |= RequestFlag::SMime;

      if (!isPost && !asGet) {
        pContext->m_dwControlMessage = ControlMessageIgnore;
        DebugLog("[CNotifications::NotifyPreProcHeaders] HTTP URL <%s> METHOD <%s> UA <%s>. We are not intersted in this request method. Ignore.",
                 url->c_str(), method->c_str(), userAgent->c_str());
        LogNotificationFinished("NotifyPreProcHeaders", dwRet, pContext);
        return dwRet;
      }

      RequestParam ae, a, t, id, URL, ns, ev;
      CDecisionParam attach, docNs, docEv, queryNs, queryEv;
      if (type == SubscriptionType::OwaPage || type == SubscriptionType::OwaReadPage) {
        ae.Read(info, "ae");
        a.Read(info, "a");
        t.Read(info, "t");
        id.Read(info, "id");
        URL.Read(info, "URL");
      } else if (type == SubscriptionType::OwaEvent) {
        ns.Read(info, "ns");
        ev.Read(info, "ev");
        docNs = ReadDecisionParam(info, "ns");
        docEv = ReadDecisionParam(info, "ev");
        queryNs = ReadQueryParam(info, "ns");
        queryEv = ReadQueryParam(info, "ev");
      } else if (type == SubscriptionType::OwaAttachment) {
        attach = ReadDecisionParam(info, "attach");
      }

      const bool isPage = type == SubscriptionType::OwaPage;
      const bool isEvent = type == SubscriptionType::OwaEvent;
      const bool itemAction = ae.Is("Item") || ae.Is("PreFormAction");
      const bool listView = ns.Is("UncListView") || ns.Is("SharepointListView");

      bool& readEditItem = kinds[0];
      bool& attachFileDialog = kinds[1];
      bool& basicAttachmentManager = kinds[2];
      bool& deleteAttachment = kinds[3];
      bool& documentView = kinds[4];
      bool& documentViewSort = kinds[5];
      bool& documentViewRefresh = kinds[6];
      bool& documentViewDirectFile = kinds[7];
      bool& directAttachment = kinds[8];
      bool& virtualFolder = kinds[9];

      readEditItem = isPage && itemAction && !t.Is("IPM.DistList") && (a.found || id.found);
      attachFileDialog = isPage && ae.Is("Dialog") && t.Is("AttachFileDialog");
      basicAttachmentManager =
          isPost && isPage && ((itemAction && a.Is("Attach")) || (ae.Is("Dialog") && t.Is("Attach")));
      // The server reads the attach dialog's fields in every spelling it
      // trims and folds ("ae%20=Dialog", "t=Attach%C2%A0"), and from a body
      // the module never sees (a file upload is multipart): where such a
      // request may be one, it is one, and refused where attaching is blocked.
      if (isPage && (isPost || asGet) && !attachFileDialog && !basicAttachmentManager) {
        const bool dialog = RequestParamMayRead(info, "ae", "Dialog");
        attachFileDialog = dialog && RequestParamMayRead(info, "t", "AttachFileDialog");
        basicAttachmentManager =
            isPost && ((dialog && RequestParamMayRead(info, "t", "Attach")) ||
                       ((RequestParamMayRead(info, "ae", "Item") || RequestParamMayRead(info, "ae", "PreFormAction")) &&
                        RequestParamMayRead(info, "a", "Attach")));
        if (!attachFileDialog && !basicAttachmentManager && BodyUnread(info)) {
          DebugLog("[CNotifications::NotifyPreProcHeaders] The request carries a body the module cannot read; it is checked as an attach file request.");
          basicAttachmentManager = true;
        }
      }
      deleteAttachment = isPost && isEvent && ns.Is("Attachments") && ev.Is("Delete");
      documentView = asGet && isPage && ae.Is("Folder") && t.found && URL.found;
      documentViewSort = isPost && isEvent && listView && ev.Is("Sort");
      documentViewRefresh = isPost && isEvent && listView &&
                            (ev.Is("Refresh") || ev.Is("NextPage") || ev.Is("PreviousPage") ||
                             ev.Is("LastPage") || ev.Is("FirstPage"));
      // The product fetches documents by GET; a POST whose query, or form
      // body, names a document is fetched by the server all the same.
      // The handler takes the document's "URL", and "ns" or "ev" the query
      // leaves out, from any body (a form in another encoding, XML, JSON,
      // chunked, by any method): a body the module may not read makes the
      // request a download all the same, which the levels that check
      // downloads refuse as undecided.
      const bool body = isEvent && BodyMayHoldParams(info);
      const bool postedGetDoc =
          isPost &&
          (MayNameDocument(queryNs, body) || ns.Is("UncDocument") || ns.Is("SharepointDocument")) &&
          (MayFetchDocument(queryEv, body) || ev.Is("GetDoc"));
      // A document event without a "URL" the module can see is one too: the
      // server may take it from a cookie, and the decision refuses it.
      documentViewDirectFile =
          isEvent && ((asGet && MayNameDocument(docNs, body) && MayFetchDocument(docEv, body)) || postedGetDoc);
      // Only "attach=0", read one way, is not a download; any other spelling
      // may be one to the server, and so may a body the module never sees.
      // Requests without it (inline images) are not.
      directAttachment = (asGet || isPost) && type == SubscriptionType::OwaAttachment &&
                         ((attach.reading != CDecisionParam::Absent && !attach.Is("0")) || BodyMayHoldParams(info));
      // The rest are answered inline (the images of a message); where
      // downloads may not leave the ranges their answer is checked.
      inlineAttachment = (asGet || isPost) && type == SubscriptionType::OwaAttachment && !directAttachment;
      virtualFolder = IsBrowseCommandRequest(type);

      DWORD& flags = pContext->m_dwRequestFlags;
      if (attachFileDialog || basicAttachmentManager) flags |= RequestFlag::AttachFile;
      if (deleteAttachment) flags |= RequestFlag::PremiumDeleteAttachment;
      if (documentViewSort) flags |= RequestFlag::DocumentViewSort;
      if (documentViewRefresh) flags |= RequestFlag::DocumentViewRefresh;
      if (documentViewDirectFile) flags |= RequestFlag::DocumentViewDirectFileAccess;
      if (directAttachment) flags |= RequestFlag::DirectAttachmentAccess;
      if (virtualFolder) flags |= RequestFlag::PelloraVirtualFolder;
    }

    const DWORD flags = pContext->m_dwRequestFlags;
    DebugLog("[CNotifications::NotifyPreProcHeaders] HTTP URL <%s> METHOD <%s> SMIME <%s> UA <%s> Mac client <%s> "
             "Premium client <%s> SubscriptionType <%d> ReadEditItemRequest <%s> PremiumAttachFileDialogRequest <%s> "
             "PremiumDeleteAttachmentRequest <%s> PremiumDocumentViewRequest <%s> PremiumDocumentViewSortRequest <%s> "
             "BasicAttachmentManager <%s> DirectAttachmentAccessRequest <%s> "
             "PremiumDocumentViewDirectFileAccessRequest <%s> FakePelloraVirtualFolderRequest <%s> "
             "PremiumDocumentViewRefreshRequest <%s>.",
             url->c_str(), method->c_str(), YN(flags & RequestFlag::SMime), userAgent->c_str(),
             YN(flags & RequestFlag::MacClient), YN(flags & RequestFlag::PremiumClient), static_cast<int>(type),
             YN(kinds[0]), YN(kinds[1]), YN(kinds[3]), YN(kinds[4]), YN(kinds[5]), YN(kinds[2]), YN(kinds[8]),
             YN(kinds[7]), YN(kinds[9]), YN(kinds[6]));

    bool anyKind = inlineAttachment;
    for (bool k : kinds) anyKind = anyKind || k;
    if (dwRet != 0) {
      pContext->m_dwControlMessage = ControlMessageIgnore;
    } else if (!anyKind) {
      DebugLog("[CNotifications::NotifyPreProcHeaders] We are not interested in this request. Ignore.");
      pContext->m_dwControlMessage = ControlMessageIgnore;
    }
  } catch (const std::exception& e) {
    DebugLog("[CNotifications::NotifyPreProcHeaders] Runtime exception: %s", e.what());
    ClassifyAfterFailure(pContext);
  } catch (...) {
    DebugLog("[CNotifications::NotifyPreProcHeaders] Unexpected exception");
    ClassifyAfterFailure(pContext);
  }
  LogNotificationFinished("NotifyPreProcHeaders", dwRet, pContext);
  return dwRet;
}
