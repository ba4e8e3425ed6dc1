// The presenter's own frame encoders into the receiver's decoder: what one side writes, the
// other must show, at the quality a viewer reads text at, from the first (key) frame on.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/codec/DecoderHarness.h"

namespace {

using kwz_test::Harness;
using kwz_test::Image;
using kwz_test::TestCodec;

// A key frame, inter frames of scrolling text and a dragged window, then a switch to another
// application (the hardest inter frame: nearly every pixel changes).
constexpr uint32_t kFrames[] = {
    0, 1, 2, 3, 4, SyntheticDesktop::kFramesPerScene, SyntheticDesktop::kFramesPerScene + 1};
// Against the BGRA source, so this includes what 4:2:0 sampling of the desktop's coloured edges
// costs (about 41 dB for a lossless codec) on top of the coding loss under the frame cap.
// A flipped or colour-swapped picture scores far below.
constexpr double kTextLegible = 35.0;

struct Case {
  const char* name;
  int streamMode;
  TestCodec codec;
  int width, height;
  // Every frame, the key frame included, must reach this.
  double minPsnr;
};

// The captured screen padded to the coded size by repeating its last row, as the presenter does.
Image Capture(const SyntheticDesktop& desktop, uint32_t frame, int codedHeight) {
  Image image{desktop.Width(), codedHeight, desktop.Render(frame)};
  const size_t row = static_cast<size_t>(desktop.Width()) * 4;
  image.bgra.resize(row * codedHeight);
  const auto last = image.bgra.begin() + static_cast<long>(row * (desktop.Height() - 1));
  for (int y = desktop.Height(); y < codedHeight; ++y)
    std::copy_n(last, row, image.bgra.begin() + static_cast<long>(row * y));
  return image;
}

class PresenterRoundTrip : public ::testing::TestWithParam<Case> {};

TEST_P(PresenterRoundTrip, EveryFrameShowsTheSentScreen) {
  const Case& c = GetParam();
  const int codedHeight = (c.height + 15) / 16 * 16;
  FrameEncoderSettings settings;  // the defaults: 15 fps, the whole message as the frame cap
  settings.width = c.width;
  settings.height = codedHeight;
  std::unique_ptr<IFrameEncoder> encoder = CreateFrameEncoder(c.streamMode, settings);
  ASSERT_NE(encoder, nullptr);
  SyntheticDesktop desktop(c.width, c.height, SyntheticDesktop::Text::kStripes);

  // 32 bits with flip RGB32 cleared: top-down, as the engine decodes. The other layouts are the
  // decoder's own business and are checked with it.
  Harness topDown(c.codec, c.width, codedHeight, 32, false);
  std::vector<std::uint8_t> body;
  for (uint32_t n : kFrames) {
    SCOPED_TRACE(testing::Message() << "frame " << n);
    const Image source = Capture(desktop, n, codedHeight);
    ASSERT_TRUE(encoder->Encode(source.bgra.data(), c.width * 4, false, &body));
    ASSERT_LE(body.size(), kMaxFrameBodyBytes);
    ASSERT_EQ(topDown.DecodeBytes(body), S_OK);
    EXPECT_GE(kwz_test::Psnr(source, topDown.output.data(), topDown.stride, 4, false), c.minPsnr)
        << body.size() << " bytes, key " << encoder->LastFrameWasKey();
  }
}

// One stream of the striped desktop per codec; at 720p it fills MPEG-4 Part 2's frame cap at
// 32.3 dB, so that row holds the measured quality with a decibel to spare. How the encoders
// fare on harder screens is the presenter suite's business.
INSTANTIATE_TEST_SUITE_P(
    Modes, PresenterRoundTrip,
    ::testing::Values(Case{"Mpeg4_720p", 3, TestCodec::kMpeg4, 1280, 720, 31.0},
                      Case{"H264_1080p", 4, TestCodec::kH264, 1920, 1080, kTextLegible},
                      Case{"Vp8_720p", 5, TestCodec::kVp8, 1280, 720, kTextLegible},
                      Case{"Vp9_1080p", 6, TestCodec::kVp9, 1920, 1080, kTextLegible}),
    [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

}  // namespace
