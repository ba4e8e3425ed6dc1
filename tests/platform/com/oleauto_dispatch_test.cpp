// Table-driven IDispatch: invocation by name, argument coercion and its failures, exceptions
// through EXCEPINFO, and error information per thread.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch_table.h"
#include "tests/platform/ComTestObjects.h"

namespace {

using kwz_test::Gauge;
using kwz_test::ScopedBstr;
using kwz_test::ScopedVariant;

// An argument as a container passes it: a number or a text.
struct Arg {
  VARTYPE vt;
  LONG number;
  const char16_t* text;
};
Arg Long(LONG n) {
  return Arg{VT_I4, n, nullptr};
}
Arg Text(const char16_t* t) {
  return Arg{VT_BSTR, 0, t};
}

// Looks the member up by name and invokes it with args in declaration order.
HRESULT CallByName(IDispatch* object, const char16_t* name, WORD flags,
                   const std::vector<Arg>& args, VARIANT* result, EXCEPINFO* exception = nullptr,
                   UINT* argError = nullptr) {
  DISPID dispid = 0;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &dispid);
  if (FAILED(hr)) return hr;
  std::vector<VARIANT> reversed(args.size());
  for (std::size_t i = 0; i < args.size(); ++i) {
    VARIANT& v = reversed[args.size() - 1 - i];
    VariantInit(&v);
    v.vt = args[i].vt;
    if (v.vt == VT_BSTR) {
      v.bstrVal = SysAllocString(args[i].text);
    } else {
      v.lVal = args[i].number;
    }
  }
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(args.size()), 0};
  hr = object->Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, flags, &params, result, exception,
                      argError);
  for (VARIANT& v : reversed) VariantClear(&v);
  return hr;
}

struct InvokeCase {
  const char* name;
  const char16_t* member;
  WORD flags;
  std::vector<Arg> args;
  HRESULT hr;
  UINT argError;  // where hr names an argument
  LONG result;    // where hr is S_OK
};

class InvokeTest : public ::testing::TestWithParam<InvokeCase> {};

TEST_P(InvokeTest, ByName) {
  const InvokeCase& c = GetParam();
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  ScopedVariant result;
  UINT argError = 12345;
  ASSERT_EQ(CallByName(gauge, c.member, c.flags, c.args, &result, nullptr, &argError), c.hr);
  if (c.hr == DISP_E_TYPEMISMATCH || c.hr == DISP_E_OVERFLOW) {
    EXPECT_EQ(argError, c.argError);
  }
  if (c.hr == S_OK) {
    ASSERT_EQ(result.vt, VT_I4);
    EXPECT_EQ(result.lVal, c.result);
  } else {
    EXPECT_EQ(result.vt, VT_EMPTY);
  }
}

constexpr WORD kMethod = DISPATCH_METHOD, kGet = DISPATCH_PROPERTYGET;
constexpr HRESULT kCount = DISP_E_BADPARAMCOUNT, kType = DISP_E_TYPEMISMATCH,
                  kKind = DISP_E_MEMBERNOTFOUND;

// A failing argument is named by its place in rgvarg, where the first sits last.
const InvokeCase kInvokeCases[] = {
    {"TextArgumentIsCoerced", u"add", kMethod, {Text(u"40"), Long(2)}, S_OK, 0, 42},
    {"MethodCalledAsMethodOrGet", u"Add", kMethod | kGet, {Long(-1), Long(1)}, S_OK, 0, 0},
    {"TooFewArguments", u"Add", kMethod, {Long(1)}, kCount, 0, 0},
    {"GetterWithAnArgument", u"Width", kGet, {Long(1)}, kCount, 0, 0},
    {"FirstArgumentNotANumber", u"Add", kMethod, {Text(u"x"), Long(1)}, kType, 1, 0},
    {"SecondArgumentNotANumber", u"Add", kMethod, {Long(1), Text(u"1 2")}, kType, 0, 0},
    {"SecondArgumentOverflows", u"Add", kMethod, {Long(1), Text(u"3e9")}, DISP_E_OVERFLOW, 0, 0},
    {"MethodAsProperty", u"Add", kGet, {Long(1), Long(2)}, kKind, 0, 0},
    {"PropertyAsMethod", u"Width", kMethod, {}, kKind, 0, 0},
    {"UnknownName", u"Height", kMethod, {}, DISP_E_UNKNOWNNAME, 0, 0},
};

