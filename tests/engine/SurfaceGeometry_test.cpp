#include "engine/SurfaceGeometry.h"

#include <gtest/gtest.h>

#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

using kwz_engine::ComputeBlockGrid;
using kwz_engine::ComputeVideoGeometry;

struct GridCase {
  const char* name;
  LONG width, height;
  int bytesPerPixel;
  std::uint32_t paddedWidth, paddedHeight, blockCount, blockBytes, stride;
};

class BlockGridSizes : public ::testing::TestWithParam<GridCase> {};

TEST_P(BlockGridSizes, PadToWholeBlocks) {
  const GridCase& c = GetParam();
  const auto grid = ComputeBlockGrid(MessageHeader(c.width, c.height, c.bytesPerPixel), 100, 100);
  ASSERT_TRUE(grid);
  EXPECT_EQ(grid->paddedWidth, c.paddedWidth);
  EXPECT_EQ(grid->paddedHeight, c.paddedHeight);
  EXPECT_EQ(grid->blockCount, c.blockCount);
  EXPECT_EQ(grid->blockBytes, c.blockBytes);
  EXPECT_EQ(grid->stride, c.stride);
  EXPECT_EQ(grid->blocksPerRow, c.paddedWidth / 100);
  // Every block's buffer takes both the block and the worst zlib stream of it.
  EXPECT_GE(grid->blockBufferBytes, compressBound(grid->blockBytes));
}

INSTANTIATE_TEST_SUITE_P(
    Screens, BlockGridSizes,
    ::testing::Values(GridCase{"ExactGrid", 1400, 800, 1, 1400, 800, 112, 10000, 1400},
                      GridCase{"OnePixel", 1, 1, 4, 100, 100, 1, 40000, 400},
                      GridCase{"OnePastTheGrid", 1401, 801, 1, 1500, 900, 135, 10000, 1500},
                      GridCase{"TwentyFourBits", 1366, 768, 3, 1400, 800, 112, 30000, 4200}),
    [](const auto& info) { return std::string(info.param.name); });

// Headers that come off the wire: none may overflow a size or reach an allocation.
TEST(BlockGridSizes, RefusesWhatNoBitmapCanHold) {
  struct Bad {
    const char* what;
    BITMAPINFOHEADER header;
    std::uint32_t blockWidth, blockHeight;
  };
  BITMAPINFOHEADER noBits = MessageHeader(1366, 768, 1);
  noBits.biBitCount = 0;
  BITMAPINFOHEADER oddBits = MessageHeader(1366, 768, 1);
  oddBits.biBitCount = 40;
  BITMAPINFOHEADER negative = MessageHeader(1366, 768, 1);
  negative.biHeight = -768;
  const Bad cases[] = {
      {"zero width", MessageHeader(0, 768, 4), 100, 100},
      {"zero height", MessageHeader(1366, 0, 4), 100, 100},
      {"negative height", negative, 100, 100},
      {"no bits per pixel", noBits, 100, 100},
      {"five bytes per pixel", oddBits, 100, 100},
      {"largest 16-bit screen at 32 bits", MessageHeader(65535, 65535, 4), 100, 100},
      {"16384 x 4096 past 160 MiB", MessageHeader(16384, 4096, 4), 100, 100},
      {"empty block", MessageHeader(1366, 768, 4), 0, 100},
      {"block larger than any bitmap", MessageHeader(16, 16, 4), 1u << 16, 1u << 16},
  };
  for (const Bad& bad : cases) {
    EXPECT_FALSE(ComputeBlockGrid(bad.header, bad.blockWidth, bad.blockHeight)) << bad.what;
  }
  // The largest screen the endpoint lets through still fits.
  EXPECT_TRUE(ComputeBlockGrid(MessageHeader(8192, 4096, 4), 100, 100));
}

TEST(VideoGeometry, PadsToSixteenAndRefusesWhatNoBitmapCanHold) {
  const auto wxga = ComputeVideoGeometry(MessageHeader(1366, 768, 4));
  ASSERT_TRUE(wxga);
  EXPECT_EQ(wxga->width16, 1376u);
  EXPECT_EQ(wxga->imageSize, 1376u * 4 * 768);
  const auto fullHd24 = ComputeVideoGeometry(MessageHeader(1920, 1080, 3));
  ASSERT_TRUE(fullHd24);
  EXPECT_EQ(fullHd24->height16, 1088u);
  EXPECT_EQ(fullHd24->imageSize, 1920u * 3 * 1088);

  EXPECT_FALSE(ComputeVideoGeometry(MessageHeader(0, 768, 4)));
  EXPECT_FALSE(ComputeVideoGeometry(MessageHeader(1366, 0, 4)));
  EXPECT_FALSE(ComputeVideoGeometry(MessageHeader(65535, 65535, 4)));
  EXPECT_TRUE(ComputeVideoGeometry(MessageHeader(8192, 4096, 4)));
  EXPECT_FALSE(ComputeVideoGeometry(MessageHeader(16384, 4096, 4)));
}

}  // namespace
}  // namespace kwz_test
