// When the engine paints: block streams at most once per frame interval however fast blocks
// come, an idle block stream about once a second, a video stream once per frame and never when
// idle; and a stop that does not wait out a pending receive. Bounds are generous: the rules
// differ from their faults by an order of magnitude.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "presenter/IFrameEncoder.h"
#include "tests/engine/EngineFixture.h"

namespace kwz_test {
namespace {

using std::chrono::milliseconds;

long long MillisecondsSince(SteadyClock::time_point start) {
  return std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start).count();
}

using EngineTiming = EngineOnLoopback;

TEST_F(EngineTiming, StopWakesAPassThatWaitsForAMessage) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  for (int round = 0; round < 3; ++round) {
    ASSERT_TRUE(engine_->Start());  // resets the stop event that the last Stop left set
    std::this_thread::sleep_for(milliseconds(200));  // the pass now waits in its 1000 ms receive
    const auto start = SteadyClock::now();
    EXPECT_TRUE(engine_->Stop());
    EXPECT_LT(MillisecondsSince(start), 500) << "round " << round;
  }
}

TEST_F(EngineTiming, BlocksPouringInArePaintedAtMostOncePerFrameInterval) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  const std::vector<Bytes> blocks = ZlibBlocks(Picture(kWidth, kHeight, 5), kWidth, kHeight);
  PaintLog paints(window_->Get());
  ASSERT_TRUE(engine_->Start());
  const auto start = SteadyClock::now();
  unsigned sent = 0;
  while (MillisecondsSince(start) < 1500) {
    const std::uint16_t index = static_cast<std::uint16_t>(sent % blocks.size());
    sender_->Send(BlockFields(kWidth, kHeight, index), blocks[index]);
    ++sent;
    std::this_thread::sleep_for(milliseconds(2));
  }
  const long long elapsed = MillisecondsSince(start);
  ASSERT_TRUE(engine_->Stop());
  const auto moments = paints.Paints();
  ASSERT_GT(sent, 100u);
  EXPECT_GE(moments.size(), 5u);
  EXPECT_LE(static_cast<long long>(moments.size()), elapsed / 100 + 2);
  EXPECT_GE(ShortestGapMs(moments), 95);
}

TEST_F(EngineTiming, IdleBlockStreamIsRepaintedAboutOnceASecond) {
  ASSERT_EQ(engine_->Setup(), S_OK);
  ASSERT_TRUE(engine_->Start());
  const auto picture = Picture(kWidth, kHeight, 6);
  SendPicture(picture);
  ASSERT_TRUE(WaitUntil([&] { return WindowShows(picture); }));

  PaintLog paints(window_->Get());
  std::this_thread::sleep_for(milliseconds(3500));
  const auto moments = paints.Paints();
  EXPECT_GE(moments.size(), 2u);
  EXPECT_LE(moments.size(), 5u);
  EXPECT_GE(ShortestGapMs(moments), 700);
  EXPECT_TRUE(WindowShows(picture));  // repainted from the last picture
}

TEST_F(EngineTiming, VideoStreamIsPaintedOncePerFrameAndNotWhenIdle) {
  constexpr int kVideoWidth = 320, kVideoHeight = 240;
  FrameEncoderSettings settings;
  settings.width = kVideoWidth;
  settings.height = kVideoHeight;
  settings.frameRate = 10;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(4, settings);
  ASSERT_NE(encoder, nullptr);

  ASSERT_EQ(engine_->Setup(), S_OK);
  PaintLog paints(window_->Get());
  ASSERT_TRUE(engine_->Start());
  presenter::ScreenMessageFields fields;
  fields.streamMode = 4;
  fields.width = kVideoWidth;
  fields.height = kVideoHeight;
  constexpr std::size_t kFrames = 3;
  for (std::size_t n = 0; n < kFrames; ++n) {
    const auto picture = Picture(kVideoWidth, kVideoHeight, static_cast<std::uint32_t>(7 + n));
    Bytes frame;
    ASSERT_TRUE(encoder->Encode(reinterpret_cast<const std::uint8_t*>(picture.data()),
                                kVideoWidth * 4, n == 0, &frame));
    sender_->Send(fields, frame);
    ASSERT_TRUE(WaitUntil([&] { return paints.PaintCount() == n + 1; })) << "frame " << n;
  }
  EXPECT_EQ(engine_->StreamMode(), 4u);

  // Idle: no timed draws at all, painted or not.
  const std::size_t draws = paints.DrawCount();
  std::this_thread::sleep_for(milliseconds(2500));
  EXPECT_EQ(paints.PaintCount(), kFrames);
  EXPECT_EQ(paints.DrawCount(), draws);
}

}  // namespace
}  // namespace kwz_test
