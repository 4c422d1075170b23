#include <algorithm>
#include <new>

#include "common/debug_log.h"
#include "common/static_memory.h"
#include "html/case_insensitive_search.h"
#include "html/html_elements.h"
#include "html/source.h"
#include "html/tag.h"
#include "html/tag_types.h"

namespace {

// Names up to this length are copied at once; element names are far shorter.
constexpr HXPos kLongestKeptName = 64;
// A debug-log line holds no more than this many characters.
constexpr HXPos kLogLineLength = 2048;

}  // namespace

CEndTagType::CEndTagType(const char* pDescription, const char* pStartDelimiter, const char* pClosingDelimiter,
                         bool bServerTag)
    : CTagType(pDescription, pStartDelimiter, pClosingDelimiter, bServerTag, "</") {}

CEndTagType::~CEndTagType() = default;

CEndTag* CEndTagType::constructEndTag(CSource* pSource, HXPos nBegin, HXPos nEnd, const ci_string& csName,
                                      int64_t nElementIndex) {
  CEndTag* pTag = CEndTag::CREATE_NEW_INST(pSource, nBegin, nEnd, this, csName, nElementIndex);
  if (pTag == nullptr) {
    DebugLog("[CEndTagType::constructEndTag] CEndTag::CREATE_NEW_INST() failed. nBegin <%d> nEnd <%d>, "
             "csName <%s>.",
             LogPos(nBegin), LogPos(nEnd), csName.c_str());
  }
  return pTag;
}

CEndTagTypeUnregistered::CEndTagTypeUnregistered() : CEndTagType("/unregistered", "</", ">", false) {
  m_bUnregisteredType = true;
}

CTag* CEndTagTypeUnregistered::constructTagAt(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CEndTagTypeUnregistered::constructTagAt] pSource is 0. nPos <%d>. ", LogPos(nPos));
    return nullptr;
  }
  if (!pSource->contains(nPos)) return nullptr;
  const HXPos p = nPos + m_csStartDelimiter.length();
  const HXPos nFrom = std::max(p, pSource->getBegin());
  HXPos nClose = HX_NPOS;
  if (nFrom < pSource->getEnd()) {
    nClose = pSource->findClosingDelimiter(m_csClosingDelimiter.c_str(), nFrom);
  }
  if (nClose == HX_NPOS) {
    DebugLog("[CEndTagTypeUnregistered::constructTagAt] EndTag at <%d> not recognized as type <%s> because it has "
             "no closing delimiter.",
             LogPos(nPos), m_sDescription.c_str());
    return nullptr;
  }
  // A name longer than any element name is left in the page until asked for
  // (its element index is -1 either way); the log line shows no more of it
  // than fits the line.
  const HXPos nNameLength = nClose - p;
  const bool bDefer = nNameLength > kLongestKeptName;
  ci_string csName;
  if (!bDefer) csName.assign(pSource->getBuffer() + p, nNameLength);
  CEndTag* pTag = constructEndTag(pSource, nPos, nClose + m_csClosingDelimiter.length(), csName);
  if (pTag != nullptr && bDefer) pTag->deferName();
  const int nShown = static_cast<int>(std::min<HXPos>(nNameLength, kLogLineLength));
  if (pTag != nullptr) {
    DebugLog("[CEndTagTypeUnregistered::constructTagAt] Encountered possible EndTag <%.*s> at <%d> whose content "
             "does not match a registered EndTagType.",
             nShown, pSource->getBuffer() + p, LogPos(nPos));
  } else {
    DebugLog("[CEndTagTypeUnregistered::constructTagAt] Encountered possible EndTag <%.*s> at <%d> whose content "
             "does not match a registered EndTagType. constructEndTag failed.",
             nShown, pSource->getBuffer() + p, LogPos(nPos));
  }
  return pTag;
}

CEndTagTypeGenericImplementation::CEndTagTypeGenericImplementation(const char* pDescription,
                                                                   const char* pStartDelimiter,
                                                                   const char* pClosingDelimiter, bool bServerTag,
                                                                   bool bStatic)
    : CEndTagType(pDescription, pStartDelimiter, pClosingDelimiter, bServerTag), m_bStatic(bStatic) {
  if (m_bStatic) m_csStaticText = m_csStartDelimiter + m_csClosingDelimiter;
}

