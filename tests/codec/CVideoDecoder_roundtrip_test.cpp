// Real coded frames of a desktop-like picture, decoded through CVideoDecoder into each output
// layout and compared with the source.
#include <gtest/gtest.h>

#include <deque>
#include <vector>

#include "tests/codec/DecoderHarness.h"

namespace {

using kwz_test::CodedFrame;
using kwz_test::Harness;
using kwz_test::Image;
using kwz_test::TestCodec;

constexpr int kFrames = 4;

// An output layout: bit count, the flip RGB32 flag, and whether rows come out bottom-up.
struct Layout {
  int bits;
  bool flip;
  bool bottomUp;
};

class DecoderRoundTrip : public ::testing::TestWithParam<TestCodec> {};

// 32 bits top-down, 32 bits flipped (JPEG blocks ignore the flag), 24 bits bottom-up; 16 bits
// must be the top-down 32-bit picture with each channel cut to its top 5 bits.
TEST_P(DecoderRoundTrip, EveryFrameInEveryLayoutIsTheSourceTheRightWayUp) {
  const TestCodec codec = GetParam();
  const bool jpeg = codec == TestCodec::kMjpeg;
  const int width = jpeg ? 100 : 1280, height = jpeg ? 100 : 720;
  const double minPsnr = jpeg ? 30 : 35;
  std::vector<Image> frames;
  for (int i = 0; i < kFrames; ++i) frames.push_back(kwz_test::MakeScreen(width, height, i));
  const std::vector<CodedFrame> coded = kwz_test::Encode(codec, frames);
  ASSERT_EQ(coded.size(), frames.size());
  const Layout layouts[] = {{32, false, false}, {32, true, !jpeg}, {24, true, true}};
  std::deque<Harness> harnesses;  // not movable: a deque builds them in place
  for (const Layout& l : layouts) harnesses.emplace_back(codec, width, height, l.bits, l.flip);
  Harness& bgr555 = harnesses.emplace_back(codec, width, height, 16, false);
  for (int i = 0; i < kFrames; ++i) {
    SCOPED_TRACE(testing::Message() << "frame " << i);
    for (Harness& h : harnesses) {
      ASSERT_EQ(h.DecodeFrame(coded[i]), S_OK);
      EXPECT_FALSE(h.sizeChanged);
      EXPECT_EQ(h.pictureBytes, h.decoder.FrameSize());
    }
    for (int n = 0; n < 3; ++n) {
      const Layout& l = layouts[n];
      const std::uint8_t* out = harnesses[n].output.data();
      const int stride = harnesses[n].stride;
      const double psnr = kwz_test::Psnr(frames[i], out, stride, l.bits / 8, l.bottomUp);
      EXPECT_GE(psnr, minPsnr) << l.bits << (l.flip ? " flipped" : "");
      // The other orientation must be clearly worse, or the check above proves nothing.
      EXPECT_LT(kwz_test::Psnr(frames[i], out, stride, l.bits / 8, !l.bottomUp), psnr - 10);
    }
    const Harness& wide = harnesses[0];
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const std::uint8_t* p = &wide.output[y * wide.stride + 4 * x];
        ASSERT_EQ(p[3], 0) << "alpha at " << x << "," << y;
        const int expected = (p[0] >> 3) | (p[1] >> 3) << 5 | (p[2] >> 3) << 10;
        const std::uint8_t* q = &bgr555.output[y * bgr555.stride + 2 * x];
        ASSERT_EQ(q[0] | q[1] << 8, expected) << "16 bits at " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, DecoderRoundTrip,
                         ::testing::Values(TestCodec::kMpeg4, TestCodec::kH264, TestCodec::kVp8,
                                           TestCodec::kVp9, TestCodec::kMjpeg),
                         kwz_test::CodecName);

}  // namespace
