// The Basic calendar item's scheduling tab: only its attach-file toolbar
// button changes, by the user's attach-buttons block level.
#pragma once

#include "forms/basic/pl_basic_form_with_attach_buttons.h"
#include "platform/win_types.h"

class CPLBasicFormCalendarItemSchedulingTab : public CPLBasicFormWithAttachButtons {
 public:
  CPLBasicFormCalendarItemSchedulingTab(CHXFormContext* pFormContext, int bBuildVirtualBases);

  DWORD Process() override;
  DWORD DisableOrRemoveAttachmentButtonsIfNecessary();
};
