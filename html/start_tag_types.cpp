#include <algorithm>
#include <new>

#include "common/debug_log.h"
#include "common/static_memory.h"
#include "html/attributes.h"
#include "html/case_insensitive_search.h"
#include "html/html_elements.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

namespace {

// Declarations are scanned byte by byte this far; a longer scan is answered
// from the page's declaration index instead, so that a page of openings that
// never close costs one pass, not one per opening.
constexpr HXPos kDeclarationScanBudget = 4096;

}  // namespace

CTagType::CTagType(const char* pDescription, const char* pStartDelimiter, const char* pClosingDelimiter,
                   bool bServerTag, const char* pNamePrefix)
    : m_sDescription(pDescription),
      m_csStartDelimiter(pStartDelimiter),
      m_csClosingDelimiter(pClosingDelimiter),
      m_bServerTag(bServerTag),
      m_csNamePrefix(pNamePrefix) {
  const size_t nPrefix = m_csNamePrefix.length();
  m_csDelimiterNamePart = nPrefix < m_csStartDelimiter.length() ? m_csStartDelimiter.substr(nPrefix) : ci_string();
}

CTagType::~CTagType() = default;

CStartTagType::CStartTagType(const char* pDescription, const char* pStartDelimiter, const char* pClosingDelimiter,
                             CEndTagType* pCorrespondingEndTagType, bool bServerTag, bool bHasAttributes,
                             bool bNameAfterPrefixRequired)
    : CTagType(pDescription, pStartDelimiter, pClosingDelimiter, bServerTag, "<"),
      m_pCorrespondingEndTagType(pCorrespondingEndTagType),
      m_bHasAttributes(bHasAttributes),
      m_bNameAfterPrefixRequired(bNameAfterPrefixRequired) {}

bool CStartTagType::atEndOfAttributes(CSource* pSource, HXPos nPos, bool) const {
  if (pSource == nullptr) {
    DebugLog("[CStartTagType::atEndOfAttributes] pSource is 0. nPos <%d>.", LogPos(nPos));
    return false;
  }
  if (!pSource->contains(nPos)) return false;
  return startsWithNoCase(pSource->getBuffer(), pSource->getEnd(), nPos, m_csClosingDelimiter.c_str());
}

