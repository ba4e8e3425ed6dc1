// StretchDIBits and DrawIcon on the headless backend.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tests/platform/GdiTestSupport.h"

namespace {

using kwz_test::MakeDib;
using kwz_test::MakeWindow;
using kwz_test::PaletteColour;
using kwz_test::Read;
using kwz_test::TestDib;

class GdiStretchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
  }
};

std::uint32_t Channel(std::uint32_t pixel, int shift) {
  return (pixel >> shift) & 255;
}

// Indexes whose 2x2 boxes sum to multiples of 4 in every channel: the averages are exact.
int EvenBoxes(int x, int y) {
  return ((x / 2) * 40 + (y / 2) * 8 + (x & 1) * 4 + (y & 1) * 4) & 255;
}

TEST_F(GdiStretchTest, HalftoneHalvingAveragesEachBoxAtEveryDepth) {
  for (int bitCount : {8, 24, 32}) {
    SCOPED_TRACE(bitCount);
    // The surface's stretch call: the top 8 x 6 of a padded 8 x 10 bottom-up bitmap onto 4 x 3.
    TestDib dib = MakeDib(8, 10, bitCount, true, EvenBoxes);
    HWND window = MakeWindow(4, 3);
    HDC dc = GetDC(window);
    EXPECT_EQ(SetStretchBltMode(dc, HALFTONE), BLACKONWHITE);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 3, 0, 10 - 6, 8, 6, dib.bits.data(), dib.bmi(),
                            DIB_RGB_COLORS, SRCCOPY),
              6);
    ReleaseDC(window, dc);
    auto shown = Read(window);
    for (int y = 0; y < 3; ++y) {
      for (int x = 0; x < 4; ++x) {
        for (int shift : {0, 8, 16}) {
          std::uint32_t sum = 0;
          for (int i = 0; i < 4; ++i)
            sum += Channel(dib.Colour(2 * x + i % 2, 2 * y + i / 2), shift);
          ASSERT_EQ(sum % 4, 0u);
          EXPECT_EQ(Channel(shown.At(x, y), shift), sum / 4) << x << "," << y << " shift " << shift;
        }
      }
    }
    DestroyWindow(window);
  }
}

// A one-pixel checkerboard averages to grey over any area; a scaler that skips source pixels
// shows black or white instead.
TEST_F(GdiStretchTest, HalftoneReductionsOfAnyRatioAverageEverySourcePixel) {
  TestDib dib = MakeDib(120, 120, 32, false, [](int x, int y) { return ((x + y) & 1) * 255; });
  struct Size {
    int width, height;
  };
  for (Size target : {Size{40, 40}, Size{30, 30}, Size{24, 120}, Size{120, 20}, Size{48, 48},
                      Size{17, 13}, Size{80, 60}}) {
    SCOPED_TRACE(std::to_string(target.width) + "x" + std::to_string(target.height));
    HWND window = MakeWindow(target.width, target.height);
    HDC dc = GetDC(window);
    SetStretchBltMode(dc, HALFTONE);
    StretchDIBits(dc, 0, 0, target.width, target.height, 0, 0, 120, 120, dib.bits.data(), dib.bmi(),
                  DIB_RGB_COLORS, SRCCOPY);
    ReleaseDC(window, dc);
    auto shown = Read(window);
    const std::uint32_t grey = (Channel(PaletteColour(0), 8) + Channel(PaletteColour(255), 8)) / 2;
    for (int y = 1; y + 1 < target.height; ++y) {
      for (int x = 1; x + 1 < target.width; ++x) {
        const int green = static_cast<int>(Channel(shown.At(x, y), 8));
        ASSERT_NEAR(green, static_cast<int>(grey), 40) << x << "," << y;
      }
    }
    DestroyWindow(window);
  }
}

