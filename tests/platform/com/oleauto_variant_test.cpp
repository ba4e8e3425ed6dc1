// VARIANT conversions and lifetime, BSTR lengths, GUID text.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/oleauto.h"
#include "platform/winerror.h"
#include "tests/platform/ComTestObjects.h"

namespace {

using kwz_test::ScopedBstr;
using kwz_test::ScopedVariant;

struct ChangeCase {
  const char* name;
  VARTYPE fromVt;
  std::int64_t fromInteger;
  double fromReal;
  const char16_t* fromText;
  VARTYPE to;
  USHORT flags;
  HRESULT hr;
  std::int64_t wantInteger;
  double wantReal;
  const char16_t* wantText;
};

void Fill(const ChangeCase& c, VARIANT* v) {
  VariantInit(v);
  v->vt = c.fromVt;
  switch (c.fromVt) {
    case VT_I2:
      v->iVal = static_cast<SHORT>(c.fromInteger);
      break;
    case VT_I4:
      v->lVal = static_cast<LONG>(c.fromInteger);
      break;
    case VT_UI4:
      v->ulVal = static_cast<ULONG>(c.fromInteger);
      break;
    case VT_BOOL:
      v->boolVal = static_cast<VARIANT_BOOL>(c.fromInteger);
      break;
    case VT_R8:
      v->dblVal = c.fromReal;
      break;
    case VT_BSTR:
      v->bstrVal = SysAllocString(c.fromText);
      break;
    default:
      break;
  }
}

std::int64_t IntegerOf(const VARIANT& v) {
  switch (v.vt) {
    case VT_I2:
      return v.iVal;
    case VT_I4:
      return v.lVal;
    case VT_UI4:
      return v.ulVal;
    case VT_BOOL:
      return v.boolVal;
    default:
      ADD_FAILURE() << "not an integer: vt " << v.vt;
      return 0;
  }
}

class VariantChangeTypeTest : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(VariantChangeTypeTest, Converts) {
  const ChangeCase& c = GetParam();
  ScopedVariant src, dst;
  Fill(c, &src);
  ASSERT_EQ(VariantChangeType(&dst, &src, c.flags, c.to), c.hr);
  if (FAILED(c.hr)) {
    EXPECT_EQ(dst.vt, VT_EMPTY) << "a failed conversion leaves the destination as it was";
    return;
  }
  ASSERT_EQ(dst.vt, c.to);
  if (c.to == VT_BSTR) {
    EXPECT_EQ(std::u16string(dst.bstrVal, SysStringLen(dst.bstrVal)), c.wantText);
  } else if (c.to == VT_R8) {
    EXPECT_DOUBLE_EQ(dst.dblVal, c.wantReal);
  } else {
    EXPECT_EQ(IntegerOf(dst), c.wantInteger);
  }
  EXPECT_EQ(src.vt, c.fromVt) << "the source is left alone";
}

constexpr HRESULT kOk = S_OK;
constexpr HRESULT kMismatch = DISP_E_TYPEMISMATCH;
constexpr HRESULT kOverflow = DISP_E_OVERFLOW;

const ChangeCase kChangeCases[] = {
    // Text to numbers, as scripts hand them over.
    {"TextToLong", VT_BSTR, 0, 0, u"42", VT_I4, 0, kOk, 42, 0, nullptr},
    {"TextWithBlanksAndSign", VT_BSTR, 0, 0, u"  -17 ", VT_I4, 0, kOk, -17, 0, nullptr},
    {"TextHalfRoundsToEvenDown", VT_BSTR, 0, 0, u"2.5", VT_I4, 0, kOk, 2, 0, nullptr},
    {"TextHalfRoundsToEvenUp", VT_BSTR, 0, 0, u"3.5", VT_I4, 0, kOk, 4, 0, nullptr},
    {"TextLongMax", VT_BSTR, 0, 0, u"2147483647", VT_I4, 0, kOk, 2147483647, 0, nullptr},
    // Text that is no number, or too big.
    {"TextWithTrailingLetters", VT_BSTR, 0, 0, u"12abc", VT_I4, 0, kMismatch, 0, 0, nullptr},
    {"EmptyText", VT_BSTR, 0, 0, u"", VT_I4, 0, kMismatch, 0, 0, nullptr},
    {"NanText", VT_BSTR, 0, 0, u"nan", VT_R8, 0, kMismatch, 0, 0, nullptr},
    {"TextPastLongMax", VT_BSTR, 0, 0, u"2147483648", VT_I4, 0, kOverflow, 0, 0, nullptr},
    {"NegativeTextToUlong", VT_BSTR, 0, 0, u"-1", VT_UI4, 0, kOverflow, 0, 0, nullptr},
    {"HugeExponent", VT_BSTR, 0, 0, u"1e400", VT_R8, 0, kOverflow, 0, 0, nullptr},
    // Numbers to text.
    {"LongToText", VT_I4, -123, 0, nullptr, VT_BSTR, 0, kOk, 0, 0, u"-123"},
    // Booleans.
    {"TrueToTextAsNumber", VT_BOOL, -1, 0, nullptr, VT_BSTR, 0, kOk, 0, 0, u"-1"},
    {"TrueToTextAsWord", VT_BOOL, -1, 0, nullptr, VT_BSTR, VARIANT_ALPHABOOL, kOk, 0, 0, u"True"},
    {"NonZeroToBool", VT_I4, 5, 0, nullptr, VT_BOOL, 0, kOk, -1, 0, nullptr},
    {"WordTrueToBool", VT_BSTR, 0, 0, u"TRUE", VT_BOOL, 0, kOk, -1, 0, nullptr},
    {"WordFalseToBool", VT_BSTR, 0, 0, u" false ", VT_BOOL, 0, kOk, 0, 0, nullptr},
    {"OtherWordToBool", VT_BSTR, 0, 0, u"yes", VT_BOOL, 0, kMismatch, 0, 0, nullptr},
    // Widening and narrowing.
    {"LongToShortOverflow", VT_I4, 40000, 0, nullptr, VT_I2, 0, kOverflow, 0, 0, nullptr},
    {"UlongPastLongMax", VT_UI4, 0x80000000u, 0, nullptr, VT_I4, 0, kOverflow, 0, 0, nullptr},
    {"DoubleToLongRounds", VT_R8, 0, 2.5, nullptr, VT_I4, 0, kOk, 2, 0, nullptr},
    {"DoubleToLongOverflow", VT_R8, 0, 1e10, nullptr, VT_I4, 0, kOverflow, 0, 0, nullptr},
    // Empty and null.
    {"EmptyToLong", VT_EMPTY, 0, 0, nullptr, VT_I4, 0, kOk, 0, 0, nullptr},
    {"NullToLong", VT_NULL, 0, 0, nullptr, VT_I4, 0, kMismatch, 0, 0, nullptr},
    {"LongToByrefTarget", VT_I4, 1, 0, nullptr, VT_I4 | VT_BYREF, 0, kMismatch, 0, 0, nullptr},
};

INSTANTIATE_TEST_SUITE_P(Cases, VariantChangeTypeTest, ::testing::ValuesIn(kChangeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(VariantTest, ChangeTypeAndCopyIndReadThroughReferences) {
  LONG number = 314;
  ScopedVariant ref, dst;
  ref.vt = VT_I4 | VT_BYREF;
  ref.plVal = &number;
  ASSERT_EQ(VariantChangeType(&dst, &ref, 0, VT_BSTR), S_OK);
  EXPECT_EQ(std::u16string(dst.bstrVal), u"314");

  ScopedBstr text(u"-9");
  ScopedVariant textRef, out;
  textRef.vt = VT_BSTR | VT_BYREF;
  textRef.pbstrVal = &text.value;
  ASSERT_EQ(VariantChangeType(&out, &textRef, 0, VT_I4), S_OK);
  EXPECT_EQ(out.lVal, -9);
  EXPECT_EQ(std::u16string(text.value), u"-9") << "the referenced text stays its owner's";
  ScopedVariant copy;
  ASSERT_EQ(VariantCopyInd(&copy, &textRef), S_OK);
  EXPECT_EQ(copy.vt, VT_BSTR);
  EXPECT_NE(copy.bstrVal, text.value) << "a copy of its own";
  EXPECT_EQ(std::u16string(copy.bstrVal), u"-9");
}

TEST(VariantTest, ChangeTypeInPlaceReplacesTheText) {
  ScopedVariant v;
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"77");
  ASSERT_EQ(VariantChangeType(&v, &v, 0, VT_I4), S_OK);  // the text is freed (ASan checks)
  EXPECT_EQ(v.vt, VT_I4);
  EXPECT_EQ(v.lVal, 77);
  v.vt = VT_BSTR;
  v.bstrVal = SysAllocString(u"x");
  EXPECT_EQ(VariantChangeType(&v, &v, 0, VT_I4), DISP_E_TYPEMISMATCH);
  EXPECT_EQ(v.vt, VT_BSTR) << "a failure keeps the source that is also the destination";
}

TEST(VariantTest, ObjectsConvertByAskingForTheInterface) {
  auto* gauge = new kwz_test::Gauge;
  {
    ScopedVariant unknown, dispatch, number;
    unknown.vt = VT_UNKNOWN;
    unknown.punkVal = gauge;  // the variant takes over the creation reference
    ASSERT_EQ(VariantChangeType(&dispatch, &unknown, 0, VT_DISPATCH), S_OK);
    EXPECT_EQ(dispatch.pdispVal, static_cast<IDispatch*>(gauge));
    EXPECT_EQ(VariantChangeType(&number, &unknown, 0, VT_I4), DISP_E_TYPEMISMATCH);
  }
  EXPECT_EQ(kwz_test::LiveComObjects(), 0) << "each conversion gave its reference back";
}

TEST(VariantTest, CopyDuplicatesTextAndHoldsInterfaces) {
  auto* gauge = new kwz_test::Gauge;
  {
    ScopedVariant text, textCopy, object, objectCopy;
    text.vt = VT_BSTR;
    text.bstrVal = SysAllocString(u"abc");
    ASSERT_EQ(VariantCopy(&textCopy, &text), S_OK);
    EXPECT_NE(textCopy.bstrVal, text.bstrVal);
    EXPECT_EQ(std::u16string(textCopy.bstrVal), u"abc");

    object.vt = VT_DISPATCH;
    object.pdispVal = gauge;
    ASSERT_EQ(VariantCopy(&objectCopy, &object), S_OK);
    VariantClear(&object);
    EXPECT_EQ(kwz_test::LiveComObjects(), 1) << "the copy keeps the object alive";
  }
  EXPECT_EQ(kwz_test::LiveComObjects(), 0);

  ScopedVariant bad;
  bad.vt = 0x0FFF;
  EXPECT_EQ(VariantClear(&bad), DISP_E_BADVARTYPE);
  bad.vt = VT_EMPTY;
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
  EXPECT_FALSE(IsEqualGUID(back, kwz_test::IID_GaugeEvents));
  for (const char16_t* bad :
       {u"6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C3", u"{6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C}",
        u"{6A1B0C2D-3E4F-4A5B-8C6D-7E8F90A1B2C3}x", u"{6A1B0C2D-3E4F-4A5B8C6D-7E8F90A1B2C3}",
        u"{6A1B0C2G-3E4F-4A5B-8C6D-7E8F90A1B2C3}", u""}) {
    EXPECT_EQ(CLSIDFromString(bad, &back), CO_E_CLASSSTRING);
  }
  EXPECT_EQ(CLSIDFromString(nullptr, &back), E_INVALIDARG);
}

}  // namespace
