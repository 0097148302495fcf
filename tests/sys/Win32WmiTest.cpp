// The WMI adapter's copy of property values, on arrays that the system
// builds: bounds that an index loop could not walk give no elements, so the
// value renders as empty text.
#include "sys/win32/Win32Wmi.h"

#include <windows.h>

#include <oleauto.h>

#include <gtest/gtest.h>

#include <array>
#include <climits>

namespace kestrune {
namespace {

// A VARIANT of type VT_ARRAY | VT_I4 that owns nothing: the test keeps the
// array and its data.
VARIANT ArrayVariant(SAFEARRAY* array) {
  VARIANT variant;
  ::VariantInit(&variant);
  variant.vt = VT_ARRAY | VT_I4;
  variant.parray = array;
  return variant;
}

TEST(Win32WmiTest, ArraysWithWalkableBoundsAreCopiedInIndexOrder) {
  SAFEARRAY* array = ::SafeArrayCreateVector(VT_I4, LONG_MAX - 2, 2);
  ASSERT_NE(array, nullptr);
  for (LONG index = LONG_MAX - 2, value = 7; index <= LONG_MAX - 1; ++index, ++value) {
    ASSERT_EQ(::SafeArrayPutElement(array, &index, &value), S_OK);
  }
  const sys::Variant copy = sys::win32::FromVariant(ArrayVariant(array));
  EXPECT_EQ(copy.ElementCount, 2u);
  EXPECT_EQ(copy.ElementSize, 4u);
  EXPECT_EQ(copy.Elements, (std::vector<std::uint8_t>{7, 0, 0, 0, 8, 0, 0, 0}));
  ::SafeArrayDestroy(array);
}

TEST(Win32WmiTest, BoundsThatWouldOverflowTheLoopGiveNoElements) {
  // An upper bound of LONG_MAX: the index could never step past it.
  SAFEARRAY* last = ::SafeArrayCreateVector(VT_I4, LONG_MAX, 1);
  ASSERT_NE(last, nullptr);
  // A count that does not fit the bounds' own type: LONG_MIN up to
  // LONG_MAX - 1, described over a buffer of four elements.
  SAFEARRAY* huge = nullptr;
  ASSERT_EQ(::SafeArrayAllocDescriptorEx(VT_I4, 1, &huge), S_OK);
  std::array<LONG, 4> data{1, 2, 3, 4};
  huge->cbElements = sizeof(LONG);
  huge->rgsabound[0].lLbound = LONG_MIN;
  huge->rgsabound[0].cElements = 0xFFFFFFFF;
  huge->pvData = data.data();

  for (SAFEARRAY* array : {last, huge}) {
    const sys::Variant copy = sys::win32::FromVariant(ArrayVariant(array));
    EXPECT_EQ(copy.Vt, VT_ARRAY | VT_I4);
    EXPECT_EQ(copy.ElementCount, 0u);
    EXPECT_TRUE(copy.Elements.empty());
  }
  huge->pvData = nullptr;
  ::SafeArrayDestroyDescriptor(huge);
  ::SafeArrayDestroy(last);
}

}  // namespace
}  // namespace kestrune
