#include "engine/CDrawingHeader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

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

// Eight bits describe a bottom-up bitmap with the 3-3-2 palette: red in the top three bits,
// green in the next three, blue in the last two, each spread over 0-255.
TEST(DrawingHeader, EightBitsCarryTheRgb332Palette) {
  const CDrawingHeader header = CDrawingHeader::Make(1400, 800, 1);
  ASSERT_TRUE(header);
  EXPECT_EQ(header.Header().biHeight, 800);  // positive: bottom-up
  EXPECT_EQ(header.Header().biBitCount, 8);
  EXPECT_EQ(header.Header().biSizeImage, 1400u * 800);
  struct Expected {
    int index;
    BYTE red, green, blue;
  };
  for (const Expected& e : {Expected{0xE0, 255, 0, 0}, Expected{0x1C, 0, 255, 0},
                            Expected{0x03, 0, 0, 255}, Expected{0x49, 72, 72, 85}}) {
    const RGBQUAD entry = PaletteEntry(header, e.index);
    EXPECT_EQ((std::vector<int>{entry.rgbRed, entry.rgbGreen, entry.rgbBlue, entry.rgbReserved}),
              (std::vector<int>{e.red, e.green, e.blue, 0}))
        << e.index;
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
  for (int bytesPerPixel : {0, 2, 5}) {
    EXPECT_FALSE(CDrawingHeader::Make(1400, 800, bytesPerPixel)) << bytesPerPixel;
  }
  EXPECT_FALSE(CDrawingHeader::Make(0, 800, 4));
  EXPECT_FALSE(CDrawingHeader::Make(1400, -800, 4));
  EXPECT_FALSE(CDrawingHeader::Make(0x7FFFFFFF, 0x7FFFFFFF, 4));
}

}  // namespace
}  // namespace kwz_test
