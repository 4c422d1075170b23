#include <gtest/gtest.h>

#include "platform/automation.h"

namespace {

TEST(Bstr, NullTextIsDistinctFromEmptyText) {
  _bstr_t none;
  _bstr_t empty("");
  EXPECT_TRUE(none.IsNull());
  EXPECT_FALSE(empty.IsNull());
  EXPECT_EQ(0u, none.length());
  EXPECT_EQ(0u, empty.length());
  EXPECT_STREQ("", none.c_str());

  _bstr_t copy(none);
  EXPECT_TRUE(copy.IsNull());
  EXPECT_EQ(nullptr, SysAllocString(nullptr));

  // Text with an embedded zero keeps its length.
  BSTR b = SysAllocStringLen("a\0b", 3);
  EXPECT_EQ(3u, SysStringLen(b));
  SysFreeString(b);
}

TEST(Variant, CopiesAreDeepAndKeepTheirType) {
  _variant_t text("value");
  _variant_t copy(text);
  ASSERT_EQ(VT_BSTR, copy.vt);
  EXPECT_NE(text.bstrVal, copy.bstrVal);
  EXPECT_STREQ("value", copy.bstrVal);

  _variant_t nullText{_bstr_t()};
  EXPECT_EQ(VT_BSTR, nullText.vt);
  EXPECT_EQ(nullptr, nullText.bstrVal);
  _variant_t nullCopy(nullText);
  EXPECT_EQ(VT_BSTR, nullCopy.vt);
  EXPECT_EQ(nullptr, nullCopy.bstrVal);

  _variant_t number(static_cast<LONG>(-42));
  copy = number;
  EXPECT_EQ(VT_I4, copy.vt);
  EXPECT_EQ(-42, copy.lVal);

  _variant_t moved(std::move(copy));
  EXPECT_EQ(VT_I4, moved.vt);
  EXPECT_EQ(VT_EMPTY, copy.vt);  // NOLINT: the moved-from value is empty by contract
}

TEST(SafeArray, OptionArrayLayoutRowsAreDimensionOneAndIndexedColumnFirst) {
  SAFEARRAYBOUND bounds[2] = {{3, 0}, {2, 0}};
  SAFEARRAY* array = SafeArrayCreate(VT_VARIANT, 2, bounds);
  ASSERT_NE(nullptr, array);
  LONG lo = -1;
  LONG hi = -1;
  ASSERT_EQ(S_OK, SafeArrayGetLBound(array, 1, &lo));
  ASSERT_EQ(S_OK, SafeArrayGetUBound(array, 1, &hi));
  EXPECT_EQ(0, lo);
  EXPECT_EQ(2, hi);  // three rows
  ASSERT_EQ(S_OK, SafeArrayGetUBound(array, 2, &hi));
  EXPECT_EQ(1, hi);  // two columns
  EXPECT_EQ(DISP_E_BADINDEX, SafeArrayGetUBound(array, 3, &hi));

  for (LONG row = 0; row < 3; ++row) {
    const _variant_t id(static_cast<LONG>(100 + row));
    const _variant_t value("v");
    LONG index[2] = {0, row};
    ASSERT_EQ(S_OK, SafeArrayPutElement(array, index, &id));
    index[0] = 1;
    ASSERT_EQ(S_OK, SafeArrayPutElement(array, index, &value));
  }
  LONG outside[2] = {2, 0};  // column 2 does not exist
  const _variant_t any(static_cast<LONG>(1));
  EXPECT_EQ(DISP_E_BADINDEX, SafeArrayPutElement(array, outside, &any));

  SAFEARRAY* copy = nullptr;
  ASSERT_EQ(S_OK, SafeArrayCopy(array, &copy));
  SafeArrayDestroy(array);
  VARIANT got;
  LONG index[2] = {0, 2};
  ASSERT_EQ(S_OK, SafeArrayGetElement(copy, index, &got));
  EXPECT_EQ(VT_I4, got.vt);
  EXPECT_EQ(102, got.lVal);
  VariantClear(&got);
  index[0] = 1;
  ASSERT_EQ(S_OK, SafeArrayGetElement(copy, index, &got));
  EXPECT_EQ(VT_BSTR, got.vt);
  VariantClear(&got);

  // An array inside a VARIANT is copied and released with it.
  _variant_t holder;
  holder.vt = VT_ARRAY | VT_VARIANT;
  holder.parray = copy;
  _variant_t second(holder);
  EXPECT_NE(holder.parray, second.parray);
  EXPECT_EQ(2u, SafeArrayGetDim(second.parray));
}

TEST(SafeArray, OnlyArraysOfVariantAreMade) {
  SAFEARRAYBOUND bound = {4, 0};
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_I4, 1, &bound));
  EXPECT_EQ(nullptr, SafeArrayCreate(VT_VARIANT, 0, &bound));
  SAFEARRAYBOUND empty = {0, 0};
  SAFEARRAY* none = SafeArrayCreate(VT_VARIANT, 1, &empty);
  ASSERT_NE(nullptr, none);
  LONG hi = 0;
  SafeArrayGetUBound(none, 1, &hi);
  EXPECT_EQ(-1, hi);
  SafeArrayDestroy(none);
}

TEST(ComError, CarriesItsResult) {
  try {
    _com_issue_error(E_OUTOFMEMORY);
    FAIL();
  } catch (const _com_error& e) {
    EXPECT_EQ(E_OUTOFMEMORY, e.Error());
  }
}

}  // namespace
