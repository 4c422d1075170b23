#include "forms/page_dom.h"

#include <new>

#include "html/dom_source.h"

void CPageDom::Build(const CCommonPointers* pRecord) { BuildFrom(pRecord); }

CPageDom& CPageDom::operator=(const CCountedPtr<CDOMSource>& spDom) {
  m_pPendingRecord = nullptr;
  m_spDom = spDom;
  return *this;
}

CDOMSource* CPageDom::get() const {
  if (m_pPendingRecord != nullptr) BuildFrom(m_pPendingRecord);
  return m_spDom.get();
}

void CPageDom::BuildFrom(const CCommonPointers* pRecord) const {
  m_pPendingRecord = nullptr;
  m_spDom = CCountedPtr<CDOMSource>(new (std::nothrow) CDOMSource(pRecord));
}
