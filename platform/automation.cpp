#include "platform/automation.h"

#include <cstdlib>
#include <cstring>
#include <new>

// ---- BSTR ------------------------------------------------------------------

BSTR SysAllocStringLen(const char* text, UINT len) {
  auto* block = static_cast<char*>(std::malloc(sizeof(UINT) + static_cast<size_t>(len) + 1));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &len, sizeof(UINT));
  char* body = block + sizeof(UINT);
  if (text != nullptr && len > 0) std::memcpy(body, text, len);
  else if (len > 0) std::memset(body, 0, len);
  body[len] = '\0';
  return body;
}

BSTR SysAllocString(const char* text) {
  if (text == nullptr) return nullptr;
  return SysAllocStringLen(text, static_cast<UINT>(std::strlen(text)));
}

void SysFreeString(BSTR text) {
  if (text != nullptr) std::free(text - sizeof(UINT));
}

UINT SysStringLen(BSTR text) {
  if (text == nullptr) return 0;
  UINT len;
  std::memcpy(&len, text - sizeof(UINT), sizeof(UINT));
  return len;
}

// ---- SAFEARRAY ---------------------------------------------------------------

struct SAFEARRAY {
  VARTYPE vt = VT_VARIANT;
  ULONG cLocks = 0;
  std::vector<SAFEARRAYBOUND> bounds;  // bounds[0] is dimension 1
  std::vector<VARIANT> data;
};

namespace {

// Flat position of an element; false when an index is outside its bounds.
bool FlatIndex(const SAFEARRAY* psa, const LONG* indices, size_t* pos) {
  size_t flat = 0;
  const size_t dims = psa->bounds.size();
  for (size_t d = 0; d < dims; ++d) {
    const SAFEARRAYBOUND& b = psa->bounds[d];
    const int64_t rel = static_cast<int64_t>(indices[dims - 1 - d]) - b.lLbound;
    if (rel < 0 || rel >= static_cast<int64_t>(b.cElements)) return false;
    flat = flat * b.cElements + static_cast<size_t>(rel);
  }
  *pos = flat;
  return true;
}

void ClearAll(std::vector<VARIANT>& data) {
  for (VARIANT& v : data) VariantClear(&v);
}

}  // namespace

SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds) {
  if ((vt != VT_VARIANT && vt != VT_BSTR) || cDims == 0 || bounds == nullptr) return nullptr;
  size_t total = 1;
  for (UINT d = 0; d < cDims; ++d) {
    if (bounds[d].cElements != 0 && total > (SIZE_MAX / sizeof(VARIANT)) / bounds[d].cElements) {
      return nullptr;
    }
    total *= bounds[d].cElements;
  }
  auto* psa = new (std::nothrow) SAFEARRAY;
  if (psa == nullptr) return nullptr;
  try {
    psa->vt = vt;
    psa->bounds.assign(bounds, bounds + cDims);
    // A text array keeps its elements as texts, the null text at first.
    VARIANT empty;
    VariantInit(&empty);
    if (vt == VT_BSTR) empty.vt = VT_BSTR;
    psa->data.assign(total, empty);
  } catch (...) {
    delete psa;
    return nullptr;
  }
  return psa;
}

HRESULT SafeArrayDestroy(SAFEARRAY* psa) {
  if (psa == nullptr) return S_OK;
  if (psa->cLocks != 0) return DISP_E_ARRAYISLOCKED;
  ClearAll(psa->data);
  delete psa;
  return S_OK;
}

HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* pv) {
  if (psa == nullptr || indices == nullptr || pv == nullptr) return E_INVALIDARG;
  size_t pos;
  if (!FlatIndex(psa, indices, &pos)) return DISP_E_BADINDEX;
  if (psa->vt == VT_BSTR) {
    VARIANT text;
    text.vt = VT_BSTR;
    text.bstrVal = static_cast<BSTR>(const_cast<void*>(pv));
    return VariantCopy(&psa->data[pos], &text);
  }
  return VariantCopy(&psa->data[pos], static_cast<const VARIANT*>(pv));
}

HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* pv) {
  if (psa == nullptr || indices == nullptr || pv == nullptr) return E_INVALIDARG;
  size_t pos;
  if (!FlatIndex(psa, indices, &pos)) return DISP_E_BADINDEX;
  if (psa->vt == VT_BSTR) {
    const BSTR text = psa->data[pos].bstrVal;
    BSTR copy = text != nullptr ? SysAllocStringLen(text, SysStringLen(text)) : nullptr;
    if (text != nullptr && copy == nullptr) return E_OUTOFMEMORY;
    *static_cast<BSTR*>(pv) = copy;
    return S_OK;
  }
  auto* out = static_cast<VARIANT*>(pv);
  VariantInit(out);
  return VariantCopy(out, &psa->data[pos]);
}

UINT SafeArrayGetDim(SAFEARRAY* psa) {
  return psa == nullptr ? 0 : static_cast<UINT>(psa->bounds.size());
}

HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound) {
  if (psa == nullptr || plLbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->bounds.size()) return DISP_E_BADINDEX;
  *plLbound = psa->bounds[nDim - 1].lLbound;
  return S_OK;
}

HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound) {
  if (psa == nullptr || plUbound == nullptr) return E_INVALIDARG;
  if (nDim == 0 || nDim > psa->bounds.size()) return DISP_E_BADINDEX;
  const SAFEARRAYBOUND& b = psa->bounds[nDim - 1];
  *plUbound = static_cast<LONG>(static_cast<int64_t>(b.lLbound) + b.cElements - 1);
  return S_OK;
}

HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt) {
  if (psa == nullptr || pvt == nullptr) return E_INVALIDARG;
  *pvt = psa->vt;
  return S_OK;
}

HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut) {
  if (ppsaOut == nullptr) return E_INVALIDARG;
  *ppsaOut = nullptr;
  if (psa == nullptr) return S_OK;
  SAFEARRAY* copy = SafeArrayCreate(psa->vt, static_cast<UINT>(psa->bounds.size()), psa->bounds.data());
  if (copy == nullptr) return E_OUTOFMEMORY;
  for (size_t i = 0; i < psa->data.size(); ++i) {
    const HRESULT hr = VariantCopy(&copy->data[i], &psa->data[i]);
    if (FAILED(hr)) {
      SafeArrayDestroy(copy);
      return hr;
    }
  }
  *ppsaOut = copy;
  return S_OK;
}

HRESULT SafeArrayLock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  ++psa->cLocks;
  return S_OK;
}

HRESULT SafeArrayUnlock(SAFEARRAY* psa) {
  if (psa == nullptr) return E_INVALIDARG;
  if (psa->cLocks == 0) return E_UNEXPECTED;
  --psa->cLocks;
  return S_OK;
}

// ---- VARIANT -----------------------------------------------------------------

void VariantInit(VARIANT* v) {
  v->vt = VT_EMPTY;
  v->parray = nullptr;
}

HRESULT VariantClear(VARIANT* v) {
  if (v == nullptr) return E_INVALIDARG;
  if (v->vt == VT_BSTR) {
    SysFreeString(v->bstrVal);
  } else if ((v->vt & VT_ARRAY) != 0) {
    SafeArrayDestroy(v->parray);
  }
  VariantInit(v);
  return S_OK;
}

