// The drawing surface: the grid's and the video picture's geometry, zlib and JPEG blocks and
// video frames landing in the bitmap, switching between them, and the paint read back pixel by
// pixel on the headless backend, and its size reports (the backends' own paint paths are the
// platform's tests).
#include <gtest/gtest.h>
#include <jpeglib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <utility>

#include "engine/SurfaceGeometry.h"
#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/engine/EngineFixture.h"
#include "tests/platform/AreaAverage.h"

namespace kwz_test {
namespace {

constexpr std::uint32_t kZlib = 1;
constexpr std::uint32_t kJpeg = 2;
using Block = std::vector<std::uint8_t>;

// A block's pixels in bitmap memory order: byte (row, column) = f(row, column).
Block PatternBlock(std::uint32_t rowBytes, std::uint32_t rows, std::uint8_t seed) {
  Block block(static_cast<std::size_t>(rowBytes) * rows);
  for (std::size_t i = 0; i < block.size(); ++i) {
    block[i] = static_cast<std::uint8_t>(seed + i / rowBytes * 7 + i % rowBytes);
  }
  return block;
}

// Copies a block of 100 rows into a bitmap copy at grid column bx, row by.
void Place(Block* bitmap, std::uint32_t stride, std::uint32_t bx, std::uint32_t by,
           const Block& block) {
  const std::size_t rowBytes = block.size() / 100;
  for (std::size_t r = 0; r < 100; ++r) {
    std::copy_n(&block[r * rowBytes], rowBytes,
                &(*bitmap)[(by * 100 + r) * stride + bx * rowBytes]);
  }
}

bool AllWhite(const Block& bytes) {
  return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t b) { return b == 0xFF; });
}

// A screen that grows within the same padded size keeps the bitmap and its picture; a new padded
// size starts a white one.
TEST(BlockGrid, OnlyANewPaddedSizeStartsAWhiteBitmap) {
  CBMPManager surface(100, 100);
  const auto first = PatternBlock(100, 100, 1);
  ASSERT_EQ(SendBlock(surface, kZlib, MessageHeader(1366, 768, 1), 0, Zlib(first)), 10000);
  const std::uint8_t* pixels = surface.Pixels();
  ASSERT_EQ(SendBlock(surface, 0, MessageHeader(1380, 790, 1), 1, {}), 0);
  EXPECT_EQ(surface.Pixels(), pixels);
  EXPECT_TRUE(std::equal(first.begin(), first.begin() + 100, Row(surface, 0)));

  EXPECT_EQ(SendBlock(surface, 0, MessageHeader(1024, 768, 4), 0, {}), 0);
  const auto white = Snapshot(surface);
  EXPECT_EQ(white.size(), 1100u * 4 * 800);
  EXPECT_TRUE(AllWhite(white));
}

// Messages that decode nothing must leave every byte of the bitmap as it was.
TEST(BlockGrid, MessagesThatDecodeNothingLeaveTheBitmapAlone) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(1366, 768, 1);
  const auto body = Zlib(PatternBlock(100, 100, 5));
  ASSERT_EQ(SendBlock(surface, kZlib, header, 20, body), 10000);
  const Block before = Snapshot(surface);

  Block corrupt = body;
  corrupt[corrupt.size() / 2] ^= 0x5A;
  // A bomb: under 64 KiB (one message) that inflates to 48 MiB; only the block's worth may be
  // inflated.
  const Block bomb = Zlib(Block(48u << 20, 0));
  ASSERT_LT(bomb.size(), 65536u);
  const struct {
    const char* what;
    std::uint32_t mode, index;
    Block body;
  } cases[] = {
      {"corrupt zlib stream", kZlib, 20, corrupt},
      {"truncated zlib stream", kZlib, 20, Block(body.begin(), body.begin() + body.size() / 2)},
      {"block larger than its buffer", kZlib, 20, Zlib(Block(10000 * 3, 0x11))},
      {"zlib bomb", kZlib, 20, bomb},
      {"empty body", kZlib, 20, {}},
      {"block index one past the grid", kZlib, 112, body},
      {"geometry only", 0, 20, body},
      {"JPEG block on an 8-bit screen", kJpeg, 20, body},
      {"mode beyond the table", 9, 20, body},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SendBlock(surface, c.mode, header, c.index, c.body), 0) << c.what;
    EXPECT_TRUE(Snapshot(surface) == before) << c.what;
  }
  // A screen no grid can hold.
  EXPECT_EQ(SendBlock(surface, kZlib, MessageHeader(65535, 65535, 1), 20, body), 0);
  EXPECT_TRUE(Snapshot(surface) == before);
}

