// The whole Premium document-view page: the product's scripts, the cached-
// script prefix on the list view's own scripts, the file list, the product's
// script variables and its Save, Text and Rich entries in the page's context
// menu.
#pragma once

#include <string>

#include "forms/premium/pl_premium_form_document_view.h"
#include "platform/win_types.h"

class CPLPremiumFormGETDocumentView : public CPLPremiumFormDocumentView {
 public:
  // Invalid without HTML, BODY or HEAD.
  CPLPremiumFormGETDocumentView(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLPremiumFormGETDocumentView() override;

  // 0 for a page without a file list; 13 without the header table; else the
  // code of the first failed step (7 for a DOM exception).
  DWORD Process() override;
  // The product script block right after the HEAD start tag; 7 (nothing
  // inserted) when a text, the cached-script prefix or the OWA build and
  // theme is missing.
  DWORD InsertJavaScriptVariables();
  // The Save, Text and Rich entries before "divS" of the menu "divVwm"; 13
  // when either is missing, 7 when the texts cannot be loaded.
  DWORD InsertPLItemsToContextMenu();

 private:
  DWORD ProcessSteps();
  // The variable lines of the block; 7 at the first missing value.
  DWORD AppendVariableLines(std::string& sLines);
};
