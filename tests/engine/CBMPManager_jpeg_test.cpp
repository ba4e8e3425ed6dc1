// JPEG blocks (stream mode 2): the block codec the grid opens, and blocks coded by the same
// block encoder a presenter uses.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

// libjpeg codes the pictures our own block encoder never makes (grey, 4:4:4), as other
// senders may.
#include <jpeglib.h>

#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

constexpr std::uint32_t kZlib = 1;
constexpr std::uint32_t kJpeg = 2;

// A smooth 32-bit block in bitmap memory order, which JPEG keeps close.
std::vector<std::uint8_t> SmoothBlock(int side, int seed) {
  std::vector<std::uint8_t> block(static_cast<std::size_t>(side) * side * 4);
  for (int r = 0; r < side; ++r) {
    for (int c = 0; c < side; ++c) {
      std::uint8_t* p = &block[(static_cast<std::size_t>(r) * side + c) * 4];
      p[0] = static_cast<std::uint8_t>(40 + c + seed);
      p[1] = static_cast<std::uint8_t>(60 + r + seed);
      p[2] = static_cast<std::uint8_t>(200 - r - c / 2);
      p[3] = 0;
    }
  }
  return block;
}

// Largest difference of a colour byte between the block and the bitmap region at grid
// column bx, row by; alpha is not compared.
int LargestDifference(const CBMPManager& surface, std::uint32_t bx, std::uint32_t by,
                      const std::vector<std::uint8_t>& block) {
  int worst = 0;
  for (std::uint32_t r = 0; r < 100; ++r) {
    const std::uint8_t* row = Row(surface, by * 100 + r, bx * 400);
    for (std::uint32_t i = 0; i < 400; ++i) {
      if (i % 4 == 3) continue;
      worst = std::max(worst, std::abs(int(row[i]) - int(block[r * 400 + i])));
    }
  }
  return worst;
}

enum class Layout { kGrey, kColour444, kColour420 };

