// Real coded frames of a desktop-like picture, decoded through CVideoDecoder into each output
// layout and compared with the source.
#include <gtest/gtest.h>

#include <vector>

#include "tests/codec/DecoderHarness.h"

namespace {

using kwz_test::CodedFrame;
using kwz_test::Harness;
using kwz_test::Image;
using kwz_test::TestCodec;

constexpr int kFrames = 4;

struct RoundTrip {
  const char* name;
  TestCodec codec;
  int width, height;
  int bits;
  bool flip;      // the flip RGB32 flag
  bool bottomUp;  // the orientation the output must have
  double minPsnr;
};

std::vector<Image> Screens(int width, int height) {
  std::vector<Image> frames;
  for (int i = 0; i < kFrames; ++i) frames.push_back(kwz_test::MakeScreen(width, height, i));
  return frames;
}

class DecoderRoundTrip : public ::testing::TestWithParam<RoundTrip> {};

TEST_P(DecoderRoundTrip, EveryFrameDecodesCloseToTheSourceInTheRightOrientation) {
  const RoundTrip& c = GetParam();
  const std::vector<Image> frames = Screens(c.width, c.height);
  const std::vector<CodedFrame> coded = kwz_test::Encode(c.codec, frames);
  ASSERT_EQ(coded.size(), frames.size());
  Harness harness(c.codec, c.width, c.height, c.bits, c.flip);
  ASSERT_EQ(harness.decoder.Open(), S_OK);
  for (int i = 0; i < kFrames; ++i) {
    SCOPED_TRACE(testing::Message() << "frame " << i);
    ASSERT_EQ(harness.DecodeFrame(coded[i]), S_OK);
    EXPECT_FALSE(harness.sizeChanged);
    EXPECT_EQ(harness.pictureBytes, harness.decoder.FrameSize());
    const double psnr =
        kwz_test::Psnr(frames[i], harness.output.data(), harness.stride, c.bits / 8, c.bottomUp);
    EXPECT_GE(psnr, c.minPsnr);
    // The other orientation must be clearly worse, or the check above proves nothing.
    EXPECT_LT(
        kwz_test::Psnr(frames[i], harness.output.data(), harness.stride, c.bits / 8, !c.bottomUp),
        psnr - 10);
    if (c.bits == 32) {
      for (int y = 0; y < c.height; ++y) {
        for (int x = 0; x < c.width; ++x) {
          ASSERT_EQ(harness.output[y * harness.stride + 4 * x + 3], 0) << "alpha";
        }
      }
    }
  }
}

// Rows in codec-identifier order: MPEG-4 Part 2, H.264, VP8, VP9, JPEG blocks; 32, 24 bits.
INSTANTIATE_TEST_SUITE_P(
    Codecs, DecoderRoundTrip,
    ::testing::Values(
        RoundTrip{"Mpeg4_32_TopDown", TestCodec::kMpeg4, 1280, 720, 32, false, false, 35},
        RoundTrip{"Mpeg4_32_Flipped", TestCodec::kMpeg4, 1280, 720, 32, true, true, 35},
        RoundTrip{"Mpeg4_24_1080p", TestCodec::kMpeg4, 1920, 1080, 24, false, true, 35},
        RoundTrip{"H264_32_TopDown", TestCodec::kH264, 1280, 720, 32, false, false, 35},
        RoundTrip{"H264_24", TestCodec::kH264, 1280, 720, 24, true, true, 35},
        RoundTrip{"H264_32_1080p", TestCodec::kH264, 1920, 1088, 32, true, true, 35},
        RoundTrip{"Vp8_32_Flipped", TestCodec::kVp8, 1280, 720, 32, true, true, 35},
        RoundTrip{"Vp8_24", TestCodec::kVp8, 1280, 720, 24, false, true, 35},
        RoundTrip{"Vp9_32_TopDown", TestCodec::kVp9, 1280, 720, 32, false, false, 35},
        RoundTrip{"Vp9_24", TestCodec::kVp9, 1280, 720, 24, true, true, 35},
        RoundTrip{"Jpeg_32_FlipIgnored", TestCodec::kMjpeg, 100, 100, 32, true, false, 30},
        RoundTrip{"Jpeg_32", TestCodec::kMjpeg, 100, 100, 32, false, false, 30},
        RoundTrip{"Jpeg_24", TestCodec::kMjpeg, 100, 100, 24, false, true, 30}),
    [](const testing::TestParamInfo<RoundTrip>& info) { return info.param.name; });

// 16-bit output is the 32-bit picture with each channel cut to its top 5 bits.
class Decoder16Bit : public ::testing::TestWithParam<TestCodec> {};

TEST_P(Decoder16Bit, IsThe32BitPictureInBgr555) {
  const TestCodec codec = GetParam();
  const int side = codec == TestCodec::kMjpeg ? 100 : 320;
  const int height = codec == TestCodec::kMjpeg ? 100 : 240;
  const std::vector<Image> frames = Screens(side, height);
  const std::vector<CodedFrame> coded = kwz_test::Encode(codec, frames);
  ASSERT_EQ(coded.size(), frames.size());
  Harness wide(codec, side, height, 32, false);
  Harness narrow(codec, side, height, 16, false);
  for (int i = 0; i < kFrames; ++i) {
    ASSERT_EQ(wide.DecodeFrame(coded[i]), S_OK);
    ASSERT_EQ(narrow.DecodeFrame(coded[i]), S_OK);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < side; ++x) {
        const std::uint8_t* p = &wide.output[y * wide.stride + 4 * x];
        const int expected = (p[0] >> 3) | (p[1] >> 3) << 5 | (p[2] >> 3) << 10;
        const int got = narrow.output[y * narrow.stride + 2 * x] |
                        narrow.output[y * narrow.stride + 2 * x + 1] << 8;
        ASSERT_EQ(got, expected) << "frame " << i << " at " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, Decoder16Bit,
                         ::testing::Values(TestCodec::kMpeg4, TestCodec::kH264, TestCodec::kVp8,
                                           TestCodec::kVp9, TestCodec::kMjpeg),
                         kwz_test::CodecName);

}  // namespace
