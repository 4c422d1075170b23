// The Basic read and compose item forms: the attach buttons first, then, when
// the page lists attachments ("divAtt"), the context menu, the product's
// scripts, the attachment rewriting and the script variables.
#pragma once

#include "forms/basic/pl_basic_form_with_attachments.h"
#include "platform/win_types.h"

class CPLBasicFormItem : public CPLBasicFormWithAttachments {
 public:
  using CPLBasicFormWithAttachments::CPLBasicFormWithAttachments;

  DWORD Process() override;
  // The compose page's attach buttons by the user's block level; the read
  // page has none.
  virtual DWORD DisableOrRemoveAttachmentButtonsIfNecessary() = 0;

 private:
  DWORD ProcessSteps();
};
