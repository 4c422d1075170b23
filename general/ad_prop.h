// Directory property holders: each binds one directory attribute name to one
// typed value, turns the VARIANT the directory layer gives for the attribute
// into that value and gives the value back as a byte string.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/ci_string.h"
#include "platform/automation.h"
#include "platform/win_types.h"

// How an attribute is read: one integer, one string, or a multi-valued list.
constexpr uint32_t kADPropInteger = 0;
constexpr uint32_t kADPropString = 1;
constexpr uint32_t kADPropList = 2;

class ADProp {
 public:
  ADProp(std::string name, uint32_t kind) : m_strName(std::move(name)), m_nKind(kind) {}
  virtual ~ADProp() = default;
  ADProp(const ADProp&) = delete;
  ADProp& operator=(const ADProp&) = delete;

  // Stores the VARIANT's content into the value. The VARIANT may be taken
  // over (left empty); the caller clears it afterwards in any case.
  virtual HRESULT ReadVariant(VARIANT& value);
  // Writes the value as a byte string (lists append to `out`).
  virtual HRESULT GetValueAsString(std::string& out);

  std::string m_strName;
  uint32_t m_nKind;
};

// Reads into a value it does not own.
template <class T>
class TReadADProp : public ADProp {
 public:
  TReadADProp(T* value, std::string name, uint32_t kind) : ADProp(std::move(name), kind), m_pValue(value) {}
  HRESULT ReadVariant(VARIANT& value) override;
  HRESULT GetValueAsString(std::string& out) override;

  T* m_pValue;
};

template <>
HRESULT TReadADProp<int>::ReadVariant(VARIANT& value);
template <>
HRESULT TReadADProp<int>::GetValueAsString(std::string& out);
template <>
HRESULT TReadADProp<std::string>::ReadVariant(VARIANT& value);
template <>
HRESULT TReadADProp<std::string>::GetValueAsString(std::string& out);
template <>
HRESULT TReadADProp<ci_string>::ReadVariant(VARIANT& value);
template <>
HRESULT TReadADProp<ci_string>::GetValueAsString(std::string& out);
template <>
HRESULT TReadADProp<std::wstring>::ReadVariant(VARIANT& value);
template <>
HRESULT TReadADProp<std::wstring>::GetValueAsString(std::string& out);
template <>
HRESULT TReadADProp<std::vector<ci_string>>::ReadVariant(VARIANT& value);
template <>
HRESULT TReadADProp<std::vector<ci_string>>::GetValueAsString(std::string& out);

// Owns its value; exists for wide texts only.
template <class T>
class TADProp : public ADProp {
 public:
  TADProp(std::string name, uint32_t kind) : ADProp(name, kind), m_reader(&m_value, std::move(name), kind) {}
  HRESULT ReadVariant(VARIANT& value) override { return m_reader.ReadVariant(value); }
  HRESULT GetValueAsString(std::string& out) override { return m_reader.GetValueAsString(out); }

  T m_value{};
  TReadADProp<T> m_reader;
};
