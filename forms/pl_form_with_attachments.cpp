// The attachment walk shared by the item forms of both clients, and the
// rewriting of attachments that carry no attachment ID.
#include "forms/pl_form_with_attachments.h"

#include "common/debug_log.h"
#include "common/string_operation.h"
#include "filter/result_codes.h"
#include "forms/form_text.h"
#include "forms/get_attribute.h"
#include "forms/hx_form_context.h"
#include "forms/hx_form_script_path.h"
#include "html/dom_source.h"

namespace {

const char* const kWebReadySpanClass = "wvsn";
const char* const kWebReadyLinkId = "wvLnk";
const char* const kAttachmentSpanId = "spnAtmt";
const char* const kLeftToRightMark = "&#x200E;";
const char* const kBlockedImage = "Find_Blocked.GIF";

const char* LevelName(DWORD dwLevel) {
  switch (dwLevel) {
    case OwaAttachmentLevel::Blocked:
      return "blocked";
    case OwaAttachmentLevel::ForceSave:
      return "force-save";
    case OwaAttachmentLevel::Allowed:
      return "allowed";
    default:
      return "unknown";
  }
}

}  // namespace

CPLFormWithAttachments::CPLFormWithAttachments(CHXFormContext* pFormContext, int bBuildVirtualBases)
    : CPLForm(pFormContext), CPLFormWithFiles(pFormContext, 0) {}

CPLFormWithAttachments::~CPLFormWithAttachments() { m_sLevelAttributeName.clear(); }

