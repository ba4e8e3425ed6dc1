// The surface's paint into a window of a private Xvfb, read back with XGetImage: the same as on
// the headless backend at 1:1, cursor included, and the area average of the picture stretched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>

#include "tests/engine/PaintTestSupport.h"
#include "tests/engine/SurfaceTestSupport.h"
#include "tests/platform/AreaAverage.h"
#include "tests/support/XvfbServer.h"

namespace kwz_test {
namespace {

using kwz_platform::GdiBackendKind;

constexpr std::uint16_t kNoCursor = 0xFFE0;
constexpr LONG kWidth = 300, kHeight = 210;  // padded to 300 x 300 by the 100-pixel grid

struct DrawCase {
  const char* name;
  int bytesPerPixel;
  bool stretch;
  int windowWidth, windowHeight;
};

class SurfaceOnX11 : public ::testing::TestWithParam<DrawCase> {
 protected:
  // The server outlives every display connection of the test's thread.
  static void SetUpTestSuite() {
    static XvfbServer server;
    server_ = &server;
  }
  void SetUp() override {
    if (!server_->Running()) GTEST_SKIP() << "X11 suite skipped: " << server_->Error();
  }
  static void Use(GdiBackendKind kind) {
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(
        kind, kind == GdiBackendKind::kX11 ? server_->Display().c_str() : nullptr));
  }
  static XvfbServer* server_;
};

XvfbServer* SurfaceOnX11::server_ = nullptr;

// Nine blocks of a picture with detail in every channel, so any misplaced or misweighed
// pixel shows.
void FillSurface(CBMPManager& surface, const BITMAPINFOHEADER& header, int bytesPerPixel) {
  for (std::uint32_t index = 0; index < 9; ++index) {
    std::vector<std::uint8_t> block(static_cast<std::size_t>(100) * 100 * bytesPerPixel);
    for (std::size_t i = 0; i < block.size(); ++i) {
      block[i] = static_cast<std::uint8_t>(index * 37 + i * 13 + (i / 400) * 29);
    }
    ASSERT_EQ(SendBlock(surface, 1, header, index, Zlib(block)),
              static_cast<std::int32_t>(block.size()));
  }
}

// What a new window of the currently chosen backend shows after one Draw.
std::vector<std::uint32_t> DrawOnce(CBMPManager& surface, const BITMAPINFOHEADER& header, int width,
                                    int height, std::uint16_t cursorX, std::uint16_t cursorY) {
  TestWindow window(width, height);
  surface.Draw(header, window.Get(), cursorX, cursorY);
  return window.Pixels();
}

int Channel(std::uint32_t pixel, int ch) {
  return static_cast<int>((pixel >> (8 * ch)) & 255);
}

TEST_P(SurfaceOnX11, PaintMatchesHeadlessAndTheAreaAverage) {
  const DrawCase c = GetParam();
  const BITMAPINFOHEADER header = MessageHeader(kWidth, kHeight, c.bytesPerPixel);
  CBMPManager surface(100, 100);
  FillSurface(surface, header, c.bytesPerPixel);
  // The picture itself: a 1:1 headless paint without the cursor.
  Use(GdiBackendKind::kHeadless);
  const auto picture = DrawOnce(surface, header, kWidth, kHeight, kNoCursor, kNoCursor);
  surface.SetStretch(c.stretch);

  // Both backends with the cursor near the middle, then the X11 window without it.
  const auto headless = DrawOnce(surface, header, c.windowWidth, c.windowHeight, 140, 90);
  Use(GdiBackendKind::kX11);
  TestWindow x11(c.windowWidth, c.windowHeight);
  surface.Draw(header, x11.Get(), 140, 90);
  const auto shown = x11.Pixels();
  ASSERT_EQ(shown.size(), headless.size());
  surface.Draw(header, x11.Get(), kNoCursor, kNoCursor);
  const auto bare = x11.Pixels();
  Use(GdiBackendKind::kHeadless);

  if (!c.stretch) {
    EXPECT_TRUE(shown == headless) << "1:1 paints differ";
    EXPECT_TRUE(bare == picture) << "1:1 paint is not the picture";
    EXPECT_FALSE(shown == bare) << "no cursor drawn";
    return;
  }
  int worst = 0;
  for (std::size_t i = 0; i < shown.size(); ++i) {
    for (int ch = 0; ch < 3; ++ch) {
      worst = std::max(worst, std::abs(Channel(shown[i], ch) - Channel(headless[i], ch)));
    }
  }
  EXPECT_LE(worst, 1) << "stretched paints differ between the backends";
  EXPECT_FALSE(shown == bare) << "no cursor drawn";
  const auto reference = ReferenceAreaAverage(
      [&](int x, int y, int ch) {
        return Channel(picture[static_cast<std::size_t>(y) * kWidth + x], ch);
      },
      kWidth, kHeight, c.windowWidth, c.windowHeight);
  for (int y = 0; y < c.windowHeight; ++y) {
    for (int x = 0; x < c.windowWidth; ++x) {
      for (int ch = 0; ch < 3; ++ch) {
        const int got = Channel(bare[static_cast<std::size_t>(y) * c.windowWidth + x], ch);
        ASSERT_LE(std::fabs(got - reference.At(x, y)[ch]), 1.0)
            << "pixel " << x << "," << y << " channel " << ch;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, SurfaceOnX11,
                         ::testing::Values(DrawCase{"OneToOne32", 4, false, kWidth, kHeight},
                                           DrawCase{"OneToOne8", 1, false, kWidth, kHeight},
                                           DrawCase{"ThreeToTwo32", 4, true, 200, 140},
                                           DrawCase{"OddReduction8", 1, true, 173, 97},
                                           DrawCase{"Enlargement32", 4, true, 451, 317}),
                         [](const ::testing::TestParamInfo<DrawCase>& info) {
                           return std::string(info.param.name);
                         });

}  // namespace
}  // namespace kwz_test