// A block that inflates short is still copied whole: behind its bytes, its place shows the rest
// of the block's own buffer, which holds what the last stream for that block wrote there.
TEST(BlockGrid, ShortBlocksShowTheRestOfTheirOwnBuffer) {
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 1);  // 3 x 2 blocks
  const auto whole = PatternBlock(100, 100, 3);
  const auto other = PatternBlock(100, 100, 40);
  const auto broken = PatternBlock(100, 100, 77);
  // Every byte of `broken`, then a checksum that does not match.
  Block brokenBody = Zlib(broken);
  brokenBody.back() ^= 0x01;
  const Block head(other.begin(), other.begin() + 4000);
  const Block shortHead(whole.begin(), whole.begin() + 6000);
  auto followedBy = [](Block front, const Block& rest) {
    front.insert(front.end(), rest.begin() + front.size(), rest.end());
    return front;
  };
  const struct {
    const char* what;
    std::vector<Block> before;  // bodies for block 4, in order
    Block behind;               // what shows behind the short block
  } cases[] = {
      {"a new grid", {}, Block(10000, 0)},
      {"a whole block", {Zlib(whole)}, whole},
      {"a whole block, then a broken one", {Zlib(whole), brokenBody}, broken},
      {"a short block", {Zlib(shortHead)}, followedBy(shortHead, Block(10000, 0))},
  };
  for (const auto& c : cases) {
    CBMPManager surface(100, 100);
    // Another block decoded first must leave nothing of its own behind block 4.
    ASSERT_EQ(SendBlock(surface, kZlib, header, 1, Zlib(other)), 10000) << c.what;
    for (const auto& body : c.before) SendBlock(surface, kZlib, header, 4, body);
    EXPECT_EQ(SendBlock(surface, kZlib, header, 4, Zlib(head)), 4000) << c.what;
    Block expected(300 * 200, 0xFF);
    Place(&expected, 300, 1, 0, other);
    Place(&expected, 300, 1, 1, followedBy(head, c.behind));
    EXPECT_TRUE(Snapshot(surface) == expected) << c.what;
  }
}

// Bytes per pixel come off the wire too: 2 and 3 prepare a grid but copy nothing. A surface
// built with an empty block size has no grid at all.
TEST(BlockGrid, UnpaintableHeadersOrBlockSizesCopyNothing) {
  CBMPManager surface(100, 100);
  for (int bytesPerPixel : {2, 3}) {
    const auto body = Zlib(PatternBlock(100u * bytesPerPixel, 100, 1));
    EXPECT_GT(SendBlock(surface, kZlib, MessageHeader(300, 200, bytesPerPixel), 0, body), 0);
    EXPECT_EQ(surface.SurfaceHeader().biBitCount, 8 * bytesPerPixel);
    EXPECT_TRUE(AllWhite(Snapshot(surface))) << bytesPerPixel;
  }
  CBMPManager empty(0, 100);
  EXPECT_EQ(SendBlock(empty, kZlib, MessageHeader(300, 200, 4), 0, Zlib(Block(40000))), 0);
  EXPECT_EQ(empty.Pixels(), nullptr);
}

