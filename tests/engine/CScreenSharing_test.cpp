// The engine over loopback: where Setup opens, what a failed or repeated Setup leaves, the
// cursor of the last message over the picture, loss counts and the body buffer's growth. The
// screen's size reports are the end-to-end tests'.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>

#include "platform/widestring.h"
#include "runtime/base_exception.h"
#include "tests/engine/EngineFixture.h"

namespace kwz_test {
namespace {

bool SameRect(const RECT& r, LONG width, LONG height) {
  return r.left == 0 && r.top == 0 && r.right == width && r.bottom == height;
}

// --- Where Setup opens, and what a second or failed Setup leaves -------------------------------

using EngineSetup = EngineOnLoopback;

// Setup opens the given address only; a second Setup replaces the endpoint.
TEST_F(EngineSetup, OpensTheGivenAddressOnlyAndASecondSetupReplacesIt) {
  EXPECT_TRUE(SameRect(ScreenRect(), 0, 0));
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_FALSE(CanBind("127.0.0.1", port_));
  EXPECT_TRUE(CanBind("127.0.0.2", port_));  // bound to 127.0.0.1, not to every address
  const USHORT second = FreeEvenPort();
  ASSERT_NE(second, 0);
  ASSERT_NE(second, port_);
  engine_->m_dwPort = second;
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_TRUE(CanBind("127.0.0.1", port_));  // the first endpoint is gone
  EXPECT_FALSE(CanBind("127.0.0.1", second));
  ASSERT_TRUE(engine_->Start());
  ScreenSender toSecond("127.0.0.1", second);
  toSecond.Send(Geometry(320, 240), {});
  EXPECT_TRUE(WaitUntil([&] { return SameRect(ScreenRect(), 320, 240); }));
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
    // A draw at each frame interval; nothing to show, so each releases its DC unpainted.
    EXPECT_TRUE(WaitUntil([&] { return log.DrawCount() == 1; }));
    VirtualClock::Advance(101);
    EXPECT_TRUE(WaitUntil([&] { return log.DrawCount() == 2; }));
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

// --- Pictures, cursor and size reports ----------------------------------------------------------

using EnginePicture = EngineOnLoopback;

TEST_F(EnginePicture, CursorOfTheLastMessageIsDrawnOverThePicture) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  const POINT hotSpot = engine_->Surface()->CursorHotSpot();
  ASSERT_TRUE(engine_->Start());
  const auto picture = Picture(kWidth, kHeight, 3);
  constexpr int kX = 170, kY = 60;  // unequal, so swapped coordinates show
  SendPicture(picture, kX, kY);

  const int left = kX - hotSpot.x, top = kY - hotSpot.y;
  auto insideIcon = [&](int x, int y) {
    return x >= left && x < left + 32 && y >= top && y < top + 32;
  };
  // The icon changes some pixels in its square and nothing outside it.
  EXPECT_TRUE(WaitUntil([&] {
    const auto shown = window_->Pixels();
    bool changedInside = false;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const std::size_t i = static_cast<std::size_t>(y) * kWidth + x;
        if (shown[i] == picture[i]) continue;
        if (!insideIcon(x, y)) return false;
        changedInside = true;
      }
    }
    return changedInside;
  }));

  // A message without a cursor takes it away at the next paint; a second picture overwrites
  // every block of the first.
  const auto second = Picture(kWidth, kHeight, 4);
  SendPicture(second);
  EXPECT_TRUE(WaitUntil([&] { return WindowShows(second); }));
  EXPECT_EQ(engine_->StreamMode(), 1u);
}

// --- Loss counts ------------------------------------------------------------------------------

class EngineLossReport : public EngineOnLoopback, public ::testing::WithParamInterface<bool> {};

TEST_P(EngineLossReport, CountsTheGapsTheSenderLeftAndResetsOnRead) {
  engine_->m_bReorder = GetParam();
  EXPECT_EQ(engine_->GetPacketLossReport(), u"0/0");  // no endpoint yet
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_TRUE(engine_->Start());
  EXPECT_EQ(engine_->GetPacketLossReport(), u"0/0");

  // Thirty one-datagram messages, of which 5, 12, 13 and 20 never leave: three gaps.
  const std::vector<int> dropped = {5, 12, 13, 20};
  unsigned sent = 0;
  for (int i = 0; i < 30; ++i) {
    const auto datagrams = sender_->Datagrams(Geometry(100, 100), {});
    ASSERT_EQ(datagrams.size(), 1u);
    if (std::find(dropped.begin(), dropped.end(), i) != dropped.end()) continue;
    sender_->SendDatagram(datagrams[0]);
    ++sent;
  }
  unsigned lost = 0, received = 0;
  EXPECT_TRUE(WaitUntil([&] {
    const auto [l, r] = ParseLossReport(engine_->GetPacketLossReport());
    lost += l;
    received += r;
    return received >= sent;
  }));
  EXPECT_EQ(received, sent);
  EXPECT_EQ(lost, 3u);
  EXPECT_EQ(engine_->GetPacketLossReport(), u"0/0");
}

INSTANTIATE_TEST_SUITE_P(Reorder, EngineLossReport, ::testing::Bool(),
                         [](const ::testing::TestParamInfo<bool>& info) {
                           return info.param ? "ReorderOn" : "ReorderOff";
                         });

// --- The body buffer's growth -------------------------------------------------------------------

struct Growth {
  const char* name;
  std::uint16_t width;
  std::uint16_t height;
  std::uint8_t bytesPerPixel;
  bool accepted;
  DWORD capacity;  // of the body buffer afterwards
};

class EngineBodyBuffer : public EngineOnLoopback, public ::testing::WithParamInterface<Growth> {};

TEST_P(EngineBodyBuffer, GrowsToTheAnnouncedImageOnlyWithinThePacketLimits) {
  const Growth& g = GetParam();
  ASSERT_EQ(engine_->Setup(), S_OK);
  EXPECT_EQ(engine_->BodyCapacity(), CScreenSharing::kBodyBufferSize);
  ASSERT_TRUE(engine_->Start());
  sender_->Send(Geometry(g.width, g.height, g.bytesPerPixel), {});
  if (g.accepted) {
    EXPECT_TRUE(WaitUntil([&] { return SameRect(ScreenRect(), g.width, g.height); }));
  }
  // A small message behind it shows that the first one was dealt with.
  sender_->Send(Geometry(100, 100), {});
  ASSERT_TRUE(WaitUntil([&] { return SameRect(ScreenRect(), 100, 100); }));
  ASSERT_TRUE(engine_->Stop());
  EXPECT_EQ(engine_->BodyCapacity(), g.capacity);
}

INSTANTIATE_TEST_SUITE_P(
    Geometry, EngineBodyBuffer,
    ::testing::Values(Growth{"BelowCapacity", 200, 100, 4, true, 180000},
                      Growth{"AboveCapacity", 1000, 1000, 4, true, 4000000},
                      Growth{"ImageAboveTheLimit", 8192, 8192, 4, false, 180000}),
    [](const ::testing::TestParamInfo<Growth>& info) { return info.param.name; });

}  // namespace
}  // namespace kwz_test
