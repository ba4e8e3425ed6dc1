// What a browser that joins mid-stream is sent: enough to show the current picture, no more; and
// key frames as the presenter's own encoders mark them, which the gateway must find exactly, or a
// browser would start its decoder on a frame that depends on one it never had.
#include "web/LateJoinCache.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "web/KeyFrame.h"

namespace kwz_web {
namespace {

// A frame named by its fields; the body tells frames of the same block apart.
BrowserFramePtr Frame(std::uint8_t mode, std::uint16_t width, std::uint16_t index, bool key = false,
                      std::uint8_t tag = 0, std::uint8_t bytesPerPixel = 4) {
  ScreenFields f;
  f.streamMode = mode;
  f.bytesPerPixel = bytesPerPixel;
  f.width = width;
  f.height = 240;
  f.blockIndex = index;
  const std::uint8_t body[] = {tag};
  return MakeScreenFrame(f, body, 1, key);
}

struct Case {
  const char* name;
  std::vector<BrowserFramePtr> arrivals;
  std::vector<int> expected;  // indices into arrivals, in the order sent
};

class LateJoin : public ::testing::TestWithParam<Case> {};

TEST_P(LateJoin, SendsWhatShowsTheCurrentPicture) {
  LateJoinCache cache;
  for (const auto& frame : GetParam().arrivals) cache.Add(frame);
  std::vector<int> sent;
  for (const auto& frame : cache.Snapshot()) {
    for (std::size_t i = 0; i < GetParam().arrivals.size(); ++i) {
      if (GetParam().arrivals[i] == frame) sent.push_back(static_cast<int>(i));
    }
  }
  EXPECT_EQ(sent, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Streams, LateJoin,
    ::testing::Values(
        // Blocks by index, the newest of each, then the newest message for size and cursor.
        Case{"NewestOfEachBlock",
             {Frame(1, 320, 2), Frame(1, 320, 0), Frame(1, 320, 2, false, 1), Frame(2, 320, 5)},
             {1, 2, 3, 3}},
        Case{"GeometryOnly", {Frame(0, 320, 0)}, {0}},
        Case{"OutsideTheGrid", {Frame(1, 320, 12), Frame(1, 320, 1)}, {1, 1}},
        // Another padded size or pixel format is another screen.
        Case{"NewSizeStartsAgain", {Frame(1, 320, 1), Frame(1, 420, 0)}, {1, 1}},
        Case{"NewFormatStartsAgain", {Frame(1, 320, 1), Frame(1, 320, 0, false, 0, 1)}, {1, 1}},
        // The same padded size keeps the blocks, as the surface keeps its bitmap.
        Case{"SamePaddedSizeKeepsBlocks", {Frame(1, 320, 1), Frame(1, 390, 0)}, {1, 0, 1}},
        // Video: the last key frame and what followed it; nothing before a key frame.
        Case{"NothingBeforeAKeyFrame", {Frame(4, 320, 0), Frame(4, 320, 0)}, {}},
        Case{"ChainFromTheLastKeyFrame",
             {Frame(4, 320, 0, true), Frame(4, 320, 0), Frame(4, 320, 0, true), Frame(4, 320, 0)},
             {2, 3}},
        Case{"AnotherCodecNeedsItsOwnKeyFrame",
             {Frame(4, 320, 0, true), Frame(4, 320, 0), Frame(6, 320, 0)},
             {}},
        Case{"BlocksAfterVideo", {Frame(4, 320, 0, true), Frame(1, 320, 3)}, {1, 1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LateJoinBound, AChainTooLongIsDroppedUntilTheNextKeyFrame) {
  LateJoinCache cache;
  cache.Add(Frame(5, 320, 0, true));
  for (std::size_t i = 0; i < LateJoinCache::kMaxChainFrames; ++i) cache.Add(Frame(5, 320, 0));
  EXPECT_TRUE(cache.Snapshot().empty());
  EXPECT_EQ(cache.Bytes(), 0u);
  cache.Add(Frame(5, 320, 0));
  EXPECT_TRUE(cache.Snapshot().empty());
  const auto key = Frame(5, 320, 0, true);
  cache.Add(key);
  EXPECT_EQ(cache.Snapshot(), std::vector<BrowserFramePtr>{key});
}

class KeyFrames : public ::testing::TestWithParam<int> {};

TEST_P(KeyFrames, AreTheFramesTheEncoderCodedAsKeyFrames) {
  FrameEncoderSettings settings;
  settings.width = 320;
  settings.height = 240;
  settings.frameRate = 10;
  const auto encoder = CreateFrameEncoder(GetParam(), settings);
  ASSERT_NE(encoder, nullptr);
  SyntheticDesktop desktop(settings.width, settings.height);
  int keys = 0;
  int others = 0;
  std::vector<std::uint8_t> out;
  for (std::uint32_t n = 0; n < 12; ++n) {
    const auto picture = desktop.Render(n);
    if (!encoder->Encode(picture.data(), settings.width * 4, n == 7, &out)) continue;
    EXPECT_EQ(IsKeyFrame(static_cast<std::uint8_t>(GetParam()), out.data(), out.size()),
              encoder->LastFrameWasKey())
        << "frame " << n;
    ++(encoder->LastFrameWasKey() ? keys : others);
  }
  EXPECT_GE(keys, 2);
  EXPECT_GE(others, 5);
}

INSTANTIATE_TEST_SUITE_P(VideoModes, KeyFrames, ::testing::Values(3, 4, 5, 6));

TEST(KeyFrames, BlockModesAndEmptyBodiesHaveNone) {
  const std::uint8_t idr[] = {0, 0, 0, 1, 0x65, 0x88};
  EXPECT_TRUE(IsKeyFrame(4, idr, sizeof idr));
  for (std::uint8_t mode : {0, 1, 2, 7}) EXPECT_FALSE(IsKeyFrame(mode, idr, sizeof idr));
  for (std::uint8_t mode = 3; mode <= 6; ++mode) EXPECT_FALSE(IsKeyFrame(mode, idr, 0));
}

}  // namespace
}  // namespace kwz_web
