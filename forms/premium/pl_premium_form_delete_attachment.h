// The answer to a Premium delete-attachment request: the item's remaining
// attachments ("attWD", anywhere in the answer) get the Premium attachment
// rewriting.
#pragma once

#include "forms/premium/pl_premium_form_with_attachments.h"
#include "platform/win_types.h"

class CPLPremiumFormDeleteAttachment : public CPLPremiumFormWithAttachments {
 public:
  CPLPremiumFormDeleteAttachment(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLPremiumFormDeleteAttachment() override;

  bool IsReadForm() override { return false; }
  // 0 when the answer lists no attachments or all were rewritten.
  DWORD Process() override;

 private:
  DWORD ProcessSteps();
};
