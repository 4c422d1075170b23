// The web client's error page for a document that may only be saved: the
// whole response is replaced by a redirect to the page's first link (read
// with its character references decoded, as the browser follows it), with
// the link's file-ID hash added as "fidh" so that the access check
// recognises the product's own follow-up request.
#pragma once

#include <string>

#include "forms/pl_form.h"
#include "platform/win_types.h"

class CHXFormContext;

class CPLDocumentViewForceSaveErrorForm : public CPLForm {
 public:
  // Invalid unless the page has its HTML, BODY and HEAD elements.
  explicit CPLDocumentViewForceSaveErrorForm(CHXFormContext* pFormContext);

  // Writes the redirect into the record's replace buffer and sets the
  // control message to Replace; records no edit. 13 without a usable link
  // (or a target holding control bytes), 7 on a DOM exception.
  DWORD Process() override;

  // HashString of the link's "URL" query parameter; false when the link has
  // none or it is empty.
  bool GetFileIDHashValue(const std::string& sHref, std::string& sHash);

  // The complete 302 response to target, allocated with new[] (the end of
  // request frees it); exactly length bytes, no terminating NUL.
  static bool CreateReplaceBufferForRedirectResponse(const std::string& sTarget, BYTE*& pBuffer, DWORD& dwLength);

 private:
  DWORD ReplaceSteps();
};
