// VARIANT conversions that the control's arguments and the viewer's results go through (to
// long, unsigned long and text), and GUID text.
#include <gtest/gtest.h>

#include <string>

#include "platform/oleauto.h"
#include "platform/winerror.h"
#include "tests/platform/ComTestObjects.h"

namespace {

using kwz_test::ScopedVariant;

struct ChangeCase {
  const char* name;
  VARTYPE fromVt;
  double from;  // for every type but VT_BSTR (a VT_UI4 as its bits)
  const char16_t* fromText;
  VARTYPE to;
  HRESULT hr;
  LONG want;  // for every type but VT_BSTR
  const char16_t* wantText;
};

class VariantChangeTypeTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(VariantChangeTypeTest, Converts) {
  const ChangeCase& c = GetParam();
  ScopedVariant src, dst;
  src.vt = c.fromVt;
  if (c.fromVt == VT_I4 || c.fromVt == VT_UI4) src.lVal = static_cast<LONG>(c.from);
  if (c.fromVt == VT_BOOL) src.boolVal = static_cast<VARIANT_BOOL>(c.from);
  if (c.fromVt == VT_R8) src.dblVal = c.from;
  if (c.fromVt == VT_BSTR) src.bstrVal = SysAllocString(c.fromText);
  ASSERT_EQ(VariantChangeType(&dst, &src, 0, c.to), c.hr);
  if (FAILED(c.hr)) {
    EXPECT_EQ(dst.vt, VT_EMPTY) << "a failed conversion leaves the destination as it was";
    return;
  }
  ASSERT_EQ(dst.vt, c.to);
  if (c.to == VT_BSTR) {
    EXPECT_EQ(std::u16string(dst.bstrVal, SysStringLen(dst.bstrVal)), c.wantText);
  } else {
    EXPECT_EQ(dst.lVal, c.want);
  }
}

constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr HRESULT kOverflow = DISP_E_OVERFLOW;

const ChangeCase kChangeCases[] = {
    // Text to numbers, as scripts hand them over, and text that is no number or too big.
    {"TextWithBlanksAndSign", VT_BSTR, 0, u"  -17 ", VT_I4, S_OK, -17, nullptr},
    {"TextHalfRoundsToEven", VT_BSTR, 0, u"3.5", VT_I4, S_OK, 4, nullptr},
    {"TextLongMax", VT_BSTR, 0, u"2147483647", VT_I4, S_OK, 2147483647, nullptr},
    {"TextPastLongMax", VT_BSTR, 0, u"2147483648", VT_I4, kOverflow, 0, nullptr},
    {"TextWithTrailingLetters", VT_BSTR, 0, u"12abc", VT_I4, kMismatch, 0, nullptr},
    {"EmptyText", VT_BSTR, 0, u"", VT_I4, kMismatch, 0, nullptr},
    // Numbers and booleans to text.
    {"LongToText", VT_I4, -123, nullptr, VT_BSTR, S_OK, 0, u"-123"},
    {"TrueToTextAsNumber", VT_BOOL, -1, nullptr, VT_BSTR, S_OK, 0, u"-1"},
    // Narrowing, empty and null.
    {"UlongPastLongMax", VT_UI4, -2147483648.0, nullptr, VT_I4, kOverflow, 0, nullptr},
    {"DoubleHalfRoundsToEven", VT_R8, 2.5, nullptr, VT_I4, S_OK, 2, nullptr},
    {"EmptyToLong", VT_EMPTY, 0, nullptr, VT_I4, S_OK, 0, nullptr},
    {"NullToLong", VT_NULL, 0, nullptr, VT_I4, kMismatch, 0, nullptr},
    {"LongToByrefTarget", VT_I4, 1, nullptr, VT_I4 | VT_BYREF, kMismatch, 0, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, VariantChangeTypeTest, ::testing::ValuesIn(kChangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Scripts hand arguments over by reference; the referenced text stays its owner's.
TEST(VariantTest, ChangeTypeReadsThroughAReference) {
  kwz_test::ScopedBstr text(u"-9");
  ScopedVariant textRef, number;
  textRef.vt = VT_BSTR | VT_BYREF;
  textRef.pbstrVal = &text.value;
  ASSERT_EQ(VariantChangeType(&number, &textRef, 0, VT_I4), S_OK);
  EXPECT_EQ(number.lVal, -9);
  EXPECT_EQ(std::u16string(text.value), u"-9");
}

TEST(GuidTest, TextRoundTripsAndBadTextIsRefused) {
  const GUID guid = kwz_test::IID_IGauge;
  OLECHAR text[39];
  ASSERT_EQ(StringFromGUID2(guid, text, 39), 39);
  EXPECT_EQ(std::u16string(text), u"{6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C3}");
  EXPECT_EQ(StringFromGUID2(guid, text, 38), 0) << "no room for the NUL";
  CLSID back{};
  ASSERT_EQ(CLSIDFromString(u"{6a1b0c2d-3e4f-4a5b-8c6d-7e8f90a1b2c3}", &back), S_OK);
  EXPECT_TRUE(IsEqualGUID(back, guid));
  for (const char16_t* bad :
       {u"6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C3", u"{6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C3}x",
        u"{6A1B0C2D-3E4F-4A5B8C6D-7E8F90A1B2C3}", u"{6A1B0C2G-3E4F-4A5B-8C6D-7E8F90A1B2C3}", u""}) {
    EXPECT_EQ(CLSIDFromString(bad, &back), CO_E_CLASSSTRING);
  }
  EXPECT_EQ(CLSIDFromString(nullptr, &back), E_INVALIDARG);
}

}  // namespace