// A smooth 32-bit block of side x side in bitmap memory order, which JPEG keeps close.
Block SmoothBlock(int side, int seed) {
  Block block(static_cast<std::size_t>(side) * side * 4);
  for (std::size_t i = 0; i < block.size(); i += 4) {
    const int r = static_cast<int>(i / 4 / side), c = static_cast<int>(i / 4 % side);
    block[i] = static_cast<std::uint8_t>(40 + c + seed);
    block[i + 1] = static_cast<std::uint8_t>(60 + r + seed);
    block[i + 2] = static_cast<std::uint8_t>(200 - r - c / 2);
  }
  return block;
}

// Largest difference of a colour byte between a 32-bit block and the bitmap region at grid
// column bx, row by.
int LargestDifference(const CBMPManager& surface, std::uint32_t bx, std::uint32_t by,
                      const Block& block) {
  int worst = 0;
  for (std::uint32_t i = 0; i < 40000; ++i) {
    const int got = Row(surface, by * 100 + i / 400, bx * 400)[i % 400];
    if (i % 4 != 3) worst = std::max(worst, std::abs(got - int(block[i])));
  }
  return worst;
}

// The block coded at 4:2:0 by libjpeg, as a sender other than ours may code it.
Block LibjpegBlock(const Block& block, JDIMENSION side = 100) {
  jpeg_compress_struct c{};
  jpeg_error_mgr errors{};
  c.err = jpeg_std_error(&errors);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = c.image_height = side;
  c.input_components = 4;
  c.in_color_space = JCS_EXT_BGRX;
  jpeg_set_defaults(&c);
  jpeg_set_quality(&c, 95, TRUE);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < side) {
    JSAMPROW row = const_cast<JSAMPROW>(&block[c.next_scanline * side * 4]);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  jpeg_destroy_compress(&c);
  Block jpeg(out, out + size);
  std::free(out);
  return jpeg;
}

// Switching the coding of blocks within one geometry keeps the picture; the JPEG codec comes
// with the first JPEG block, whose picture lands in its place; damaged or misfitting pictures
// change nothing; and a short zlib block over a JPEG one shows the JPEG picture behind its rows.
TEST(JpegBlocks, SwitchFromZlibBlocksKeepsThePicture) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  const auto zlibBlock = SmoothBlock(100, 30);
  ASSERT_EQ(SendBlock(surface, kZlib, header, 0, Zlib(zlibBlock)), 40000);
  const std::uint8_t* pixels = surface.Pixels();

  const auto jpegBlock = SmoothBlock(100, 0);
  const auto good = LibjpegBlock(jpegBlock);
  EXPECT_EQ(SendBlock(surface, kJpeg, header, 5, good), 40000);
  EXPECT_TRUE(surface.HasBlockEncoder());
  EXPECT_EQ(surface.Pixels(), pixels);
  EXPECT_EQ(LargestDifference(surface, 0, 0, zlibBlock), 0);
  // Another coder's rounding of the colour conversion adds a little to the quantisation.
  EXPECT_LE(LargestDifference(surface, 2, 1, jpegBlock), 16);
  EXPECT_EQ(Row(surface, 100, 0)[0], 0xFF);  // a neighbour is untouched

  const Block before = Snapshot(surface);
  for (const auto& body : {Block(good.begin(), good.begin() + 40),
                           LibjpegBlock(SmoothBlock(48, 0), 48), Block(700, 0x3C)}) {
    EXPECT_EQ(SendBlock(surface, kJpeg, header, 1, body), 0);
    EXPECT_TRUE(Snapshot(surface) == before);
  }
  const Block head(400 * 30, 0x42);
  EXPECT_EQ(SendBlock(surface, kZlib, header, 5, Zlib(head)), 400 * 30);
  for (std::uint32_t row = 100; row < 200; ++row) {
    const std::uint8_t* want = row < 130 ? head.data() : &before[row * surface.Stride() + 800];
    EXPECT_TRUE(std::equal(want, want + 400, Row(surface, row, 800))) << "row " << row;
  }
}

