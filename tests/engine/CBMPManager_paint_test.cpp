// The surface's paint, read back pixel by pixel, on the headless backend and in a window of a
// private Xvfb (skipped with a message when Xvfb cannot start): the picture's place in the padded
// bitmap, the palette, the cursor overlay and its edges, and stretching by area average. Size
// reports, which do not depend on the backend, on the headless one only.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <utility>

#include "tests/engine/PaintTestSupport.h"
#include "tests/engine/SurfaceTestSupport.h"
#include "tests/platform/AreaAverage.h"
#include "tests/support/XvfbServer.h"

namespace kwz_test {
namespace {

using kwz_platform::GdiBackendKind;

constexpr std::uint16_t kNoCursor = 0xFFE0;
constexpr std::uint32_t kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kBlack = 0xFF000000u,
                        kWhite = 0xFFFFFFFFu;

class Painting : public ::testing::TestWithParam<GdiBackendKind> {
 protected:
  void SetUp() override {
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
    if (GetParam() == GdiBackendKind::kHeadless) {
      UseHeadlessGdi();
      return;
    }
    static XvfbServer server;  // outlives every display connection of the test's thread
    if (!server.Running()) GTEST_SKIP() << "X11 suite skipped: " << server.Error();
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(GdiBackendKind::kX11, server.Display().c_str()));
  }
};

// One 8-bit block whose first `split` memory rows hold `low` and the rest `high`.
std::vector<std::uint8_t> SplitBlock(std::uint32_t split, std::uint8_t low, std::uint8_t high) {
  std::vector<std::uint8_t> block(10000, high);
  std::fill_n(block.begin(), split * 100, low);
  return block;
}

TEST_P(Painting, OneToOneShowsTheTopOfThePaddedBitmapInThePalettesColours) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(1366, 768, 1);
  // Grid row 7 holds the picture's top (memory rows 700-799); grid row 0 its bottom and the
  // 32 padding rows below it.
  ASSERT_EQ(SendBlock(surface, 1, header, 7 * 14, Zlib(SplitBlock(50, 0xE0, 0x00))), 10000);
  ASSERT_EQ(SendBlock(surface, 1, header, 13, Zlib(SplitBlock(40, 0x1C, 0x03))), 10000);
  TestWindow window(1366, 768);
  surface.Draw(header, window.Get(), kNoCursor, kNoCursor);
  const auto pixels = window.Pixels();
  // Memory rows 799-750 are black (entry 0), 749-700 red (entry 0xE0), the rest white (255).
  // Block 13 is the bottom-right: memory rows 40-99 blue, rows 0-39 green, of which 0-31 are
  // padding that must not show. Memory row r shows in window row 799 - r.
  const std::pair<POINT, std::uint32_t> expected[] = {
      {{0, 0}, kBlack},      {{99, 49}, kBlack},         {{0, 50}, kRed},
      {{99, 99}, kRed},      {{100, 0}, kWhite},         {{0, 100}, kWhite},
      {{1300, 700}, kBlue},  {{1365, 759}, kBlue},       {{1365, 760}, 0xFF00FF00u},
      {{1299, 767}, kWhite}, {{1365, 767}, 0xFF00FF00u},
  };
  for (const auto& [at, colour] : expected) {
    EXPECT_EQ(window.At(pixels, at.x, at.y), colour) << at.x << "," << at.y;
  }
}

TEST_P(Painting, NothingIsPaintedBeforeAPictureOrForAnEmptySize) {
  CBMPManager surface(100, 100);
  TestWindow window(200, 100);
  const auto blank = window.Pixels();
  surface.Draw(MessageHeader(200, 100, 4), window.Get(), 10, 10);
  ASSERT_TRUE(surface.PrepareBlocks(MessageHeader(200, 100, 4)));
  surface.Draw(MessageHeader(0, 100, 4), window.Get(), 10, 10);
  surface.Draw(MessageHeader(200, 0, 4), window.Get(), 10, 10);
  // Sixteen bits have no drawing header; a header larger than the bitmap is not painted.
  surface.Draw(MessageHeader(200, 100, 2), window.Get(), 10, 10);
  surface.Draw(MessageHeader(2000, 1000, 4), window.Get(), 10, 10);
  EXPECT_TRUE(window.Pixels() == blank);
  surface.Draw(MessageHeader(200, 100, 4), window.Get(), kNoCursor, kNoCursor);
  EXPECT_EQ(window.At(window.Pixels(), 199, 99), kWhite);
}

