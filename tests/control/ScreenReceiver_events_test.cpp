// SizeUpdated raised on the engine's thread and delivered on the container's, the window's
// resize, DeInit while an event is on its way, and the connection point's cookies.
#include <gtest/gtest.h>

#include <chrono>

#include "tests/control/ReceiverOnLoopback.h"

namespace kwz_test {
namespace {

CComPtr<IConnectionPoint> EventPoint(IDispatch* control) {
  CComPtr<IConnectionPointContainer> container;
  EXPECT_EQ(
      control->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&container)),
      S_OK);
  CComPtr<IConnectionPoint> point;
  if (container) {
    EXPECT_EQ(container->FindConnectionPoint(DIID__IKWZ_ScreenReceiverEvents, &point), S_OK);
  }
  return point;
}

SIZE ClientSize(HWND window) {
  RECT rect{};
  GetClientRect(window, &rect);
  return SIZE{rect.right - rect.left, rect.bottom - rect.top};
}

class SizeEvents : public ReceiverOnLoopback, public ::testing::WithParamInterface<bool> {};

TEST_P(SizeEvents, ReachTheSinkOnTheContainersThreadAndResizeUnlessStretching) {
  const bool stretch = GetParam();
  Script s = script();
  ASSERT_EQ(s.PutNumber(u"EnableStretch", stretch ? 1 : 0).hr, S_OK);
  CreateWindow(640, 480);
  SizeSink* sink = new SizeSink();
  CComPtr<IConnectionPoint> point = EventPoint(dispatch_);
  ASSERT_TRUE(point);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);

  SendPicture(1);
  ASSERT_TRUE(PumpUntil([&] { return !sink->Sizes().empty(); }));
  const SizeSink::Size call = sink->Sizes().front();
  EXPECT_EQ(call.dx, static_cast<ULONG>(kWidth));
  EXPECT_EQ(call.dy, static_cast<ULONG>(kHeight));
  EXPECT_EQ(call.thread, GetCurrentThreadId());
  const SIZE expected = stretch ? SIZE{640, 480} : SIZE{kWidth, kHeight};
  EXPECT_TRUE(PumpUntil([&] {
    const SIZE now = ClientSize(control_->Window());
    return now.cx == expected.cx && now.cy == expected.cy;
  }));

  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  EXPECT_EQ(sink->Sizes().size(), 1u);
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  point.Release();
  sink->Release();
}

INSTANTIATE_TEST_SUITE_P(Stretch, SizeEvents, ::testing::Bool());

// The engine's thread is held inside SizeUpdated, waiting for this thread, when DeInit begins:
// DeInit keeps serving the call, so the event arrives and the stop does not run into its limit.
TEST_F(ReceiverOnLoopback, DeInitDeliversAnEventAlreadyOnItsWay) {
  Script s = script();
  CreateWindow(640, 480);
  SizeSink* sink = new SizeSink();
  CComPtr<IConnectionPoint> point = EventPoint(dispatch_);
  DWORD cookie = 0;
  ASSERT_EQ(point->Advise(sink, &cookie), S_OK);
  ASSERT_EQ(s.Call(u"Init").hr, S_OK);
  ASSERT_EQ(s.Call(u"Start").hr, S_OK);

  SendPicture(2);
  // Not pumping: the engine's call waits for this thread.
  Sleep(500);
  EXPECT_TRUE(sink->Sizes().empty());
  const auto before = std::chrono::steady_clock::now();
  EXPECT_EQ(s.Call(u"DeInit").hr, S_OK);
  const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - before)
                        .count();
  // Far below the thread's 5000 ms stop limit, which a lost call would run into.
  EXPECT_LT(took, 2500);
  ASSERT_EQ(sink->Sizes().size(), 1u);
  EXPECT_EQ(sink->Sizes().front().thread, GetCurrentThreadId());
  EXPECT_EQ(point->Unadvise(cookie), S_OK);
  point.Release();
  sink->Release();
}

TEST_F(ControlTest, AdviseAndUnadviseCookies) {
  CComPtr<IConnectionPoint> point = EventPoint(dispatch_);
  ASSERT_TRUE(point);
  IID iid{};
  ASSERT_EQ(point->GetConnectionInterface(&iid), S_OK);
  EXPECT_TRUE(IsEqualIID(iid, DIID__IKWZ_ScreenReceiverEvents));

  SizeSink* first = new SizeSink();
  SizeSink* second = new SizeSink();
  SizeSink* deaf = new SizeSink(false);
  DWORD cookie = 77;
  EXPECT_EQ(point->Advise(nullptr, &cookie), E_POINTER);
  EXPECT_EQ(point->Advise(first, nullptr), E_POINTER);
  EXPECT_EQ(point->Advise(deaf, &cookie), CONNECT_E_CANNOTCONNECT);
  EXPECT_EQ(cookie, 0u);

  DWORD a = 0;
  DWORD b = 0;
  ASSERT_EQ(point->Advise(first, &a), S_OK);
  ASSERT_EQ(point->Advise(second, &b), S_OK);
  EXPECT_EQ(a, 1u);
  EXPECT_EQ(b, 2u);
  for (DWORD bad : {0u, 3u, 1000u}) EXPECT_EQ(point->Unadvise(bad), CONNECT_E_NOCONNECTION);
  EXPECT_EQ(point->Unadvise(a), S_OK);
  EXPECT_EQ(point->Unadvise(a), CONNECT_E_NOCONNECTION);
  DWORD again = 0;
  ASSERT_EQ(point->Advise(first, &again), S_OK);
  EXPECT_EQ(again, 1u);  // the first free slot

  // Firing reaches every advised sink with the size in declaration order.
  control_->OnScreenSizeChanged(1024, 768);
  for (SizeSink* sink : {first, second}) {
    ASSERT_EQ(sink->Sizes().size(), 1u);
    EXPECT_EQ(sink->Sizes().front().dx, 1024u);
    EXPECT_EQ(sink->Sizes().front().dy, 768u);
  }
  EXPECT_TRUE(deaf->Calls().empty());

  // Sinks still advised when the control goes are given back by it.
  point.Release();
  first->Release();
  second->Release();
  deaf->Release();
}

}  // namespace
}  // namespace kwz_test