TEST_F(GdiStretchTest, ColorOnColorPicksSourcePixelsWithoutBlending) {
  TestDib dib = MakeDib(8, 6, 32, true, [](int x, int y) { return x * 30 + y; });
  HWND window = MakeWindow(16, 3);
  HDC dc = GetDC(window);
  SetStretchBltMode(dc, COLORONCOLOR);
  // Down 2:1 vertically and up 1:2 horizontally at once.
  StretchDIBits(dc, 0, 0, 16, 3, 0, 0, 8, 6, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS, SRCCOPY);
  ReleaseDC(window, dc);
  auto shown = Read(window);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 16; ++x) {
      const std::set<std::uint32_t> box{dib.Colour(x / 2, 2 * y), dib.Colour(x / 2, 2 * y + 1)};
      EXPECT_TRUE(box.count(shown.At(x, y))) << x << "," << y;
    }
  }
  DestroyWindow(window);
}

TEST_F(GdiStretchTest, SameSizeStretchIsTheOneToOneCopy) {
  TestDib dib = MakeDib(7, 9, 24, true, [](int x, int y) { return x * 11 + y * 3; });
  HWND window = MakeWindow(7, 5);
  HDC dc = GetDC(window);
  SetStretchBltMode(dc, HALFTONE);
  StretchDIBits(dc, 0, 0, 7, 5, 0, 9 - 5, 7, 5, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS,
                SRCCOPY);
  ReleaseDC(window, dc);
  auto shown = Read(window);
  for (int y = 0; y < 5; ++y) {
    for (int x = 0; x < 7; ++x) EXPECT_EQ(shown.At(x, y), dib.Colour(x, y));
  }
  DestroyWindow(window);
}

// A stretch that hangs over the window shows the same pixels as the whole one would there.
TEST_F(GdiStretchTest, ClippedStretchMatchesTheUnclippedOne) {
  TestDib dib = MakeDib(40, 30, 32, true, [](int x, int y) { return (x * 5 + y * 9) & 255; });
  struct Case {
    int x, y, mode;
  };
  for (Case c : {Case{-7, -5, HALFTONE}, Case{11, 9, HALFTONE}, Case{-7, 9, COLORONCOLOR}}) {
    SCOPED_TRACE(c.x * 1000 + c.y);
    HWND big = MakeWindow(80, 60);
    HWND small = MakeWindow(20, 15);
    for (HWND w : {big, small}) {
      HDC dc = GetDC(w);
      SetStretchBltMode(dc, c.mode);
      const int x = w == big ? 20 : c.x, y = w == big ? 20 : c.y;
      StretchDIBits(dc, x, y, 25, 17, 0, 0, 40, 30, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS,
                    SRCCOPY);
      ReleaseDC(w, dc);
    }
    auto whole = Read(big), part = Read(small);
    for (int y = 0; y < 15; ++y) {
      for (int x = 0; x < 20; ++x) {
        const int bx = x - c.x + 20, by = y - c.y + 20;
        ASSERT_EQ(part.At(x, y), whole.At(bx, by)) << x << "," << y;
      }
    }
    DestroyWindow(big);
    DestroyWindow(small);
  }
}

TEST_F(GdiStretchTest, RejectsWhatItCannotPaint) {
  TestDib dib = MakeDib(4, 4, 32, true, [](int, int) { return 1; });
  TestDib bitfields = dib;
  reinterpret_cast<BITMAPINFOHEADER*>(bitfields.info.data())->biCompression = 3;
  TestDib sixteen = dib;
  reinterpret_cast<BITMAPINFOHEADER*>(sixteen.info.data())->biBitCount = 16;
  HWND window = MakeWindow(4, 4);
  HDC dc = GetDC(window);
  const void* bits = dib.bits.data();
  EXPECT_EQ(StretchDIBits(dc, 0, 0, -4, 4, 0, 0, 4, 4, bits, dib.bmi(), DIB_RGB_COLORS, SRCCOPY),
            0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 0, bits, dib.bmi(), DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 4, bits, dib.bmi(), DIB_RGB_COLORS, 0x00EE0086u),
            0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 4, nullptr, dib.bmi(), DIB_RGB_COLORS, SRCCOPY),
            0);
  EXPECT_EQ(
      StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 4, bits, bitfields.bmi(), DIB_RGB_COLORS, SRCCOPY), 0);
  EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 4, 0, 0, 4, 4, bits, sixteen.bmi(), DIB_RGB_COLORS, SRCCOPY),
            0);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 0, 4, bits, sixteen.bmi(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 0, 4, bits, dib.bmi(), 1 /*DIB_PAL_COLORS*/),
            0);
  EXPECT_EQ(SetStretchBltMode(dc, 0), 0);
  EXPECT_EQ(SetStretchBltMode(dc, 5), 0);
  ReleaseDC(window, dc);
  EXPECT_EQ(Read(window).At(0, 0), 0xFF000000u);
  DestroyWindow(window);
}

