#include "forms/premium/pl_premium_form_with_attachments.h"

#include "common/debug_log.h"
#include "common/string_utils.h"
#include "filter/result_codes.h"
#include "filter/util.h"
#include "forms/form_text.h"
#include "forms/get_attribute.h"
#include "forms/html_char_refs.h"
#include "forms/hx_form_context.h"
#include "forms/page_values.h"
#include "forms/premium/premium_markup.h"
#include "html/dom_source.h"

namespace {

// OWA's own menu handlers on the SPAN's parent, reached with the right button.
const char* const kMouseDownSingleClick = "if(event.button==2){_e(this.parentNode,this.parentNode._e_onclick);}";
const char* const kMouseDownDoubleClick = "if(event.button==2){_e(this.parentNode,this.parentNode._e_ondblclick);}";
const char* const kLinkId = "lnkAtmt";
// OWA's anchor for a SPAN that came without one; closed at the SPAN's end.
const char* const kOwnAttachmentAnchor =
    "<a id=lnkAtmt href=\"#\" target=_blank onclick='_e(this, this._e_onclick)' _e_onclick=\"atLnk(1);\">";

std::string BinocularImageTag(const char* pImage) {
  return std::string("<img src=\"") + ProductImagePath(pImage) + "\" align='bottom' BORDER='0'>";
}

}  // namespace

CPLPremiumFormWithAttachments::CPLPremiumFormWithAttachments(CHXFormContext* pFormContext, int)
    : CPLForm(pFormContext), CPLFormWithAttachments(pFormContext, 0) {}

CPLPremiumFormWithAttachments::~CPLPremiumFormWithAttachments() = default;

DWORD CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement(const CDOMElement& span,
                                                                  bool& bIsDirectAccessEnabledForThisAttachment) {
  bIsDirectAccessEnabledForThisAttachment = false;
  DebugLog("[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] Starts");
  const DWORD dwRet = ProcessAttachmentSPANelementSteps(span, bIsDirectAccessEnabledForThisAttachment);
  DebugLog(
      "[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] returned <%d> "
      "bIsDirectAccessEnabledForThisAttachment <%s>.",
      static_cast<int>(dwRet), YN(bIsDirectAccessEnabledForThisAttachment));
  return dwRet;
}

DWORD CPLPremiumFormWithAttachments::ProcessAttachmentSPANelementSteps(const CDOMElement& span,
                                                                       bool& bIsDirectAccessEnabledForThisAttachment) {
  const CDOMAttribute level = span.getAttribute(m_sLevelAttributeName);
  const CDOMAttribute qs = span.getAttribute("_qs");
  DWORD dwLevel = 0;
  DWORD dwRet = GetOWAAttachmentLevel(level, dwLevel);
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] GetOWAAttachmentLevel() failed.");
    return dwRet;
  }

  if (!qs.isUndefined() && qs.hasValue()) {
    const ci_string csQuery = ToCI(DecodeHtmlCharacterReferences(qs.getValue()));
    const bool bEmbedded = csQuery.find("t=") != ci_string::npos;
    DebugLog(
        "[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] <%s> attribute value <%s>. "
        "This attachment is an embedded item <%s>",
        "_qs", csQuery.c_str(), YN(bEmbedded));
    if (bEmbedded) {
      dwRet = ModifyEmbeddedAttachmentSPANElement(span, dwLevel);
      if (dwRet != 0) {
        DebugLog(
            "[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] ModifyEmbeddedAttachmentSPANElement() "
            "failed.");
      }
      return dwRet;
    }
  } else {
    DebugLog(
        "[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] <%s> attribute is not available. "
        "This attachment is not an embedded item.",
        "_qs");
  }

  const CDOMAttribute attId = span.getAttribute("_attid");
  if (attId.isUndefined() || !attId.hasValue()) {
    DebugLog("[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] <%s> attribute not found.", "_attid");
    return HX_RC_INVALID_DATA;
  }
  // The id is written back into the page: a reference's character in the
  // page's set, never as UTF-8 bytes a two-byte set would split.
  const std::string sAttachmentID = DecodeHtmlCharacterReferences(attId.getValue(), PageChars());

  std::string sFileName;
  dwRet = GetAttachmentFilename(*m_pFormContext->m_spDom, span, sFileName);
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] GetAttachmentFilename failed.");
    return dwRet;
  }
  ci_string csExtension;
  bool bBlocked = false;
  dwRet = GetFileExtensionAndBlockedFlag(sFileName, csExtension, bBlocked);
  if (dwRet != 0) {
    DebugLog("[CPLPremiumFormWithAttachments::ProcessAttachmentSPANelement] GetFileExtensionAndBlockedFlag() failed.");
    return dwRet;
  }
  return ModifyNormalAttachmentSPANElement(span, sFileName, csExtension, sAttachmentID, bBlocked, dwLevel,
                                           bIsDirectAccessEnabledForThisAttachment);
}

