// Init, Start, Stop and DeInit through their states and the last release; SizeUpdated raised on
// the engine's thread and delivered on the container's, the window's resize, and DeInit while an
// event is on its way. Init before the window and the window's end are driven through in-place
// activation in ScreenReceiver_ole_test; the loss counters are the engine's, tested with it.
#include <gtest/gtest.h>

#include <thread>

#include "tests/control/ReceiverOnLoopback.h"

namespace kwz_test {
namespace {

TEST_F(ReceiverOnLoopback, StateTable) {
  Script s = script();
  CreateWindow();
  // created: Start does nothing.
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  // created -> initialized.
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  CScreenSharing* engine = control_->Engine();
  ASSERT_NE(engine, nullptr);
  EXPECT_FALSE(engine->IsRunning());
  EXPECT_TRUE(PortHeld());
  // initialized -> running; Start and Init again change nothing.
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(s.Call(u"Init").hr, S_OK);
  EXPECT_EQ(control_->Engine(), engine);
  EXPECT_TRUE(engine->IsRunning());
  // running -> created through Stop; Start alone then does nothing.
  EXPECT_EQ(s.Call(u"Stop").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  EXPECT_FALSE(PortHeld());
  EXPECT_EQ(s.Call(u"Start").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  // And back through Init, then DeInit twice.
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(control_->Engine(), nullptr);
  EXPECT_FALSE(PortHeld());
  // Releasing the last reference stops a running engine.
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  control_ = nullptr;
  dispatch_.Release();
  EXPECT_EQ(CKWZ_ScreenReceiver::ObjectCount(), 0);
  EXPECT_FALSE(PortHeld());
}

class SizeEvents : public ReceiverOnLoopback, public ::testing::WithParamInterface<bool> {};

TEST_P(SizeEvents, ReachTheSinkOnTheContainersThreadAndResizeUnlessStretching) {
  const bool stretch = GetParam();
  Script s = script();
  ASSERT_EQ(s.PutNumber(u"EnableStretch", stretch ? 1 : 0).hr, S_OK);
  CreateWindow(640, 480);
  RecordingSink* sink = NewEventSink();
  CComPtr<IConnectionPoint> point = EventPoint(dispatch_);
  ASSERT_TRUE(point);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);

  SendPicture(1);
  ASSERT_TRUE(PumpUntil([&] { return !sink->Calls().empty(); }));
  const RecordingSink::Call call = sink->Calls().front();
  EXPECT_EQ(call.dispid, kDispSizeUpdated);
  EXPECT_EQ(call.args, (std::vector<ULONG>{kWidth, kHeight}));
  EXPECT_EQ(call.thread, GetCurrentThreadId());
  const SIZE expected = stretch ? SIZE{640, 480} : SIZE{kWidth, kHeight};
  EXPECT_TRUE(PumpUntil([&] {
    RECT now{};
    GetClientRect(control_->Window(), &now);
    return now.right == expected.cx && now.bottom == expected.cy;
  }));

  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  sink->Release();
}

INSTANTIATE_TEST_SUITE_P(Stretch, SizeEvents, ::testing::Bool());

// Advised from the multithreaded apartment, so the engine's thread runs it itself: it holds
// that thread inside the firing, before the calls to the sinks advised after it, until let go.
class GateSink final : public RecordingSink {
 public:
  GateSink() : RecordingSink(true, DIID__IKWZ_ScreenReceiverEvents) {}
  HRESULT Invoke(DISPID dispid, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    SetEvent(entered);
    WaitForSingleObject(release, 10000);
    return RecordingSink::Invoke(dispid, iid, locale, flags, params, result, exception, argError);
  }
  HANDLE entered = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);

 private:
  ~GateSink() override {
    CloseHandle(entered);
    CloseHandle(release);
  }
};

// A container whose SizeUpdated handler calls Init and then Start, the first time only.
class RestartingSink final : public RecordingSink {
 public:
  explicit RestartingSink(IDispatch* control)
      : RecordingSink(true, DIID__IKWZ_ScreenReceiverEvents), control_(control) {}
  HRESULT Invoke(DISPID dispid, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argError) override {
    if (Calls().empty()) {
      Script s(control_);
      results.push_back(s.Call(u"Init"));
      results.push_back(s.Call(u"Start"));
    }
    return RecordingSink::Invoke(dispid, iid, locale, flags, params, result, exception, argError);
  }
  std::vector<ScriptResult> results;  // the container's thread only

 private:
  ~RestartingSink() override = default;
  IDispatch* control_;  // borrowed
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
  GateSink* gate = new GateSink();
  DWORD gateCookie = 0;
  {
    std::jthread advising([&] {
      const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
      EXPECT_TRUE(com);
      if (!com) return;
      EXPECT_EQ(point->Advise(gate, &gateCookie), S_OK);
      CoUninitialize();
    });
  }
  ASSERT_EQ(gateCookie, 1u);  // fired first
  RestartingSink* sink = new RestartingSink(dispatch_);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);

  // This thread serves no call until DeInit waits, so the handler can run only inside it.
  SendPicture(3);
  ASSERT_EQ(WaitForSingleObject(gate->entered, 10000), WAIT_OBJECT_0);
  SetEvent(gate->release);
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);

  ASSERT_EQ(sink->results.size(), 2u);
  for (const ScriptResult& r : sink->results) {
    EXPECT_EQ(r.hr, DISP_E_EXCEPTION);
    EXPECT_EQ(r.scode, E_UNEXPECTED);
    EXPECT_FALSE(r.description.empty());
  }
  EXPECT_FALSE(PortHeld());

  // Nothing of the refused calls stays behind: the next Init and Start receive again.
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);
  SendPicture(4);
  EXPECT_TRUE(PumpUntil([&] { return sink->Calls().size() == 2; }));
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);

  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  EXPECT_EQ(point->Unadvise(gateCookie), S_OK);
  point.Release();
  sink->Release();
  gate->Release();
}

}  // namespace
}  // namespace kwz_test
