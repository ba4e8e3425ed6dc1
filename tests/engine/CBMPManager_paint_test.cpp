// Painting on the headless GDI backend, read back pixel by pixel: the picture's place in the
// padded bitmap, the palette, the cursor overlay and its edges, stretching, and size reports.
#include <gtest/gtest.h>

#include <utility>

#include "tests/engine/PaintTestSupport.h"
#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

constexpr std::uint16_t kNoCursor = 0xFFE0;
constexpr std::uint32_t kRed = 0xFFFF0000u, kBlue = 0xFF0000FFu, kBlack = 0xFF000000u,
                        kWhite = 0xFFFFFFFFu;

class SizeLog : public IScreenSharing {
 public:
  void OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) override {
    sizes.emplace_back(width, height);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes;
};

class Painting : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { UseHeadlessGdi(); }
  void SetUp() override { kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}}); }
};

// One 8-bit block whose first `split` memory rows hold `low` and the rest `high`.
std::vector<std::uint8_t> SplitBlock(std::uint32_t split, std::uint8_t low, std::uint8_t high) {
  std::vector<std::uint8_t> block(10000, high);
  std::fill_n(block.begin(), split * 100, low);
  return block;
}

TEST_F(Painting, OneToOneShowsTheTopOfThePaddedBitmapInThePalettesColours) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(1366, 768, 1);
  // Grid row 7 holds the picture's top (memory rows 700-799); grid row 0 its bottom and the
  // 32 padding rows below it.
  ASSERT_EQ(SendBlock(surface, 1, header, 7 * 14, Zlib(SplitBlock(50, 0xE0, 0x00))), 10000);
  ASSERT_EQ(SendBlock(surface, 1, header, 13, Zlib(SplitBlock(40, 0x1C, 0x03))), 10000);
  TestWindow window(1366, 768);
  surface.Draw(header, window.Get(), kNoCursor, kNoCursor);

  const BITMAPINFOHEADER& drawing = surface.DrawingHeader().Header();
  EXPECT_EQ(drawing.biWidth, 1400);
  EXPECT_EQ(drawing.biHeight, 800);
  EXPECT_EQ(drawing.biBitCount, 8);
  const auto pixels = window.Pixels();
  // Memory rows 799-750 are black (entry 0), 749-700 red (entry 0xE0).
  EXPECT_EQ(window.At(pixels, 0, 0), kBlack);
  EXPECT_EQ(window.At(pixels, 99, 49), kBlack);
  EXPECT_EQ(window.At(pixels, 0, 50), kRed);
  EXPECT_EQ(window.At(pixels, 99, 99), kRed);
  EXPECT_EQ(window.At(pixels, 100, 0), kWhite);  // entry 255
  EXPECT_EQ(window.At(pixels, 0, 100), kWhite);
  // Block 13 is the bottom-right: memory rows 40-99 blue, rows 0-39 green, of which 0-31 are
  // padding that must not show. Memory row r shows in window row 799 - r.
  EXPECT_EQ(window.At(pixels, 1300, 700), kBlue);
  EXPECT_EQ(window.At(pixels, 1365, 759), kBlue);
  EXPECT_EQ(window.At(pixels, 1365, 760), 0xFF00FF00u);
  EXPECT_EQ(window.At(pixels, 1365, 767), 0xFF00FF00u);
  EXPECT_EQ(window.At(pixels, 1299, 767), kWhite);
}

TEST_F(Painting, NothingIsPaintedOrReportedBeforeAPictureOrForAnEmptySize) {
  SizeLog log;
  CBMPManager surface(100, 100);
  surface.SetSizeSink(&log);
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

TEST_F(Painting, SizeIsReportedOncePerNewPaddedSizeWithTheScreensOwnSize) {
  SizeLog log;
  CBMPManager surface(100, 100);
  surface.SetSizeSink(&log);
  TestWindow window(1400, 800);
  auto paint = [&](LONG width, LONG height, int bytesPerPixel, std::uint32_t mode) {
    surface.SetStreamMode(mode);
    const BITMAPINFOHEADER header = MessageHeader(width, height, bytesPerPixel);
    if (mode <= 2) {
      ASSERT_TRUE(surface.PrepareBlocks(header));
    }
    surface.Draw(header, window.Get(), kNoCursor, kNoCursor);
  };
  paint(1366, 768, 1, 1);
  paint(1366, 768, 1, 1);
  paint(1380, 790, 1, 1);  // same 1400 x 800 grid: not a change
  paint(1366, 768, 4, 1);  // bit count
  paint(1024, 768, 4, 0);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {1366, 768}, {1366, 768}, {1024, 768}};
  EXPECT_EQ(log.sizes, expected);
}

