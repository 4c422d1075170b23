#include "forms/basic/pl_basic_form_with_attach_buttons.h"

#include "common/debug_log.h"
#include "filter/block_levels.h"
#include "filter/dll_context.h"
#include "filter/result_codes.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "forms/page_parts.h"
#include "general/pl_hx_general_settings.h"
#include "html/dom_source.h"
#include "settings/setting_ids.h"

namespace {

const char kToolbarButtonId[] = "lnkHdrattachfile";
const char kContentLinkCall[] = "return onClkTb('attachfile');";
const char kGreyedImageStyle[] =
    "-moz-opacity:0.4;filter:alpha(opacity=40);border-style:none;cursor:default;margin-left:5;margin-right:5;";

namespace AttachButtonsBlockLevel {
constexpr int32_t Enabled = 0;
constexpr int32_t Disable = 1;
constexpr int32_t Remove = 2;
}  // namespace AttachButtonsBlockLevel

bool IsTag(const CDOMElement& element, const char* pName) {
  return !element.isUndefined() && element.tagName() == pName;
}

}  // namespace

CPLBasicFormWithAttachButtons::CPLBasicFormWithAttachButtons(CHXFormContext* pFormContext, int bBuildVirtualBases)
    : CPLForm(pFormContext) {
  DebugLog("[CPLBasicFormWithAttachButtons::CPLBasicFormWithAttachButtons] Starts.");
  if (m_bIsInstanceValid &&
      !HasHtmlBodyAndHead(m_pFormContext, "[CPLBasicFormWithAttachButtons::CPLBasicFormWithAttachButtons] ")) {
    m_bIsInstanceValid = false;
  }
  DebugLog("[CPLBasicFormWithAttachButtons::CPLBasicFormWithAttachButtons] returned m_bIsInstanceValid <%s>.",
           YN(m_bIsInstanceValid));
}

CPLBasicFormWithAttachButtons::~CPLBasicFormWithAttachButtons() = default;

CDOMElement CPLBasicFormWithAttachButtons::GetAttachFileToolbarButtonLink() {
  CDOMElement anchor = m_pFormContext->m_spDom->getBody().getElementById(kToolbarButtonId);
  if (anchor.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachButtons::GetAttachFileToolbarButtonLink] CDOMElement::getElementById() returned "
             "an undefined element. ID <%s>.",
             kToolbarButtonId);
  }
  return anchor;
}

// The toolbar anchor calls onClkTb('attachfile') too, so the search starts
// after it.
CDOMElement CPLBasicFormWithAttachButtons::GetContentAttachmentsLink(HXPos nStart) {
  const CDOMSource& dom = *m_pFormContext->m_spDom;
  const HXPos nCall = dom.scanForString(kContentLinkCall, nStart, HX_NPOS);
  if (nCall == HX_NPOS) {
    DebugLog("[CPLBasicFormWithAttachButtons::GetContentAttachmentsLink] CDOMSource::scanForString() failed. string "
             "<%s>.",
             kContentLinkCall);
    return CDOMElement();
  }
  const CDOMElement anchor = dom.getEnclosingElement(nCall);
  if (!IsTag(anchor, "A")) {
    DebugLog("[CPLBasicFormWithAttachButtons::GetContentAttachmentsLink] Content attachments link was not found.");
    return CDOMElement();
  }
  return anchor;
}

DWORD CPLBasicFormWithAttachButtons::DeleteAnchorTags(const CDOMElement& anchor, const char* pLabel) {
  const CDOMSource& dom = *m_pFormContext->m_spDom;
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  const HXPos ranges[2][2] = {{anchor.getBeginPos(), anchor.getContentBeginPos()},
                              {anchor.getContentEndPos(), anchor.getEndPos()}};
  for (const auto& range : ranges) {
    if (range[1] <= range[0]) continue;
    const DWORD dwRet = dom.deleteData(range[0], range[1] - range[0], pList);
    if (dwRet != 0) {
      DebugLog("%sCUtil::DeleteHtmlStringAtPosition() failed. nDeletePos <%d> nDeleteLength <%d>.", pLabel,
               static_cast<int>(range[0]), static_cast<int>(range[1] - range[0]));
      return dwRet;
    }
  }
  return 0;
}