DWORD CPLPremiumFormWithAttachments::HandOverRightButton(const CDOMElement& span, const char* pMouseDown,
                                                         const char* pLogPrefix) {
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  DWORD dwRet = span.setAttribute("oncontextmenu", "return false;", pList);
  if (dwRet != 0) {
    DebugLog("%sCDOMElement::setAttribute() failed. Attr <%s>.", pLogPrefix, "oncontextmenu");
    return dwRet;
  }
  if (pMouseDown == nullptr) return 0;
  dwRet = span.setAttribute("onmousedown", pMouseDown, pList);
  if (dwRet != 0) DebugLog("%sCDOMElement::setAttribute() failed. Attr <%s>.", pLogPrefix, "onmousedown");
  return dwRet;
}

DWORD CPLPremiumFormWithAttachments::ModifyEmbeddedAttachmentSPANElement(const CDOMElement& span, DWORD dwLevel) {
  static const char* const kPrefix = "[CPLPremiumFormWithAttachments::ModifyEmbeddedAttachmentSPANElement] ";
  DebugLog("%sStarts", kPrefix);
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  // The read form leaves OWA's own button handling of embedded items alone.
  DWORD dwRet = HandOverRightButton(span, IsReadForm() ? nullptr : kMouseDownSingleClick, kPrefix);
  if (dwRet == 0) {
    dwRet = span.setAttribute("_QLPLEmbItemAtt", "1", pList);
    if (dwRet != 0) DebugLog("%sCDOMElement::setAttribute() failed.", kPrefix);
  }
  if (dwRet == 0 && dwLevel == OwaAttachmentLevel::Allowed) {
    const CDOMStartTag link = span.getStartTagById(kLinkId);
    if (link.isUndefined()) {
      DebugLog("%s<A id='%s'> tag was not found.", kPrefix, kLinkId);
    } else {
      const std::string sHTML =
          "<img id=\"idPl_Bin_Emb\" src=\"" + ProductImagePath("Find.GIF") + "\" align='bottom' BORDER='0'>";
      dwRet = link.insertDataAfter(sHTML, pList);
      if (dwRet != 0) {
        DebugLog("%sinserting binocular HTML failed. CDOMStartTag::insertDataAfter returned <%d>", kPrefix,
                 static_cast<int>(dwRet));
      }
    }
  } else if (dwRet == 0) {
    DebugLog(
        "%sOpening embedded item attachment is not allowed by OWA. No need to insert a binocular for this "
        "attachment.",
        kPrefix);
  }
  DebugLog("%sreturned dwRet <%d>", kPrefix, static_cast<int>(dwRet));
  return dwRet;
}

std::string CPLPremiumFormWithAttachments::BlockedAttachmentLinkHTML() const {
  return "<a onClick='javascript:f_ShowExtBlockedMsg();' title=\"" + m_sBlockedExtensionText +
         "\" onMouseOver=\"this.style.cursor='hand';\">" + BinocularImageTag("Find_Blocked.GIF") + "</a>";
}

