// The register of tag types: a trie over the start delimiters. At a page
// position the prospective iterator walks the page's bytes down the trie and
// yields the candidate tag types, longest delimiter first.
#pragma once

#include <array>
#include <cstddef>
#include <list>
#include <vector>

#include "html/parser_types.h"

class CTagTypeRegister {
 public:
  CTagTypeRegister(CTagTypeRegister* pParent, signed char c);
  CTagTypeRegister(const CTagTypeRegister&) = delete;
  CTagTypeRegister& operator=(const CTagTypeRegister&) = delete;
  virtual ~CTagTypeRegister();

  CTagTypeRegister* getChild(signed char c) const { return m_apChildByByte[static_cast<unsigned char>(c)]; }
  void insertChild(CTagTypeRegister* pNode);
  void addTagType(CTagType* pTagType);
  // Refills the candidate lists of this node and every node below it.
  void buildCandidates();

  CTagTypeRegister* m_pParent;
  std::vector<CTagTypeRegister*> m_vecChildren;
  std::list<CTagType*> m_lstTagTypes;
  // What the prospective iterator yields from this node: its own types, then
  // those of each ancestor, longest delimiter first. Every '<' of a page
  // asks for them, so they are laid out once instead of walked per tag.
  std::vector<CTagType*> m_vecCandidates;
  signed char m_c;

 private:
  // The children by byte: one load per byte of a delimiter.
  std::array<CTagTypeRegister*, 256> m_apChildByByte{};
};

class CTagTypeRegisterSingletonData {
 public:
  CTagTypeRegisterSingletonData();
  virtual ~CTagTypeRegisterSingletonData();
  static CTagTypeRegisterSingletonData* getInstance();
  void add(CTagType* pTagType);
  // The candidate tag types for a tag at nPos, longest delimiter first;
  // null when there are none.
  const std::vector<CTagType*>* candidatesAt(const CSource* pSource, HXPos nPos) const;

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
  bool hasNext() const { return m_pCandidates != nullptr && m_nNext < m_pCandidates->size(); }
  CTagType* getNextTagType();

 private:
  const std::vector<CTagType*>* m_pCandidates = nullptr;
  size_t m_nNext = 0;
};
