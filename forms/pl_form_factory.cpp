#include "forms/pl_form_factory.h"

#include "common/debug_log.h"
#include "filter/dll_context.h"
#include "filter/request_flags.h"
#include "forms/hx_form_context.h"
#include "forms/pl_form.h"
#include "html/dom_source.h"

// The page forms of the rows below.
// Premium forms.
#include "forms/premium/pl_premium_form_delete_attachment.h"
#include "forms/premium/pl_premium_form_edit_item.h"
#include "forms/premium/pl_premium_form_get_attach_file_dialog.h"
#include "forms/premium/pl_premium_form_get_document_view.h"
#include "forms/premium/pl_premium_form_post_attach_file_dialog.h"
#include "forms/premium/pl_premium_form_post_document_view_refresh.h"
#include "forms/premium/pl_premium_form_post_document_view_sort.h"
#include "forms/premium/pl_premium_form_read_item.h"
// Basic forms.

namespace {

constexpr DWORD kAnyExperience = 0xFFFFFFFF;

// One row of the choice: the first row whose conditions all hold decides.
// A row without a class name means "no form"; a row whose form is not built
// into this module has a class name but no creator, and also gives no form.
struct PLFormRow {
  DWORD dwExperience;              // OwaExperience value, or kAnyExperience
  bool bReadPageSubscription;      // the record's subscription type is 30
  const char* const* ppTemplates;  // null-terminated; one must be part of the template name
  DWORD dwFlagsSet;                // RequestFlags bits that must be set
  DWORD dwFlagsClear;              // RequestFlags bits that must be clear
  const char* pClassName;
  PLFormCreator pCreate;
};

const char* const kPremiumReadTemplates[] = {
    "ASP.forms_premium_readmessage_aspx", "ASP.forms_premium_meetingpage_aspx", "ASP.forms_premium_readcontact_aspx",
    "ASP.forms_premium_readtask_aspx",    "ASP.forms_premium_readpost_aspx",    nullptr};
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

// Each form's issue puts its creator (MakeForm<...> or
// MakeFormWithVirtualBases<...>) into its row.
const PLFormRow g_PLFormRows[] = {
    {kAnyExperience, true, nullptr, 0, 0, "CPLPremiumFormReadItem", MakeFormWithVirtualBases<CPLPremiumFormReadItem>},
    {Premium, false, kPremiumReadTemplates, 0, 0, "CPLPremiumFormReadItem", MakeFormWithVirtualBases<CPLPremiumFormReadItem>},
    {Premium, false, kPremiumEditTemplates, 0, 0, "CPLPremiumFormEditItem", MakeFormWithVirtualBases<CPLPremiumFormEditItem>},
    {Premium, false, kPremiumAttachFileDialogTemplates, Post, 0, "CPLPremiumFormPOSTAttachFileDialog",
     MakeFormWithVirtualBases<CPLPremiumFormPOSTAttachFileDialog>},
    {Premium, false, kPremiumAttachFileDialogTemplates, 0, Post, "CPLPremiumFormGETAttachFileDialog",
     MakeForm<CPLPremiumFormGETAttachFileDialog>},
    {Premium, false, kPremiumDocumentViewTemplates, 0, 0, "CPLPremiumFormGETDocumentView",
     MakeFormWithVirtualBases<CPLPremiumFormGETDocumentView>},
    {Premium, false, nullptr, 0, 0, nullptr, nullptr},

    {Basic, false, kBasicEditTemplates, 0, 0, "CPLBasicFormEditItem", nullptr},
    {Basic, false, kBasicReadTemplates, 0, 0, "CPLBasicFormReadItem", nullptr},
    {Basic, false, kBasicSchedulingTabTemplates, 0, 0, "CPLBasicFormCalendarItemSchedulingTab", nullptr},
    {Basic, false, kBasicAttachmentManagerTemplates, 0, 0, "CPLBasicFormAttachmentManager", nullptr},
    {Basic, false, nullptr, 0, 0, nullptr, nullptr},

    {None, false, nullptr, PremiumDeleteAttachment, 0, "CPLPremiumFormDeleteAttachment",
     MakeFormWithVirtualBases<CPLPremiumFormDeleteAttachment>},
    {None, false, nullptr, DocumentViewSort, 0, "CPLPremiumFormPOSTDocumentViewSort",
     MakeFormWithVirtualBases<CPLPremiumFormPOSTDocumentViewSort>},
    {None, false, nullptr, DocumentViewRefresh, 0, "CPLPremiumFormPOSTDocumentViewRefresh",
     MakeFormWithVirtualBases<CPLPremiumFormPOSTDocumentViewRefresh>},
    {None, false, kAuthErrorTemplates, DocumentViewForceSave, 0, "CPLDocumentViewForceSaveErrorForm", nullptr},
    {None, false, nullptr, 0, 0, nullptr, nullptr},
};

bool TemplateHoldsOneOf(const ci_string& csTemplate, const char* const* ppTemplates) {
  if (ppTemplates == nullptr) return true;
  for (; *ppTemplates != nullptr; ++ppTemplates) {
    if (csTemplate.find(*ppTemplates) != ci_string::npos) return true;
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

// The first failing check's log line, or null for a complete context.
const char* IncompleteContextMessage(const CHXFormContext* ctx) {
  if (ctx == nullptr) return "[CPLFormFactory::createForm] pFormContext is null. aborting";
  if (ctx->m_pCommonPointers == nullptr) return "[CPLFormFactory::createForm] pFormContext->m_pCommonPointers is null. aborting";
  if (ctx->m_pContext == nullptr) return "[CPLFormFactory::createForm] pFormContext->m_pContext is null. aborting";
  if (ctx->m_pcobBufferInstructionList == nullptr) {
    return "[CPLFormFactory::createForm] pFormContext->m_pcobBufferInstructionList is null. aborting";
  }
  if (!ctx->HasDom()) return "[CPLFormFactory::createForm] pFormContext->m_spDom is null or undefined. aborting";
  const CDLLContext& record = *ctx->m_pContext;
  if (!record.m_spRequestInfo) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_spRequestInfo is null. aborting";
  }
  if (!record.m_spExchangeURL) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_spExchangeURL is null. aborting";
  }
  if (!record.m_spOutboundContext) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_spOutboundContext is null. aborting";
  }
  if (record.m_pMyOwnContext == nullptr) {
    return "[CPLFormFactory::createForm] pFormContext->m_pContext->m_pMyOwnContex is null. aborting";
  }
  return nullptr;
}

