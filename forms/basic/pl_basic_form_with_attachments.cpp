// The Basic rewriting of one attachment SPAN: classify it from OWA's markup,
// then put the product's binocular link and context-menu anchor in place of
// OWA's attachment anchor.
#include "forms/basic/pl_basic_form_with_attachments.h"

#include <iterator>

#include "common/debug_log.h"
#include "common/string_utils.h"
#include "filter/dll_context.h"
#include "filter/request_flags.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_text.h"
#include "forms/get_attribute.h"
#include "forms/html_char_refs.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "forms/page_parts.h"
#include "forms/page_values.h"
#include "html/dom_source.h"

namespace {

const char kAttachmentLinkId[] = "lnkAtmt";
const char kWebReadyLinkId[] = "wvLnk";
const char kViewImage[] = "Find.GIF";
const char kImageEnd[] = "\" align='bottom' BORDER='0'></a>";

// The value of an attribute as written, or empty when it has none.
bool ValueOf(const CDOMStartTag& tag, const char* pName, std::string& sValue) {
  const CDOMAttribute attribute = tag.getAttribute(pName);
  if (attribute.isUndefined() || !attribute.hasValue()) return false;
  sValue = attribute.getValue();
  return true;
}

// Pages may write URLs and script arguments with character references; the
// ids read from them are written back into the page, in its set.
std::string Decoded(const std::string& sValue, const CPageChars& page) {
  return DecodeHtmlCharacterReferences(sValue, page);
}

std::string TagHTML(const CDOMStartTag& tag) {
  std::string sHTML;
  tag.getHTML(sHTML);
  return sHTML;
}

}  // namespace

