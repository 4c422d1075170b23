#include "forms/page_dom.h"

#include <new>

#include "html/dom_source.h"

void CPageDom::Build(const CCommonPointers* pRecord) {
  m_pPendingRecord = nullptr;
  m_spDom = CCountedPtr<CDOMSource>(new (std::nothrow) CDOMSource(pRecord));
}

CPageDom& CPageDom::operator=(const CCountedPtr<CDOMSource>& spDom) {
  m_pPendingRecord = nullptr;
  m_spDom = spDom;
  return *this;
}

CDOMSource* CPageDom::get() const {
  if (m_pPendingRecord != nullptr) {
    const CCommonPointers* pRecord = m_pPendingRecord;
    m_pPendingRecord = nullptr;
    m_spDom = CCountedPtr<CDOMSource>(new (std::nothrow) CDOMSource(pRecord));
  }
  return m_spDom.get();
}
