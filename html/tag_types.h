// The kinds of markup tag the parser knows, each described by its delimiters
// and able to recognise and build a tag of its kind at a page position. There
// are nine start tag types and two end tag types; each exists once per
// process, is built on first use and never changes afterwards, so every
// request thread reads them without locking.
#pragma once

#include <cstdint>
#include <string>

#include "common/ci_string.h"
#include "html/parser_types.h"

class CTagType {
 public:
  CTagType(const char* pDescription, const char* pStartDelimiter, const char* pClosingDelimiter, bool bServerTag,
           const char* pNamePrefix);
  CTagType(const CTagType&) = delete;
  CTagType& operator=(const CTagType&) = delete;
  // Virtual: the holders destroy every type through this base.
  virtual ~CTagType();

  // The tag of this type that begins at nPos, or null. Never throws.
  virtual CTag* constructTagAt(CSource* pSource, HXPos nPos) = 0;

  // Whether a tag of this type may begin at nPos (not inside a comment or
  // CDATA section, nor inside an earlier tag while a full parse runs).
  bool isValidPosition(CSource* pSource, HXPos nPos) const;
  // The tag that begins at nPos, trying the register's candidates in order.
  static CTag* getTagAt(CSource* pSource, HXPos nPos, bool bAssumeNoNestedTags);

  const std::string& getDescription() const { return m_sDescription; }
  const ci_string& getStartDelimiter() const { return m_csStartDelimiter; }
  const ci_string& getClosingDelimiter() const { return m_csClosingDelimiter; }
  bool isServerTag() const { return m_bServerTag; }
  // Whether this is one of the two unregistered types (the fallbacks).
  bool isUnregisteredType() const { return m_bUnregisteredType; }
  const ci_string& getDelimiterNamePart() const { return m_csDelimiterNamePart; }
  const ci_string& getNamePrefix() const { return m_csNamePrefix; }

 protected:
  std::string m_sDescription;
  ci_string m_csStartDelimiter;
  ci_string m_csClosingDelimiter;
  bool m_bServerTag;
  ci_string m_csDelimiterNamePart;
  ci_string m_csNamePrefix;
  bool m_bUnregisteredType = false;
};

class CStartTagType : public CTagType {
 public:
  CStartTagType(const char* pDescription, const char* pStartDelimiter, const char* pClosingDelimiter,
                CEndTagType* pCorrespondingEndTagType, bool bServerTag, bool bHasAttributes,
                bool bNameAfterPrefixRequired);

  // Whether the tag's closing sits at nPos.
  virtual bool atEndOfAttributes(CSource* pSource, HXPos nPos, bool bClosingSlashIgnored) const;

  CStartTag* constructStartTag(CSource* pSource, HXPos nBegin, HXPos nEnd, const ci_string& csName,
                               int64_t nElementIndex, CAttributes* pAttributes);

  CEndTagType* getCorrespondingEndTagType() const { return m_pCorrespondingEndTagType; }
  bool hasAttributes() const { return m_bHasAttributes; }
  bool isNameAfterPrefixRequired() const { return m_bNameAfterPrefixRequired; }

 protected:
  CEndTagType* m_pCorrespondingEndTagType;
  bool m_bHasAttributes;
  bool m_bNameAfterPrefixRequired;
};

class CStartTagTypeGenericImplementation : public CStartTagType {
 public:
  using CStartTagType::CStartTagType;
  CTag* constructTagAt(CSource* pSource, HXPos nPos) override;
  // The position just after the closing delimiter found from nPos on, or -1.
  virtual HXPos findEnd(CSource* pSource, HXPos nPos) const;

 protected:
  // Sets the delimiter-ends-in-non-letter flag once the base parts exist.
  void initDelimiterFlag();
  bool m_bDelimiterEndsInNonLetter = true;
};

class CStartTagTypeNormal : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeNormal();
  bool atEndOfAttributes(CSource* pSource, HXPos nPos, bool bClosingSlashIgnored) const override;
};