CPLBasicFormWithAttachments::CPLBasicFormWithAttachments(CHXFormContext* pFormContext, int bBuildVirtualBases)
    : CPLForm(pFormContext), CPLFormWithAttachments(pFormContext, 0) {
  m_sLevelAttributeName = "level";
  DebugLog("[CPLBasicFormWithAttachments::CPLBasicFormWithAttachments] Starts.");
  if (m_bIsInstanceValid &&
      !HasHtmlBodyAndHead(m_pFormContext, "[CPLBasicFormWithAttachments::CPLBasicFormWithAttachments] ")) {
    m_bIsInstanceValid = false;
  }
  DebugLog("[CPLBasicFormWithAttachments::CPLBasicFormWithAttachments] returned m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

CPLBasicFormWithAttachments::~CPLBasicFormWithAttachments() = default;

CBufferInstructionList* CPLBasicFormWithAttachments::Instructions() const {
  return m_pFormContext->m_pcobBufferInstructionList;
}

bool CPLBasicFormWithAttachments::IsMacClient() const {
  return (m_pFormContext->m_pContext->m_dwRequestFlags & RequestFlag::MacClient) != 0;
}

std::string CPLBasicFormWithAttachments::ImagePath(const char* pFileName) {
  return CHXFormScriptPath(kProductWord, kProductScriptsVersion).BuildScriptPath(pFileName);
}

DWORD CPLBasicFormWithAttachments::ProcessAttachmentSPANelement(const CDOMElement& span,
                                                                bool& bDirectAttachmentAccessEnabled) {
  bDirectAttachmentAccessEnabled = false;
  BasicAttachmentInfo info;
  DWORD dwRet = GetAttachmentInfo(span, info);
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormWithAttachments::ProcessAttachmentSPANelement] GetAttachmentIDEmbeddedFlag() failed.");
    if (dwRet != HX_RC_NO_ATTACHMENT_LINK) return dwRet;
    ModifyOWABlockedAttachmentWithoutAttIDSPANElement(span);
    return 0;
  }
  if (info.bEmbeddedItem) {
    dwRet = ModifyEmbeddedAttachmentSPANElement(span, info.dwLevel);
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormWithAttachments::ProcessAttachmentSPANelement] ModifyEmbeddedAttachmentSPANElement() "
               "failed");
    }
  } else if (info.bBlockedWithoutID) {
    dwRet = ModifyOWABlockedAttachmentWithoutAttIDSPANElement(span);
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormWithAttachments::ProcessAttachmentSPANelement] "
               "ModifyBlockedAttachmentWithoutAttIDSPANElement() failed");
    }
  } else {
    std::string sFileName;
    ci_string csExtension;
    bool bBlocked = false;
    PLContextMenuFlags flags;
    GetAttachmentFilename(*m_pFormContext->m_spDom, span, sFileName);
    GetFileExtensionAndBlockedFlag(sFileName, csExtension, bBlocked);
    dwRet = GetPLContextMenuFlags(csExtension, info.dwLevel, bBlocked, flags);
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormWithAttachments::ProcessAttachmentSPANelement] GetPLContextMenuFlags() failed.");
    } else {
      bDirectAttachmentAccessEnabled =
          (flags.bOpenVisible && flags.bOpenEnabled) || (flags.bSaveVisible && flags.bSaveEnabled);
      dwRet = ModifyNormalAttachmentSPANelement(span, info.sAttachmentID, sFileName, bBlocked,
                                                bDirectAttachmentAccessEnabled, flags);
      if (dwRet != 0) {
        DebugLog("[CPLBasicFormWithAttachments::ProcessAttachmentSPANelement] ModifyAttachmentSPANelement() failed.");
      }
    }
  }
  DebugLog("[CPLBasicFormWithAttachments::ProcessAttachmentSPANelement] returned dwRet <%d>.", static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLBasicFormWithAttachments::GetAttachmentInfo(const CDOMElement& span, BasicAttachmentInfo& info) {
  info = BasicAttachmentInfo();
  DWORD dwRet = GetOWAAttachmentLevel(span.getAttribute(m_sLevelAttributeName), info.dwLevel);
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] GetOWAAttachmentLevel() failed.");
    return dwRet;
  }
  const CDOMStartTag link = span.getStartTagById(kAttachmentLinkId);
  const CDOMStartTag webReadyLink = link.isUndefined() ? span.getStartTagById(kWebReadyLinkId) : CDOMStartTag();
  std::string sHref;
  std::string sOnClick;
  if (!link.isUndefined()) {
    if (!ValueOf(link, "href", sHref)) {
      DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] HREF attribute is missing <%s>.",
               TagHTML(link).c_str());
      return HX_RC_INVALID_DATA;
    }
    if (sHref == "#" && ValueOf(link, "onclick", sOnClick)) {
      info.bEmbeddedItem = true;
      dwRet = GetAttachmentIDFromEmbeddedItemOnClickAttr(Decoded(sOnClick, PageChars()), info.sAttachmentID);
      if (dwRet != 0) {
        DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] GetAttachmentIDFromEmbeddedItemOnClick() failed.");
      }
    } else {
      dwRet = GetLastAttachmentIDFromURL(Decoded(sHref, PageChars()), info.sAttachmentID);
      if (dwRet != 0) DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] GetLastAttachmentIDFromURL() failed.");
    }
  } else if (!webReadyLink.isUndefined()) {
    if (ValueOf(webReadyLink, "href", sHref) && sHref == "#" && ValueOf(webReadyLink, "onclick", sOnClick)) {
      dwRet = GetLastAttachmentIDFromWebReadyLinkOnClickAttr(Decoded(sOnClick, PageChars()), info.sAttachmentID);
      if (dwRet != 0) {
        DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] GetLastAttachmentIDFromWebReadyLinkOnClickAttr() "
                 "failed.");
      }
    } else {
      DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] Invalid WebReady link <%s>.",
               TagHTML(webReadyLink).c_str());
      dwRet = HX_RC_INVALID_DATA;
    }
  } else if (info.dwLevel == OwaAttachmentLevel::Blocked) {
    info.bBlockedWithoutID = true;
    DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] The attachment is blocked by OWA and no attachment ID is "
             "available.");
  } else {
    DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] This attachment span element neither has <%s> or <%s> "
             "links!.",
             kAttachmentLinkId, kWebReadyLinkId);
    dwRet = HX_RC_NO_ATTACHMENT_LINK;
  }
  DebugLog("[CPLBasicFormWithAttachments::GetAttachmentInfo] returned dwRet <%d>. bAttEmbeddedItem <%s> "
           "bAttBlockedByOWAandAttIDNotAvailable <%s>.",
           static_cast<int>(dwRet), YN(info.bEmbeddedItem), YN(info.bBlockedWithoutID));
  return dwRet;
}

