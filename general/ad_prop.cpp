#include "general/ad_prop.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

#include "common/string_utils.h"
#include "platform/wide_text.h"

namespace {

// A DN-with-string value ("S:<length>:<string>:<dn>") gives its string part;
// any other text is taken whole, as directories that keep the lists as plain
// strings give them.
std::string StringPartOf(const std::string& value) {
  if (value.size() < 4 || value[0] != 'S' || value[1] != ':') return value;
  const size_t colon = value.find(':', 2);
  if (colon == std::string::npos || colon == 2) return value;
  size_t length = 0;
  for (size_t i = 2; i < colon; ++i) {
    if (value[i] < '0' || value[i] > '9' || length > value.size()) return value;
    length = length * 10 + static_cast<size_t>(value[i] - '0');
  }
  const size_t start = colon + 1;
  if (start + length >= value.size() || value[start + length] != ':') return value;
  return value.substr(start, length);
}

// The text's leading decimal number, 0 when it has none; numbers beyond the
// int range are held at its ends rather than left to overflow.
int LeadingNumber(const char* text) {
  const long long n = std::strtoll(text, nullptr, 10);
  return static_cast<int>(std::clamp<long long>(n, INT_MIN, INT_MAX));
}

// The common part of the byte-string holders.
template <class S>
HRESULT ReadText(VARIANT& value, S* target) {
  if (value.vt == VT_EMPTY) return S_OK;
  if (value.vt != VT_BSTR) return E_INVALIDARG;
  if (value.bstrVal == nullptr) return S_OK;
  target->assign(value.bstrVal, SysStringLen(value.bstrVal));
  return S_OK;
}

}  // namespace

HRESULT ADProp::ReadVariant(VARIANT& value) { return E_NOTIMPL; }

HRESULT ADProp::GetValueAsString(std::string& out) { return E_NOTIMPL; }

template <>
HRESULT TReadADProp<int>::ReadVariant(VARIANT& value) {
  switch (value.vt) {
    case VT_EMPTY:
      return S_OK;
    case VT_BSTR:
      if (value.bstrVal != nullptr) *m_pValue = LeadingNumber(value.bstrVal);
      return S_OK;
    case VT_I4:
      *m_pValue = static_cast<int>(value.lVal);
      return S_OK;
    default:
      return E_INVALIDARG;
  }
}

template <>
HRESULT TReadADProp<int>::GetValueAsString(std::string& out) {
  out = ToString(*m_pValue);
  return S_OK;
}

template <>
HRESULT TReadADProp<std::string>::ReadVariant(VARIANT& value) {
  return ReadText(value, m_pValue);
}

template <>
HRESULT TReadADProp<std::string>::GetValueAsString(std::string& out) {
  out = *m_pValue;
  return S_OK;
}

template <>
HRESULT TReadADProp<ci_string>::ReadVariant(VARIANT& value) {
  return ReadText(value, m_pValue);
}

template <>
HRESULT TReadADProp<ci_string>::GetValueAsString(std::string& out) {
  out.assign(m_pValue->data(), m_pValue->size());
  return S_OK;
}

template <>
HRESULT TReadADProp<std::wstring>::ReadVariant(VARIANT& value) {
  if (value.vt == VT_EMPTY) return S_OK;
  if (value.vt != VT_BSTR) return E_INVALIDARG;
  if (value.bstrVal == nullptr) return S_OK;
  *m_pValue = WideFromBytes(std::string(value.bstrVal, SysStringLen(value.bstrVal)));
  return S_OK;
}

template <>
HRESULT TReadADProp<std::wstring>::GetValueAsString(std::string& out) {
  out = BytesFromWide(*m_pValue);
  return S_OK;
}

template <>
HRESULT TReadADProp<std::vector<ci_string>>::ReadVariant(VARIANT& value) {
  if (value.vt == VT_EMPTY) return S_OK;
  if ((value.vt & VT_ARRAY) == 0 || (value.vt & VT_VARIANT) != VT_VARIANT) return S_OK;
  _variant_t owner;
  owner.Attach(value);
  SAFEARRAY* array = owner.parray;
  VARTYPE elementType = VT_EMPTY;
  if (array == nullptr || FAILED(SafeArrayGetVartype(array, &elementType)) || elementType != VT_VARIANT) {
    return E_INVALIDARG;
  }
  LONG lower = 0;
  LONG upper = -1;
  HRESULT hr = SafeArrayGetLBound(array, 1, &lower);
  if (SUCCEEDED(hr)) hr = SafeArrayGetUBound(array, 1, &upper);
  if (FAILED(hr)) return hr;
  hr = S_OK;
  for (LONG i = lower; i <= upper; ++i) {
    _variant_t element;
    hr = SafeArrayGetElement(array, &i, &element);
    if (FAILED(hr)) continue;
    // Only texts are values here; anything else is skipped, never used.
    if (element.vt != VT_BSTR || element.bstrVal == nullptr) continue;
    m_pValue->push_back(ToCI(StringPartOf(std::string(element.bstrVal, SysStringLen(element.bstrVal)))));
  }
  return hr;
}

template <>
HRESULT TReadADProp<std::vector<ci_string>>::GetValueAsString(std::string& out) {
  for (const ci_string& entry : *m_pValue) {
    out.append(entry.data(), entry.size());
    out += ";";
  }
  return S_OK;
}