CEndTagTypeGenericImplementation::~CEndTagTypeGenericImplementation() = default;

CTag* CEndTagTypeGenericImplementation::constructTagAt(CSource* pSource, HXPos nPos) {
  if (pSource == nullptr) {
    DebugLog("[CEndTagTypeGenericImplementation::constructTagAt] pSource is 0. nPos <%d>. ", LogPos(nPos));
    return nullptr;
  }
  if (!pSource->contains(nPos)) return nullptr;
  const HXPos p = nPos + m_csStartDelimiter.length();
  const char* pBuffer = pSource->getBuffer();
  ci_string csName;
  HXPos nEnd;
  int64_t nNameIndex = CTag::kIndexUnknown;
  if (m_bStatic) {
    csName = m_csDelimiterNamePart;
    if (!pSource->contains(p) ||
        !startsWithNoCase(pBuffer, pSource->getEnd(), p, m_csClosingDelimiter.c_str())) {
      DebugLog("[CEndTagTypeGenericImplementation::constructTagAt] EndTag <%s> expected at <%d> not recognized as "
               "type <%s>.",
               m_csStaticText.c_str(), LogPos(nPos), m_sDescription.c_str());
      return nullptr;
    }
    nEnd = p + m_csClosingDelimiter.length();
  } else {
    const HXPos nNameEnd = pSource->getNameEnd(p);
    if (nNameEnd == HX_NPOS) return nullptr;
    csName.assign(pBuffer + p, nNameEnd - p);
    if (!startsWithNoCase(pBuffer, pSource->getEnd(), nNameEnd, m_csClosingDelimiter.c_str(),
                          m_csClosingDelimiter.length())) {
      DebugLog("[CEndTagTypeGenericImplementation::constructTagAt] EndTag <%s> at <%d> not recognized as type <%s> "
               "because its closing delimiter does not follow its name.",
               csName.c_str(), LogPos(nPos), m_sDescription.c_str());
      return nullptr;
    }
    nEnd = nNameEnd + m_csClosingDelimiter.length();
    nNameIndex =
        CHTMLElementNameSingletonData::getElementIndexInBuffer(pBuffer + p, nNameEnd - p, pBuffer + pSource->getEnd());
  }
  CEndTag* pTag = constructEndTag(pSource, nPos, nEnd, csName, nNameIndex);
  if (pTag == nullptr) {
    DebugLog("[CEndTagTypeGenericImplementation::constructTagAt] constructEndTag failed. nPos <%d> nEnd <%d> "
             "csName <%s>.",
             LogPos(nPos), LogPos(nEnd), csName.c_str());
  }
  return pTag;
}

CEndTagTypeNormal::CEndTagTypeNormal() : CEndTagTypeGenericImplementation("/normal", "</", ">", false, false) {}

CStartTagType* CEndTagTypeNormal::getCorrespondingStartTagType() const {
  return CStartTagTypeSingletonData::getInstance()->m_pNormal;
}

CEndTagTypeSingletonData::CEndTagTypeSingletonData() {
  m_pUnregistered = new (std::nothrow) CEndTagTypeUnregistered();
  m_pNormal = new (std::nothrow) CEndTagTypeNormal();
}

CEndTagTypeSingletonData::~CEndTagTypeSingletonData() {
  delete m_pUnregistered;
  delete m_pNormal;
}

CEndTagTypeSingletonData* CEndTagTypeSingletonData::getInstance() {
  return Mem_Manager::Static_memory<CEndTagTypeSingletonData>::instance();
}

CEndTag* findPreviousNormalEndTag(CSource* pSource, HXPos nPos, const ci_string& csName) {
  return CEndTag::findPreviousOrNext(pSource, nPos, csName, CEndTagTypeSingletonData::getInstance()->m_pNormal,
                                     true);
}

CEndTag* findNextNormalEndTag(CSource* pSource, HXPos nPos, const ci_string& csName) {
  return CEndTag::findPreviousOrNext(pSource, nPos, csName, CEndTagTypeSingletonData::getInstance()->m_pNormal,
                                     false);
}