class CStartTagTypeComment : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeComment();
};

class CStartTagTypeXMLDeclaration : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeXMLDeclaration();
};

class CStartTagTypeXMLProcessingInstruction : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeXMLProcessingInstruction();
};

class CStartTagTypeDoctypeDeclaration : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeDoctypeDeclaration();
  HXPos findEnd(CSource* pSource, HXPos nPos) const override;
};

class CStartTagTypeMarkupDeclaration : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeMarkupDeclaration();
  CTag* constructTagAt(CSource* pSource, HXPos nPos) override;
  HXPos findEnd(CSource* pSource, HXPos nPos) const override;
};

class CStartTagTypeCDATASection : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeCDATASection();
};

class CStartTagTypeServerCommon : public CStartTagTypeGenericImplementation {
 public:
  CStartTagTypeServerCommon();
};

class CStartTagTypeUnregistered : public CStartTagType {
 public:
  CStartTagTypeUnregistered();
  CTag* constructTagAt(CSource* pSource, HXPos nPos) override;
};

class CEndTagType : public CTagType {
 public:
  CEndTagType(const char* pDescription, const char* pStartDelimiter, const char* pClosingDelimiter, bool bServerTag);
  ~CEndTagType() override;
  virtual CStartTagType* getCorrespondingStartTagType() const { return nullptr; }
  CEndTag* constructEndTag(CSource* pSource, HXPos nBegin, HXPos nEnd, const ci_string& csName,
                           int64_t nElementIndex = INT64_MIN);
};

class CEndTagTypeUnregistered : public CEndTagType {
 public:
  CEndTagTypeUnregistered();
  CTag* constructTagAt(CSource* pSource, HXPos nPos) override;
};

class CEndTagTypeGenericImplementation : public CEndTagType {
 public:
  CEndTagTypeGenericImplementation(const char* pDescription, const char* pStartDelimiter,
                                   const char* pClosingDelimiter, bool bServerTag, bool bStatic);
  ~CEndTagTypeGenericImplementation() override;
  CTag* constructTagAt(CSource* pSource, HXPos nPos) override;

 protected:
  bool m_bStatic;
  ci_string m_csStaticText;
};

class CEndTagTypeNormal : public CEndTagTypeGenericImplementation {
 public:
  CEndTagTypeNormal();
  CStartTagType* getCorrespondingStartTagType() const override;
};

// The nine start tag types; reached only through getInstance.
class CStartTagTypeSingletonData {
 public:
  CStartTagTypeSingletonData();
  virtual ~CStartTagTypeSingletonData();
  static CStartTagTypeSingletonData* getInstance();

  CStartTagType* m_pUnregistered = nullptr;
  CStartTagType* m_pNormal = nullptr;
  CStartTagType* m_pComment = nullptr;
  CStartTagType* m_pXMLDeclaration = nullptr;
  CStartTagType* m_pXMLProcessingInstruction = nullptr;
  CStartTagType* m_pDoctypeDeclaration = nullptr;
  CStartTagType* m_pMarkupDeclaration = nullptr;
  CStartTagType* m_pCDATASection = nullptr;
  CStartTagType* m_pServerCommon = nullptr;
};

// The two end tag types; reached only through getInstance.
class CEndTagTypeSingletonData {
 public:
  CEndTagTypeSingletonData();
  virtual ~CEndTagTypeSingletonData();
  static CEndTagTypeSingletonData* getInstance();

  CEndTagType* m_pUnregistered = nullptr;
  CEndTagType* m_pNormal = nullptr;
};

// The previous or next normal end tag of a name from nPos, or null.
CEndTag* findPreviousNormalEndTag(CSource* pSource, HXPos nPos, const ci_string& csName);
CEndTag* findNextNormalEndTag(CSource* pSource, HXPos nPos, const ci_string& csName);
