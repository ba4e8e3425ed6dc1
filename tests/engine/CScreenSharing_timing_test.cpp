// When the engine paints, on a virtual clock: block streams once per frame interval however many
// blocks come and repainted when idle, a video stream once per frame and never when idle; and a
// stop that wakes a pass waiting for a message.
#include <gtest/gtest.h>

#include "presenter/IFrameEncoder.h"
#include "tests/engine/EngineFixture.h"

namespace kwz_test {
namespace {

class EngineTiming : public EngineOnLoopback {
 protected:
  void SetUp() override {
    EngineOnLoopback::SetUp();
    engine_->SetClock(&VirtualClock::Now);
    engine_->SetReceiveWaitMs(20);  // idle passes come often; their time is the virtual clock's
  }
};

TEST_F(EngineTiming, BlocksArePaintedOncePerFrameIntervalAndRepaintedWhenIdle) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  PaintLog paints(window_->Get());
  ASSERT_TRUE(engine_->Start());
  ASSERT_TRUE(WaitUntil([&] { return paints.DrawCount() == 1; }));  // the first pass draws

  // One colour: the burst fits the socket's buffer.
  const std::vector<std::uint32_t> picture(kWidth * kHeight, 0xFF336699u);
  const std::vector<Bytes> blocks = ZlibBlocks(picture, kWidth, kHeight);
  for (int round = 0; round < 5; ++round) {
    for (std::uint16_t i = 0; i < blocks.size(); ++i) {
      sender_->Send(BlockFields(kWidth, kHeight, i), blocks[i]);
    }
  }
  const std::size_t datagrams = 5 * blocks.size();  // one colour: one datagram a block
  unsigned received = 0;
  ASSERT_TRUE(WaitUntil(
      [&] { return (received += Received(engine_->GetPacketLossReport())) >= datagrams; }));
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  EXPECT_EQ(paints.DrawCount(), 1u) << "painted before the frame interval passed";
  VirtualClock::Advance(100);
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  EXPECT_EQ(paints.DrawCount(), 1u) << "painted at exactly the frame interval";
  VirtualClock::Advance(1);
  EXPECT_TRUE(WaitUntil([&] { return paints.DrawCount() == 2; }));
  EXPECT_TRUE(window_->Pixels() == picture);

  // Idle: each interval that passes repaints the last picture once.
  VirtualClock::Advance(101);
  EXPECT_TRUE(WaitUntil([&] { return paints.PaintCount() == 2; }));
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  EXPECT_EQ(paints.DrawCount(), 3u);
}

TEST_F(EngineTiming, VideoStreamIsPaintedOncePerFrameAndNotWhenIdle) {
  constexpr int kVideoWidth = 320, kVideoHeight = 240;
  FrameEncoderSettings settings;
  settings.width = kVideoWidth;
  settings.height = kVideoHeight;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(4, settings);

  ASSERT_EQ(engine_->Setup(), S_OK);
  PaintLog paints(window_->Get());
  ASSERT_TRUE(engine_->Start());
  presenter::ScreenMessageFields fields = Geometry(kVideoWidth, kVideoHeight);
  fields.streamMode = 4;
  constexpr std::size_t kFrames = 3;
  for (std::size_t n = 0; n < kFrames; ++n) {
    const auto picture = Picture(kVideoWidth, kVideoHeight, static_cast<std::uint32_t>(7 + n));
    Bytes frame;
    ASSERT_TRUE(encoder->Encode(reinterpret_cast<const std::uint8_t*>(picture.data()),
                                kVideoWidth * 4, n == 0, &frame));
    sender_->Send(fields, frame);
    ASSERT_TRUE(WaitUntil([&] { return paints.PaintCount() == n + 1; })) << "frame " << n;
  }

  // Idle: no timed draws at all, painted or not, however much time passes.
  ASSERT_TRUE(VirtualClock::WaitForPasses(2));
  const std::size_t draws = paints.DrawCount();
  VirtualClock::Advance(5000);
  ASSERT_TRUE(VirtualClock::WaitForPasses(3));
  EXPECT_EQ(paints.PaintCount(), kFrames);
  EXPECT_EQ(paints.DrawCount(), draws);
}

// A pass that waits for a message without end still ends at Stop, again after each Start; a Stop
// that left it waiting would run into the stop limit and report failure.
TEST_F(EngineTiming, StopWakesAPassThatWaitsForAMessage) {
  engine_->SetReceiveWaitMs(INFINITE);
  ASSERT_EQ(engine_->Setup(), S_OK);
  for (int round = 0; round < 3; ++round) {
    const std::uint64_t reads = VirtualClock::Reads();
    ASSERT_TRUE(engine_->Start());  // resets the stop event that the last Stop left set
    // Ends the first pass's wait, which reads the clock after it; the second one waits anew.
    sender_->Send(Geometry(kWidth, kHeight), {});
    ASSERT_TRUE(VirtualClock::WaitForReads(reads + 1));
    ASSERT_TRUE(VirtualClock::WaitUntilReaderSleeps());  // in the second pass's wait
    EXPECT_TRUE(engine_->Stop()) << "round " << round;
  }
}

}  // namespace
}  // namespace kwz_test
