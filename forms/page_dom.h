// The DOM over one response page, built from the host's record on first use.
// Choosing a form needs only the template comment, which is read from the
// buffer in place; a page that no form claims is then never parsed.
#pragma once

#include "common/counted_ptr.h"

class CCommonPointers;
class CDOMSource;

class CPageDom {
 public:
  CPageDom() = default;
  CPageDom(const CPageDom&) = delete;
  CPageDom& operator=(const CPageDom&) = delete;

  // Builds the DOM over the record now; null when it cannot be allocated.
  void Build(const CCommonPointers* pRecord);
  // Builds it on the first access instead; the record must outlive the DOM.
  void Defer(const CCommonPointers* pRecord) { m_pPendingRecord = pRecord; }
  // Replaces the DOM (or drops it, with an empty pointer).
  CPageDom& operator=(const CCountedPtr<CDOMSource>& spDom);

  bool IsBuilt() const { return m_pPendingRecord == nullptr; }
  // The DOM, built now when it was deferred; null when it could not be
  // allocated.
  CDOMSource* get() const;
  CDOMSource& operator*() const { return *get(); }
  CDOMSource* operator->() const { return get(); }
  explicit operator bool() const { return get() != nullptr; }

 private:
  void BuildFrom(const CCommonPointers* pRecord) const;

  // Building on access does not change what the page is, so the accessors
  // stay const.
  mutable const CCommonPointers* m_pPendingRecord = nullptr;
  mutable CCountedPtr<CDOMSource> m_spDom;
};