INSTANTIATE_TEST_SUITE_P(Cases, InvokeTest, ::testing::ValuesIn(kInvokeCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(DispatchTest, PutNeedsItsNamedArgument) {
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  VARIANT value;
  VariantInit(&value);
  value.vt = VT_I4;
  value.lVal = 3;
  DISPID other = 0;
  for (DISPPARAMS params : {DISPPARAMS{&value, nullptr, 1, 0}, DISPPARAMS{&value, &other, 1, 1}}) {
    EXPECT_EQ(gauge->Invoke(kwz_test::kWidth, IID_NULL, 0, DISPATCH_PROPERTYPUT, &params, nullptr,
                            nullptr, nullptr),
              DISP_E_PARAMNOTFOUND);
  }
  DISPID put = DISPID_PROPERTYPUT;
  DISPPARAMS named{&value, &put, 1, 1};
  EXPECT_EQ(gauge->Invoke(kwz_test::kAdd, IID_NULL, 0, DISPATCH_METHOD, &named, nullptr, nullptr,
                          nullptr),
            DISP_E_NONAMEDARGS);
  EXPECT_EQ(gauge->Invoke(99, IID_NULL, 0, DISPATCH_METHOD, &named, nullptr, nullptr, nullptr),
            DISP_E_MEMBERNOTFOUND);
  EXPECT_EQ(gauge->Invoke(kwz_test::kWidth, kwz_test::IID_IGauge, 0, DISPATCH_PROPERTYGET, &named,
                          nullptr, nullptr, nullptr),
            DISP_E_UNKNOWNINTERFACE);
}

TEST(DispatchTest, NamesResolveWithParametersAndUnknownsAreMarked) {
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  LPOLESTR names[] = {const_cast<LPOLESTR>(u"ADD"), const_cast<LPOLESTR>(u"b"),
                      const_cast<LPOLESTR>(u"a")};
  DISPID ids[3] = {};
  ASSERT_EQ(gauge->GetIDsOfNames(IID_NULL, names, 3, 0, ids), S_OK);
  EXPECT_EQ(ids[0], kwz_test::kAdd);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], 0);
  names[2] = const_cast<LPOLESTR>(u"c");
  EXPECT_EQ(gauge->GetIDsOfNames(IID_NULL, names, 3, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[1], 1);
  EXPECT_EQ(ids[2], DISPID_UNKNOWN);
  names[0] = const_cast<LPOLESTR>(u"Adder");
  EXPECT_EQ(gauge->GetIDsOfNames(IID_NULL, names, 1, 0, ids), DISP_E_UNKNOWNNAME);
  EXPECT_EQ(ids[0], DISPID_UNKNOWN);
}

TEST(DispatchTest, FailingMemberFillsExcepinfoFromErrorInformation) {
  CComPtr<Gauge> gauge;
  gauge.Attach(new Gauge);
  EXCEPINFO exception{};
  ScopedVariant result;
  ASSERT_EQ(CallByName(gauge, u"Fail", DISPATCH_METHOD, {Text(u"bad width")}, &result, &exception),
            DISP_E_EXCEPTION);
  EXPECT_EQ(exception.scode, E_INVALIDARG);
  ASSERT_NE(exception.bstrDescription, nullptr);
  EXPECT_EQ(std::u16string(exception.bstrDescription), u"bad width");
  ASSERT_NE(exception.bstrSource, nullptr);
  EXPECT_EQ(std::u16string(exception.bstrSource), u"Gauge");
  SysFreeString(exception.bstrDescription);
  SysFreeString(exception.bstrSource);
  EXPECT_EQ(exception.bstrHelpFile, nullptr) << "never set";
  CComPtr<IErrorInfo> left;
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE) << "the error information went into EXCEPINFO";

  // A stale error object of an earlier failure does not describe a later one.
  CComPtr<ICreateErrorInfo> stale;
  CreateErrorInfo(&stale);
  stale->SetDescription(const_cast<LPOLESTR>(u"stale"));
  CComPtr<IErrorInfo> staleInfo;
  stale->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&staleInfo));
  SetErrorInfo(0, staleInfo);
  ScopedVariant sum;
  EXPECT_EQ(CallByName(gauge, u"Add", DISPATCH_METHOD, {Long(1), Long(1)}, &sum), S_OK);
  EXPECT_EQ(GetErrorInfo(0, &left), S_FALSE);
}

TEST(ErrorInfoTest, EachThreadHasItsOwnAndGetConsumesIt) {
  CComPtr<ICreateErrorInfo> create;
  ASSERT_EQ(CreateErrorInfo(&create), S_OK);
  create->SetDescription(const_cast<LPOLESTR>(u"mine"));
  CComPtr<IErrorInfo> info;
  ASSERT_EQ(create->QueryInterface(IID_IErrorInfo, reinterpret_cast<void**>(&info)), S_OK);
  ASSERT_EQ(SetErrorInfo(0, info), S_OK);

  HRESULT otherThread = E_FAIL;
  std::jthread([&] {
    CComPtr<IErrorInfo> seen;
    otherThread = GetErrorInfo(0, &seen);
  }).join();
  EXPECT_EQ(otherThread, S_FALSE);

  CComPtr<IErrorInfo> got;
  ASSERT_EQ(GetErrorInfo(0, &got), S_OK);
  EXPECT_EQ(got.get(), info.get());
  ScopedBstr description;
  got->GetDescription(&description.value);
  EXPECT_EQ(description.Text(), u"mine");
  CComPtr<IErrorInfo> again;
  EXPECT_EQ(GetErrorInfo(0, &again), S_FALSE);
  EXPECT_EQ(again.get(), nullptr);
  EXPECT_EQ(SetErrorInfo(1, info), E_INVALIDARG);
}

}  // namespace
