// The base of every item form whose page lists attachments as SPAN elements.
// It walks the attachment SPANs of a container, removes OWA's WebReady links
// when the product says so, hands each attachment SPAN to the client's
// rewriting, and rewrites attachments without an attachment ID (blocked by
// OWA, embedded messages) with an underline and a blocked-attachment link.
#pragma once

#include <string>

#include "forms/pl_form_with_files.h"
#include "platform/win_types.h"

class CDOMAttribute;
class CDOMElement;
class CDOMSource;

class CPLFormWithAttachments : public CPLFormWithFiles {
 public:
  // CPLForm is a virtual base: the most derived class names
  // CPLForm(pFormContext) in its own initializer list.
  explicit CPLFormWithAttachments(CHXFormContext* pFormContext, int bBuildVirtualBases = 1);
  ~CPLFormWithAttachments() override;

  // The client's rewriting of one attachment SPAN ("spnAtmt"); the flag says
  // whether direct access is offered for it. 0 on success.
  virtual DWORD ProcessAttachmentSPANelement(const CDOMElement& span, bool& bDirectAttachmentAccessEnabled) = 0;
  // Underline plus the blocked-attachment link (or the client's view link for
  // an allowed WebReady-only attachment). The insertion's code.
  virtual DWORD ModifyOWABlockedAttachmentWithoutAttIDSPANElement(const CDOMElement& span);
  // True when the SPAN carries an attachment ID.
  virtual bool GetAttachmentID(const CDOMElement& span, std::string& sAttachmentID) = 0;
  // Appends the client's view link of an attachment to sHTML.
  virtual void GetViewAttachmentLinkHTML(std::string& sHTML, const std::string& sAttachmentID,
                                         const std::string& sFileName) = 0;

  // Every SPAN below the container in page order: WebReady SPANs go when
  // WebReady is off, "spnAtmt" SPANs go to ProcessAttachmentSPANelement.
  // Stops at the first failing SPAN with its code; bEnabled is the OR of the
  // SPANs' flags.
  DWORD ProcessAttachments(const CDOMElement& container, bool& bEnabled);
  // 1, 2 or 3 from the "_level" attribute; 13 when it is missing, empty, not
  // a number, or another number.
  DWORD GetOWAAttachmentLevel(const CDOMAttribute& level, DWORD& dwLevel);
  // The plain text of the element (its WebReady part left out), cut at the
  // first "&#x200E;" and trimmed. Always 0.
  DWORD GetAttachmentFilename(CDOMSource& source, const CDOMElement& element, std::string& sFileName);
  // Appends the blocked link: the embedded-message or blocked-extension title
  // and the product's binocular image.
  void GetBlockedAttachmentLinkHTML(std::string& sHTML, bool bEmbedded);

 protected:
  std::string m_sLevelAttributeName = "_level";
};
