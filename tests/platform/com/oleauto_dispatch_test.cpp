// Table-driven IDispatch where the control's scripted calls do not reach: argument counts,
// coercion failures and where they point, member kinds and named arguments; error information
// per thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/platform/ComTestObjects.h"

namespace {

using kwz_test::Gauge;
using kwz_test::ScopedVariant;

struct InvokeCase {
  const char* name;
  DISPID member;
  WORD flags;
  std::vector<const char16_t*> args;  // declaration order, as texts
  DISPID named;                       // DISPID_UNKNOWN: no named argument
  HRESULT hr;
  UINT argError;  // where hr names an argument
  LONG result;    // where hr is S_OK
};

class InvokeTest : public ::testing::TestWithParam<InvokeCase> {};

TEST_P(InvokeTest, ByDispid) {
  const InvokeCase& c = GetParam();
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  std::vector<VARIANT> reversed(c.args.size());
  for (std::size_t i = 0; i < c.args.size(); ++i) {
    VARIANT& v = reversed[c.args.size() - 1 - i];
    v.vt = VT_BSTR;
    v.bstrVal = SysAllocString(c.args[i]);
  }
  DISPID named = c.named;
  DISPPARAMS params{reversed.data(), &named, static_cast<UINT>(reversed.size()),
                    c.named == DISPID_UNKNOWN ? 0u : 1u};
  ScopedVariant result;
  UINT argError = 12345;
  EXPECT_EQ(gauge->Invoke(c.member, IID_NULL, 0, c.flags, &params, &result, nullptr, &argError),
            c.hr);
  for (VARIANT& v : reversed) VariantClear(&v);
  if (c.hr == DISP_E_TYPEMISMATCH || c.hr == DISP_E_OVERFLOW) {
    EXPECT_EQ(argError, c.argError);
  }
  EXPECT_EQ(result.vt, c.hr == S_OK ? VT_I4 : VT_EMPTY);
  if (c.hr == S_OK) {
    EXPECT_EQ(result.lVal, c.result);
  }
}

constexpr WORD kMethod = DISPATCH_METHOD, kGet = DISPATCH_PROPERTYGET;
constexpr DISPID kNone = DISPID_UNKNOWN;
using kwz_test::kAdd;
using kwz_test::kWidth;

// A failing argument is named by its place in rgvarg, where the first sits last.
const InvokeCase kInvokeCases[] = {
    {"MethodCalledAsMethodOrGet", kAdd, kMethod | kGet, {u"40", u"2"}, kNone, S_OK, 0, 42},
    {"TooFewArguments", kAdd, kMethod, {u"1"}, kNone, DISP_E_BADPARAMCOUNT, 0, 0},
    {"FirstArgumentNotANumber", kAdd, kMethod, {u"x", u"1"}, kNone, DISP_E_TYPEMISMATCH, 1, 0},
    {"SecondArgumentOverflows", kAdd, kMethod, {u"1", u"3e9"}, kNone, DISP_E_OVERFLOW, 0, 0},
    {"MethodAsProperty", kAdd, kGet, {u"1", u"2"}, kNone, DISP_E_MEMBERNOTFOUND, 0, 0},
    {"PutWithoutItsNamedArgument",
     kWidth,
     DISPATCH_PROPERTYPUT,
     {u"3"},
     kNone,
     DISP_E_PARAMNOTFOUND,
     0,
     0},
    {"NamedArgumentOfAMethod",
     kAdd,
     kMethod,
     {u"1", u"2"},
     DISPID_PROPERTYPUT,
     DISP_E_NONAMEDARGS,
     0,
     0},
};

INSTANTIATE_TEST_SUITE_P(Cases, InvokeTest, ::testing::ValuesIn(kInvokeCases),
                         [](const auto& info) { return std::string(info.param.name); });

// Error information belongs to its thread, is consumed by reading it, and a call clears a stale
// one so that it cannot describe the call's own failure.
TEST(ErrorInfoTest, PerThreadConsumedAndClearedByACall) {
  CComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(u"stale"));
  CComPtr<IErrorInfo> info;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  HRESULT otherThread = E_FAIL;
  std::jthread([&] {
    CComPtr<IErrorInfo> seen;
    otherThread = GetErrorInfo(0, &seen);
  }).join();
  EXPECT_EQ(otherThread, S_FALSE);
  CComPtr<IErrorInfo> got, again;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got.get(), info.get());
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);

  ASSERT_EQ(SetErrorInfo(0, info), S_OK);
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  DISPPARAMS none{nullptr, nullptr, 0, 0};
  EXCEPINFO exception{};
  EXPECT_EQ(
      gauge->Invoke(kwz_test::kFail, IID_NULL, 0, kMethod, &none, nullptr, &exception, nullptr),
      DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_INVALIDARG);
  EXPECT_EQ(exception.bstrDescription, nullptr);
  EXPECT_EQ(gauge->Invoke(kWidth, kwz_test::IID_IGauge, 0, kGet, &none, nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

}  // namespace
