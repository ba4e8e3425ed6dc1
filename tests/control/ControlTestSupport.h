// The test's side of the control: a scripting container that calls members by name through
// IDispatch, an event sink, a fixture that runs the container's thread as a single-threaded
// apartment with a headless window for the control, one whose engine receives on loopback, and
// the container's side of in-place activation.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "control/CKWZ_ScreenReceiver.h"
#include "platform/com.h"
#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/kernel.h"
#include "platform/ocidl.h"
#include "platform/oleauto.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "platform/winuser.h"
#include "tests/engine/EngineFixture.h"
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

// A control whose engine receives on 127.0.0.1 at a free even port, painting into a headless
// window, with a presenter stand-in aimed at it.
class ReceiverOnLoopback : public ControlTest {
 protected:
  static constexpr int kWidth = 300;
  static constexpr int kHeight = 200;

  void SetUp() override {
    ControlTest::SetUp();
    UseHeadlessGdi();
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
    port_ = FreeEvenPort();
    ASSERT_NE(port_, 0);
    Script s = script();
    ASSERT_EQ(s.PutText(u"SourceAddress", u"127.0.0.1").hr, S_OK);
    ASSERT_EQ(s.PutText(u"SourcePort", Widen(std::to_string(port_).c_str())).hr, S_OK);
    sender_ = std::make_unique<ScreenSender>("127.0.0.1", port_);
  }
  void TearDown() override {
    sender_.reset();
    ControlTest::TearDown();
  }

  bool PortHeld() const { return !CanBind("127.0.0.1", port_); }

  void SendPicture(std::uint32_t seed) {
    const std::vector<Bytes> blocks = ZlibBlocks(Picture(kWidth, kHeight, seed), kWidth, kHeight);
    for (std::size_t i = 0; i < blocks.size(); ++i) {
      sender_->Send(BlockFields(kWidth, kHeight, static_cast<std::uint16_t>(i)), blocks[i]);
    }
  }

  USHORT port_ = 0;
  std::unique_ptr<ScreenSender> sender_;
};

// One thing the control told its site, and what the test's probe answered just then.
struct SiteEvent {
  std::string what;
  bool probe = false;
  bool operator==(const SiteEvent&) const = default;
};

// A client site that is also a control site; with inPlace it is also the in-place site, whose
// window is window and whose rectangle for the control is position. Container's thread only.
class TestContainerSite final : public kwz_platform::ComObject<TestContainerSite, IOleClientSite,
                                                               IOleInPlaceSite, IOleControlSite> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IOleClientSite, IID_IOleClientSite>,
                                  kwz_platform::ComEntry<IOleControlSite, IID_IOleControlSite>>;

  TestContainerSite(HWND window, RECT position, bool inPlace = true)
      : window_(window), position_(position), inPlace_(inPlace) {
    ++LiveComObjects();
  }

  void* FindInterface(REFIID iid) {
    if (!inPlace_) return nullptr;
    const bool site = IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow);
    return site ? static_cast<IOleInPlaceSite*>(this) : nullptr;
  }

  // What CanInPlaceActivate answers.
  HRESULT allowActivation = S_OK;
  int activations = 0;
  int deactivations = 0;
  int shown = 0;
  // UI activation, focus and in-place deactivation, in the order told.
  std::vector<SiteEvent> events;
  std::function<bool()> probe = [] { return false; };

  // IOleClientSite
  HRESULT SaveObject() override { return E_NOTIMPL; }
  HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT ShowObject() override {
    ++shown;
    return S_OK;
  }
  HRESULT OnShowWindow(BOOL) override { return S_OK; }
  HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT GetWindow(HWND* window) override {
    *window = window_;
    return S_OK;
  }
  HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT CanInPlaceActivate() override { return allowActivation; }
  HRESULT OnInPlaceActivate() override {
    ++activations;
    return S_OK;
  }
  HRESULT OnUIActivate() override { return Record("OnUIActivate"); }
  HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                           LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (info->cb != sizeof(OLEINPLACEFRAMEINFO)) return E_INVALIDARG;
    *frame = nullptr;
    *document = nullptr;
    *position = position_;
    *clip = position_;
    info->hwndFrame = window_;
    return S_OK;
  }
  HRESULT Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT OnUIDeactivate(BOOL undoable) override {
    return Record(undoable ? "OnUIDeactivate(TRUE)" : "OnUIDeactivate(FALSE)");
  }
  HRESULT OnInPlaceDeactivate() override {
    ++deactivations;
    return Record("OnInPlaceDeactivate");
  }
  HRESULT DiscardUndoState() override { return E_NOTIMPL; }
  HRESULT DeactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

  // IOleControlSite
  HRESULT OnControlInfoChanged() override { return S_OK; }
  HRESULT LockInPlaceActive(BOOL) override { return E_NOTIMPL; }
  HRESULT GetExtendedControl(IDispatch** extended) override {
    *extended = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  HRESULT OnFocus(BOOL gotFocus) override {
    return Record(gotFocus ? "OnFocus(TRUE)" : "OnFocus(FALSE)");
  }
  HRESULT ShowPropertyFrame() override { return E_NOTIMPL; }

 private:
  ~TestContainerSite() override { --LiveComObjects(); }

  HRESULT Record(const char* what) {
    events.push_back({what, probe()});
    return S_OK;
  }

  const HWND window_;
  const RECT position_;
  const bool inPlace_;
};

}  // namespace kwz_test
