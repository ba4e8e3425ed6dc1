// The test's side of the control: a scripting container that calls members by name through
// IDispatch, an event sink, and a fixture that runs the container's thread as a
// single-threaded apartment with a headless window for the control.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "control/CKWZ_ScreenReceiver.h"
#include "platform/com.h"
#include "platform/com_ptr.h"
#include "platform/kernel.h"
#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winuser.h"
#include "tests/platform/ComTestObjects.h"

namespace kwz_test {

// The outcome of one call made by name.
struct ScriptResult {
  HRESULT hr = S_OK;     // what Invoke returned
  HRESULT scode = S_OK;  // the member's own result when hr is DISP_E_EXCEPTION
  std::u16string description;
  std::u16string source;
  std::u16string text;  // a BSTR result
  LONG number = 0;      // a LONG result
};

inline std::u16string TakeBstr(BSTR& value) {
  std::u16string text = value != nullptr ? std::u16string(value, SysStringLen(value)) : u"";
  SysFreeString(value);
  value = nullptr;
  return text;
}

// Calls the control's members by name, as a script engine does.
class Script {
 public:
  explicit Script(IDispatch* target) : target_(target) {}

  // args in declaration order; DISPPARAMS holds them last first.
  ScriptResult Call(const char16_t* name, std::vector<std::u16string> args = {}) {
    std::vector<VARIANT> values;
    for (auto arg = args.rbegin(); arg != args.rend(); ++arg) values.push_back(Text(*arg));
    DISPPARAMS params{values.data(), nullptr, static_cast<UINT>(values.size()), 0};
    return Run(name, DISPATCH_METHOD, &params, values);
  }
  ScriptResult Get(const char16_t* name) {
    DISPPARAMS params{nullptr, nullptr, 0, 0};
    return Run(name, DISPATCH_PROPERTYGET, &params, {});
  }
  ScriptResult PutText(const char16_t* name, const std::u16string& text) {
    return Put(name, Text(text));
  }
  ScriptResult PutNumber(const char16_t* name, LONG number) {
    VARIANT value{};
    value.vt = VT_I4;
    value.lVal = number;
    return Put(name, value);
  }

 private:
  static VARIANT Text(const std::u16string& text) {
    VARIANT value{};
    value.vt = VT_BSTR;
    value.bstrVal = SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
    return value;
  }
  ScriptResult Put(const char16_t* name, VARIANT value) {
    DISPID named = DISPID_PROPERTYPUT;
    DISPPARAMS params{&value, &named, 1, 1};
    return Run(name, DISPATCH_PROPERTYPUT, &params, {value});
  }
  // Calls the member, then clears args.
  ScriptResult Run(const char16_t* name, WORD flags, DISPPARAMS* params,
                   std::vector<VARIANT> args) {
    ScriptResult result;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    DISPID id = -1;
    EXPECT_EQ(target_->GetIDsOfNames(IID_NULL, names, 1, 0x400, &id), S_OK) << Narrow(name);
    VARIANT out;
    VariantInit(&out);
    EXCEPINFO exception{};
    UINT argError = 0;
    result.hr = target_->Invoke(id, IID_NULL, 0x400, flags, params, &out, &exception, &argError);
    if (result.hr == DISP_E_EXCEPTION) {
      result.scode = exception.scode;
      result.description = TakeBstr(exception.bstrDescription);
      result.source = TakeBstr(exception.bstrSource);
      SysFreeString(exception.bstrHelpFile);
    }
    if (out.vt == VT_BSTR) result.text = TakeBstr(out.bstrVal);
    if (out.vt == VT_I4) result.number = out.lVal;
    VariantClear(&out);
    for (VARIANT& arg : args) VariantClear(&arg);
    return result;
  }

  IDispatch* target_;
};

// The control's connection point for its events.
inline CComPtr<IConnectionPoint> EventPoint(IDispatch* control) {
  CComPtr<IConnectionPointContainer> container;
  CComPtr<IConnectionPoint> point;
  control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container));
  if (container) container->FindConnectionPoint(DIID__IKWZ_ScreenReceiverEvents, &point);
  return point;
}

// A sink for the control's events that records each call with its thread.
inline RecordingSink* NewEventSink(bool givesEvents = true) {
  return new RecordingSink(givesEvents, DIID__IKWZ_ScreenReceiverEvents);
}

// The container's thread: an apartment, a control reached through IDispatch, and on request the
// control's window. Every test ends with no control and no sink alive.
class ControlTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
    ASSERT_EQ(
        CKWZ_ScreenReceiver::CreateInstance(IID_IDispatch, reinterpret_cast<void**>(&dispatch_)),
        S_OK);
    control_ = static_cast<CKWZ_ScreenReceiver*>(
        static_cast<IKWZ_ScreenReceiver*>(static_cast<IDispatch*>(dispatch_)));
  }
  void TearDown() override {
    control_ = nullptr;
    dispatch_.Release();
    EXPECT_EQ(CKWZ_ScreenReceiver::ObjectCount(), 0);
    EXPECT_EQ(LiveComObjects().load(), 0);
    CoUninitialize();
  }

  void CreateWindow(int width = 640, int height = 480) {
    ASSERT_NE(control_->CreateControlWindow(nullptr, RECT{0, 0, width, height}), nullptr);
  }

  // Runs this thread's messages and incoming calls until condition holds (or 10 s pass).
  static bool PumpUntil(const std::function<bool()>& condition) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    static const HANDLE never = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    while (!condition()) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
      // A poll: the conditions are other threads' state, which signals nothing to wait on; the
      // pause between looks serves the calls and sent messages that other threads address here.
      DWORD index = 0;
      CoWaitForMultipleHandles(0, 2, 1, &never, &index);
    }
    return true;
  }

  Script script() { return Script(dispatch_); }

  CComPtr<IDispatch> dispatch_;
  CKWZ_ScreenReceiver* control_ = nullptr;  // borrowed from dispatch_
};

}  // namespace kwz_test
