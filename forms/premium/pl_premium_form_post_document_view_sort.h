// The answer to a document-view sort request: the list again, with its
// header table, gets the file-list rewriting.
#pragma once

#include "forms/premium/pl_premium_form_document_view.h"
#include "platform/win_types.h"

class CPLPremiumFormPOSTDocumentViewSort : public CPLPremiumFormDocumentView {
 public:
  CPLPremiumFormPOSTDocumentViewSort(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLPremiumFormPOSTDocumentViewSort() override;

  // 0 without a list, 13 without the header table, else the list's code.
  DWORD Process() override;

 private:
  DWORD ProcessSteps();
};