DWORD CPLBasicFormWithAttachments::ModifyEmbeddedAttachmentSPANElement(const CDOMElement& span, DWORD dwLevel) {
  if (dwLevel != OwaAttachmentLevel::Allowed) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyEmbeddedAttachmentSPANElement] Opening embedded item attachment is "
             "not allowed by OWA. No need to modify this attachment.");
    return 0;
  }
  const CDOMStartTag link = span.getStartTagById(kAttachmentLinkId);
  if (link.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyEmbeddedAttachmentSPANElement] <A id='%s'> tag was not found.",
             kAttachmentLinkId);
    return HX_RC_INVALID_DATA;
  }
  std::string sHref;
  std::string sOnClick;
  if (!ValueOf(link, "href", sHref) || sHref.empty()) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyEmbeddedAttachmentSPANElement] HREF attribute is missing or empty in "
             "<A id='%s'> tag.",
             kAttachmentLinkId);
    return HX_RC_INVALID_DATA;
  }
  if (!ValueOf(link, "onclick", sOnClick) || sOnClick.empty()) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyEmbeddedAttachmentSPANElement] onClick attribute is missing or empty "
             "in <%s> anchor tag.",
             kAttachmentLinkId);
    return HX_RC_INVALID_DATA;
  }
  std::string sTitle;
  if (!ValueOf(link, "title", sTitle) || sTitle.empty()) sTitle = m_sViewAttachmentText;

  std::string sHTML;
  sHTML.reserve(static_cast<size_t>(link.getLength()) + 64);
  sHTML.append("<a href=\"").append(MarkupInDoubleQuotedAttribute(sHref, PageChars()));
  sHTML.append("\" onclick=\"").append(MarkupInDoubleQuotedAttribute(sOnClick, PageChars()));
  sHTML.append("\" title=\"").append(MarkupInDoubleQuotedAttribute(sTitle, PageChars())).append("\">");
  sHTML.append("<img src=\"").append(ImagePath(kViewImage)).append(kImageEnd);
  const DWORD dwRet = span.getStartTag().insertDataAfter(sHTML, Instructions());
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyEmbeddedAttachmentSPANElement] inserting binocular HTML failed. "
             "CDOMStartTag::insertDataAfter returned <%d>",
             static_cast<int>(dwRet));
  }
  return dwRet;
}

