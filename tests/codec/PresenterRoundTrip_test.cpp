// The presenter's own frame encoders into the receiver's decoder: what one side writes, the
// other must show, in every output layout the engine uses.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/codec/DecoderHarness.h"

namespace {

using kwz_test::Harness;
using kwz_test::Image;
using kwz_test::TestCodec;

constexpr int kFrames = 5;
// Against the BGRA source, so this includes what 4:2:0 sampling of the desktop's coloured edges
// costs (about 41 dB for a lossless codec) on top of the coding loss under the frame cap; the
// codec loss alone, measured against the coded planes, is checked in the presenter's tests.
// A flipped or colour-swapped picture scores far below.
constexpr double kMinPsnr = 31.0;

struct Case {
  const char* name;
  int streamMode;
  TestCodec codec;
  int width, height;
};

class PresenterRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(PresenterRoundTrip, EveryLayoutShowsTheSentScreen) {
  const Case& c = GetParam();
  FrameEncoderSettings settings;
  settings.width = c.width;
  settings.height = c.height;
  settings.frameRate = 10;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(c.streamMode, settings);
  ASSERT_NE(encoder, nullptr);
  SyntheticDesktop desktop(c.width, c.height);

  // 32 bits with flip RGB32 cleared (top-down, as the engine decodes), 24 bits (bottom-up),
  // and 16 bits, which must be the 32-bit picture cut to 5 bits a channel.
  Harness topDown(c.codec, c.width, c.height, 32, false);
  Harness bottomUp(c.codec, c.width, c.height, 24, true);
  Harness bgr555(c.codec, c.width, c.height, 16, false);
  for (Harness* h : {&topDown, &bottomUp, &bgr555})
    ASSERT_EQ(h->decoder.IsOpened() || kwz_test::IsVpx(c.codec), true);

  std::vector<std::uint8_t> body;
  for (int n = 0; n < kFrames; ++n) {
    SCOPED_TRACE(testing::Message() << "frame " << n);
    Image source{c.width, c.height, desktop.Render(n)};
    ASSERT_TRUE(encoder->Encode(source.bgra.data(), c.width * 4, false, &body));
    ASSERT_LE(body.size(), kMaxFrameBodyBytes);
    for (Harness* h : {&topDown, &bottomUp, &bgr555}) ASSERT_EQ(h->DecodeBytes(body), S_OK);

    const double psnr = kwz_test::Psnr(source, topDown.output.data(), topDown.stride, 4, false);
    EXPECT_GE(psnr, kMinPsnr);
    EXPECT_DOUBLE_EQ(kwz_test::Psnr(source, bottomUp.output.data(), bottomUp.stride, 3, true),
                     psnr);  // the same picture, stored bottom-up
    std::printf("%s frame %d: %zu bytes, %.2f dB\n", c.name, n, body.size(), psnr);
    for (int y = 0; y < c.height; y += 7) {
      for (int x = 0; x < c.width; x += 5) {
        const std::uint8_t* p = &topDown.output[y * topDown.stride + 4 * x];
        const int expected = (p[0] >> 3) | (p[1] >> 3) << 5 | (p[2] >> 3) << 10;
        const int got = bgr555.output[y * bgr555.stride + 2 * x] |
                        bgr555.output[y * bgr555.stride + 2 * x + 1] << 8;
        ASSERT_EQ(got, expected) << "at " << x << "," << y;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, PresenterRoundTrip,
                         ::testing::Values(Case{"Mpeg4_720p", 3, TestCodec::kMpeg4, 1280, 720},
                                           Case{"H264_720p", 4, TestCodec::kH264, 1280, 720},
                                           Case{"H264_1080p", 4, TestCodec::kH264, 1920, 1088},
                                           Case{"Vp8_720p", 5, TestCodec::kVp8, 1280, 720},
                                           Case{"Vp9_720p", 6, TestCodec::kVp9, 1280, 720}),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
