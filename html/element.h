// An element: a start tag together with the tag that closes it, seen as one
// segment. Elements are made lazily, when the element of a start tag is first
// asked for; the element tree is built on demand from the top down.
#pragma once

#include <vector>

#include "common/ci_string.h"
#include "html/segment.h"

class CElement : public CSegment {
 public:
  static CElement* CREATE_NEW_INST(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag);
  // An element without an end tag of its own that ends at nEnd.
  static CElement* CREATE_NEW_INST(CSource* pSource, CStartTag* pStartTag, HXPos nEnd);
  static bool checkConstructorArgs(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag);

  CElement(CSource* pSource, CStartTag* pStartTag, CEndTag* pEndTag);
  CElement(CSource* pSource, CStartTag* pStartTag, HXPos nEnd);
  ~CElement() override;

  const std::vector<CElement*>& getChildElements() override;
  std::vector<CElement*>** childListSlot() override { return &m_pChildElements; }

  const ci_string& getName() const;
  CAttributes* getAttributes() const;
  HXPos getContentBegin() const;
  HXPos getContentEnd() const;
  CStartTag* getStartTag() const { return m_pStartTag; }
  CEndTag* getEndTag() const { return m_pEndTag; }
  CElement* getParentElement() const { return m_pParent; }
  bool isParentKnown() const { return m_bParentKnown; }
  void setParentElement(CElement* pParent);
  void markTopLevel() {
    m_pParent = nullptr;
    m_bParentKnown = true;
  }
  // The next start tag of the element's name (null: none) that the nested
  // matching which closed the element went on with, when such a matching
  // closed it. It can lie past the end tag: a start tag of the name inside
  // the element may hold that end tag in an attribute value, and the
  // matching goes on after that start tag, not after the end tag. A later
  // matching that passes the element as a whole goes on from it too.
  void setNextStartTagOfName(CStartTag* pNext) {
    m_pNextStartTagOfName = pNext;
    m_bNextStartTagOfNameKnown = true;
  }
  bool isNextStartTagOfNameKnown() const { return m_bNextStartTagOfNameKnown; }
  CStartTag* getNextStartTagOfName() const { return m_pNextStartTagOfName; }

  CElement* getFirstChildOrNestedChildElementById(const ci_string& csValue);
  CStartTag* getFirstChildOrNestedStartTagById(const ci_string& csValue);
  CElement* findFirstChildOrNestedChildElementByName(const ci_string& csName);
  CStartTag* findFirstChildOrNestedStartTagByName(const ci_string& csName);
  CElement* findFirstChildOrNestedChildElementByNameAttribute(const ci_string& csValue);
  CStartTag* findFirstChildOrNestedStartTagByNameAttribute(const ci_string& csValue);
  void findAllChildOrNestedChildElementsByName(const ci_string& csName, std::vector<CElement*>& vecElements);
  void findAllChildOrNestedStartTagsByName(const ci_string& csName, std::vector<CStartTag*>& vecStartTags);

 private:
  // Shared frame of the single-result searches below the element.
  CStartTag* findFirstStartTag(const ci_string* pAttributeName, const ci_string& csValue, HXPos nFrom);
  // The element of the first matching start tag; a start tag without an
  // element is passed over.
  CElement* findFirstElement(const ci_string* pAttributeName, const ci_string& csValue, const char* pOperation);
  CElement* elementOf(CStartTag* pStartTag, const char* pOperation);

  CStartTag* m_pStartTag;
  CEndTag* m_pEndTag;
  CElement* m_pParent = nullptr;
  bool m_bParentKnown = false;
  bool m_bNextStartTagOfNameKnown = false;
  CStartTag* m_pNextStartTagOfName = nullptr;
  // In the source's arena; null until computed.
  std::vector<CElement*>* m_pChildElements = nullptr;
};