// The picture painted by the surface, then the hand cursor drawn by hand at `at`: what the
// surface must show, pixel for pixel. No position means no cursor.
std::vector<std::uint32_t> Expected(CBMPManager& surface, const BITMAPINFOHEADER& header,
                                    int windowWidth, int windowHeight, const POINT* at) {
  TestWindow reference(windowWidth, windowHeight);
  surface.Draw(header, reference.Get(), kNoCursor, kNoCursor);
  if (at != nullptr) {
    HDC dc = GetDC(reference.Get());
    EXPECT_TRUE(DrawIcon(dc, at->x, at->y, LoadCursorW(nullptr, IDC_HAND)));
    ReleaseDC(reference.Get(), dc);
  }
  return reference.Pixels();
}

// A 300 x 200 picture in a 400 x 300 window, so that an icon at the picture's edge shows; the
// cursor is drawn inside the picture, its edges included, and never for the no-cursor value.
TEST_P(Painting, CursorIsDrawnInsideThePictureEdgesIncluded) {
  struct Case {
    int dx, dy;  // cursor position minus the hot spot
    bool drawn;
  };
  const Case cases[] = {{0, 0, true},     {300, 20, true},  {20, 200, true}, {300, 200, true},
                        {301, 20, false}, {20, 201, false}, {-1, 20, false}, {20, -1, false}};
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  ASSERT_TRUE(surface.PrepareBlocks(header));
  const POINT hot = surface.CursorHotSpot();
  const auto bare = Expected(surface, header, 400, 300, nullptr);
  for (const Case& c : cases) {
    const POINT at = {c.dx, c.dy};
    const auto expected = c.drawn ? Expected(surface, header, 400, 300, &at) : bare;
    EXPECT_EQ(c.drawn, expected != bare) << "the icon does not show at " << c.dx << "," << c.dy;
    TestWindow window(400, 300);
    surface.Draw(header, window.Get(), static_cast<std::uint16_t>(c.dx + hot.x),
                 static_cast<std::uint16_t>(c.dy + hot.y));
    EXPECT_TRUE(window.Pixels() == expected) << c.dx << "," << c.dy;
  }
  for (bool stretch : {false, true}) {
    surface.SetStretch(stretch);
    TestWindow window(400, 300);
    surface.Draw(header, window.Get(), kNoCursor, kNoCursor);
    EXPECT_TRUE(window.Pixels() == Expected(surface, header, 400, 300, nullptr)) << stretch;
  }
}

int Channel(std::uint32_t pixel, int ch) {
  return static_cast<int>((pixel >> (8 * ch)) & 255);
}

