// Init, Start, Stop and DeInit through their states and the last release; SizeUpdated raised on
// the engine's thread and delivered on the container's, the window's resize, and DeInit while an
// event is on its way. Init before the window and the window's end are driven through in-place
// activation in ScreenReceiver_ole_test; the loss counters are the engine's, tested with it.
#include <gtest/gtest.h>

#include <functional>
#include <thread>
#include <vector>

#include "tests/control/ControlTestSupport.h"

namespace kwz_test {
namespace {

// Each call and the engine after it: none, initialised (holding the port) or running. An engine
// that stays is the same engine.
TEST_F(ReceiverOnLoopback, StateTable) {
  enum Engine { kNone, kIdle, kRunning };
  const struct {
    const char16_t* call;
    Engine after;
  } steps[] = {{u"Start", kNone},    {u"Init", kIdle},    {u"Init", kIdle},   {u"Start", kRunning},
               {u"Start", kRunning}, {u"Init", kRunning}, {u"Stop", kNone},   {u"Start", kNone},
               {u"Init", kIdle},     {u"DeInit", kNone},  {u"DeInit", kNone}, {u"Init", kIdle},
               {u"Start", kRunning}};
  Script s = script();
  CreateWindow();
  CScreenSharing* engine = nullptr;
  for (const auto& step : steps) {
    SCOPED_TRACE(Narrow(step.call));
    ASSERT_EQ(s.Call(step.call).hr, S_OK);
    const bool kept = engine != nullptr && step.after != kNone;
    EXPECT_TRUE(!kept || control_->Engine() == engine);
    engine = control_->Engine();
    ASSERT_EQ(engine != nullptr, step.after != kNone);
    EXPECT_EQ(engine != nullptr && engine->IsRunning(), step.after == kRunning);
    EXPECT_EQ(PortHeld(), step.after != kNone);
  }
  // Releasing the last reference stops a running engine.
  control_ = nullptr;
  dispatch_.Release();
  EXPECT_EQ(CKWZ_ScreenReceiver::ObjectCount(), 0);
  EXPECT_FALSE(PortHeld());
}

class SizeEvents : public ReceiverOnLoopback, public ::testing::WithParamInterface<bool> {};

TEST_P(SizeEvents, ResizeTheWindowToThePictureUnlessStretching) {
  const bool stretch = GetParam();
  Script s = script();
  ASSERT_EQ(s.PutNumber(u"EnableStretch", stretch ? 1 : 0).hr, S_OK);
  CreateWindow(640, 480);
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  SendPicture(1);
  const SIZE expected = stretch ? SIZE{640, 480} : SIZE{kWidth, kHeight};
  EXPECT_TRUE(PumpUntil([&] {
    RECT screen{}, now{};
    control_->Engine()->GetScreenRect(&screen);
    GetClientRect(control_->Window(), &now);
    return screen.right == kWidth && now.right == expected.cx && now.bottom == expected.cy;
  }));
}

INSTANTIATE_TEST_SUITE_P(Stretch, SizeEvents, ::testing::Bool());

// An event sink that runs hook before it records each call.
class HookedSink final : public RecordingSink {
 public:
  explicit HookedSink(std::function<void()> hook)
      : RecordingSink(true, DIID__IKWZ_ScreenReceiverEvents), hook_(std::move(hook)) {}
  HRESULT Invoke(DISPID dispid, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    hook_();
    return RecordingSink::Invoke(dispid, iid, locale, flags, params, result, exception, argError);
  }

 private:
  ~HookedSink() override = default;
  std::function<void()> hook_;
};

// The engine's SizeUpdated is on its way when the container calls DeInit, whose wait runs the
// handler (a lost call would leave the engine's thread to its stop limit and the handler unrun):
// the Init and Start that the handler makes are refused with an explanation instead
// of reporting success with the engine gone, and the control can be started again afterwards.
TEST_F(ReceiverOnLoopback, InitAndStartFromAHandlerThatDeInitRunsAreRefused) {
  Script s = script();
  CreateWindow(640, 480);
  CComPtr<IConnectionPoint> point = EventPoint(dispatch_);
  ASSERT_TRUE(point);
  // Advised from the multithreaded apartment, so the engine's thread runs it itself: it holds
  // that thread inside the firing, before the call to the handler advised after it, until let go.
  const HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  const HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HookedSink* gate = new HookedSink([&] {
    SetEvent(entered);
    WaitForSingleObject(release, 10000);
  });
  DWORD gateCookie = 0;
  std::jthread([&] {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    EXPECT_EQ(point->Advise(gate, &gateCookie), S_OK);
    CoUninitialize();
  }).join();
  ASSERT_EQ(gateCookie, 1u);  // fired first
  // The container's handler calls Init and then Start, the first time only.
  std::vector<ScriptResult> results;
  HookedSink* handler = nullptr;
  handler = new HookedSink([&] {
    if (!handler->Calls().empty()) return;
    results.push_back(s.Call(u"Init"));
    results.push_back(s.Call(u"Start"));
  });
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(handler, &cookie), S_OK);
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);

  // This thread serves no call until DeInit waits, so the handler can run only inside it.
  SendPicture(3);
  ASSERT_EQ(WaitForSingleObject(entered, 10000), WAIT_OBJECT_0);
  SetEvent(release);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  ASSERT_EQ(results.size(), 2u);
  for (const ScriptResult& r : results) {
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, E_UNEXPECTED);
    EXPECT_FALSE(r.description.empty());
  }
  EXPECT_FALSE(PortHeld());

  // Nothing of the refused calls stays behind: the next Init and Start receive again.
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  SendPicture(4);
  ASSERT_TRUE(PumpUntil([&] { return handler->Calls().size() == 2; }));
  // Raised on the engine's thread, SizeUpdated reaches the container's with the picture's size.
  const RecordingSink::Call call = handler->Calls().back();
  EXPECT_EQ(call.dispid, kDispSizeUpdated);
  EXPECT_EQ(call.args, (std::vector<ULONG>{kWidth, kHeight}));
  EXPECT_EQ(call.thread, GetCurrentThreadId());
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(gateCookie), S_OK);
  point.Release();
  handler->Release();
  gate->Release();
  CloseHandle(entered);
  CloseHandle(release);
}

}  // namespace
}  // namespace kwz_test
