#include "engine/SurfaceGeometry.h"

#include <gtest/gtest.h>

#include <tuple>

#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

BITMAPINFOHEADER With(BITMAPINFOHEADER header, WORD bitCount, LONG height) {
  header.biBitCount = bitCount;
  header.biHeight = height;
  return header;
}

// Whole blocks pad to themselves and one pixel more to another block; headers that come off
// the wire never overflow a size or reach an allocation (paddedWidth 0: refused).
TEST(BlockGridSizes, PadToWholeBlocksAndRefuseWhatNoBitmapCanHold) {
  const struct {
    const char* what;
    BITMAPINFOHEADER header;
    std::uint32_t block;
    std::uint32_t paddedWidth, paddedHeight, blockBytes, stride;
  } cases[] = {
      {"exact grid", MessageHeader(1400, 800, 1), 100, 1400, 800, 10000, 1400},
      {"one pixel", MessageHeader(1, 1, 4), 100, 100, 100, 40000, 400},
      {"one past the grid", MessageHeader(1401, 801, 1), 100, 1500, 900, 10000, 1500},
      {"24 bits", MessageHeader(1366, 768, 3), 100, 1400, 800, 30000, 4200},
      {"largest screen the endpoint lets through", MessageHeader(8192, 4096, 4), 100, 8200, 4100,
       40000, 32800},
      {"zero width", MessageHeader(0, 768, 4), 100, 0, 0, 0, 0},
      {"zero height", MessageHeader(1366, 0, 4), 100, 0, 0, 0, 0},
      {"negative height", With(MessageHeader(1366, 768, 1), 8, -768), 100, 0, 0, 0, 0},
      {"no bits per pixel", With(MessageHeader(1366, 768, 1), 0, 768), 100, 0, 0, 0, 0},
      {"five bytes per pixel", With(MessageHeader(1366, 768, 1), 40, 768), 100, 0, 0, 0, 0},
      {"largest 16-bit screen", MessageHeader(65535, 65535, 4), 100, 0, 0, 0, 0},
      {"16384 x 4096 past 160 MiB", MessageHeader(16384, 4096, 4), 100, 0, 0, 0, 0},
      {"empty block", MessageHeader(1366, 768, 4), 0, 0, 0, 0, 0},
      {"block larger than any bitmap", MessageHeader(16, 16, 4), 1u << 16, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const auto grid = kwz_engine::ComputeBlockGrid(c.header, c.block, c.block == 0 ? 100 : c.block);
    ASSERT_EQ(bool(grid), c.paddedWidth != 0);
    if (!grid) continue;
    EXPECT_EQ(grid->paddedWidth, c.paddedWidth);
    EXPECT_EQ(grid->paddedHeight, c.paddedHeight);
    EXPECT_EQ(grid->blockCount, c.paddedWidth / 100 * (c.paddedHeight / 100));
    EXPECT_EQ(grid->blocksPerRow, c.paddedWidth / 100);
    EXPECT_EQ(grid->blockBytes, c.blockBytes);
    EXPECT_EQ(grid->stride, c.stride);
    // Every block's buffer takes both the block and the worst zlib stream of it.
    EXPECT_GE(grid->blockBufferBytes, compressBound(grid->blockBytes));
  }
}

TEST(VideoGeometry, PadsToSixteenAndRefusesWhatNoBitmapCanHold) {
  const auto wxga = kwz_engine::ComputeVideoGeometry(MessageHeader(1366, 768, 4));
  ASSERT_TRUE(wxga);
  EXPECT_EQ(wxga->width16, 1376u);
  EXPECT_EQ(wxga->imageSize, 1376u * 4 * 768);
  const auto fullHd24 = kwz_engine::ComputeVideoGeometry(MessageHeader(1920, 1080, 3));
  ASSERT_TRUE(fullHd24);
  EXPECT_EQ(fullHd24->height16, 1088u);
  EXPECT_EQ(fullHd24->imageSize, 1920u * 3 * 1088);
  for (const auto& [width, height, fits] : {std::tuple{0, 768, false},
                                            {1366, 0, false},
                                            {65535, 65535, false},
                                            {8192, 4096, true},
                                            {16384, 4096, false}}) {
    EXPECT_EQ(bool(kwz_engine::ComputeVideoGeometry(MessageHeader(width, height, 4))), fits)
        << width << " x " << height;
  }
}

}  // namespace
}  // namespace kwz_test
