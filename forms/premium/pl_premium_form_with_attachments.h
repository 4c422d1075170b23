// The Premium client's rewriting of one attachment SPAN ("spnAtmt"): the
// right mouse button goes to the product's context menu, the SPAN carries the
// attributes the product's scripts build that menu from, and a binocular
// link to the product's viewer (or a link that only explains a blocked
// extension) goes in front of OWA's own link. Embedded items (attached
// messages) only get the menu hand-over and, when OWA lets them open, a
// binocular image inside OWA's link.
#pragma once

#include <string>

#include "common/ci_string.h"
#include "forms/pl_form_with_attachments.h"
#include "platform/win_types.h"

class CDOMElement;

class CPLPremiumFormWithAttachments : public CPLFormWithAttachments {
 public:
  // CPLForm is a virtual base: the most derived class builds it.
  explicit CPLPremiumFormWithAttachments(CHXFormContext* pFormContext, int bBuildVirtualBases = 1);
  ~CPLPremiumFormWithAttachments() override;

  // 13 for a "_level" other than 1, 2 or 3 and for a normal attachment
  // without "_attid"; else the code of the first failed edit. The flag says
  // whether Open or Save is offered for the attachment.
  DWORD ProcessAttachmentSPANelement(const CDOMElement& span, bool& bIsDirectAccessEnabledForThisAttachment) override;
  // The "_attid" value (character references decoded); false without one.
  bool GetAttachmentID(const CDOMElement& span, std::string& sAttachmentID) override;
  // Appends the binocular link that calls the product's viewer with the
  // page's item identifier, the attachment ID, the default visualisation and
  // the file name.
  void GetViewAttachmentLinkHTML(std::string& sHTML, const std::string& sAttachmentID,
                                 const std::string& sFileName) override;

  // True only on the read item form: there the right button opens OWA's
  // single-click menu of a normal attachment, elsewhere its double-click one.
  virtual bool IsReadForm() = 0;

 protected:
  DWORD ModifyEmbeddedAttachmentSPANElement(const CDOMElement& span, DWORD dwLevel);
  DWORD ModifyNormalAttachmentSPANElement(const CDOMElement& span, const std::string& sFileName,
                                          const ci_string& csExtension, const std::string& sAttachmentID, bool bBlocked,
                                          DWORD dwLevel, bool& bIsDirectAccessEnabledForThisAttachment);
  // Records the file name, embedded flag, menu flags and, when Open or Save
  // is offered, the attachment-ID hash as attributes of the SPAN start tag.
  // Nothing is recorded when the menu flags cannot be settled.
  DWORD AddPLContextMenuAttributesToAttachmentSPANElement(const CDOMElement& span, const std::string& sFileName,
                                                          const ci_string& csExtension,
                                                          const std::string& sAttachmentID, bool bEmbedded,
                                                          bool bBlocked, DWORD dwLevel,
                                                          bool& bIsDirectAccessEnabledForThisAttachment);

 private:
  DWORD ProcessAttachmentSPANelementSteps(const CDOMElement& span, bool& bIsDirectAccessEnabledForThisAttachment);
  DWORD HandOverRightButton(const CDOMElement& span, const char* pMouseDown, const char* pLogPrefix);
  std::string BlockedAttachmentLinkHTML() const;
};
