#include "forms/basic/pl_basic_form_calendar_item_scheduling_tab.h"

#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "forms/dom_steps.h"
#include "forms/form_text.h"
#include "forms/hx_form_context.h"
#include "settings/setting_ids.h"

namespace {
const char kLabel[] = "[CPLBasicFormCalendarItemSchedulingTab::Process] ";
}  // namespace

CPLBasicFormCalendarItemSchedulingTab::CPLBasicFormCalendarItemSchedulingTab(CHXFormContext* pFormContext,
                                                                             int bBuildVirtualBases)
    : CPLForm(pFormContext), CPLBasicFormWithAttachButtons(pFormContext, 0) {}

DWORD CPLBasicFormCalendarItemSchedulingTab::Process() {
  DebugLog("[CPLBasicFormCalendarItemSchedulingTab::Process] start");
  const DWORD dwRet = RunCatchingDomExceptions(kLabel, [this] {
    const DWORD dwButtons = DisableOrRemoveAttachmentButtonsIfNecessary();
    if (dwButtons != 0) {
      DebugLog("[CPLBasicFormCalendarItemSchedulingTab::Process] DisableOrRemoveAttachmentButtonsIfNecessary() "
               "failed.");
    }
    return dwButtons;
  });
  LogProcessFinished(kLabel, m_pFormContext, dwRet);
  return dwRet;
}

DWORD CPLBasicFormCalendarItemSchedulingTab::DisableOrRemoveAttachmentButtonsIfNecessary() {
  const int32_t nLevel = ReadAttachButtonsBlockLevel();
  return ApplyAttachButtonsBlockLevel(
      nLevel, "[CPLBasicFormCalendarItemSchedulingTab::DisableOrRemoveAttachmentButtonsIfNecessary] ",
      "Attachment buttons block level is invalid.", false);
}