// The encoder opened beside the decoder is part of the configuration: a block size it cannot
// code fails the grid and keeps what was there.
TEST(JpegBlocks, BlockEncoderThatCannotOpenFailsTheGrid) {
  CBMPManager surface(10000, 100);  // wider than any picture the codecs take
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  ASSERT_GT(SendBlock(surface, kZlib, header, 0, Zlib(Block(4000000, 7))), 0);
  const auto before = Snapshot(surface);
  EXPECT_EQ(SendBlock(surface, kJpeg, MessageHeader(20000, 200, 4), 0, {1, 2, 3}), 0);
  EXPECT_FALSE(surface.HasBlockEncoder());
  EXPECT_FALSE(surface.HasBlockDecoder());
  EXPECT_TRUE(Snapshot(surface) == before);
}

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
    // Video pictures are refused for the same headers.
    if (c.block == 100) {
      EXPECT_EQ(bool(kwz_engine::ComputeVideoGeometry(c.header)), bool(grid));
    }
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

// Mean absolute difference of a decoded bottom-up 24-bit bitmap against the top-down BGRA source.
double MeanDifference(const CBMPManager& surface, const Bytes& bgra, int width, int height) {
  double sum = 0;
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* decoded = Row(surface, static_cast<std::uint32_t>(r));
    const std::uint8_t* source = &bgra[static_cast<std::size_t>(height - 1 - r) * width * 4];
    for (int x = 0; x < width * 3; ++x) {
      sum += std::abs(decoded[x] - source[x / 3 * 4 + x % 3]);
    }
  }
  return sum / (3.0 * width * height);
}

std::vector<Bytes> EncodeFrames(int mode, const SyntheticDesktop& desktop, int frames) {
  FrameEncoderSettings settings;
  settings.width = desktop.Width();
  settings.height = desktop.Height();
  auto encoder = CreateFrameEncoder(mode, settings);
  std::vector<Bytes> bodies(static_cast<std::size_t>(frames));
  for (int n = 0; n < frames; ++n) {
    EXPECT_TRUE(
        encoder->Encode(desktop.Render(n).data(), desktop.StrideBytes(), false, &bodies[n]));
  }
  return bodies;
}

// The decoder stores 24-bit pictures bottom row first. Frames that give no picture keep the
// previous one; descriptions the decoder cannot be set up for answer -1 every time, never
// decoding with the set-up of an earlier size.
TEST(VideoFrames, FramesThatGiveNoPictureKeepThePreviousOne) {
  const SyntheticDesktop desktop(304, 208);
  const auto bodies = EncodeFrames(5, desktop, 2);
  CBMPManager surface(100, 100);
  surface.SetFrameRate(10);
  const BITMAPINFOHEADER header = MessageHeader(304, 208, 3);
  ASSERT_EQ(SendBlock(surface, 5, header, 0, bodies[0]), 304 * 3 * 208);
  EXPECT_LT(MeanDifference(surface, desktop.Render(0), 304, 208), 6.0);
  const auto before = Snapshot(surface);

  Bytes damaged = bodies[1];
  for (std::size_t i = 8; i < damaged.size(); i += 3) damaged[i] ^= 0xA5;
  // A frame coded for a larger screen than the header announces.
  const auto larger = EncodeFrames(5, SyntheticDesktop(320, 240), 1)[0];
  for (const auto& body : {damaged, larger, Bytes{}}) {
    EXPECT_EQ(SendBlock(surface, 5, header, 0, body), -1);
    EXPECT_TRUE(Snapshot(surface) == before);
  }
  for (const BITMAPINFOHEADER& bad : {MessageHeader(304, 208, 1), MessageHeader(10000, 16, 4)}) {
    EXPECT_EQ(SendBlock(surface, 5, bad, 0, bodies[0]), -1);
    EXPECT_EQ(SendBlock(surface, 5, bad, 0, bodies[0]), -1);
  }
  EXPECT_EQ(SendBlock(surface, 5, header, 0, bodies[0]), 304 * 3 * 208);
}

