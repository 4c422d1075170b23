// The Premium read and compose pages of an item (message, meeting request,
// contact, task, post). On compose pages the attach-file button follows the
// product's policy; a page with an attachment well gets the product's
// context menu, its scripts, the rewritten attachments and one block of
// script variables at the top of HEAD.
#pragma once

#include <string>

#include "forms/premium/pl_premium_form_with_attachments.h"
#include "platform/win_types.h"

class CPLPremiumFormItem : public CPLPremiumFormWithAttachments {
 public:
  // CPLForm is a virtual base: the most derived class builds it. The form is
  // invalid without HTML, BODY or HEAD.
  explicit CPLPremiumFormItem(CHXFormContext* pFormContext);
  ~CPLPremiumFormItem() override;

  // 0 when the page needs nothing or every step succeeded; else the code of
  // the first failed step (7 for a DOM exception). A failure leaves the page
  // unchanged.
  DWORD Process() override;

  // The attach-file button rules of compose pages.
  virtual DWORD DisableOrRemoveAttachmentButtonsIfNecessary() = 0;
  // Appends the "g_szQLPLItemIDH" line; false when the page needs the hash
  // and the form has none.
  virtual bool AppendItemIDHashJavaScriptVariable(bool bIsDirectAttachmentAccessEnabledOnThisForm,
                                                  std::string& sScript) = 0;
  // False for pages the product leaves alone.
  virtual bool CheckIfFormNeedsToBeProcessed() = 0;

  // Appends the hidden product menu (Open, Save, separator, Text, Rich) to
  // BODY. 7 when the menu texts cannot be loaded.
  DWORD InsertContextMenu();
  // Inserts the product script block right after the HEAD start tag. 7 when
  // a text, the cached-script prefix, the item-ID hash or the OWA build and
  // theme is missing; nothing is inserted then.
  DWORD InsertJavaScriptVariables(bool bIsDirectAttachmentAccessEnabledOnThisForm);

 protected:
  // The hash line, or the null line when the page offers no direct access.
  static void AppendItemIDHashLine(const std::string& sItemIDHash, std::string& sScript);
  static void AppendNullItemIDHashLine(std::string& sScript);

 private:
  DWORD ProcessSteps();
  bool AppendPagePathAndContextLines(std::string& sScript);
};
