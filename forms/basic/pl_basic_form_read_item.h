// The Basic read pages (message, meeting page, contact): the item ID comes
// from the request (or, for the answer to a form post, from the page), and
// its hash covers the request's attachment IDs as well, as the request
// checks recompute it.
#pragma once

#include <string>
#include <vector>

#include "forms/basic/pl_basic_form_item.h"
#include "platform/win_types.h"

class CPLBasicFormReadItem : public CPLBasicFormItem {
 public:
  CPLBasicFormReadItem(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLBasicFormReadItem() override;

  // The item ID, or the list of the item ID and the attachment IDs, and the
  // hash when direct access is offered. Always true.
  bool AppendItemIDAndItemIDHashJavaScriptVariable(bool bDirectAccess, std::string& sScript) override;
  // A read page has no attach buttons.
  DWORD DisableOrRemoveAttachmentButtonsIfNecessary() override { return 0; }

  // 0 also when the request names no item (ID and hash stay empty); 13 when
  // the route the request takes finds no ID.
  DWORD InitItemIDAndAttIDsFromRequestURL_CalculateItemIDHash();

 private:
  DWORD ItemIDFromHiddenInput(std::string& sID);
  DWORD ItemIDFromFirstAttachmentLink(std::string& sID);

  std::vector<std::string> m_vecAttachmentIDs;
};
