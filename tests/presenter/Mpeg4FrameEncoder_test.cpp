#include <gtest/gtest.h>

#include "tests/presenter/FrameEncoderSuite.h"

namespace kwz_test {
namespace {

// MPEG-4 Part 2 cannot code a 720p screen of text in a small cap at all (its coarsest
// quantiser is 31), so its small-cap case runs at a smaller size.
INSTANTIATE_TEST_SUITE_P(Mpeg4, FrameEncoderSuite,
                         ::testing::Values(EncoderCase{3, 640, 368, 12000}));

TEST(Mpeg4FrameEncoder, FirstFrameOpensWithVolHeaderInBand) {
  FrameEncoderSettings s;
  s.width = 320;
  s.height = 240;
  auto encoder = CreateFrameEncoder(3, s);
  SyntheticDesktop desktop(320, 240);
  const std::vector<uint8_t> bgra = desktop.Render(0);
  std::vector<uint8_t> body;
  ASSERT_TRUE(encoder->Encode(bgra.data(), desktop.StrideBytes(), false, &body));
  // Visual object sequence, then the VOL: 00 00 01 20.
  EXPECT_EQ(FindStartCode(body, 0xB0), 0);
  EXPECT_GT(FindStartCode(body, 0x20), 0);
}

}  // namespace
}  // namespace kwz_test
