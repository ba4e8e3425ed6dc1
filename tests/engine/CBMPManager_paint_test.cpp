// The surface's paint, read back pixel by pixel on the headless backend (the backends' own paint
// paths are the platform's tests; the picture's place in the padded bitmap and the palette are
// the end-to-end tests'): what is not painted, the cursor overlay and its edges, stretching by
// area average, and size reports.
#include <gtest/gtest.h>

#include <cmath>
#include <tuple>
#include <utility>

#include "tests/engine/SurfaceTestSupport.h"
#include "tests/platform/AreaAverage.h"

namespace kwz_test {
namespace {

constexpr std::uint16_t kNoCursor = 0xFFE0;

class Painting : public ::testing::Test {
 protected:
  void SetUp() override {
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
    UseHeadlessGdi();
  }
};

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
TEST_F(Painting, CursorIsDrawnInsideThePictureEdgesIncluded) {
  struct Case {
    int dx, dy;  // cursor position minus the hot spot
    bool drawn;
  };
  const Case cases[] = {{0, 0, true},     {300, 200, true}, {301, 20, false},
                        {20, 201, false}, {-1, 20, false},  {20, -1, false}};
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  // Nothing is painted before a picture, for an empty size, at sixteen bits (no drawing header)
  // or for a header larger than the bitmap.
  TestWindow blank(400, 300);
  const auto before = blank.Pixels();
  surface.Draw(header, blank.Get(), 10, 10);
  ASSERT_TRUE(surface.PrepareBlocks(header));
  for (const auto& [width, height, bytesPerPixel] :
       {std::tuple{0, 200, 4}, {300, 0, 4}, {300, 200, 2}, {3000, 2000, 4}}) {
    surface.Draw(MessageHeader(width, height, bytesPerPixel), blank.Get(), 10, 10);
  }
  EXPECT_TRUE(blank.Pixels() == before);
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
}

// Stretched, every pixel is the area average of the picture within 1, and the cursor is scaled
// with the picture.
TEST_F(Painting, StretchIsTheAreaAverageWithTheCursorScaled) {
  constexpr LONG kWidth = 300, kHeight = 210;  // padded to 300 x 300 by the 100-pixel grid
  constexpr int kShownWidth = 200, kShownHeight = 140;
  const BITMAPINFOHEADER header = MessageHeader(kWidth, kHeight, 4);
  CBMPManager surface(100, 100);
  // Detail in every channel, so any misplaced or misweighed pixel shows.
  for (std::uint32_t index = 0; index < 9; ++index) {
    std::vector<std::uint8_t> block(40000);
    for (std::size_t i = 0; i < block.size(); ++i) {
      block[i] = static_cast<std::uint8_t>(index * 37 + i * 13 + (i / 400) * 29);
    }
    ASSERT_GT(SendBlock(surface, 1, header, index, Zlib(block)), 0);
  }
  const auto picture = Expected(surface, header, kWidth, kHeight, nullptr);
  surface.SetStretch(true);
  const auto shown = Expected(surface, header, kShownWidth, kShownHeight, nullptr);
  const auto reference = ReferenceAreaAverage(
      [&](int x, int y, int ch) { return int(picture[y * kWidth + x] >> (8 * ch) & 255); }, kWidth,
      kHeight, kShownWidth, kShownHeight);
  for (int i = 0; i < kShownWidth * kShownHeight * 3; ++i) {
    const int x = i / 3 % kShownWidth, y = i / 3 / kShownWidth, ch = i % 3;
    ASSERT_LE(std::fabs(int(shown[i / 3] >> (8 * ch) & 255) - reference.At(x, y)[ch]), 1.0)
        << "pixel " << x << "," << y << " channel " << ch;
  }
  // The cursor at the picture's (150, 105) shows at (100, 70), the same fraction of the window.
  const POINT hot = surface.CursorHotSpot();
  const POINT at = {100 - hot.x, 70 - hot.y};
  TestWindow window(kShownWidth, kShownHeight);
  surface.Draw(header, window.Get(), 150, 105);
  EXPECT_TRUE(window.Pixels() == Expected(surface, header, kShownWidth, kShownHeight, &at));
}

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
  surface.SetStreamMode(1);
  for (const auto& [width, height, bytesPerPixel] :
       {std::tuple{1366, 768, 4},  // 1400 x 800 at 32 bits: the largest display
        {1366, 768, 1},            // bit count
        {1366, 768, 1},
        {1380, 790, 1},  // same 1400 x 800 grid: not a change
        {1366, 768, 4},  // bit count
        {1024, 768, 4}}) {
    const BITMAPINFOHEADER header = MessageHeader(width, height, bytesPerPixel);
    ASSERT_TRUE(surface.PrepareBlocks(header));
    surface.Draw(header, window.Get(), kNoCursor, kNoCursor);
  }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {1366, 768}, {1366, 768}, {1024, 768}};
  EXPECT_EQ(log.Sizes(), expected);
}

}  // namespace
}  // namespace kwz_test
