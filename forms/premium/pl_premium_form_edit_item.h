// The Premium compose pages (message, calendar item, meeting response,
// contact, task, post). The item-ID hash comes from the page's own script
// ("var a_sId = \"...\""); a new item declares "var a_sId = null;" and has
// none. The attach-file button is disabled or removed as the product's
// settings say, and S/MIME pages are left alone.
#pragma once

#include <string>

#include "forms/premium/pl_premium_form_item.h"
#include "platform/win_types.h"

class CPLPremiumFormEditItem : public CPLPremiumFormItem {
 public:
  // Invalid without HTML, BODY, HEAD, or without an item identifier in a
  // page that does not declare a new item.
  CPLPremiumFormEditItem(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLPremiumFormEditItem() override;

  bool IsReadForm() override { return false; }
  // Button block level (setting 51): 0 nothing, 1 the button loses its link
  // and its image is dimmed, 2 the button's parent and a "sep" divider after
  // it go. 13 when the button, its image or its parent is missing.
  DWORD DisableOrRemoveAttachmentButtonsIfNecessary() override;
  // False when the page offers direct access but has no item-ID hash (a new
  // item), appending nothing.
  bool AppendItemIDHashJavaScriptVariable(bool bIsDirectAttachmentAccessEnabledOnThisForm,
                                          std::string& sScript) override;
  // False for S/MIME requests.
  bool CheckIfFormNeedsToBeProcessed() override;

  // 13 when the page names no item identifier (an empty one included) and
  // does not declare a new item.
  DWORD InitItemIDFromResponseJavaScript_CalculateItemIDHash();

 protected:
  // The rule of one block level, as DisableOrRemoveAttachmentButtonsIfNecessary
  // applies it after reading the setting (0 for levels other than 1 and 2).
  DWORD ApplyAttachmentButtonsBlockLevel(int32_t nLevel);

  bool m_bItemIDHashIsAvailable = false;
  std::string m_sItemIDHash;

 private:
  DWORD RemoveAttachmentButton(CDOMElement& button);
  DWORD DisableAttachmentButton(const CDOMElement& button);
};
