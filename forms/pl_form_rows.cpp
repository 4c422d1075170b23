#include "forms/pl_form_rows.h"

#include "filter/dll_context.h"
#include "filter/request_flags.h"
#include "forms/basic/pl_basic_form_attachment_manager.h"
#include "forms/basic/pl_basic_form_calendar_item_scheduling_tab.h"
#include "forms/basic/pl_basic_form_edit_item.h"
#include "forms/basic/pl_basic_form_read_item.h"
#include "forms/hx_form_context.h"
#include "forms/pl_document_view_force_save_error_form.h"
#include "forms/premium/pl_premium_form_delete_attachment.h"
#include "forms/premium/pl_premium_form_edit_item.h"
#include "forms/premium/pl_premium_form_get_attach_file_dialog.h"
#include "forms/premium/pl_premium_form_get_document_view.h"
#include "forms/premium/pl_premium_form_post_attach_file_dialog.h"
#include "forms/premium/pl_premium_form_post_document_view_refresh.h"
#include "forms/premium/pl_premium_form_post_document_view_sort.h"
#include "forms/premium/pl_premium_form_read_item.h"

namespace {

const char* const kPremiumReadTemplates[] = {"ASP.forms_premium_readmessage_aspx", "ASP.forms_premium_meetingpage_aspx",
                                             "ASP.forms_premium_readcontact_aspx", "ASP.forms_premium_readtask_aspx",
                                             "ASP.forms_premium_readpost_aspx",    nullptr};
const char* const kPremiumEditTemplates[] = {"ASP.forms_premium_editmessage_aspx",
                                             "ASP.forms_premium_editcalendaritem_aspx",
                                             "ASP.forms_premium_editmeetingresponse_aspx",
                                             "ASP.forms_premium_editcontact_aspx",
                                             "ASP.forms_premium_edittask_aspx",
                                             "ASP.forms_premium_editpost_aspx",
                                             nullptr};
const char* const kPremiumAttachFileDialogTemplates[] = {"ASP.forms_premium_attachfiledialog_aspx", nullptr};
const char* const kPremiumDocumentViewTemplates[] = {"ASP.forms_premium_documentview_aspx", nullptr};
const char* const kBasicEditTemplates[] = {
    "ASP.forms_basic_basiceditmessage_aspx", "ASP.forms_basic_basiceditcalendaritem_aspx",
    "ASP.forms_basic_basiceditcontact_aspx", "ASP.forms_basic_basiceditmeetingresponse_aspx", nullptr};
const char* const kBasicReadTemplates[] = {"ASP.forms_basic_basicreadmessage_aspx",
                                           "ASP.forms_basic_basicmeetingpage_aspx",
                                           "ASP.forms_basic_basicreadcontact_aspx", nullptr};
const char* const kBasicSchedulingTabTemplates[] = {"ASP.forms_basic_basiccalendaritemschedulingtab_aspx", nullptr};
const char* const kBasicAttachmentManagerTemplates[] = {"ASP.forms_basic_basicattachmentmanager_aspx", nullptr};
const char* const kAuthErrorTemplates[] = {"ASP.auth_error_aspx", nullptr};

using namespace OwaExperience;
using namespace RequestFlag;

// A form built into the module has its creator (MakeForm<...> or
// MakeFormWithVirtualBases<...>) in its row.
const PLFormRow g_PLFormRows[] = {
    {kAnyExperience, true, nullptr, 0, 0, "CPLPremiumFormReadItem", MakeFormWithVirtualBases<CPLPremiumFormReadItem>},
    {Premium, false, kPremiumReadTemplates, 0, 0, "CPLPremiumFormReadItem",
     MakeFormWithVirtualBases<CPLPremiumFormReadItem>},
    {Premium, false, kPremiumEditTemplates, 0, 0, "CPLPremiumFormEditItem",
     MakeFormWithVirtualBases<CPLPremiumFormEditItem>},
    {Premium, false, kPremiumAttachFileDialogTemplates, Post, 0, "CPLPremiumFormPOSTAttachFileDialog",
     MakeFormWithVirtualBases<CPLPremiumFormPOSTAttachFileDialog>},
    {Premium, false, kPremiumAttachFileDialogTemplates, 0, Post, "CPLPremiumFormGETAttachFileDialog",
     MakeForm<CPLPremiumFormGETAttachFileDialog>},
    {Premium, false, kPremiumDocumentViewTemplates, 0, 0, "CPLPremiumFormGETDocumentView",
     MakeFormWithVirtualBases<CPLPremiumFormGETDocumentView>},
    {Premium, false, nullptr, 0, 0, nullptr, nullptr},

    {Basic, false, kBasicEditTemplates, 0, 0, "CPLBasicFormEditItem", MakeFormWithVirtualBases<CPLBasicFormEditItem>},
    {Basic, false, kBasicReadTemplates, 0, 0, "CPLBasicFormReadItem", MakeFormWithVirtualBases<CPLBasicFormReadItem>},
    {Basic, false, kBasicSchedulingTabTemplates, 0, 0, "CPLBasicFormCalendarItemSchedulingTab",
     MakeFormWithVirtualBases<CPLBasicFormCalendarItemSchedulingTab>},
    {Basic, false, kBasicAttachmentManagerTemplates, 0, 0, "CPLBasicFormAttachmentManager",
     MakeFormWithVirtualBases<CPLBasicFormAttachmentManager>},
    {Basic, false, nullptr, 0, 0, nullptr, nullptr},

    {None, false, nullptr, PremiumDeleteAttachment, 0, "CPLPremiumFormDeleteAttachment",
     MakeFormWithVirtualBases<CPLPremiumFormDeleteAttachment>},
    {None, false, nullptr, DocumentViewSort, 0, "CPLPremiumFormPOSTDocumentViewSort",
     MakeFormWithVirtualBases<CPLPremiumFormPOSTDocumentViewSort>},
    {None, false, nullptr, DocumentViewRefresh, 0, "CPLPremiumFormPOSTDocumentViewRefresh",
     MakeFormWithVirtualBases<CPLPremiumFormPOSTDocumentViewRefresh>},
    {None, false, kAuthErrorTemplates, DocumentViewForceSave, 0, "CPLDocumentViewForceSaveErrorForm",
     MakeForm<CPLDocumentViewForceSaveErrorForm>},
    {None, false, nullptr, 0, 0, nullptr, nullptr},
};

bool TemplateHoldsOneOf(const ci_string& csTemplate, const char* const* ppTemplates) {
  if (ppTemplates == nullptr) return true;
  for (; *ppTemplates != nullptr; ++ppTemplates) {
    if (FindNoCase(csTemplate, *ppTemplates) != ci_string_view::npos) return true;
  }
  return false;
}

bool RowMatches(const PLFormRow& row, const CHXFormContext& ctx) {
  const CDLLContext& record = *ctx.m_pContext;
  if (row.bReadPageSubscription) return record.m_dwSubscriptionType == SubscriptionType::OwaReadPage;
  const DWORD flags = record.m_dwRequestFlags;
  return row.dwExperience == ctx.m_dwOWAExperience && TemplateHoldsOneOf(ctx.m_csTemplateName, row.ppTemplates) &&
         (flags & row.dwFlagsSet) == row.dwFlagsSet && (flags & row.dwFlagsClear) == 0;
}

}  // namespace

const PLFormRow* FindPLFormRow(const CHXFormContext& ctx) {
  for (const PLFormRow& row : g_PLFormRows) {
    if (RowMatches(row, ctx)) return &row;
  }
  return nullptr;
}
