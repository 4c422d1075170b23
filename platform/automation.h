// OLE automation values as the settings store uses them: BSTR texts, VARIANTs
// (empty, 32-bit integer, text, array of VARIANT), SAFEARRAYs of VARIANT with
// their bounds, and the COM support classes _bstr_t, _variant_t and _com_error.
//
// Texts are UTF-8 inside (the module's "ANSI" code page is UTF-8 on Linux).
// A BSTR is a pointer to length-prefixed, zero-terminated bytes; the null BSTR
// is a distinct "no text" and reads as an empty text where a length is asked.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/win_types.h"

using BSTR = char*;
using VARTYPE = uint16_t;
using VARIANT_BOOL = int16_t;
using USHORT = uint16_t;

constexpr VARIANT_BOOL VARIANT_TRUE = -1;
constexpr VARIANT_BOOL VARIANT_FALSE = 0;

enum : VARTYPE {
  VT_EMPTY = 0,
  VT_NULL = 1,
  VT_I4 = 3,
  VT_BSTR = 8,
  VT_BOOL = 11,
  VT_VARIANT = 12,
  VT_ARRAY = 0x2000,
};

constexpr HRESULT DISP_E_BADVARTYPE = static_cast<HRESULT>(0x80020008u);
constexpr HRESULT DISP_E_TYPEMISMATCH = static_cast<HRESULT>(0x80020005u);
constexpr HRESULT DISP_E_BADINDEX = static_cast<HRESULT>(0x8002000Bu);
constexpr HRESULT DISP_E_ARRAYISLOCKED = static_cast<HRESULT>(0x8002000Du);

// Null for a null text; throws nothing, returns null when out of memory.
BSTR SysAllocString(const char* text);
BSTR SysAllocStringLen(const char* text, UINT len);
void SysFreeString(BSTR text);
// Length in bytes; 0 for the null BSTR.
UINT SysStringLen(BSTR text);

struct SAFEARRAY;

struct VARIANT {
  VARTYPE vt;
  union {
    LONG lVal;
    VARIANT_BOOL boolVal;
    BSTR bstrVal;
    SAFEARRAY* parray;
  };
};

void VariantInit(VARIANT* v);
HRESULT VariantClear(VARIANT* v);
// Deep copy; dst is cleared first. E_OUTOFMEMORY when a copy cannot be made.
HRESULT VariantCopy(VARIANT* dst, const VARIANT* src);

struct SAFEARRAYBOUND {
  ULONG cElements;
  LONG lLbound;
};

// Arrays of VARIANT and of BSTR are made; an element of a BSTR array is put
// as a BSTR and got into a BSTR. bounds[0] is dimension 1 of the bound
// queries; an index vector lists the last dimension first, so for a
// two-dimensional array indices {c, r} address column c of row r.
SAFEARRAY* SafeArrayCreate(VARTYPE vt, UINT cDims, const SAFEARRAYBOUND* bounds);
HRESULT SafeArrayDestroy(SAFEARRAY* psa);
HRESULT SafeArrayPutElement(SAFEARRAY* psa, const LONG* indices, const void* pv);
HRESULT SafeArrayGetElement(SAFEARRAY* psa, const LONG* indices, void* pv);
UINT SafeArrayGetDim(SAFEARRAY* psa);
HRESULT SafeArrayGetLBound(SAFEARRAY* psa, UINT nDim, LONG* plLbound);
HRESULT SafeArrayGetUBound(SAFEARRAY* psa, UINT nDim, LONG* plUbound);
HRESULT SafeArrayGetVartype(SAFEARRAY* psa, VARTYPE* pvt);
HRESULT SafeArrayCopy(SAFEARRAY* psa, SAFEARRAY** ppsaOut);
HRESULT SafeArrayLock(SAFEARRAY* psa);
HRESULT SafeArrayUnlock(SAFEARRAY* psa);

// The COM support classes' error: carries the HRESULT of the failed call.
class _com_error {
 public:
  explicit _com_error(HRESULT hr) noexcept : m_hr(hr) {}
  HRESULT Error() const noexcept { return m_hr; }

 private:
  HRESULT m_hr;
};

[[noreturn]] void _com_issue_error(HRESULT hr);

// Owning BSTR; copies are deep. Allocation failures raise _com_error.
class _bstr_t {
 public:
  _bstr_t() noexcept = default;
  _bstr_t(const char* text);  // NOLINT: implicit like the COM support class
  _bstr_t(const std::string& text);  // NOLINT
  _bstr_t(const _bstr_t& o);
  _bstr_t(_bstr_t&& o) noexcept : m_b(o.m_b) { o.m_b = nullptr; }
  _bstr_t& operator=(const _bstr_t& o);
  _bstr_t& operator=(_bstr_t&& o) noexcept;
  ~_bstr_t() { SysFreeString(m_b); }

  // Takes ownership of an existing BSTR.
  static _bstr_t Attach(BSTR b) noexcept {
    _bstr_t t;
    t.m_b = b;
    return t;
  }
  BSTR Detach() noexcept {
    BSTR b = m_b;
    m_b = nullptr;
    return b;
  }

  BSTR GetBSTR() const noexcept { return m_b; }
  bool IsNull() const noexcept { return m_b == nullptr; }
  // The text, or "" for the null text.
  const char* c_str() const noexcept { return m_b != nullptr ? m_b : ""; }
  UINT length() const noexcept { return SysStringLen(m_b); }
  std::string str() const { return std::string(c_str(), length()); }

 private:
  BSTR m_b = nullptr;
};

// Owning VARIANT; copies are deep. Copy failures raise _com_error.
class _variant_t : public VARIANT {
 public:
  _variant_t() noexcept { VariantInit(this); }
  _variant_t(LONG value) noexcept {  // NOLINT
    VariantInit(this);
    vt = VT_I4;
    lVal = value;
  }
  _variant_t(const char* text);  // NOLINT
  _variant_t(const _bstr_t& text);  // NOLINT
  _variant_t(const VARIANT& v);  // NOLINT
  _variant_t(const _variant_t& v);
  _variant_t(_variant_t&& v) noexcept;
  _variant_t& operator=(const _variant_t& v);
  _variant_t& operator=(_variant_t&& v) noexcept;
  ~_variant_t() { VariantClear(this); }

  void Clear() noexcept { VariantClear(this); }
  // Takes ownership of v's contents and leaves v empty.
  void Attach(VARIANT& v) noexcept;
  VARIANT Detach() noexcept;
};