DWORD CPLBasicFormWithAttachments::ModifyNormalAttachmentSPANelement(const CDOMElement& span,
                                                                     const std::string& sAttachmentID,
                                                                     const std::string& sFileName, bool bBlocked,
                                                                     bool bDirectAccess,
                                                                     const PLContextMenuFlags& flags) {
  std::string sBinocular;
  sBinocular.reserve(128);
  if (bBlocked) {
    GetBlockedAttachmentLinkHTML(sBinocular, false);
  } else {
    GetViewAttachmentLinkHTML(sBinocular, sAttachmentID, sFileName);
  }

  const std::string sAnchor = ContextMenuAnchor(sAttachmentID, sFileName, bDirectAccess, flags);

  const CDOMStartTag spanStart = span.getStartTag();
  const CDOMStartTag link = span.getStartTagById(kAttachmentLinkId);
  const CDOMStartTag image = link.isUndefined() ? span.getFirstStartTagByTagName("IMG") : CDOMStartTag();
  if (link.isUndefined() && image.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyNormalAttachmentSPANelement] IMG tag was not found inside the "
             "attachment SPAN element.");
    return HX_RC_INVALID_DATA;
  }
  // Two insertions at one address would put the newer one first and nest
  // the binocular link inside the new anchor; when OWA's anchor starts right
  // after the span's start tag, one text keeps them side by side.
  const bool bAdjacent = !link.isUndefined() && link.getBeginPos() == spanStart.getEndPos();
  DWORD dwRet = bAdjacent ? 0 : spanStart.insertDataAfter(sBinocular, Instructions());
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyNormalAttachmentSPANelement] inserting binocular HTML failed. "
             "CDOMStartTag::insertDataAfter returned <%d>",
             static_cast<int>(dwRet));
  } else {
    dwRet = link.isUndefined() ? InsertAnchorAfterImage(image, sAnchor)
                               : ReplaceAttachmentAnchor(link, bAdjacent ? sBinocular + sAnchor : sAnchor);
  }
  DebugLog("[CPLBasicFormWithAttachments::ModifyNormalAttachmentSPANelement] returned dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}

std::string CPLBasicFormWithAttachments::ContextMenuAnchor(const std::string& sAttachmentID,
                                                           const std::string& sFileName, bool bDirectAccess,
                                                           const PLContextMenuFlags& flags) const {
  std::string sHandler;
  sHandler.reserve(64);
  sHandler.append("return f_QLPLOnMouseDown(event,\"")
      .append(MarkupNameInScriptAttribute(sFileName, ScriptCarrier::EventHandler, PageChars()));
  sHandler.append("\",\"").append(
      ValueInScriptAttribute(PageUrlValueInPage(sAttachmentID), ScriptCarrier::EventHandler, PageChars()));
  sHandler.append("\",\"").append(bDirectAccess ? CUtil::HashString(sAttachmentID.c_str()) : std::string());
  sHandler.append("\",");
  const bool menu[] = {flags.bOpenVisible, flags.bOpenEnabled, flags.bSaveVisible, flags.bSaveEnabled,
                       flags.bTextVisible, flags.bTextEnabled, flags.bRichVisible, flags.bRichEnabled};
  for (size_t i = 0; i + 1 < std::size(menu); ++i) sHandler.append(menu[i] ? "1," : "0,");
  sHandler.append(menu[std::size(menu) - 1] ? "1);" : "0);");

  std::string sAnchor;
  sAnchor.reserve(128);
  sAnchor.append(IsMacClient() ? "<a href=\"#\" oncontextmenu=\"return false;\" onclick=\"return f_QLPLOnClick(event);\" "
                                 "onmousedown='"
                               : "<a href=\"#\" onclick=\"return f_QLPLOnClick(event);\" oncontextmenu=\"return false;\" "
                                 "onmousedown='");
  sAnchor.append(sHandler).append("' onmouseup=\"return f_QLPLOnMouseUp(event);\">");
  return sAnchor;
}

DWORD CPLBasicFormWithAttachments::ReplaceAttachmentAnchor(const CDOMStartTag& link, const std::string& sHTML) {
  const CDOMSource& dom = *m_pFormContext->m_spDom;
  DWORD dwRet = dom.deleteData(link.getBeginPos(), link.getLength(), Instructions());
  if (dwRet != 0) {
    DebugLog("[CPLBasicFormWithAttachments::ModifyNormalAttachmentSPANelement] CDOMSource::deleteData() failed.");
    return dwRet;
  }
  dwRet = dom.insertData(link.getBeginPos(), sHTML, Instructions());
  if (dwRet != 0) DebugLog("[CPLBasicFormWithAttachments::ModifyNormalAttachmentSPANelement] CDOMSource::insertData() failed.");
  return dwRet;
}

DWORD CPLBasicFormWithAttachments::InsertAnchorAfterImage(const CDOMStartTag& image, const std::string& sAnchor) {
  const DWORD dwRet = m_pFormContext->m_spDom->insertData(image.getEndPos(), sAnchor, Instructions());
  if (dwRet != 0) DebugLog("[CPLBasicFormWithAttachments::ModifyNormalAttachmentSPANelement] CDOMSource::insertData() failed.");
  return dwRet;
}

void CPLBasicFormWithAttachments::GetViewAttachmentLinkHTML(std::string& sHTML, const std::string& sAttachmentID,
                                                            const std::string& sFileName) {
  sHTML.append("<a href='javascript:f_viewAttachment(((typeof(g_sQLPLItemID)!=\"undefined\")&&(g_sQLPLItemID!=null))?"
               "g_sQLPLItemID:g_oQLPLItemIDAttIDs,\"");
  sHTML.append(ValueInScriptAttribute(PageUrlValueInPage(sAttachmentID), ScriptCarrier::JavaScriptLink, PageChars()));
  sHTML.append("\",").append(ToString(m_nDefaultVisualisation)).append(",\"");
  sHTML.append(MarkupNameInScriptAttribute(sFileName, ScriptCarrier::JavaScriptLink, PageChars()));
  sHTML.append("\");' title=\"").append(m_sViewAttachmentText).append("\">");
  sHTML.append("<img src=\"").append(ImagePath(kViewImage)).append(kImageEnd);
}

bool CPLBasicFormWithAttachments::GetAttachmentID(const CDOMElement& span, std::string& sAttachmentID) {
  bool bRet = GetAttribute(span, "_attid", PageChars(), sAttachmentID);
  if (!bRet) {
    std::string sOnClick;
    GetAttribute(span.getElementById(kWebReadyLinkId), "onClick", PageChars(), sOnClick);
    if (!sOnClick.empty()) sAttachmentID = GetStringBetween(sOnClick, "attid0=", "&", 0);
    bRet = !sAttachmentID.empty();
  }
  DebugLog("CPLBasicFormWithAttachments::GetAttachmentID ID: %s, return %s", sAttachmentID.c_str(), TrueFalse(bRet));
  return bRet;
}