// Stretched, every pixel is the area average of the picture within 1, whether reduced by a
// fraction, by an odd amount or enlarged; the cursor is scaled with the picture.
TEST_P(Painting, StretchIsTheAreaAverageWithTheCursorScaled) {
  constexpr LONG kWidth = 300, kHeight = 210;  // padded to 300 x 300 by the 100-pixel grid
  struct Case {
    int bytesPerPixel, width, height;
  };
  for (const Case& c : {Case{4, 200, 140}, Case{1, 173, 97}, Case{4, 451, 317}}) {
    SCOPED_TRACE(std::to_string(c.width) + "x" + std::to_string(c.height));
    const BITMAPINFOHEADER header = MessageHeader(kWidth, kHeight, c.bytesPerPixel);
    CBMPManager surface(100, 100);
    // Detail in every channel, so any misplaced or misweighed pixel shows.
    for (std::uint32_t index = 0; index < 9; ++index) {
      std::vector<std::uint8_t> block(static_cast<std::size_t>(100) * 100 * c.bytesPerPixel);
      for (std::size_t i = 0; i < block.size(); ++i) {
        block[i] = static_cast<std::uint8_t>(index * 37 + i * 13 + (i / 400) * 29);
      }
      ASSERT_GT(SendBlock(surface, 1, header, index, Zlib(block)), 0);
    }
    const auto picture = Expected(surface, header, kWidth, kHeight, nullptr);
    surface.SetStretch(true);
    const auto shown = Expected(surface, header, c.width, c.height, nullptr);
    const auto reference = ReferenceAreaAverage(
        [&](int x, int y, int ch) {
          return Channel(picture[static_cast<std::size_t>(y) * kWidth + x], ch);
        },
        kWidth, kHeight, c.width, c.height);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        for (int ch = 0; ch < 3; ++ch) {
          const int got = Channel(shown[static_cast<std::size_t>(y) * c.width + x], ch);
          ASSERT_LE(std::fabs(got - reference.At(x, y)[ch]), 1.0)
              << "pixel " << x << "," << y << " channel " << ch;
        }
      }
    }
    if (c.width != 200) continue;
    // The cursor at the picture's (150, 105) shows at (100, 70), the same fraction of the window.
    const POINT hot = surface.CursorHotSpot();
    const POINT at = {100 - hot.x, 70 - hot.y};
    TestWindow window(c.width, c.height);
    surface.Draw(header, window.Get(), 150, 105);
    EXPECT_TRUE(window.Pixels() == Expected(surface, header, c.width, c.height, &at));
  }
}

INSTANTIATE_TEST_SUITE_P(Backends, Painting,
                         ::testing::Values(GdiBackendKind::kHeadless, GdiBackendKind::kX11),
                         [](const ::testing::TestParamInfo<GdiBackendKind>& info) {
                           return info.param == GdiBackendKind::kX11 ? "X11" : "Headless";
                         });

class SizeLog : public IScreenSharing {
 public:
  void OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) override {
    sizes.emplace_back(width, height);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
};

// Until the first paint the surface describes the largest display at 32 bits: a screen that
// pads to exactly that is not reported. After that each new padded size or bit count is
// reported once, with the screen's own size; nothing is reported before a picture.
TEST(SizeReports, OncePerNewPaddedSizeWithTheScreensOwnSize) {
  UseHeadlessGdi();
  kwz_platform::SetHeadlessDisplays({SIZE{1280, 720}, SIZE{1400, 800}, SIZE{1024, 768}});
  SizeLog log;
  CBMPManager surface(100, 100);
  surface.SetSizeSink(&log);
  TestWindow window(1400, 800);
  surface.Draw(MessageHeader(1366, 768, 4), window.Get(), kNoCursor, kNoCursor);
  auto paint = [&](LONG width, LONG height, int bytesPerPixel, std::uint32_t mode) {
    surface.SetStreamMode(mode);
    const BITMAPINFOHEADER header = MessageHeader(width, height, bytesPerPixel);
    if (mode <= 2) {
      ASSERT_TRUE(surface.PrepareBlocks(header));
    }
    surface.Draw(header, window.Get(), kNoCursor, kNoCursor);
  };
  paint(1366, 768, 4, 1);  // 1400 x 800 at 32 bits: the largest display
  EXPECT_TRUE(log.sizes.empty());
  paint(1366, 768, 1, 1);  // bit count
  paint(1366, 768, 1, 1);
  paint(1380, 790, 1, 1);  // same 1400 x 800 grid: not a change
  paint(1366, 768, 4, 1);  // bit count
  paint(1024, 768, 4, 0);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {1366, 768}, {1366, 768}, {1024, 768}};
  EXPECT_EQ(log.sizes, expected);
}

}  // namespace
}  // namespace kwz_test