// Until the first paint the surface describes the largest display at 32 bits: a screen that
// pads to exactly that is never reported.
TEST_F(Painting, ScreenOfTheLargestDisplaysSizeIsNotReported) {
  kwz_platform::SetHeadlessDisplays({SIZE{1280, 720}, SIZE{1400, 800}, SIZE{1024, 768}});
  SizeLog log;
  CBMPManager surface(100, 100);
  surface.SetSizeSink(&log);
  EXPECT_EQ(surface.DrawingHeader().Header().biWidth, 1400);
  EXPECT_EQ(surface.DrawingHeader().Header().biHeight, 800);
  EXPECT_EQ(surface.DrawingHeader().Header().biBitCount, 32);
  TestWindow window(1366, 768);
  const BITMAPINFOHEADER header = MessageHeader(1366, 768, 4);
  ASSERT_TRUE(surface.PrepareBlocks(header));
  surface.Draw(header, window.Get(), kNoCursor, kNoCursor);
  EXPECT_TRUE(log.sizes.empty());
}

// The same picture painted by the surface, then the hand cursor drawn by hand at (x, y):
// what the surface must show, pixel for pixel. No position means no cursor.
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

struct CursorCase {
  const char* name;
  int dx, dy;  // cursor position minus the hot spot
  bool drawn;
};

class CursorEdges : public Painting, public ::testing::WithParamInterface<CursorCase> {};

// A 300 x 200 picture in a 400 x 300 window, so that an icon at the picture's edge shows.
TEST_P(CursorEdges, DrawnInsideThePictureEdgesIncluded) {
  const CursorCase& c = GetParam();
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  ASSERT_TRUE(surface.PrepareBlocks(header));
  const POINT hot = surface.CursorHotSpot();
  const POINT at = {c.dx, c.dy};
  const auto expected = Expected(surface, header, 400, 300, c.drawn ? &at : nullptr);
  TestWindow window(400, 300);
  surface.Draw(header, window.Get(), static_cast<std::uint16_t>(c.dx + hot.x),
               static_cast<std::uint16_t>(c.dy + hot.y));
  EXPECT_TRUE(window.Pixels() == expected);
  if (c.drawn) {
    // The icon really shows: without it the window would differ.
    EXPECT_FALSE(Expected(surface, header, 400, 300, nullptr) == expected);
  }
}

INSTANTIATE_TEST_SUITE_P(Positions, CursorEdges,
                         ::testing::Values(CursorCase{"TopLeft", 0, 0, true},
                                           CursorCase{"RightEdge", 300, 20, true},
                                           CursorCase{"BottomEdge", 20, 200, true},
                                           CursorCase{"BottomRightCorner", 300, 200, true},
                                           CursorCase{"OnePastTheRight", 301, 20, false},
                                           CursorCase{"OnePastTheBottom", 20, 201, false},
                                           CursorCase{"OneLeftOfTheWindow", -1, 20, false},
                                           CursorCase{"OneAboveTheWindow", 20, -1, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(Painting, NoCursorValueIsNeverDrawn) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  ASSERT_TRUE(surface.PrepareBlocks(header));
  const auto expected = Expected(surface, header, 300, 200, nullptr);
  for (bool stretch : {false, true}) {
    surface.SetStretch(stretch);
    TestWindow window(300, 200);
    surface.Draw(header, window.Get(), kNoCursor, kNoCursor);
    EXPECT_TRUE(window.Pixels() == expected) << stretch;
  }
}

TEST_F(Painting, StretchScalesPictureAndCursorToTheClientArea) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(1366, 768, 4);
  // The picture's top-left block (grid row 7, column 0) is red.
  std::vector<std::uint8_t> red(40000, 0);
  for (std::size_t i = 2; i < red.size(); i += 4) red[i] = 0xFF;
  ASSERT_EQ(SendBlock(surface, 1, header, 7 * 14, Zlib(red)), 40000);
  surface.SetStretch(true);
  const POINT hot = surface.CursorHotSpot();
  const POINT at = {500 - hot.x, 250 - hot.y};
  const auto expected = Expected(surface, header, 683, 384, &at);
  TestWindow window(683, 384);
  surface.Draw(header, window.Get(), 1000, 500);
  const auto pixels = window.Pixels();
  EXPECT_TRUE(pixels == expected);
  // Halved: the 100-pixel block covers 50 x 50 pixels of the window.
  EXPECT_EQ(window.At(pixels, 10, 10), kRed);
  EXPECT_EQ(window.At(pixels, 48, 48), kRed);
  EXPECT_EQ(window.At(pixels, 52, 10), kWhite);
  EXPECT_EQ(window.At(pixels, 10, 52), kWhite);
  EXPECT_EQ(window.At(pixels, 682, 383), kWhite);
}

}  // namespace
}  // namespace kwz_test
