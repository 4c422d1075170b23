// The web client's attach buttons on Basic compose pages and the scheduling
// tab: the attach-file toolbar button ("lnkHdrattachfile") and the content
// link that calls onClkTb('attachfile'). The user's block level (setting 51)
// leaves them (0), disables them by dropping their anchor tags and greying
// the button image (1), or removes them with the toolbar divider (2).
#pragma once

#include "forms/pl_form.h"
#include "html/dom_values.h"
#include "platform/win_types.h"

class CPLBasicFormWithAttachButtons : public virtual CPLForm {
 public:
  // CPLForm is a virtual base: the most derived class names
  // CPLForm(pFormContext). Invalid unless the page has HTML, BODY and HEAD.
  CPLBasicFormWithAttachButtons(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLBasicFormWithAttachButtons() override;

  // The toolbar anchor; undefined when the page has none.
  CDOMElement GetAttachFileToolbarButtonLink();
  // The anchor enclosing the first onClkTb('attachfile') call at or after
  // nStart; undefined when there is none.
  CDOMElement GetContentAttachmentsLink(HXPos nStart);
  // nEnd is the toolbar anchor's end (0 when not found), where the content
  // link is looked for.
  DWORD DisableAttachFileToolbarButtonLink(HXPos& nEnd);
  DWORD RemoveAttachFileToolbarButtonLink(HXPos& nEnd);
  DWORD DisableContentAttachmentsLink(HXPos nStart);
  DWORD RemoveContentAttachmentsLink(HXPos nStart);

 protected:
  // Setting 51 of the request's settings set, as the attach-file request
  // takes it: 0 (buttons enabled) when no level holds it or it is invalid.
  int32_t ReadAttachButtonsBlockLevel();
  // Applies a block level: 0 leaves the buttons, 1 disables, 2 removes the
  // toolbar button (and, with bWithContentLink, the content link after it);
  // 13 for any other level. pLabel opens the log lines; pInvalidLevel is the
  // text for a level of no meaning.
  DWORD ApplyAttachButtonsBlockLevel(int32_t nLevel, const char* pLabel, const char* pInvalidLevel,
                                     bool bWithContentLink);

 private:
  // Drops the anchor's start and end tags; its content stays.
  DWORD DeleteAnchorTags(const CDOMElement& anchor, const char* pLabel);
};