const PLFormRow* ChooseRow(const CHXFormContext& ctx) {
  for (const PLFormRow& row : g_PLFormRows) {
    if (RowMatches(row, ctx)) return &row;
  }
  return nullptr;
}

}  // namespace

CPLForm* CPLFormFactory::createForm(CHXFormContext* pFormContext) {
  if (const char* pMessage = IncompleteContextMessage(pFormContext)) {
    DebugLog("%s", pMessage);
    return nullptr;
  }
  DebugLog("[CPLFormFactory::createForm] Template: <%s>", pFormContext->m_csTemplateName.c_str());
  const PLFormRow* pRow = ChooseRow(*pFormContext);
  if (pRow == nullptr) {
    DebugLog("[CPLFormFactory::createForm] Invalid OWA experience <%d>.", static_cast<int>(pFormContext->m_dwOWAExperience));
  }
  CPLForm* pForm = nullptr;
  if (pRow != nullptr && pRow->pCreate != nullptr) {
    pForm = pRow->pCreate(pFormContext);
    if (pForm != nullptr) DebugLog("[CPLFormFactory::createForm] return instance of %s class.", pRow->pClassName);
  }
  if (pForm == nullptr) {
    DebugLog("[CPLFormFactory::createForm] Unknown form, no need for modification. Return NULL.");
    return nullptr;
  }
  if (!pForm->IsInstanceValid()) {
    delete pForm;
    DebugLog("[CPLFormFactory::createForm] Created form instance is invalid! Delete instance and return NULL.");
    return nullptr;
  }
  return pForm;
}