// --- Cursors ---

TEST_F(GdiStretchTest, SystemCursorsCarryTheirHotSpotsAndBitmaps) {
  struct Case {
    LPCWSTR name;
    DWORD hotX, hotY;
  };
  for (Case c : {Case{IDC_ARROW, 0, 0}, Case{IDC_HAND, 5, 0}}) {
    HCURSOR cursor = LoadCursorW(nullptr, c.name);
    ASSERT_NE(cursor, nullptr);
    EXPECT_EQ(LoadCursorW(nullptr, c.name), cursor);  // shared
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(cursor, &info));
    EXPECT_FALSE(info.fIcon);
    EXPECT_EQ(info.xHotspot, c.hotX);
    EXPECT_EQ(info.yHotspot, c.hotY);
    EXPECT_TRUE(DeleteObject(info.hbmMask));
    EXPECT_TRUE(DeleteObject(info.hbmColor));
    EXPECT_FALSE(DeleteObject(info.hbmColor));
  }
  EXPECT_EQ(LoadCursorW(nullptr, MAKEINTRESOURCEW(32513)), nullptr);
  EXPECT_FALSE(GetIconInfo(reinterpret_cast<HICON>(0x1234), nullptr));
}

// The hand drawn with its top-left at every spot around the window's edges: the visible part is
// the cursor's, what its mask leaves out keeps the background, nothing else changes.
TEST_F(GdiStretchTest, DrawIconClipsAtEveryEdge) {
  const int side = 20;
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  // The cursor alone, on a window large enough to hold it.
  HWND reference = MakeWindow(32, 32);
  kwz_test::Fill(reference, 32, 32, 100);
  HDC rdc = GetDC(reference);
  ASSERT_TRUE(DrawIcon(rdc, 0, 0, hand));
  ReleaseDC(reference, rdc);
  auto cursor = Read(reference);
  EXPECT_EQ(cursor.At(5, 0), 0xFF000000u);         // outline at the fingertip
  EXPECT_EQ(cursor.At(5, 1), 0xFFFFFFFFu);         // white inside
  EXPECT_EQ(cursor.At(0, 0), PaletteColour(100));  // transparent
  for (int x : {-40, -31, -3, 0, 7, side - 1, side, 1 << 30}) {
    for (int y : {-32, -5, 0, side - 2, side + 3, -(1 << 30)}) {
      HWND window = MakeWindow(side, side);
      kwz_test::Fill(window, side, side, 100);
      HDC dc = GetDC(window);
      EXPECT_TRUE(DrawIcon(dc, x, y, hand));
      ReleaseDC(window, dc);
      auto shown = Read(window);
      for (int wy = 0; wy < side; ++wy) {
        for (int wx = 0; wx < side; ++wx) {
          const long cx = static_cast<long>(wx) - x, cy = static_cast<long>(wy) - y;
          const bool inside = cx >= 0 && cx < 32 && cy >= 0 && cy < 32;
          ASSERT_EQ(shown.At(wx, wy), inside ? cursor.At(static_cast<int>(cx), static_cast<int>(cy))
                                             : PaletteColour(100))
              << "icon at " << x << "," << y << " pixel " << wx << "," << wy;
        }
      }
      DestroyWindow(window);
    }
  }
  DestroyWindow(reference);
}

}  // namespace