HRESULT VariantCopy(VARIANT* dst, const VARIANT* src) {
  if (dst == nullptr || src == nullptr) return E_INVALIDARG;
  if (dst == src) return S_OK;
  VARIANT tmp;
  VariantInit(&tmp);
  tmp.vt = src->vt;
  if (src->vt == VT_BSTR) {
    if (src->bstrVal != nullptr) {
      tmp.bstrVal = SysAllocStringLen(src->bstrVal, SysStringLen(src->bstrVal));
      if (tmp.bstrVal == nullptr) return E_OUTOFMEMORY;
    }
  } else if ((src->vt & VT_ARRAY) != 0) {
    const HRESULT hr = SafeArrayCopy(src->parray, &tmp.parray);
    if (FAILED(hr)) return hr;
  } else if (src->vt == VT_EMPTY || src->vt == VT_NULL || src->vt == VT_I4 || src->vt == VT_BOOL) {
    tmp.lVal = src->lVal;
  } else {
    return DISP_E_BADVARTYPE;
  }
  VariantClear(dst);
  *dst = tmp;
  return S_OK;
}

// ---- COM support classes -----------------------------------------------------

void _com_issue_error(HRESULT hr) { throw _com_error(hr); }

namespace {
BSTR CopyOrThrow(const char* text, UINT len) {
  BSTR b = SysAllocStringLen(text, len);
  if (b == nullptr) _com_issue_error(E_OUTOFMEMORY);
  return b;
}
}  // namespace

_bstr_t::_bstr_t(const char* text) {
  if (text != nullptr) m_b = CopyOrThrow(text, static_cast<UINT>(std::strlen(text)));
}

_bstr_t::_bstr_t(const std::string& text) : m_b(CopyOrThrow(text.data(), static_cast<UINT>(text.size()))) {}

_bstr_t::_bstr_t(const _bstr_t& o) {
  if (o.m_b != nullptr) m_b = CopyOrThrow(o.m_b, SysStringLen(o.m_b));
}

_bstr_t& _bstr_t::operator=(const _bstr_t& o) {
  if (this != &o) {
    BSTR copy = o.m_b != nullptr ? CopyOrThrow(o.m_b, SysStringLen(o.m_b)) : nullptr;
    SysFreeString(m_b);
    m_b = copy;
  }
  return *this;
}

_bstr_t& _bstr_t::operator=(_bstr_t&& o) noexcept {
  if (this != &o) {
    SysFreeString(m_b);
    m_b = o.m_b;
    o.m_b = nullptr;
  }
  return *this;
}

_variant_t::_variant_t(const char* text) {
  VariantInit(this);
  vt = VT_BSTR;
  if (text != nullptr) bstrVal = CopyOrThrow(text, static_cast<UINT>(std::strlen(text)));
}

_variant_t::_variant_t(const _bstr_t& text) {
  VariantInit(this);
  vt = VT_BSTR;
  if (!text.IsNull()) bstrVal = CopyOrThrow(text.GetBSTR(), text.length());
}

_variant_t::_variant_t(const VARIANT& v) {
  VariantInit(this);
  const HRESULT hr = VariantCopy(this, &v);
  if (FAILED(hr)) _com_issue_error(hr);
}

_variant_t::_variant_t(const _variant_t& v) : _variant_t(static_cast<const VARIANT&>(v)) {}

_variant_t::_variant_t(_variant_t&& v) noexcept {
  *static_cast<VARIANT*>(this) = static_cast<VARIANT&>(v);
  VariantInit(&v);
}

_variant_t& _variant_t::operator=(const _variant_t& v) {
  if (this != &v) {
    const HRESULT hr = VariantCopy(this, &v);
    if (FAILED(hr)) _com_issue_error(hr);
  }
  return *this;
}

_variant_t& _variant_t::operator=(_variant_t&& v) noexcept {
  if (this != &v) {
    VariantClear(this);
    *static_cast<VARIANT*>(this) = static_cast<VARIANT&>(v);
    VariantInit(&v);
  }
  return *this;
}

void _variant_t::Attach(VARIANT& v) noexcept {
  VariantClear(this);
  *static_cast<VARIANT*>(this) = v;
  VariantInit(&v);
}

VARIANT _variant_t::Detach() noexcept {
  VARIANT v = *static_cast<VARIANT*>(this);
  VariantInit(this);
  return v;
}
