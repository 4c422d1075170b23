// Edits of the DOM value types: each records an insertion or a deletion at an
// address of the page as received; the page and the parse never change.
#include <cstdint>

#include "common/debug_log.h"
#include "filter/util.h"
#include "html/attributes.h"
#include "html/dom_exceptions.h"
#include "html/dom_values.h"
#include "html/edit_records.h"
#include "html/element.h"
#include "html/source.h"
#include "html/tag.h"

namespace {

// The code for a start tag that has nothing to attach an attribute to.
constexpr DWORD kNoStartTag = 7;

[[noreturn]] void ThrowUndefined(const char* pClass, const char* pOperation, const char* pMember) {
  throw CDOMParserUndefinedObjectException(std::string(pClass) + "::" + pOperation + "() : " + pMember + " is 0");
}

// The address of a page position inside the host's response buffer.
uint64_t AddressOf(const CSource& source, HXPos nPos) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(source.getBuffer() + nPos));
}

// Refuses every edit of a page that ends inside a tag.
void CheckPageNotCut(CSource& source, HXPos nAt, const char* pOperation) {
  const HXPos nCut = source.cutTagBegin();
  if (nCut == HX_NPOS) return;
  DebugLog("[%s] The page ends inside the tag at <%d>; it is not rewritten. Edit at <%d>.", pOperation, LogPos(nCut),
           LogPos(nAt));
  throw CDOMParserIllegalArgumentException(std::string(pOperation) + "() : the page ends inside a tag",
                                           static_cast<int64_t>(nAt));
}

DWORD InsertAt(const CSegment* pSegment, HXPos nPos, const std::string& text, CBufferInstructionList* pList) {
  return RecordInsertion(*pSegment->getSource(), nPos, text, pList);
}

DWORD DeleteSegment(const CSegment* pSegment, CBufferInstructionList* pList) {
  return RecordDeletion(*pSegment->getSource(), pSegment->getBegin(), pSegment->length(), pList);
}

DWORD SetAttributeOn(CStartTag* pStartTag, const std::string& name, const std::string& value,
                     CBufferInstructionList* pList, const char* pEmptyTagLine) {
  CAttributes* pAttributes = pStartTag->getAttributes();
  CAttribute* pAttribute = pAttributes != nullptr ? pAttributes->getAttribute(ToCI(name)) : nullptr;
  if (pAttribute != nullptr) {
    const DWORD dwRet = DeleteSegment(pAttribute, pList);
    if (dwRet != 0) return dwRet;
    return InsertAt(pAttribute, pAttribute->getBegin(), name + "=\"" + value + "\"", pList);
  }
  if (pStartTag->getEnd() == 0) {
    DebugLog("%s", pEmptyTagLine);
    return kNoStartTag;
  }
  // Before the tag's last byte, its '>' (after the '/' of "/>").
  return InsertAt(pStartTag, pStartTag->getEnd() - 1, " " + name + "=\"" + value + "\"", pList);
}

}  // namespace

DWORD RecordInsertion(CSource& source, HXPos nPos, const std::string& text, CBufferInstructionList* pList) {
  CheckPageNotCut(source, nPos, "RecordInsertion");
  return CUtil::InsertHtmlStringAtPosition(AddressOf(source, nPos), text.c_str(), pList);
}

DWORD RecordDeletion(CSource& source, HXPos nPos, HXPos nLength, CBufferInstructionList* pList) {
  CheckPageNotCut(source, nPos, "RecordDeletion");
  return CUtil::DeleteHtmlStringAtPosition(AddressOf(source, nPos), static_cast<DWORD>(nLength), pList);
}

DWORD CDOMStartTag::insertDataAfter(const std::string& html, CBufferInstructionList* pList) const {
  if (m_pStartTag == nullptr) ThrowUndefined("CDOMStartTag", "insertDataAfter", "m_pStartTag");
  return InsertAt(m_pStartTag, m_pStartTag->getEnd(), html, pList);
}

DWORD CDOMStartTag::insertDataBefore(const std::string& html, CBufferInstructionList* pList) const {
  if (m_pStartTag == nullptr) ThrowUndefined("CDOMStartTag", "insertDataBefore", "m_pStartTag");
  return InsertAt(m_pStartTag, m_pStartTag->getBegin(), html, pList);
}

DWORD CDOMStartTag::setAttribute(const std::string& name, const std::string& value,
                                 CBufferInstructionList* pList) const {
  if (m_pStartTag == nullptr) ThrowUndefined("CDOMStartTag", "setAttribute", "m_pStartTag");
  return SetAttributeOn(m_pStartTag, name, value, pList,
                        "[CDOMStartTag::setAttribute] m_pStartTag is an empty segment. m_pStartTag->getEnd() == 0.");
}

DWORD CDOMElement::appendContentData(const std::string& html, CBufferInstructionList* pList) const {
  check("appendContentData");
  return InsertAt(m_pElement, m_pElement->getContentEnd(), html, pList);
}

DWORD CDOMElement::remove(CBufferInstructionList* pList) const {
  check("remove");
  return DeleteSegment(m_pElement, pList);
}

DWORD CDOMElement::setAttribute(const std::string& name, const std::string& value,
                                CBufferInstructionList* pList) const {
  check("setAttribute");
  return SetAttributeOn(m_pElement->getStartTag(), name, value, pList,
                        "[CDOMElement::setAttribute] m_pElement->getStartTag() is an empty segment. "
                        "m_pElement->getStartTag()->getEnd() == 0.");
}

DWORD CDOMElement::removeAttribute(const std::string& name, CBufferInstructionList* pList) const {
  check("removeAttribute");
  CAttributes* pAttributes = m_pElement->getStartTag()->getAttributes();
  CAttribute* pAttribute = pAttributes != nullptr ? pAttributes->getAttribute(ToCI(name)) : nullptr;
  if (pAttribute == nullptr) return 0;
  return DeleteSegment(pAttribute, pList);
}

DWORD CDOMAttribute::insertValueData(HXPos nOffset, const std::string& text, CBufferInstructionList* pList) const {
  check("insertValueData");
  const CSegment* pValue = m_pAttribute->getValueSegment();
  if (pValue != nullptr) {
    if (nOffset > pValue->length()) {
      throw CDOMParserIllegalArgumentException("CDOMAttribute::insertValueData() : invalid nOffset value",
                                               static_cast<int64_t>(m_pAttribute->getBegin()));
    }
    return InsertAt(m_pAttribute, pValue->getBegin() + nOffset, text, pList);
  }
  if (nOffset != 0) {
    throw CDOMParserIllegalArgumentException("CDOMAttribute::insertValueData() : ValueSegment is 0 and nOffset > 0 ",
                                             static_cast<int64_t>(m_pAttribute->getBegin()));
  }
  const std::string sNew = ToStd(m_pAttribute->getName()) + "=\"" + text + "\" ";
  const DWORD dwRet = DeleteSegment(m_pAttribute, pList);
  if (dwRet != 0) return dwRet;
  return InsertAt(m_pAttribute, m_pAttribute->getBegin(), sNew, pList);
}