// Codes a side x side block (bitmap memory order, BGRA) with libjpeg: grey from the green
// channel, or colour with the given chroma sampling.
std::vector<std::uint8_t> LibjpegBlock(const std::vector<std::uint8_t>& block, Layout layout,
                                       JDIMENSION side = 100) {
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = side;
  c.image_height = side;
  const bool grey = layout == Layout::kGrey;
  c.input_components = grey ? 1 : 3;
  c.in_color_space = grey ? JCS_GRAYSCALE : JCS_RGB;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  if (layout == Layout::kColour444) {
    for (int i = 0; i < 3; ++i) c.comp_info[i].h_samp_factor = c.comp_info[i].v_samp_factor = 1;
  }
  jpeg_start_compress(&c, TRUE);
  std::vector<std::uint8_t> row(300);
  while (c.next_scanline < side) {
    const std::uint8_t* p = &block[c.next_scanline * side * 4];
    for (JDIMENSION x = 0; x < side; ++x) {
      if (grey) {
        row[x] = p[x * 4 + 1];
      } else {
        row[x * 3] = p[x * 4 + 2];  // R, G, B from B, G, R
        row[x * 3 + 1] = p[x * 4 + 1];
        row[x * 3 + 2] = p[x * 4];
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&c, rows, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  std::vector<std::uint8_t> jpeg(out, out + size);
  std::free(out);
  return jpeg;
}

struct LayoutCase {
  const char* name;
  Layout layout;
};

class ForeignJpegBlocks : public ::testing::TestWithParam<LayoutCase> {};

// Every chroma layout a JPEG block can come in lands in its place, in colour or as grey.
TEST_P(ForeignJpegBlocks, LandAsTheirPicture) {
  const Layout layout = GetParam().layout;
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  std::vector<std::uint8_t> block = SmoothBlock(100, 10);
  if (layout == Layout::kGrey) {
    for (std::size_t i = 0; i < block.size(); i += 4) block[i] = block[i + 2] = block[i + 1];
  }
  EXPECT_EQ(SendBlock(surface, kJpeg, header, 4, LibjpegBlock(block, layout)), 40000);
  // Another coder's rounding of the colour conversion adds a little to the quantisation.
  EXPECT_LE(LargestDifference(surface, 1, 1, block), 16);
  // A neighbour is untouched.
  EXPECT_EQ(Row(surface, 100, 0)[0], 0xFF);
}

INSTANTIATE_TEST_SUITE_P(Layouts, ForeignJpegBlocks,
                         ::testing::Values(LayoutCase{"Grey", Layout::kGrey},
                                           LayoutCase{"Colour444", Layout::kColour444},
                                           LayoutCase{"Colour420", Layout::kColour420}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(JpegBlocks, DamagedOrMisfittingPicturesLeaveTheBitmapAlone) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  const auto good = LibjpegBlock(SmoothBlock(100, 0), Layout::kColour420);
  ASSERT_EQ(SendBlock(surface, kJpeg, header, 0, good), 40000);
  const auto before = Snapshot(surface);

  std::vector<std::uint8_t> truncated(good.begin(), good.begin() + 40);
  const auto smaller = LibjpegBlock(SmoothBlock(48, 0), Layout::kColour420, 48);
  const std::vector<std::uint8_t> garbage(700, 0x3C);
  for (const auto& body : {truncated, smaller, garbage}) {
    EXPECT_EQ(SendBlock(surface, kJpeg, header, 1, body), 0);
    EXPECT_TRUE(Snapshot(surface) == before);
  }
}

// Switching the coding of blocks within one geometry keeps the picture; the JPEG codec comes
// with the first JPEG block, and a short zlib block over a JPEG one shows the JPEG picture behind
// its own rows.
TEST(JpegBlocks, SwitchFromZlibBlocksKeepsThePicture) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  const auto zlibBlock = SmoothBlock(100, 30);
  ASSERT_EQ(SendBlock(surface, kZlib, header, 0, Zlib(zlibBlock)), 40000);
  EXPECT_FALSE(surface.HasBlockEncoder());
  const std::uint8_t* pixels = surface.Pixels();

  EXPECT_EQ(
      SendBlock(surface, kJpeg, header, 5, LibjpegBlock(SmoothBlock(100, 0), Layout::kColour420)),
      40000);
  EXPECT_TRUE(surface.HasBlockDecoder());
  EXPECT_TRUE(surface.HasBlockEncoder());
  EXPECT_EQ(surface.Pixels(), pixels);
  EXPECT_EQ(LargestDifference(surface, 0, 0, zlibBlock), 0);

  const std::vector<std::uint8_t> before = Snapshot(surface);
  const std::vector<std::uint8_t> head(400 * 30, 0x42);
  EXPECT_EQ(SendBlock(surface, kZlib, header, 5, Zlib(head)), 400 * 30);
  for (std::uint32_t row = 100; row < 200; ++row) {
    const std::uint8_t* expected = row < 130 ? head.data() : &before[row * surface.Stride() + 800];
    EXPECT_TRUE(std::equal(expected, expected + 400, Row(surface, row, 800))) << "row " << row;
  }
}

// The encoder opened beside the decoder is part of the configuration: a block size it cannot
// code fails the grid and keeps what was there.
TEST(JpegBlocks, BlockEncoderThatCannotOpenFailsTheGrid) {
  CBMPManager surface(10000, 100);  // wider than any picture the codecs take
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  ASSERT_GT(SendBlock(surface, kZlib, header, 0, Zlib(std::vector<std::uint8_t>(4000000, 7))), 0);
  const auto before = Snapshot(surface);
  EXPECT_EQ(SendBlock(surface, kJpeg, MessageHeader(20000, 200, 4), 0, {1, 2, 3}), 0);
  EXPECT_FALSE(surface.HasBlockEncoder());
  EXPECT_FALSE(surface.HasBlockDecoder());
  EXPECT_EQ(surface.SurfaceHeader().biWidth, 10000);
  EXPECT_TRUE(Snapshot(surface) == before);
}

}  // namespace
}  // namespace kwz_test
