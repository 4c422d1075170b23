// The Basic compose pages (message, calendar item, contact, meeting
// response): the item ID from "hidid" (empty for a new item), the attach
// buttons by the user's block level, then the attachment rewriting.
#pragma once

#include "forms/basic/pl_basic_form_item.h"
#include "forms/basic/pl_basic_form_with_attach_buttons.h"
#include "platform/win_types.h"

class CPLBasicFormEditItem : public CPLBasicFormItem, public CPLBasicFormWithAttachButtons {
 public:
  CPLBasicFormEditItem(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLBasicFormEditItem() override;

  // The null item-ID line for a new item; false when direct access needs a
  // hash of an item that has no ID yet.
  bool AppendItemIDAndItemIDHashJavaScriptVariable(bool bDirectAccess, std::string& sScript) override;
  // The toolbar button and the content link.
  DWORD DisableOrRemoveAttachmentButtonsIfNecessary() override;
};
