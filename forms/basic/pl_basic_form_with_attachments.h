// The base of the Basic-client forms whose pages list attachments. Each
// attachment SPAN of OWA's Light pages gets an anchor whose mouse events open
// the product's context menu, preceded by a binocular view link (or a
// blocked-extension link); the page gets the menu element, its start-up call
// and the block of script variables the product's scripts read.
#pragma once

#include <string>

#include "forms/pl_form_with_attachments.h"
#include "platform/win_types.h"

class CBufferInstructionList;
class CDOMElement;
class CDOMStartTag;

// The span has neither an attachment link nor a WebReady link, and OWA did
// not block it: it is handled as an attachment without ID.
constexpr DWORD HX_RC_NO_ATTACHMENT_LINK = 0x8008FEFE;

// What OWA's markup says about one attachment SPAN.
struct BasicAttachmentInfo {
  DWORD dwLevel = 0;
  std::string sAttachmentID;
  bool bEmbeddedItem = false;
  bool bBlockedWithoutID = false;
};

class CPLBasicFormWithAttachments : public CPLFormWithAttachments {
 public:
  // CPLForm is a virtual base: the most derived class names
  // CPLForm(pFormContext). Invalid unless the page has HTML, BODY and HEAD.
  CPLBasicFormWithAttachments(CHXFormContext* pFormContext, int bBuildVirtualBases);
  ~CPLBasicFormWithAttachments() override;

  DWORD ProcessAttachmentSPANelement(const CDOMElement& span, bool& bDirectAttachmentAccessEnabled) override;
  // The span's "_attid", else the "attid0" of its WebReady link's onclick.
  bool GetAttachmentID(const CDOMElement& span, std::string& sAttachmentID) override;
  void GetViewAttachmentLinkHTML(std::string& sHTML, const std::string& sAttachmentID,
                                 const std::string& sFileName) override;
  // The item-ID and hash lines of the variables block; false when the form
  // cannot write them.
  virtual bool AppendItemIDAndItemIDHashJavaScriptVariable(bool bDirectAccess, std::string& sScript) = 0;

  // Level, ID and kind of one attachment SPAN. 13 for invalid markup,
  // HX_RC_NO_ATTACHMENT_LINK for a span without links that OWA did not block.
  DWORD GetAttachmentInfo(const CDOMElement& span, BasicAttachmentInfo& info);
  // An embedded item at level 3 gets a binocular link that repeats OWA's own
  // link; other levels stay as they are.
  DWORD ModifyEmbeddedAttachmentSPANElement(const CDOMElement& span, DWORD dwLevel);
  DWORD ModifyNormalAttachmentSPANelement(const CDOMElement& span, const std::string& sAttachmentID,
                                          const std::string& sFileName, bool bBlocked, bool bDirectAccess,
                                          const PLContextMenuFlags& flags);

  // The ID readers clear the ID first; 0 with the ID, else 13.
  // The "attid<attcnt-1>" parameter of an attachment URL.
  DWORD GetLastAttachmentIDFromURL(const std::string& sURL, std::string& sAttachmentID);
  // The same of the URL inside "opnWin('...')".
  DWORD GetLastAttachmentIDFromWebReadyLinkOnClickAttr(const std::string& sOnClick, std::string& sAttachmentID);
  // The URL-decoded second argument of "return onClkEmbItem('...','...')".
  DWORD GetAttachmentIDFromEmbeddedItemOnClickAttr(const std::string& sOnClick, std::string& sAttachmentID);

  // The item ID from the value of the first "hidid" start tag below BODY,
  // and its hash. 13 without the tag or its value, or for an empty ID when
  // bEmptyIDAllowed is clear.
  DWORD InitItemIDFromHiddenInputTag_CalculateItemIDHash(bool bEmptyIDAllowed);

  // The menu element at the end of BODY and its start-up call after BODY.
  DWORD InsertContextMenu();
  // The variables block right after HEAD's start tag; 7 when it cannot be
  // built (nothing is inserted then).
  DWORD InsertContextMenuJavaScriptVariables(bool bDirectAccess);

 protected:
  CBufferInstructionList* Instructions() const;
  bool IsMacClient() const;
  // "Pellora/1.9" path of a product image.
  static std::string ImagePath(const char* pFileName);
  // A product script linked at the end of HEAD through the request's
  // cached-script prefix.
  DWORD InsertProductScriptLink(const char* pFileName);
  // "ql_plBasicMac.js" for Mac clients, else "ql_plBasic.js".
  const char* BasicScriptFileName() const;

  std::string m_sItemID;
  // The item ID as the page's characters (CPLForm::UrlValueInPage for one
  // from the request, as read for one from the page).
  std::string m_sItemIDInPage;
  std::string m_sItemIDHash;

 private:
  // The start tag of the anchor whose mouse events open the product's menu
  // for this attachment (file name, ID, its hash when direct access is
  // offered, the eight menu flags).
  std::string ContextMenuAnchor(const std::string& sAttachmentID, const std::string& sFileName, bool bDirectAccess,
                                const PLContextMenuFlags& flags) const;
  // OWA's anchor start tag gives way to sHTML (the new anchor, with the
  // binocular link before it when they meet); OWA's end tag stays.
  DWORD ReplaceAttachmentAnchor(const CDOMStartTag& link, const std::string& sHTML);
  // Without OWA's anchor the new one opens after the attachment's image.
  DWORD InsertAnchorAfterImage(const CDOMStartTag& image, const std::string& sAnchor);
  DWORD AppendPagePathVariables(std::string& sScript);
  void AppendRequestVariables(std::string& sScript);
};