DWORD CPLFormWithAttachments::ProcessAttachments(const CDOMElement& container, bool& bEnabled) {
  bEnabled = false;
  DebugLog("[CPLFormWithAttachments::ProcessAttachments] Starts");
  DWORD dwRet = 0;
  const CDOMElementVector spans = container.getElementsByTagName("SPAN");
  for (size_t i = 0; i < spans.length() && dwRet == 0; ++i) {
    const CDOMElement span = spans.item(i);
    ci_string csClass;
    ci_string csId;
    GetAttribute(span, "class", csClass);
    GetAttribute(span, "id", csId);
    const bool webReady = csClass == kWebReadySpanClass && !span.getStartTagById(kWebReadyLinkId).isUndefined();
    if (webReady) {
      if (m_bWebReadyEnabled) continue;
      dwRet = span.remove(m_pFormContext->m_pcobBufferInstructionList);
      if (dwRet != 0) {
        DebugLog(
            "[CPLFormWithAttachments::ProcessAttachments] CDOMElement::remove() failed when removing WebReady span "
            "element.");
      }
    } else if (csId == kAttachmentSpanId) {
      bool bSpanEnabled = false;
      dwRet = ProcessAttachmentSPANelement(span, bSpanEnabled);
      if (dwRet == 0) {
        bEnabled = bEnabled || bSpanEnabled;
      } else {
        DebugLog("[CPLFormWithAttachments::ProcessAttachments] ProcessAttachmentSPANelement failed.");
      }
    } else {
      DebugLog("[CPLFormWithAttachments::ProcessAttachments] OWA ID is not spnAtmt.  No processing on attachment done");
    }
  }
  DebugLog(
      "[CPLFormWithAttachments::ProcessAttachments] returned bIsDirectAttachmentAccessEnabledOnThisForm <%s> dwRet "
      "<%d>.",
      YN(bEnabled), static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLFormWithAttachments::GetOWAAttachmentLevel(const CDOMAttribute& level, DWORD& dwLevel) {
  dwLevel = 0;
  DWORD dwRet = 0;
  const char* pName = "level";
  if (level.isUndefined() || !level.hasValue()) {
    DebugLog(
        "[CPLFormWithAttachments::GetOWAAttachmentLevel] Attachment span element's <%s> attribute is missing or "
        "empty.",
        pName);
    dwRet = HX_RC_INVALID_DATA;
  }
  // An attribute without value has no number either, so it is also invalid.
  if (!level.isUndefined()) {
    const std::string value = level.hasValue() ? level.getValue() : std::string();
    const bool parsed = CStringOperation::String2Int(ToCI(value), dwLevel, 10);
    const bool known = dwLevel >= OwaAttachmentLevel::Blocked && dwLevel <= OwaAttachmentLevel::Allowed;
    if (!parsed || !known) {
      DebugLog("[CPLFormWithAttachments::GetOWAAttachmentLevel] Invalid <%s> attribute value <%s>.", pName,
               value.c_str());
      dwRet = HX_RC_INVALID_DATA;
    }
  }
  DebugLog("[CPLFormWithAttachments::GetOWAAttachmentLevel] returned dwRet <%d> nOWAAttLevel <%d> <%s>.",
           static_cast<int>(dwRet), static_cast<int>(dwLevel), LevelName(dwLevel));
  return dwRet;
}

DWORD CPLFormWithAttachments::GetAttachmentFilename(CDOMSource& source, const CDOMElement& element,
                                                    std::string& sFileName) {
  sFileName.clear();
  const HXPos nBegin = element.getContentBeginPos();
  HXPos nEnd = element.getContentEndPos();
  const CDOMStartTag firstSpan = element.getFirstStartTagByTagName("SPAN");
  if (!firstSpan.isUndefined()) {
    const CDOMAttribute cls = firstSpan.getAttribute("class");
    if (!cls.isUndefined() && cls.hasValue() && cls.getValue() == kWebReadySpanClass) nEnd = firstSpan.getBeginPos();
  }
  source.getPlainText(nBegin, nEnd, sFileName);
  // The server writes the mark after the link; one inside the name is the
  // name's own.
  const size_t mark = sFileName.rfind(kLeftToRightMark);
  if (mark != std::string::npos) sFileName.erase(mark);
  const size_t first = sFileName.find_first_not_of(" \r\n\t");
  const size_t last = sFileName.find_last_not_of(" \r\n\t");
  sFileName = first == std::string::npos ? std::string() : sFileName.substr(first, last - first + 1);
  DebugLog("[CPLFormWithAttachments::GetAttachmentFilename] returned <%d>. sAttFilename <%s> ", 0, sFileName.c_str());
  return 0;
}

void CPLFormWithAttachments::GetBlockedAttachmentLinkHTML(std::string& sHTML, bool bEmbedded) {
  if (bEmbedded) {
    sHTML.append("<a href='javascript:f_ShowExtBlockedMsg(1);' title=\"").append(m_sEmbeddedMessageText);
  } else {
    sHTML.append("<a href='javascript:f_ShowExtBlockedMsg();' title=\"").append(m_sBlockedExtensionText);
  }
  const CHXFormScriptPath path(kProductWord, kProductScriptsVersion);
  sHTML.append("\">").append("<img src=\"").append(path.BuildScriptPath(kBlockedImage));
  sHTML.append("\" align='bottom' BORDER='0'></a>");
}

DWORD CPLFormWithAttachments::ModifyOWABlockedAttachmentWithoutAttIDSPANElement(const CDOMElement& span) {
  DebugLog("[CPLFormWithAttachments::ModifyOWABlockedAttachmentWithoutAttIDSPANElement] Starts");
  bool bEmbedded = true;
  bool bNoLink = true;
  std::string sAttachmentID;
  std::string sFileName;
  DWORD dwLevel = 0;
  DWORD dwRet = GetOWAAttachmentLevel(span.getAttribute(m_sLevelAttributeName), dwLevel);
  if (dwRet != 0) {
    DebugLog(
        "[CPLFormWithAttachments::ModifyOWABlockedAttachmentWithoutAttIDSPANElement] GetOWAAttachmentLevel() "
        "failed.");
    return dwRet;
  }
  if (dwLevel == OwaAttachmentLevel::Blocked) {
    bEmbedded = false;
  } else if (dwLevel == OwaAttachmentLevel::Allowed && !span.getElementById(kWebReadyLinkId).isUndefined()) {
    bEmbedded = false;
    GetAttachmentFilename(*m_pFormContext->m_spDom, span, sFileName);
    ci_string csExtension;
    bool bBlocked = false;
    GetFileExtensionAndBlockedFlag(sFileName, csExtension, bBlocked);
    bNoLink = bBlocked || !GetAttachmentID(span, sAttachmentID);
  }

  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  const DWORD dwStyle = span.setAttribute("style", "text-decoration: underline", pList);
  if (dwStyle != 0) {
    DebugLog(
        "[CPLFormWithAttachments::ModifyOWABlockedAttachmentWithoutAttIDSPANElement] inserting style "
        "text-decoration: underline failed. setAttribute returned <%d>",
        static_cast<int>(dwStyle));
  }

  std::string sHTML;
  sHTML.reserve(64);
  if (bEmbedded || bNoLink) {
    GetBlockedAttachmentLinkHTML(sHTML, bEmbedded);
  } else if (!sAttachmentID.empty() && !sFileName.empty()) {
    GetViewAttachmentLinkHTML(sHTML, sAttachmentID, sFileName);
  } else {
    DebugLog(
        "[CPLFormWithAttachments::ModifyOWABlockedAttachmentWithoutAttIDSPANElement] unexpected case Attachment is "
        "not blocked ans is no Embeded message ID: %s, FN: %s",
        sAttachmentID.c_str(), sFileName.c_str());
  }
  dwRet = span.getStartTag().insertDataAfter(sHTML, pList);
  if (dwRet != 0) {
    DebugLog(
        "[CPLFormWithAttachments::ModifyOWABlockedAttachmentWithoutAttIDSPANElement] inserting binocular HTML "
        "failed. CDOMStartTag::insertDataAfter returned <%d>",
        static_cast<int>(dwRet));
  }
  DebugLog("[CPLFormWithAttachments::ModifyOWABlockedAttachmentWithoutAttIDSPANElement] returned dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}
