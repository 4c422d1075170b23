// The attach-file dialog's answer after files were attached: its attachment
// list gets the Premium attachment rewriting, and when an attachment offers
// direct access the answer's script gets the hash of the item identifier it
// names ("o.sId").
#pragma once

#include <string>

#include "forms/premium/pl_premium_form_with_attachments.h"
#include "platform/win_types.h"

class CPLPremiumFormPOSTAttachFileDialog : public CPLPremiumFormWithAttachments {
 public:
  // Invalid without HTML, BODY, HEAD or a non-empty item identifier in the
  // first script of BODY.
  CPLPremiumFormPOSTAttachFileDialog(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLPremiumFormPOSTAttachFileDialog() override;

  bool IsReadForm() override { return false; }
  // 0 when the answer lists no attachments or every step succeeded.
  DWORD Process() override;

  // 13 without the identifier statement or with an empty identifier.
  DWORD InitItemIDFromDlgResponseJavaScript_CalculateItemIDHash();
  // Inserts o.szQLPLItemIDH="<hash>"; right after "var o = new Object();" of
  // the first script of BODY; 13 when there is none.
  DWORD InsertItemIDHashValueJavaScriptVariable();

 private:
  DWORD ProcessSteps();
  bool InitialiseFromPage();

  std::string m_sItemIDHash;
};
