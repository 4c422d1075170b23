// The Premium read pages (message, meeting request, contact, task, post) and
// every page of a read-page subscription. The item-ID hash comes from the
// request: the "id" parameter followed by the joined attachment identifiers,
// the text the access checks hash again when the product asks for a file.
#pragma once

#include <string>

#include "forms/premium/pl_premium_form_item.h"
#include "platform/win_types.h"

class CPLPremiumFormReadItem : public CPLPremiumFormItem {
 public:
  // Invalid without HTML, BODY, HEAD or the request's "id" parameter.
  CPLPremiumFormReadItem(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLPremiumFormReadItem() override;

  bool IsReadForm() override { return true; }
  // Read pages have no attach-file button.
  DWORD DisableOrRemoveAttachmentButtonsIfNecessary() override { return 0; }
  // The hash line when direct access is offered, else the null line.
  bool AppendItemIDHashJavaScriptVariable(bool bIsDirectAttachmentAccessEnabledOnThisForm,
                                          std::string& sScript) override;
  bool CheckIfFormNeedsToBeProcessed() override { return true; }

  // 13 without "id"; the code of a failed attachment-identifier read (the
  // hash is computed from what was read all the same).
  DWORD InitItemIDAttIDsFromRequestURL_CalculateItemIDHash();

 protected:
  std::string m_sItemIDHash;
};
