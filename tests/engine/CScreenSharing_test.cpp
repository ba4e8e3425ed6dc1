// The engine over loopback: where Setup opens, what a failed or repeated Setup leaves, the
// cursor of the last message over the picture and the body buffer's growth. (Loss counts are
// the control's tests', the screen's size reports the end-to-end tests'.)
#include <gtest/gtest.h>

#include <utility>

#include "runtime/base_exception.h"
#include "tests/engine/EngineFixture.h"

namespace kwz_test {
namespace {

using EngineSetup = EngineOnLoopback;

// Setup opens the given address only; a second Setup replaces the endpoint.
TEST_F(EngineSetup, OpensTheGivenAddressOnlyAndASecondSetupReplacesIt) {
  EXPECT_TRUE(ShowsRect(0, 0));
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_FALSE(CanBind("127.0.0.1", port_));
  EXPECT_TRUE(CanBind("127.0.0.2", port_));  // bound to 127.0.0.1, not to every address
  const USHORT second = FreeEvenPort();
  ASSERT_NE(second, port_);
  engine_->m_dwPort = second;
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_TRUE(CanBind("127.0.0.1", port_));  // the first endpoint is gone
  ASSERT_TRUE(engine_->Start());
  ScreenSender("127.0.0.1", second).Send(Geometry(320, 240), {});
  EXPECT_TRUE(WaitUntil([&] { return ShowsRect(320, 240); }));
}

// An endpoint that cannot open fails Setup, and Start still runs timed draws; an address that
// is missing or malformed raises and leaves a startable engine.
TEST_F(EngineSetup, FailedOpenStillStartsAndBadAddressesRaise) {
  engine_->SetClock(&VirtualClock::Now);
  for (const auto& [port, address] :
       {std::pair<DWORD, const char*>{0, "192.0.2.1"}, {60005, "127.0.0.1"}}) {
    SCOPED_TRACE(address);
    engine_->m_dwPort = port;
    engine_->SetLocalAddress(address);
    EXPECT_EQ(engine_->Setup(), E_FAIL);
    EXPECT_EQ(engine_->GetPacketLossReport(), u"0/0");
    PaintLog log(window_->Get());
    VirtualClock::Advance(101);  // past the interval of the last round's draws
    ASSERT_TRUE(engine_->Start());
    // A draw at the frame interval; nothing to show, so it releases its DC unpainted.
    EXPECT_TRUE(WaitUntil([&] { return log.DrawCount() == 1; }));
    EXPECT_EQ(log.PaintCount(), 0u);
    EXPECT_TRUE(engine_->Stop());
  }
  for (const char* address : {static_cast<const char*>(nullptr), "127.0.0.256", ""}) {
    engine_->SetLocalAddress(address);
    EXPECT_THROW(engine_->Setup(), exc_CNetwork) << (address ? address : "(null)");
    ASSERT_TRUE(engine_->Start());
    EXPECT_TRUE(engine_->Stop());
  }
}

// The icon changes some pixels in its square around the last message's cursor and nothing
// outside it; a message without a cursor takes it away at the next paint.
TEST_F(EngineSetup, CursorOfTheLastMessageIsDrawnOverThePicture) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  const POINT hotSpot = engine_->Surface()->CursorHotSpot();
  ASSERT_TRUE(engine_->Start());
  const auto picture = Picture(kWidth, kHeight, 3);
  constexpr int kX = 170, kY = 60;  // unequal, so swapped coordinates show
  SendPicture(picture, kX, kY);
  EXPECT_TRUE(WaitUntil([&] {
    const auto shown = window_->Pixels();
    bool changedInside = false;
    for (std::size_t i = 0; i < shown.size(); ++i) {
      if (shown[i] == picture[i]) continue;
      const int x = static_cast<int>(i % kWidth) - (kX - hotSpot.x);
      const int y = static_cast<int>(i / kWidth) - (kY - hotSpot.y);
      if (x < 0 || x >= 32 || y < 0 || y >= 32) return false;
      changedInside = true;
    }
    return changedInside;
  }));
  SendPicture(picture);
  EXPECT_TRUE(WaitUntil([&] { return WindowShows(picture); }));
}

// The body buffer grows to the announced image only within the packet limits; a small message
// behind each shows that it was dealt with.
TEST_F(EngineSetup, BodyBufferGrowsToTheAnnouncedImageWithinThePacketLimits) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_EQ(engine_->BodyCapacity(), CScreenSharing::kBodyBufferSize);
  const struct {
    std::uint16_t width, height;
    DWORD capacity;
  } steps[] = {{200, 100, 180000}, {8192, 8192, 180000}, {1000, 1000, 4000000}};
  std::uint16_t marker = 100;
  for (const auto& step : steps) {
    SCOPED_TRACE(step.width);
    ASSERT_TRUE(engine_->Start());
    sender_->Send(Geometry(step.width, step.height), {});
    sender_->Send(Geometry(++marker, 100), {});
    ASSERT_TRUE(WaitUntil([&] { return ShowsRect(marker, 100); }));
    ASSERT_TRUE(engine_->Stop());
    EXPECT_EQ(engine_->BodyCapacity(), step.capacity);
  }
}

}  // namespace
}  // namespace kwz_test
