#include <gtest/gtest.h>

#include "tests/presenter/FrameEncoderSuite.h"

namespace kwz_test {
namespace {

INSTANTIATE_TEST_SUITE_P(H264AndVpx, FrameEncoderSuite,
                         ::testing::Values(EncoderCase{4, 1280, 720, 12000},
                                           EncoderCase{5, 1280, 720, 12000},
                                           EncoderCase{6, 1280, 720, 12000}));

TEST(FrameEncoderFactory, BlockAndUnknownModesHaveNoFrameEncoder) {
  FrameEncoderSettings s;
  s.width = 320;
  s.height = 240;
  for (int mode : {-1, 0, 1, 2, 7, 255}) EXPECT_EQ(CreateFrameEncoder(mode, s), nullptr) << mode;
}

TEST(FrameEncoderFactory, SettingsOutOfRangeRaise) {
  struct Bad {
    const char* what;
    int width, height, frameRate, bitRateKbps;
    size_t cap;
  };
  const Bad cases[] = {
      {"width not a multiple of 16", 1366, 768, 15, 0, kMaxFrameBodyBytes},
      {"height not a multiple of 16", 1920, 1080, 15, 0, kMaxFrameBodyBytes},
      {"no width", 0, 720, 15, 0, kMaxFrameBodyBytes},
      {"no frame rate", 1280, 720, 0, 0, kMaxFrameBodyBytes},
      {"negative bit rate", 1280, 720, 15, -1, kMaxFrameBodyBytes},
      {"cap beyond the 16-bit body length", 1280, 720, 15, 0, kMaxFrameBodyBytes + 1},
      {"cap too small for any key frame", 1280, 720, 15, 0, 100},
  };
  for (const Bad& bad : cases) {
    FrameEncoderSettings s;
    s.width = bad.width;
    s.height = bad.height;
    s.frameRate = bad.frameRate;
    s.bitRateKbps = bad.bitRateKbps;
    s.maxFrameBytes = bad.cap;
    EXPECT_THROW(CreateFrameEncoder(4, s), exc_frame_encoder) << bad.what;
  }
}

TEST(CI420Picture, ConvertsBgraToStudioRangeBt601) {
  struct Colour {
    uint8_t b, g, r;
    int y, u, v;
  };
  const Colour colours[] = {
      {255, 255, 255, 235, 128, 128},  // white
      {0, 0, 0, 16, 128, 128},         // black
      {0, 0, 255, 82, 90, 240},        // red
      {255, 0, 0, 41, 240, 110},       // blue
  };
  for (const Colour& c : colours) {
    std::vector<uint8_t> bgra;
    for (int i = 0; i < 16 * 16; ++i) bgra.insert(bgra.end(), {c.b, c.g, c.r, 255});
    CI420Picture picture(16, 16);
    ASSERT_TRUE(picture.ConvertFromBgra(bgra.data(), 16 * 4));
    EXPECT_NEAR(picture.Y()[17], c.y, 2);
    EXPECT_NEAR(picture.U()[9], c.u, 2);
    EXPECT_NEAR(picture.V()[9], c.v, 2);
  }
}

}  // namespace
}  // namespace kwz_test