DWORD CPLBasicFormWithAttachButtons::DisableAttachFileToolbarButtonLink(HXPos& nEnd) {
  DebugLog("[CPLBasicFormWithAttachButtons::DisableAttachFileToolbarButtonLink] Starts.");
  nEnd = 0;
  DWORD dwRet = 0;
  const CDOMElement anchor = GetAttachFileToolbarButtonLink();
  if (anchor.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachButtons::DisableAttachFileToolbarButtonLink] GetAttachFileToolbarButtonLink() "
             "returned NULL.");
    dwRet = HX_RC_INVALID_DATA;
  } else {
    nEnd = anchor.getEndPos();
    dwRet = DeleteAnchorTags(anchor, "[CPLBasicFormWithAttachButtons::DisableAttachFileToolbarButtonLink] ");
  }
  const CDOMStartTag image = dwRet == 0 ? anchor.getFirstStartTagByTagName("IMG") : CDOMStartTag();
  if (dwRet == 0 && image.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachButtons::DisableAttachFileToolbarButtonLink] "
             "CDOMElement::getFirstStartTagByTagName() returned an undefined start tag when looking for attachment "
             "button image.");
  } else if (dwRet == 0) {
    dwRet = image.setAttribute("style", kGreyedImageStyle, m_pFormContext->m_pcobBufferInstructionList);
    if (dwRet != 0) {
      DebugLog("[CPLBasicFormWithAttachButtons::DisableAttachFileToolbarButtonLink] CDOMElement::setAttibute() failed "
               "when setting \"style\" attribute.");
    }
  }
  DebugLog("[CPLBasicFormWithAttachButtons::DisableAttachFileToolbarButtonLink] returned dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLBasicFormWithAttachButtons::DisableContentAttachmentsLink(HXPos nStart) {
  DebugLog("[CPLBasicFormWithAttachButtons::DisableContentAttachmentsLink] Starts.");
  DWORD dwRet = 0;
  const CDOMElement anchor = GetContentAttachmentsLink(nStart);
  if (anchor.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachButtons::DisableContentAttachmentsLink] GetContentAttachmentsLink() returned "
             "NULL.");
    dwRet = HX_RC_INVALID_DATA;
  } else {
    dwRet = DeleteAnchorTags(anchor, "[CPLBasicFormWithAttachButtons::DisableContentAttachmentsLink] ");
  }
  DebugLog("[CPLBasicFormWithAttachButtons::DisableContentAttachmentsLink] returned dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink(HXPos& nEnd) {
  DebugLog("[CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink] Starts.");
  nEnd = 0;
  CBufferInstructionList* pList = m_pFormContext->m_pcobBufferInstructionList;
  DWORD dwRet = 0;
  const CDOMElement anchor = GetAttachFileToolbarButtonLink();
  CDOMElement cell = anchor.isUndefined() ? CDOMElement() : anchor.parentNode();
  if (anchor.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink] GetAttachFileToolbarButtonLink() "
             "returned NULL.");
    dwRet = HX_RC_INVALID_DATA;
  } else if (nEnd = anchor.getEndPos(); !IsTag(cell, "TD")) {
    DebugLog("[CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink] Attach file toolbar button cell was "
             "not found.");
    dwRet = HX_RC_INVALID_DATA;
  } else if ((dwRet = cell.remove(pList)) != 0) {
    DebugLog("[CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink] CDOMElement::remove() failed.");
  } else {
    const CDOMElement divider = cell.nextSibling();
    ci_string csClass;
    const CDOMAttribute classAttribute = IsTag(divider, "TD") ? divider.getAttribute("class") : CDOMAttribute();
    if (!classAttribute.isUndefined() && classAttribute.hasValue()) classAttribute.getValue(csClass);
    if (csClass != "dv") {
      DebugLog("[CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink] Toolbar divider next to attach file "
               "button was not found.");
    } else if ((dwRet = divider.remove(pList)) != 0) {
      DebugLog("[CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink] CDOMElement::remove() failed.");
    }
  }
  DebugLog("[CPLBasicFormWithAttachButtons::RemoveAttachFileToolbarButtonLink] returned dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}

DWORD CPLBasicFormWithAttachButtons::RemoveContentAttachmentsLink(HXPos nStart) {
  DebugLog("[CPLBasicFormWithAttachButtons::RemoveContentAttachmentsLink] Starts.");
  DWORD dwRet = 0;
  const CDOMElement anchor = GetContentAttachmentsLink(nStart);
  if (anchor.isUndefined()) {
    DebugLog("[CPLBasicFormWithAttachButtons::RemoveContentAttachmentsLink] GetContentAttachmentsLink() returned "
             "NULL.");
    dwRet = HX_RC_INVALID_DATA;
  } else if ((dwRet = anchor.remove(m_pFormContext->m_pcobBufferInstructionList)) != 0) {
    DebugLog("[CPLBasicFormWithAttachButtons::RemoveContentAttachmentsLink] CDOMElement::remove() failed.");
  }
  DebugLog("[CPLBasicFormWithAttachButtons::RemoveContentAttachmentsLink] returned dwRet <%d>.",
           static_cast<int>(dwRet));
  return dwRet;
}

int32_t CPLBasicFormWithAttachButtons::ReadAttachButtonsBlockLevel() {
  // The buttons follow the attach-file request's own decision.
  const auto nSettingsID = static_cast<int32_t>(m_pFormContext->m_pContext->m_dwSettingsID);
  return BlockLevels::ReadAttachmentButtonsLevel(*m_pSettings, nSettingsID);
}

DWORD CPLBasicFormWithAttachButtons::ApplyAttachButtonsBlockLevel(int32_t nLevel, const char* pLabel,
                                                                  const char* pInvalidLevel, bool bWithContentLink) {
  DebugLog("%sAttachment buttons block level is <%d>.", pLabel, static_cast<int>(nLevel));
  HXPos nEnd = 0;
  DWORD dwRet = 0;
  const char* pFailed = nullptr;
  if (nLevel == AttachButtonsBlockLevel::Enabled) {
    DebugLog("%sAttachment buttons are enabled. No modifications are necessary.", pLabel);
  } else if (nLevel == AttachButtonsBlockLevel::Disable) {
    if ((dwRet = DisableAttachFileToolbarButtonLink(nEnd)) != 0) {
      pFailed = "DisableAttachFileToolbarButtonLink";
    } else if (bWithContentLink && (dwRet = DisableContentAttachmentsLink(nEnd)) != 0) {
      pFailed = "DisableContentAttachmentsLink";
    }
  } else if (nLevel == AttachButtonsBlockLevel::Remove) {
    if ((dwRet = RemoveAttachFileToolbarButtonLink(nEnd)) != 0) {
      pFailed = "RemoveAttachFileToolbarButtonLink";
    } else if (bWithContentLink && (dwRet = RemoveContentAttachmentsLink(nEnd)) != 0) {
      pFailed = "RemoveContentAttachmentsLink";
    }
  } else {
    DebugLog("%s%s", pLabel, pInvalidLevel);
    dwRet = HX_RC_INVALID_DATA;
  }
  if (pFailed != nullptr) DebugLog("%s%s() failed.", pLabel, pFailed);
  return dwRet;
}