CStartTag* CStartTagType::constructStartTag(CSource* pSource, HXPos nBegin, HXPos nEnd, const ci_string& csName,
                                            int64_t nElementIndex, CAttributes* pAttributes) {
  CStartTag* pTag = CStartTag::CREATE_NEW_INST(pSource, nBegin, nEnd, this, csName, pAttributes, nElementIndex);
  if (pTag == nullptr) {
    DebugLog("[CStartTagType::constructStartTag] CStartTag::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d> "
             "csName <%s> .",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
  }
  return pTag;
}

void CStartTagTypeGenericImplementation::initDelimiterFlag() {
  m_bDelimiterEndsInNonLetter =
      m_csDelimiterNamePart.empty() ||
      !HtmlScan::IsAsciiLetter(static_cast<unsigned char>(m_csDelimiterNamePart.back()));
}

CTag* CStartTagTypeGenericImplementation::constructTagAt(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CStartTagTypeGenericImplementation::constructTagAt] pSource is 0. nPos <%d>", LogPos(nPos));
    return nullptr;
  }
  if (!pSource->contains(nPos)) return nullptr;
  ci_string csName = m_csDelimiterNamePart;
  HXPos p = nPos + m_csStartDelimiter.length();
  int64_t nNameIndex;
  if (m_bNameAfterPrefixRequired) {
    const HXPos nNameEnd = pSource->getNameEnd(p);
    if (nNameEnd == HX_NPOS) return nullptr;
    pSource->substring(nPos + 1, nNameEnd - (nPos + 1), csName);
    nNameIndex = CHTMLElementNameSingletonData::getElementIndexInBuffer(
        pSource->getBuffer() + nPos + 1, nNameEnd - (nPos + 1), pSource->getBuffer() + pSource->getEnd());
    p = nNameEnd;
  } else {
    if (!m_bDelimiterEndsInNonLetter && pSource->contains(p) && HtmlScan::IsNameChar(pSource->byteAt(p))) {
      return nullptr;
    }
    nNameIndex = CHTMLElementNameSingletonData::getElementIndex(csName);
  }
  CAttributes* pAttributes = nullptr;
  HXPos nEnd;
  if (m_bHasAttributes) {
    pAttributes = CAttributes::construct(pSource, "StartTag", 0, nPos, HX_NPOS, HX_NPOS, this, csName, nNameIndex, 2);
    if (pAttributes == nullptr) {
      DebugLog("[CStartTagTypeGenericImplementation::constructTagAt] parseAttributes() returned 0. Attributes are "
               "not properly formed. nPos <%d> csName <%s> nNameInd <%d>.",
               LogPos(nPos), csName.c_str(), static_cast<int>(nNameIndex));
      return nullptr;
    }
    nEnd = findEnd(pSource, pAttributes->getEnd());
  } else {
    nEnd = findEnd(pSource, p);
  }
  if (nEnd == HX_NPOS) {
    DebugLog("[CStartTagTypeGenericImplementation::constructTagAt] StartTag <%s> at <%d> not recognized as type "
             "<%s> because it has no closing delimiter.",
             csName.c_str(), LogPos(nPos), m_sDescription.c_str());
    return nullptr;
  }
  CStartTag* pTag = constructStartTag(pSource, nPos, nEnd, csName, nNameIndex, pAttributes);
  if (pTag == nullptr) {
    DebugLog("[CStartTagTypeGenericImplementation::constructTagAt] constructStartTag failed. nPos <%d> nEnd <%d> "
             "csName <%s>. ",
             LogPos(nPos), LogPos(nEnd), csName.c_str());
  }
  return pTag;
}

HXPos CStartTagTypeGenericImplementation::findEnd(CSource* pSource, HXPos nPos) const {
  if (pSource == nullptr) {
    DebugLog("[CStartTagTypeGenericImplementation::findEnd] pSource is 0. nPos <%d>.", LogPos(nPos));
    return HX_NPOS;
  }
  if (!pSource->contains(nPos)) return HX_NPOS;
  // Most tags close right where their attributes end.
  const size_t nLength = m_csClosingDelimiter.length();
  if (startsWithNoCase(pSource->getBuffer(), pSource->getEnd(), nPos, m_csClosingDelimiter.c_str(), nLength)) {
    return nPos + nLength;
  }
  const HXPos nHit = pSource->findClosingDelimiter(m_csClosingDelimiter.c_str(), nPos);
  return nHit == HX_NPOS ? HX_NPOS : nHit + nLength;
}

CStartTagTypeNormal::CStartTagTypeNormal()
    : CStartTagTypeGenericImplementation("normal", "<", ">", CEndTagTypeSingletonData::getInstance()->m_pNormal,
                                         false, true, true) {
  initDelimiterFlag();
}

bool CStartTagTypeNormal::atEndOfAttributes(CSource* pSource, HXPos nPos, bool bClosingSlashIgnored) const {
  if (pSource == nullptr) {
    DebugLog("[CStartTagTypeNormal::atEndOfAttributes] pSource is 0. nPos <%d>.", LogPos(nPos));
    return false;
  }
  if (!pSource->contains(nPos)) return false;
  const unsigned char c = pSource->byteAt(nPos);
  if (c == '>') return true;
  if (bClosingSlashIgnored) return false;
  return c == '/' && nPos + 2 <= pSource->getEnd() && pSource->byteAt(nPos + 1) == '>';
}

CStartTagTypeComment::CStartTagTypeComment()
    : CStartTagTypeGenericImplementation("comment", "<!--", "-->", nullptr, false, false, false) {
  initDelimiterFlag();
}