DWORD CPLPremiumFormWithAttachments::ModifyNormalAttachmentSPANElement(
    const CDOMElement& span, const std::string& sFileName, const ci_string& csExtension,
    const std::string& sAttachmentID, bool bBlocked, DWORD dwLevel, bool& bIsDirectAccessEnabledForThisAttachment) {
  static const char* const kPrefix = "[CPLPremiumFormWithAttachments::ModifyNormalAttachmentSPANElement] ";
  bIsDirectAccessEnabledForThisAttachment = false;
  DebugLog("%sStarts", kPrefix);
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  DWORD dwRet = HandOverRightButton(span, IsReadForm() ? kMouseDownSingleClick : kMouseDownDoubleClick, kPrefix);
  if (dwRet == 0) {
    dwRet = AddPLContextMenuAttributesToAttachmentSPANElement(
        span, sFileName, csExtension, sAttachmentID, false, bBlocked, dwLevel, bIsDirectAccessEnabledForThisAttachment);
    if (dwRet != 0) DebugLog("%sAddPLContextMenuAttributesToAttachmentSPANElement() failed.", kPrefix);
  }
  if (dwRet == 0) {
    std::string sHTML;
    sHTML.reserve(128);
    if (bBlocked) {
      sHTML = BlockedAttachmentLinkHTML();
    } else {
      GetViewAttachmentLinkHTML(sHTML, sAttachmentID, sFileName);
    }
    const CDOMElement link = span.getElementById(kLinkId);
    if (link.isUndefined()) sHTML += kOwnAttachmentAnchor;
    dwRet = span.getStartTag().insertDataAfter(sHTML, pList);
    if (dwRet != 0) {
      DebugLog("%sinserting binocular HTML failed. CDOMStartTag::insertDataAfter returned <%d>", kPrefix,
               static_cast<int>(dwRet));
    } else if (!link.isUndefined()) {
      // The binocular link carries the title now.
      dwRet = link.removeAttribute("title", pList);
      if (dwRet != 0) DebugLog("%sCDOMElement::removeAttribute() failed.", kPrefix);
    } else {
      dwRet = span.appendContentData("</a>", pList);
      if (dwRet != 0) DebugLog("%sCDOMElement::appendContentData() failed.", kPrefix);
    }
  }
  DebugLog("%sreturned dwRet <%d>", kPrefix, static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLPremiumFormWithAttachments::AddPLContextMenuAttributesToAttachmentSPANElement(
    const CDOMElement& span, const std::string& sFileName, const ci_string& csExtension,
    const std::string& sAttachmentID, bool bEmbedded, bool bBlocked, DWORD dwLevel,
    bool& bIsDirectAccessEnabledForThisAttachment) {
  static const char* const kPrefix =
      "[CPLPremiumFormWithAttachments::AddPLContextMenuAttributesToAttachmentSPANElement] ";
  bIsDirectAccessEnabledForThisAttachment = false;
  DebugLog("%sStarted.", kPrefix);
  std::string sText = " ";
  sText.reserve(256);
  AppendMenuAttribute(sText, "_QLPLAttFilename", sFileName, PageChars());
  AppendMenuAttribute(sText, "_QLPLEmbItemAtt", bEmbedded ? "1" : "0", PageChars());

  PLContextMenuFlags flags;
  DWORD dwRet = GetPLContextMenuFlags(csExtension, dwLevel, bBlocked, flags);
  bIsDirectAccessEnabledForThisAttachment = IsDirectAccessOffered(flags);
  if (dwRet != 0) {
    DebugLog("%sGetPLContextMenuFlags() failed.", kPrefix);
  } else {
    AppendMenuFlagAttributes(sText, flags, PageChars());
    if (bIsDirectAccessEnabledForThisAttachment) {
      AppendMenuAttribute(sText, "_QLPLAttIDHash", CUtil::HashString(sAttachmentID.c_str()), PageChars());
    }
    // Before the start tag's closing ">", beside the attributes set above.
    const CDOMStartTag startTag = span.getStartTag();
    dwRet = m_pFormContext->m_spDom->insertData(startTag.getEndPos() - 1, sText,
                                                m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) DebugLog("%sCUtil::InsertHtmlStringAtPosition() failed.", kPrefix);
  }
  DebugLog("%sreturned dwRet <%d> bIsDirectAccessEnabledForThisAttachment <%s>.", kPrefix, static_cast<int>(dwRet),
           YN(bIsDirectAccessEnabledForThisAttachment));
  return dwRet;
}

bool CPLPremiumFormWithAttachments::GetAttachmentID(const CDOMElement& span, std::string& sAttachmentID) {
  sAttachmentID.clear();
  const bool bFound = GetAttribute(span, "_attid", PageChars(), sAttachmentID) && !sAttachmentID.empty();
  DebugLog("CPLPremiumFormWithAttachments::GetAttachmentID ID: %s, return %s", sAttachmentID.c_str(),
           TrueFalse(bFound));
  return bFound;
}

void CPLPremiumFormWithAttachments::GetViewAttachmentLinkHTML(std::string& sHTML, const std::string& sAttachmentID,
                                                              const std::string& sFileName) {
  sHTML += "<a onClick='javascript:f_viewAttachment(((typeof(a_sId)!=\"undefined\")&&(a_sId!=null))?a_sId:a_rgsIds,\"";
  sHTML += ValueInScriptAttribute(sAttachmentID, ScriptCarrier::EventHandler, PageChars());
  sHTML += "\",";
  sHTML += ToString(m_nDefaultVisualisation);
  sHTML += ",\"";
  sHTML += MarkupNameInScriptAttribute(sFileName, ScriptCarrier::EventHandler, PageChars());
  sHTML += "\");' title=\"";
  sHTML += m_sViewAttachmentText;
  sHTML += "\" onMouseOver=\"this.style.cursor='hand';\">";
  sHTML += BinocularImageTag("Find.GIF");
  sHTML += "</a>";
}
