// Key frames as the presenter's own encoders mark them: the gateway must find exactly those, or
// a browser would start its decoder on a frame that depends on one it never had.
#include "web/KeyFrame.h"

#include <gtest/gtest.h>

#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"

namespace {

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
    EXPECT_EQ(kwz_web::IsKeyFrame(static_cast<std::uint8_t>(GetParam()), out.data(), out.size()),
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
  EXPECT_TRUE(kwz_web::IsKeyFrame(4, idr, sizeof idr));
  for (std::uint8_t mode : {0, 1, 2, 7}) EXPECT_FALSE(kwz_web::IsKeyFrame(mode, idr, sizeof idr));
  for (std::uint8_t mode = 3; mode <= 6; ++mode) EXPECT_FALSE(kwz_web::IsKeyFrame(mode, idr, 0));
}

}  // namespace
