// Every stream mode end to end on the decoding side: the streamer's messages go through the
// endpoint's checks into a drawing surface, and the picture it rebuilds is compared with the
// frame that was captured, upright, at a size that fills neither whole blocks nor whole
// macroblocks.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "presenter/SyntheticDesktop.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

constexpr int kWidth = 1010;
constexpr int kHeight = 570;
constexpr double kExact = INFINITY;

struct ModeCase {
  int mode;
  int bytesPerPixel;
  double minPsnr;  // kExact: every pixel; 0: to the nearest 3-3-2 palette colour
};

class EveryMode : public ::testing::TestWithParam<ModeCase> {
 protected:
  presenter::ScreenStreamSettings Settings() const {
    presenter::ScreenStreamSettings s;
    s.streamMode = GetParam().mode;
    s.bytesPerPixel = GetParam().bytesPerPixel;
    s.frameRate = 10;
    return s;
  }
};

TEST_P(EveryMode, ViewerRebuildsTheCapturedScreen) {
  const ModeCase& c = GetParam();
  presenter::CScreenStreamer streamer(Settings());
  SyntheticDesktop desktop(kWidth, kHeight);
  ViewerHarness viewer;
  std::vector<std::uint8_t> last;
  for (std::uint32_t n = 0; n < 8; ++n) {
    last = desktop.Render(n);
    const auto messages = StreamFrame(streamer, FrameOf(last, kWidth, kHeight));
    ASSERT_FALSE(messages.empty()) << "frame " << n;
    for (const SentMessage& m : messages) {
      // Whatever was sent decodes: a block to its full size, a frame to the whole picture.
      const std::int32_t decoded = viewer.Take(m);
      if (c.mode <= 2) {
        EXPECT_EQ(decoded, 100 * 100 * c.bytesPerPixel) << "block " << m.blockIndex;
      } else {
        EXPECT_GT(decoded, 0) << "frame " << n;
      }
    }
  }

  const std::vector<std::uint8_t> seen = viewer.VisibleBgr(kWidth, kHeight);
  if (c.minPsnr == 0) {
    // Each channel shows the palette level (as the viewer's palette has it) nearest to the
    // captured value.
    const int levels[3] = {4, 8, 8};  // blue, green, red
    for (std::size_t p = 0; p < static_cast<std::size_t>(kWidth) * kHeight; ++p) {
      for (int ch = 0; ch < 3; ++ch) {
        const int captured = last[p * 4 + ch];
        int nearest = 255;
        for (int level = 0; level < levels[ch]; ++level)
          nearest = std::min(nearest, std::abs(level * 255 / (levels[ch] - 1) - captured));
        ASSERT_EQ(std::abs(int{seen[p * 3 + ch]} - captured), nearest)
            << "pixel " << p << " channel " << ch;
      }
    }
    return;
  }
  const double psnr = PsnrBgr(last, seen, kWidth, kHeight);
  if (std::isinf(c.minPsnr)) {
    EXPECT_TRUE(std::isinf(psnr)) << psnr << " dB";
  } else {
    EXPECT_GE(psnr, c.minPsnr);
  }
  // The same picture upside down is far from what the viewer shows.
  if (!std::isinf(psnr)) {
    EXPECT_LT(PsnrBgr(FlipRows(last, kWidth * 4), seen, kWidth, kHeight), psnr - 10);
  }
}

INSTANTIATE_TEST_SUITE_P(Presenter, EveryMode,
                         ::testing::Values(ModeCase{1, 4, kExact}, ModeCase{1, 1, 0},
                                           ModeCase{2, 4, 30}, ModeCase{3, 4, 35},
                                           ModeCase{3, 3, 35}, ModeCase{4, 4, 35},
                                           ModeCase{4, 3, 35}, ModeCase{5, 4, 35},
                                           ModeCase{5, 3, 35}, ModeCase{6, 4, 35},
                                           ModeCase{6, 3, 35}));

TEST(GeometryMode, OneEmptyMessageSetsAWhiteBitmapOfTheGrid) {
  presenter::ScreenStreamSettings settings;
  settings.streamMode = 0;
  settings.bytesPerPixel = 1;
  presenter::CScreenStreamer streamer(settings);
  std::vector<std::uint8_t> screen(330 * 250 * 4, 0x10);
  const auto messages = StreamFrame(streamer, FrameOf(screen, 330, 250));
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].bodyLength, 0u);
  ViewerHarness viewer;
  EXPECT_EQ(viewer.Take(messages[0]), 0);
  const BITMAPINFOHEADER& surface = viewer.Surface().SurfaceHeader();
  EXPECT_EQ(surface.biWidth, 400);
  EXPECT_EQ(surface.biHeight, 300);
  EXPECT_EQ(surface.biBitCount, 8);
  for (std::uint32_t i = 0; i < viewer.Surface().PixelsSize(); ++i)
    ASSERT_EQ(viewer.Surface().Pixels()[i], 0xFF) << i;
}

}  // namespace
}  // namespace kwz_test