CStartTagTypeXMLDeclaration::CStartTagTypeXMLDeclaration()
    : CStartTagTypeGenericImplementation("XML declaration", "<?xml", "?>", nullptr, false, true, false) {
  initDelimiterFlag();
}

CStartTagTypeXMLProcessingInstruction::CStartTagTypeXMLProcessingInstruction()
    : CStartTagTypeGenericImplementation("XML processing instruction", "<?", "?>", nullptr, false, false, true) {
  initDelimiterFlag();
}

CStartTagTypeDoctypeDeclaration::CStartTagTypeDoctypeDeclaration()
    : CStartTagTypeGenericImplementation("document type declaration", "<!doctype", ">", nullptr, false, false,
                                         false) {
  initDelimiterFlag();
}

HXPos CStartTagTypeDoctypeDeclaration::findEnd(CSource* pSource, HXPos nPos) const {
  if (pSource == nullptr) {
    DebugLog("[CStartTagTypeDoctypeDeclaration::findEnd] pSource is 0. nPos <%d>.", LogPos(nPos));
    return HX_NPOS;
  }
  if (!pSource->contains(nPos)) return HX_NPOS;
  // No '>' at all from here on: the scan below cannot end.
  if (pSource->findClosingDelimiter(">", nPos) == HX_NPOS) return HX_NPOS;
  bool bInQuotes = false;
  bool bInBrackets = false;
  const HXPos nStop = std::min(pSource->getEnd(), nPos + kDeclarationScanBudget);
  for (HXPos p = nPos; p < nStop; ++p) {
    const unsigned char c = pSource->byteAt(p);
    if (bInQuotes) {
      if (c == '"') bInQuotes = false;
      continue;
    }
    if (c == '"') {
      bInQuotes = true;
    } else if (c == '>') {
      if (!bInBrackets) return p + 1;
    } else if (c == '[') {
      bInBrackets = true;
    } else if (c == ']') {
      bInBrackets = false;
    }
  }
  if (nStop == pSource->getEnd()) return HX_NPOS;
  return pSource->declarationScan().doctypeEnd(nPos);
}

CStartTagTypeMarkupDeclaration::CStartTagTypeMarkupDeclaration()
    : CStartTagTypeGenericImplementation("markup declaration", "<!", ">", nullptr, false, false, true) {
  initDelimiterFlag();
}

CTag* CStartTagTypeMarkupDeclaration::constructTagAt(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CStartTagTypeMarkupDeclaration::constructTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  CTag* pTag = CStartTagTypeGenericImplementation::constructTagAt(pSource, nPos);
  if (pTag == nullptr) return nullptr;
  const char* pName = pTag->getName().c_str();
  if (equalsNoCase(pName, "!element") || equalsNoCase(pName, "!attlist") || equalsNoCase(pName, "!entity") ||
      equalsNoCase(pName, "!notation")) {
    return pTag;
  }
  // The refused tag stays registered with the source, which deletes it.
  return nullptr;
}

HXPos CStartTagTypeMarkupDeclaration::findEnd(CSource* pSource, HXPos nPos) const {
  if (pSource == nullptr) {
    DebugLog("[CStartTagTypeMarkupDeclaration::findEnd] pSource is 0. nPos <%d>.", LogPos(nPos));
    return HX_NPOS;
  }
  if (!pSource->contains(nPos)) return HX_NPOS;
  if (pSource->findClosingDelimiter(">", nPos) == HX_NPOS) return HX_NPOS;
  bool bInQuotes = false;
  const HXPos nStop = std::min(pSource->getEnd(), nPos + kDeclarationScanBudget);
  for (HXPos p = nPos; p < nStop; ++p) {
    const unsigned char c = pSource->byteAt(p);
    if (c == '"') {
      bInQuotes = !bInQuotes;
    } else if (c == '>' && !bInQuotes) {
      return p + 1;
    }
  }
  if (nStop == pSource->getEnd()) return HX_NPOS;
  return pSource->declarationScan().markupEnd(nPos);
}

