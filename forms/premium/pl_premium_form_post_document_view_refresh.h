// The answer to a document-view refresh or paging request: the list (inside
// the "data" DIV, without a header table) gets the leading column and the
// rows their cells and attributes.
#pragma once

#include "forms/premium/pl_premium_form_document_view.h"
#include "platform/win_types.h"

class CDOMElement;

class CPLPremiumFormPOSTDocumentViewRefresh : public CPLPremiumFormDocumentView {
 public:
  CPLPremiumFormPOSTDocumentViewRefresh(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLPremiumFormPOSTDocumentViewRefresh() override;

  // 0 without a list, 13 without the "data" DIV, else the list's code.
  DWORD Process() override;
  // The column, then every row whose id is "us" in any letter case.
  DWORD ProcessFileList(const CDOMElement& list);

 private:
  DWORD ProcessSteps();
};
