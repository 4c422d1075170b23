// The register of tag types: a trie over the start delimiters. At a page
// position the prospective iterator walks the page's bytes down the trie and
// yields the candidate tag types, longest delimiter first.
#pragma once

#include <list>
#include <vector>

#include "html/parser_types.h"

class CTagTypeRegister {
 public:
  CTagTypeRegister(CTagTypeRegister* pParent, signed char c);
  CTagTypeRegister(const CTagTypeRegister&) = delete;
  CTagTypeRegister& operator=(const CTagTypeRegister&) = delete;
  virtual ~CTagTypeRegister();

  CTagTypeRegister* getChild(signed char c) const;
  void insertChild(CTagTypeRegister* pNode);
  void addTagType(CTagType* pTagType);

  CTagTypeRegister* m_pParent;
  std::vector<CTagTypeRegister*> m_vecChildren;
  std::list<CTagType*> m_lstTagTypes;
  signed char m_c;
};

class CTagTypeRegisterSingletonData {
 public:
  CTagTypeRegisterSingletonData();
  virtual ~CTagTypeRegisterSingletonData();
  static CTagTypeRegisterSingletonData* getInstance();
  void add(CTagType* pTagType);

  CTagTypeRegister* m_pRoot;
};

// The tag types inside which no other tag may begin: comment, CDATA section.
class CTagTypeSingletonData {
 public:
  CTagTypeSingletonData();
  virtual ~CTagTypeSingletonData();
  static CTagTypeSingletonData* getInstance();
  static const std::vector<CTagType*>& getOpaqueTagTypes();

  std::vector<CTagType*> m_vecOpaqueTagTypes;
};

class CProspectiveTagTypeIterator {
 public:
  CProspectiveTagTypeIterator(CSource* pSource, HXPos nPos);
  virtual ~CProspectiveTagTypeIterator() = default;
  bool hasNext() const { return m_pCursor != nullptr; }
  CTagType* getNextTagType();

 private:
  const CTagTypeRegister* m_pCursor = nullptr;
  std::list<CTagType*>::const_iterator m_itPos;
};
