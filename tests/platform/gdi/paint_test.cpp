// The DIB painting calls on the headless backend, pixel for pixel.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/platform/GdiTestSupport.h"

namespace {

using kwz_test::MakeDib;
using kwz_test::MakeWindow;
using kwz_test::PaletteColour;
using kwz_test::Read;
using kwz_test::TestDib;

constexpr int kBackground = 200;

int Pattern(int x, int y) {
  return (x * 13 + y * 29 + 1) & 255;
}

class GdiPaintTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
  }
};

// The engine's 1:1 call: a padded bottom-up bitmap whose top rows hold the picture.
TEST_F(GdiPaintTest, PaintsTheTopRowsOfAPaddedBottomUpBitmapAtEveryDepth) {
  for (int bitCount : {8, 24, 32}) {
    SCOPED_TRACE(bitCount);
    const int width = 13, height = 7, paddedWidth = 16, paddedHeight = 10;  // rows not 4-aligned
    TestDib dib = MakeDib(paddedWidth, paddedHeight, bitCount, true, Pattern);
    HWND window = MakeWindow(width, height);
    HDC dc = GetDC(window);
    ASSERT_NE(dc, nullptr);
    EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, width, height, 0, paddedHeight - height, 0, paddedHeight,
                                dib.bits.data(), dib.bmi(), DIB_RGB_COLORS),
              paddedHeight);
    EXPECT_EQ(ReleaseDC(window, dc), 1);
    auto shown = Read(window);
    ASSERT_EQ(shown.width, width);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) ASSERT_EQ(shown.At(x, y), dib.Colour(x, y)) << x << "," << y;
    }
    DestroyWindow(window);
  }
}

TEST_F(GdiPaintTest, NothingShowsBeforeReleaseDC) {
  HWND window = MakeWindow(4, 4);
  TestDib dib = MakeDib(4, 4, 32, true, Pattern);
  HDC dc = GetDC(window);
  SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 0, 4, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS);
  EXPECT_EQ(Read(window).At(1, 1), 0xFF000000u);
  ReleaseDC(window, dc);
  EXPECT_EQ(Read(window).At(1, 1), dib.Colour(1, 1));
  DestroyWindow(window);
}

// Every clipped 1:1 paint against a per-pixel model of GDI's rules.
struct ClipCase {
  const char* name;
  bool bottomUp;
  int xDest, yDest, width, height, xSrc, ySrc;
  UINT startScan, scanLines;
  int expectedResult;
};

class GdiClipTest : public GdiPaintTest, public ::testing::WithParamInterface<ClipCase> {};

TEST_P(GdiClipTest, PaintsExactlyTheVisiblePartOfTheSourceRectangle) {
  const ClipCase& c = GetParam();
  const int dibWidth = 9, dibHeight = 8, windowWidth = 10, windowHeight = 7;
  TestDib full = MakeDib(dibWidth, dibHeight, 32, c.bottomUp, Pattern);
  // The caller hands over only the scans [startScan, startScan + scanLines).
  const size_t stride = static_cast<size_t>(dibWidth) * 4;
  const UINT available =
      std::min<UINT>(c.scanLines, dibHeight - std::min<UINT>(c.startScan, dibHeight));
  std::vector<std::uint8_t> band(full.bits.begin() + c.startScan * stride,
                                 full.bits.begin() + (c.startScan + available) * stride);
  band.resize(std::max<size_t>(band.size(), 1));
  HWND window = MakeWindow(windowWidth, windowHeight);
  kwz_test::Fill(window, windowWidth, windowHeight, kBackground);
  HDC dc = GetDC(window);
  EXPECT_EQ(SetDIBitsToDevice(dc, c.xDest, c.yDest, c.width, c.height, c.xSrc, c.ySrc, c.startScan,
                              c.scanLines, band.data(), full.bmi(), DIB_RGB_COLORS),
            c.expectedResult);
  ReleaseDC(window, dc);
  auto shown = Read(window);
  for (int y = 0; y < windowHeight; ++y) {
    for (int x = 0; x < windowWidth; ++x) {
      // Model: destination (x, y) takes source column xSrc + dx and, for a bottom-up DIB, the
      // scan ySrc + height - 1 - dy (counted from the bottom), if the DIB and the band have it.
      std::uint32_t expected = PaletteColour(kBackground);
      const int dx = x - c.xDest, dy = y - c.yDest;
      if (dx >= 0 && dx < c.width && dy >= 0 && dy < c.height) {
        const int sx = c.xSrc + dx;
        const int scan = c.bottomUp ? c.ySrc + c.height - 1 - dy : c.ySrc + dy;
        const bool inBand = scan >= static_cast<int>(c.startScan) &&
                            scan < static_cast<int>(c.startScan + available);
        if (c.expectedResult > 0 && sx >= 0 && sx < dibWidth && scan >= 0 && scan < dibHeight &&
            inBand) {
          expected = full.Colour(sx, c.bottomUp ? dibHeight - 1 - scan : scan);
        }
      }
      ASSERT_EQ(shown.At(x, y), expected) << x << "," << y;
    }
  }
  DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GdiClipTest,
    ::testing::Values(
        // Plain and offset rectangles.
        ClipCase{"Whole", true, 0, 0, 9, 8, 0, 0, 0, 8, 8},
        ClipCase{"Inner", true, 2, 1, 4, 3, 3, 2, 0, 8, 8},
        // The destination hangs over every edge of the window.
        ClipCase{"NegativeDest", true, -3, -2, 9, 8, 0, 0, 0, 8, 8},
        ClipCase{"PastRightBottom", true, 6, 5, 9, 8, 0, 0, 0, 8, 8},
        ClipCase{"FarOutside", true, 5000, -5000, 9, 8, 0, 0, 0, 8, 8},
        // The source rectangle reaches past the DIB.
        ClipCase{"SourcePastDib", true, 0, 0, 10, 7, 4, 3, 0, 8, 8},
        ClipCase{"NegativeSource", true, 0, 0, 10, 7, -2, -3, 0, 8, 8},
        ClipCase{"HugeSize", true, 0, 0, 0xFFFFFFFu, 0xFFFFFFFu, 0, 0, 0, 8, 8},
        // Only a band of scans is handed over; the result counts the scans the DIB has.
        ClipCase{"Band", true, 0, 0, 9, 8, 0, 0, 2, 3, 3},
        ClipCase{"BandPastTop", true, 0, 0, 9, 8, 0, 0, 6, 10, 2},
        // Top-down DIBs count from the top.
        ClipCase{"TopDown", false, 1, 1, 5, 4, 2, 3, 0, 8, 8},
        ClipCase{"TopDownBand", false, 0, 0, 9, 8, 0, 0, 3, 2, 2},
        // Nothing to paint from.
        ClipCase{"StartBeyondDib", true, 0, 0, 9, 8, 0, 0, 8, 4, 0},
        ClipCase{"NoScans", true, 0, 0, 9, 8, 0, 0, 0, 0, 0}),
    [](const ::testing::TestParamInfo<ClipCase>& info) { return info.param.name; });

