// The document of one response page: the parser's source over the host's
// response buffer, the page's HTML, HEAD and BODY elements, and the queries
// and edits that concern the whole page.
#pragma once

#include <string>

#include "common/ci_string.h"
#include "html/dom_values.h"

class CCommonPointers;

class CDOMSource {
 public:
  // Never throws a DOM exception; failures are logged and leave the document
  // (or the affected element) undefined.
  explicit CDOMSource(const CCommonPointers* pRecord);
  virtual ~CDOMSource() = default;

  bool isUndefined() const { return !m_spSource; }
  const CSourcePtr& getSourcePtr() const { return m_spSource; }

  const CDOMElement& getHtml();
  const CDOMElement& getHead();
  const CDOMElement& getBody();
  HXPos getBeginPos() const;
  CDOMElement getElementById(const std::string& id) const;
  CDOMElement getEnclosingElement(HXPos nPos) const;
  HXPos scanForString(const std::string& s, HXPos nPos, HXPos nLength) const;
  void substringData(HXPos nPos, HXPos nLength, std::string& out) const;
  void substringData(HXPos nPos, HXPos nLength, ci_string& out) const;
  void getPlainText(HXPos nBegin, HXPos nEnd, std::string& out) const;

  DWORD insertData(HXPos nPos, const std::string& text, CBufferInstructionList* pList) const;
  DWORD deleteData(HXPos nPos, HXPos nLength, CBufferInstructionList* pList) const;

 private:
  void check(const char* pOperation) const;
  void initHtml(HXPos nStartTagPos);
  void initBodyOrHead(HXPos nStartPos, HXPos nEndPos, bool bBody);
  // The start tag of the normal type that begins at nPos, or null.
  CStartTag* normalStartTagAt(HXPos nPos) const;
  // The html element of a start tag: closed by the page's last html end tag,
  // else by an empty one made at the source's end.
  CElement* htmlElementFrom(CStartTag* pStartTag, bool bFromGetter) const;

  CSourcePtr m_spSource;
  bool m_bHtmlInit = false;
  CDOMElement m_htmlElement;
  bool m_bHeadInit = false;
  CDOMElement m_headElement;
  bool m_bBodyInit = false;
  CDOMElement m_bodyElement;
};
