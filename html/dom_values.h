// The value types through which page forms see a parsed page: an element, a
// start tag, an attribute, and lists of them. Each wrapper holds a counted
// reference to the page's source, so the whole parsed page stays alive while
// a form holds one. A wrapper without a parser object is undefined; every
// operation on it throws CDOMParserUndefinedObjectException.
#pragma once

#include <string>
#include <vector>

#include "common/ci_string.h"
#include "common/counted_ptr.h"
#include "html/dom_exceptions.h"
#include "html/parser_types.h"
#include "platform/win_types.h"

class CBufferInstructionList;

// The last reference deletes the source, and with it every parser object of
// the page; defined where CSource is complete.
struct CSourceRelease {
  static void Release(CSource* pSource);
};
using CSourcePtr = CCountedPtr<CSource, CSourceRelease>;

class CDOMAttribute;
class CDOMStartTag;
class CDOMElementVector;
class CDOMStartTagVector;

class CDOMElement {
 public:
  CDOMElement() = default;
  CDOMElement(const CSourcePtr& spSource, CElement* pElement, int64_t nElementInd = -1)
      : m_spSource(spSource), m_pElement(pElement), m_nElementInd(nElementInd) {}
  CDOMElement(const CDOMElement& other) = default;
  CDOMElement& operator=(const CDOMElement& other);
  virtual ~CDOMElement() = default;

  bool isUndefined() const { return m_pElement == nullptr; }
  CElement* getParserElement() const { return m_pElement; }

  HXPos getBeginPos() const;
  HXPos getEndPos() const;
  HXPos getContentBeginPos() const;
  HXPos getContentEndPos() const;
  const ci_string& tagName() const;
  CDOMStartTag getStartTag() const;
  CDOMAttribute getAttribute(const std::string& name) const;
  CDOMElement getElementById(const std::string& id) const;
  CDOMStartTag getStartTagById(const std::string& id) const;
  CDOMElement getFirstElementByTagName(const std::string& name) const;
  CDOMStartTag getFirstStartTagByTagName(const std::string& name) const;
  CDOMElement getFirstElementByName(const std::string& value) const;
  CDOMStartTag getFirstStartTagByName(const std::string& value) const;
  CDOMElementVector getElementsByTagName(const std::string& name) const;
  CDOMStartTagVector getStartTagsByTagName(const std::string& name) const;
  CDOMElement parentNode() const;
  // Changes this wrapper: it remembers its index among its siblings.
  CDOMElement nextSibling();
  int64_t getElementInd(const std::vector<CElement*>& siblings) const;
  HXPos scanForString(const std::string& s) const;
  HXPos scanContentForString(const std::string& s) const;

  // Edits, recorded as buffer instructions.
  DWORD appendContentData(const std::string& html, CBufferInstructionList* pList) const;
  DWORD remove(CBufferInstructionList* pList) const;
  DWORD setAttribute(const std::string& name, const std::string& value, CBufferInstructionList* pList) const;
  DWORD removeAttribute(const std::string& name, CBufferInstructionList* pList) const;

 private:
  void check(const char* pOperation) const;

  CSourcePtr m_spSource;
  CElement* m_pElement = nullptr;
  int64_t m_nElementInd = -1;
};

class CDOMStartTag {
 public:
  CDOMStartTag() = default;
  CDOMStartTag(const CSourcePtr& spSource, CStartTag* pStartTag) : m_spSource(spSource), m_pStartTag(pStartTag) {}
  virtual ~CDOMStartTag() = default;

  bool isUndefined() const { return m_pStartTag == nullptr; }
  CStartTag* getParserStartTag() const { return m_pStartTag; }

  HXPos getBeginPos() const;
  HXPos getEndPos() const;
  HXPos getLength() const;
  void getHTML(std::string& out) const;
  CDOMAttribute getAttribute(const std::string& name) const;

  DWORD insertDataAfter(const std::string& html, CBufferInstructionList* pList) const;
  DWORD insertDataBefore(const std::string& html, CBufferInstructionList* pList) const;
  DWORD setAttribute(const std::string& name, const std::string& value, CBufferInstructionList* pList) const;

 private:
  void check(const char* pOperation) const;

  CSourcePtr m_spSource;
  CStartTag* m_pStartTag = nullptr;
};

class CDOMAttribute {
 public:
  CDOMAttribute() = default;
  CDOMAttribute(const CSourcePtr& spSource, CAttribute* pAttribute) : m_spSource(spSource), m_pAttribute(pAttribute) {}
  virtual ~CDOMAttribute() = default;

  bool isUndefined() const { return m_pAttribute == nullptr; }

  bool hasValue() const;
  std::string getValue() const;
  void getValue(ci_string& out) const;
  HXPos getValueBeginPos() const;
  HXPos getValueEndPos() const;

  DWORD insertValueData(HXPos nOffset, const std::string& text, CBufferInstructionList* pList) const;

 private:
  void check(const char* pOperation) const;

  CSourcePtr m_spSource;
  CAttribute* m_pAttribute = nullptr;
};

class CDOMElementVector {
 public:
  CDOMElementVector() = default;
  CDOMElementVector(const CSourcePtr& spSource, std::vector<CElement*>* pOwnedElements)
      : m_spSource(spSource), m_spElements(pOwnedElements) {}
  virtual ~CDOMElementVector() = default;

  size_t length() const;
  CDOMElement item(size_t nIndex) const;

 private:
  const std::vector<CElement*>* list() const {
    return m_pChildElements != nullptr ? m_pChildElements : m_spElements.get();
  }

  CSourcePtr m_spSource;
  const std::vector<CElement*>* m_pChildElements = nullptr;
  CCountedPtr<std::vector<CElement*>> m_spElements;
  bool m_bChildList = false;
};

class CDOMStartTagVector {
 public:
  CDOMStartTagVector() = default;
  CDOMStartTagVector(const CSourcePtr& spSource, std::vector<CStartTag*>* pStartTags)
      : m_spSource(spSource), m_spStartTags(pStartTags) {}
  virtual ~CDOMStartTagVector() = default;

  size_t length() const { return m_spStartTags ? m_spStartTags->size() : 0; }
  CDOMStartTag item(size_t nIndex) const;

 private:
  CSourcePtr m_spSource;
  CCountedPtr<std::vector<CStartTag*>> m_spStartTags;
};

// The range scan of the page: the first case-insensitive match of s that
// starts at or after nPos and ends before nTo (-1: the source's end).
HXPos DomScanRange(const CSource* pSource, const std::string& s, HXPos nPos, HXPos nTo);