// Rows of a kilo-pixel and more take another copy loop than short ones, at 32 bits and through
// the palette; every alignment of the source and destination columns must still land exactly,
// with the next pixel left alone.
TEST_F(GdiPaintTest, WideRowsLandExactlyAtEveryAlignment) {
  const int dibWidth = 1100, windowWidth = 1110, rows = 2;
  for (int bitCount : {8, 32}) {
    TestDib dib = MakeDib(dibWidth, rows, bitCount, true, Pattern);
    for (int xDest : {0, 1, 3, 4}) {
      for (int xSrc : {0, 1, 2, 5}) {
        SCOPED_TRACE(testing::Message()
                     << bitCount << " bits, xDest " << xDest << ", xSrc " << xSrc);
        const int width = dibWidth - xSrc - 1;  // leaves the DIB's last column and what follows
        HWND window = MakeWindow(windowWidth, rows);
        kwz_test::Fill(window, windowWidth, rows, kBackground);
        HDC dc = GetDC(window);
        SetDIBitsToDevice(dc, xDest, 0, width, rows, xSrc, 0, 0, rows, dib.bits.data(), dib.bmi(),
                          DIB_RGB_COLORS);
        ReleaseDC(window, dc);
        auto shown = Read(window);
        for (int y = 0; y < rows; ++y) {
          for (int x = 0; x < windowWidth; ++x) {
            const bool inside = x >= xDest && x < xDest + width;
            const std::uint32_t expected =
                inside ? dib.Colour(x - xDest + xSrc, y) : PaletteColour(kBackground);
            ASSERT_EQ(shown.At(x, y), expected) << x << "," << y;
          }
        }
        DestroyWindow(window);
      }
    }
  }
}

// A back image is reused between frames; only what a DC paints may reach the window.
TEST_F(GdiPaintTest, SeparatePaintsAndACursorAcrossThemLeaveTheRestAlone) {
  const int side = 40;
  HWND window = MakeWindow(side, side);
  kwz_test::Fill(window, side, side, 10);
  kwz_test::Fill(window, side, side, 20);  // the recycled image now holds colour 10
  TestDib dib = MakeDib(8, 8, 32, true, Pattern);
  HDC dc = GetDC(window);
  SetDIBitsToDevice(dc, 0, 0, 8, 8, 0, 0, 0, 8, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS);
  SetDIBitsToDevice(dc, 32, 32, 8, 8, 0, 0, 0, 8, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS);
  // The arrow's transparent parts lie over both the painted corner and the untouched middle.
  ASSERT_TRUE(DrawIcon(dc, 4, 4, LoadCursorW(nullptr, IDC_ARROW)));
  ReleaseDC(window, dc);
  auto shown = Read(window);
  EXPECT_EQ(shown.At(20, 20), PaletteColour(20));
  EXPECT_EQ(shown.At(30, 4), PaletteColour(20));  // right of the arrow, inside its square
  EXPECT_EQ(shown.At(7, 4), dib.Colour(7, 4));    // painted, beside the arrow's tip
  EXPECT_EQ(shown.At(4, 4), 0xFF000000u);         // the arrow's tip
  EXPECT_EQ(shown.At(39, 39), dib.Colour(7, 7));
  DestroyWindow(window);
}

TEST_F(GdiPaintTest, PaletteEntriesBeyondBiClrUsedAreBlack) {
  TestDib dib = MakeDib(4, 1, 8, true, [](int x, int) { return x * 2; });  // indexes 0, 2, 4, 6
  reinterpret_cast<BITMAPINFOHEADER*>(dib.info.data())->biClrUsed = 3;
  HWND window = MakeWindow(4, 1);
  HDC dc = GetDC(window);
  SetDIBitsToDevice(dc, 0, 0, 4, 1, 0, 0, 0, 1, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS);
  ReleaseDC(window, dc);
  auto shown = Read(window);
  EXPECT_EQ(shown.At(0, 0), PaletteColour(0));
  EXPECT_EQ(shown.At(1, 0), PaletteColour(2));
  EXPECT_EQ(shown.At(2, 0), 0xFF000000u);
  DestroyWindow(window);
}

}  // namespace