CStartTagTypeCDATASection::CStartTagTypeCDATASection()
    : CStartTagTypeGenericImplementation("CDATA section", "<![cdata[", "]]>", nullptr, false, false, false) {
  initDelimiterFlag();
}

CStartTagTypeServerCommon::CStartTagTypeServerCommon()
    : CStartTagTypeGenericImplementation("common server tag", "<%", "%>", nullptr, true, false, false) {
  initDelimiterFlag();
}

CStartTagTypeUnregistered::CStartTagTypeUnregistered()
    : CStartTagType("unregistered", "<", ">", nullptr, false, false, false) {
  m_bUnregisteredType = true;
}

CTag* CStartTagTypeUnregistered::constructTagAt(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CStartTagTypeUnregistered::constructTagAt] pSource is 0. nPos <%d>.", LogPos(nPos));
    return nullptr;
  }
  if (!pSource->contains(nPos)) return nullptr;
  const HXPos nFrom = std::max(nPos + 1, pSource->getBegin());
  if (nFrom >= pSource->getEnd()) return nullptr;
  const HXPos nClose = pSource->findClosingDelimiter(">", nFrom);
  if (nClose == HX_NPOS) return nullptr;
  CStartTag* pTag = constructStartTag(pSource, nPos, nClose + 1, ci_string(), -1, nullptr);
  if (DebugLogEnabled()) {
    // The text is shown in place, no more of it than a log line holds.
    const int nShown = static_cast<int>(std::min<HXPos>(nClose + 1 - nPos, 2048));
    const char* pText = pSource->getBuffer() + nPos;
    if (pTag != nullptr) {
      DebugLog("[CStartTagTypeUnregistered::constructTagAt] Encountered possible StartTag <%.*s> at <%d> whose "
               "content does not match a registered StartTagType.",
               nShown, pText, LogPos(nPos));
    } else {
      DebugLog("[CStartTagTypeUnregistered::constructTagAt] Encountered possible StartTag <%.*s> at <%d> whose "
               "content does not match a registered StartTagType. CStartTagType::constructStartTag() failed.",
               nShown, pText, LogPos(nPos));
    }
  }
  return pTag;
}

CStartTagTypeSingletonData::CStartTagTypeSingletonData() {
  m_pUnregistered = new (std::nothrow) CStartTagTypeUnregistered();
  m_pNormal = new (std::nothrow) CStartTagTypeNormal();
  m_pComment = new (std::nothrow) CStartTagTypeComment();
  m_pXMLDeclaration = new (std::nothrow) CStartTagTypeXMLDeclaration();
  m_pXMLProcessingInstruction = new (std::nothrow) CStartTagTypeXMLProcessingInstruction();
  m_pDoctypeDeclaration = new (std::nothrow) CStartTagTypeDoctypeDeclaration();
  m_pMarkupDeclaration = new (std::nothrow) CStartTagTypeMarkupDeclaration();
  m_pCDATASection = new (std::nothrow) CStartTagTypeCDATASection();
  m_pServerCommon = new (std::nothrow) CStartTagTypeServerCommon();
}

CStartTagTypeSingletonData::~CStartTagTypeSingletonData() {
  CTagType* apTypes[] = {m_pUnregistered,      m_pNormal,        m_pComment,
                         m_pXMLDeclaration,    m_pXMLProcessingInstruction,
                         m_pDoctypeDeclaration, m_pMarkupDeclaration, m_pCDATASection,
                         m_pServerCommon};
  for (CTagType* pType : apTypes) delete pType;
}

CStartTagTypeSingletonData* CStartTagTypeSingletonData::getInstance() {
  return Mem_Manager::Static_memory<CStartTagTypeSingletonData>::instance();
}