// Block and video coding pad the screen differently and keep different buffers; switching
// either way must leave a consistent surface. A video frame of the same padded size decodes
// into a 32-bit grid's bitmap and leaves the grid in place: a short block after it still shows
// its own last block behind it, not the video.
TEST(ModeSwitch, BlockAndVideoModesEachRebuildTheSurface) {
  const auto bodies = EncodeFrames(3, SyntheticDesktop(1600, 800), 2);
  const BITMAPINFOHEADER video = MessageHeader(1600, 800, 4);
  CBMPManager surface(100, 100);
  ASSERT_EQ(SendBlock(surface, 1, MessageHeader(1600, 800, 1), 3, Zlib(Bytes(10000, 0x80))), 10000);
  // 1600 x 800 is a whole number of blocks and of macroblocks: only the bit count and the
  // codec differ, and the video frame gets its own bitmap.
  ASSERT_EQ(SendBlock(surface, 3, video, 0, bodies[0]), 1600 * 4 * 800);
  EXPECT_EQ(surface.SurfaceHeader().biBitCount, 32);
  EXPECT_EQ(surface.BlockCount(), 0u);

  Bytes whole(40000);
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(i * 13);
  ASSERT_EQ(SendBlock(surface, 1, video, 0, Zlib(whole)), 40000);
  ASSERT_EQ(SendBlock(surface, 3, video, 0, bodies[1]), 1600 * 4 * 800);
  ASSERT_EQ(surface.BlockCount(), 128u);
  const Bytes head(16000, 0x42);  // 40 of the block's 100 rows
  ASSERT_EQ(SendBlock(surface, 1, video, 0, Zlib(head)), 16000);
  for (std::uint32_t row = 0; row < 100; ++row) {
    const std::uint8_t* expected = row < 40 ? &head[row * 400] : &whole[row * 400];
    ASSERT_TRUE(std::equal(expected, expected + 400, Row(surface, row))) << "row " << row;
  }

  // And to video again, this time a different padding: 1366 is coded at 1376.
  const auto wxga = EncodeFrames(3, SyntheticDesktop(1376, 768), 1);
  ASSERT_EQ(SendBlock(surface, 3, MessageHeader(1366, 768, 4), 0, wxga[0]), 1376 * 4 * 768);
  EXPECT_EQ(surface.SurfaceHeader().biWidth, 1376);
  // A block message of that screen pads it to 1400 x 800.
  EXPECT_EQ(SendBlock(surface, 0, MessageHeader(1366, 768, 4), 0, {}), 0);
  EXPECT_EQ(surface.SurfaceHeader().biWidth, 1400);
  EXPECT_EQ(surface.BlockCount(), 112u);
}

// The picture painted by the surface, then the hand cursor drawn by hand at `at`: what the
// surface must show, pixel for pixel. No position means no cursor.
std::vector<std::uint32_t> Expected(CBMPManager& surface, const BITMAPINFOHEADER& header,
                                    int windowWidth, int windowHeight, const POINT* at) {
  TestWindow reference(windowWidth, windowHeight);
  surface.Draw(header, reference.Get(), presenter::kNoCursor, presenter::kNoCursor);
  if (at != nullptr) {
    HDC dc = GetDC(reference.Get());
    EXPECT_TRUE(DrawIcon(dc, at->x, at->y, LoadCursorW(nullptr, IDC_HAND)));
    ReleaseDC(reference.Get(), dc);
  }
  return reference.Pixels();
}

// A 300 x 200 picture in a 400 x 300 window, so that an icon at the picture's edge shows; the
// cursor is drawn inside the picture, its edges included, and never for the no-cursor value.
TEST(Painting, CursorIsDrawnInsideThePictureEdgesIncluded) {
  UseHeadlessGdi();
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
TEST(Painting, StretchIsTheAreaAverageWithTheCursorScaled) {
  UseHeadlessGdi();
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
  surface.Draw(MessageHeader(1366, 768, 4), window.Get(), presenter::kNoCursor,
               presenter::kNoCursor);
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
    surface.Draw(header, window.Get(), presenter::kNoCursor, presenter::kNoCursor);
  }
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected = {
      {1366, 768}, {1366, 768}, {1024, 768}};
  EXPECT_EQ(log.Sizes(), expected);
}

}  // namespace
}  // namespace kwz_test
