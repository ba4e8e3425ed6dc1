#include "engine/CDrawingHeader.h"

#include <gtest/gtest.h>

#include <cstring>

namespace kwz_test {
namespace {

RGBQUAD PaletteEntry(const CDrawingHeader& header, int index) {
  RGBQUAD entry;
  std::memcpy(&entry,
              reinterpret_cast<const BYTE*>(header.Info()) + sizeof(BITMAPINFOHEADER) +
                  index * sizeof(RGBQUAD),
              sizeof(entry));
  return entry;
}

TEST(DrawingHeader, EightBitsCarryTheRgb332Palette) {
  const CDrawingHeader header = CDrawingHeader::Make(1400, 800, 1);
  ASSERT_TRUE(header);
  const BITMAPINFOHEADER& h = header.Header();
  EXPECT_EQ(h.biSize, 40u);
  EXPECT_EQ(h.biWidth, 1400);
  EXPECT_EQ(h.biHeight, 800);  // positive: bottom-up
  EXPECT_EQ(h.biPlanes, 1);
  EXPECT_EQ(h.biBitCount, 8);
  EXPECT_EQ(h.biCompression, BI_RGB);
  EXPECT_EQ(h.biSizeImage, 1400u * 800);
  EXPECT_EQ(h.biClrUsed, 0u);

  struct Expected {
    int index;
    BYTE red, green, blue;
  };
  const Expected table[] = {
      {0x00, 0, 0, 0},       {0xE0, 255, 0, 0}, {0x1C, 0, 255, 0},  {0x03, 0, 0, 255},
      {0xFF, 255, 255, 255}, {0x20, 36, 0, 0},  {0x49, 72, 72, 85}, {0x92, 145, 145, 170},
  };
  for (const Expected& e : table) {
    const RGBQUAD entry = PaletteEntry(header, e.index);
    EXPECT_EQ(entry.rgbRed, e.red) << e.index;
    EXPECT_EQ(entry.rgbGreen, e.green) << e.index;
    EXPECT_EQ(entry.rgbBlue, e.blue) << e.index;
    EXPECT_EQ(entry.rgbReserved, 0) << e.index;
  }
}

TEST(DrawingHeader, ByteCountsDecideTheDescription) {
  const CDrawingHeader rgb32 = CDrawingHeader::Make(1376, 768, 4);
  ASSERT_TRUE(rgb32);
  EXPECT_EQ(rgb32.Header().biBitCount, 32);
  EXPECT_EQ(rgb32.Header().biSizeImage, 1376u * 4 * 768);
  const CDrawingHeader rgb24 = CDrawingHeader::Make(1366, 2, 3);
  ASSERT_TRUE(rgb24);
  EXPECT_EQ(rgb24.Header().biBitCount, 24);
  EXPECT_EQ(rgb24.Header().biSizeImage, 4100u * 2);  // 4098 bytes padded to 4

  // Sixteen bits have no description the surface can paint, nor have sizes off the scale.
  for (int bytesPerPixel : {0, 2, 5, 255}) {
    EXPECT_FALSE(CDrawingHeader::Make(1400, 800, bytesPerPixel)) << bytesPerPixel;
  }
  EXPECT_FALSE(CDrawingHeader::Make(0, 800, 4));
  EXPECT_FALSE(CDrawingHeader::Make(1400, -800, 4));
  EXPECT_FALSE(CDrawingHeader::Make(0x7FFFFFFF, 0x7FFFFFFF, 4));
}

}  // namespace
}  // namespace kwz_test
