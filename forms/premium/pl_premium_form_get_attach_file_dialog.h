// The Premium attach-file dialog as first shown: the product's blocked
// extensions and their message as script variables, the cached-script prefix
// on the dialog's own script, and the product's helper script.
#pragma once

#include "forms/pl_form.h"
#include "platform/win_types.h"

class CPLPremiumFormGETAttachFileDialog : public CPLForm {
 public:
  // Invalid without HTML, BODY or HEAD.
  explicit CPLPremiumFormGETAttachFileDialog(CHXFormContext* pFormContext);

  // 0, or the code of the first failed step (7 for a DOM exception).
  DWORD Process() override;
  // Inserts the product script block right after the HEAD start tag; 7 when
  // the blocked-extension text cannot be loaded (nothing inserted then).
  DWORD InsertJavaScriptVariables();

 private:
  DWORD ProcessSteps();
};
