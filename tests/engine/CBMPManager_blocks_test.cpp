// Block modes: the grid, its buffers, and zlib and JPEG blocks landing in the bitmap.
#include <gtest/gtest.h>

#include <algorithm>

#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

constexpr std::uint32_t kZlib = 1;
constexpr std::uint32_t kJpeg = 2;

// A block's pixels in bitmap memory order: byte (row, column) = f(row, column).
std::vector<std::uint8_t> PatternBlock(std::uint32_t rowBytes, std::uint32_t rows,
                                       std::uint8_t seed) {
  std::vector<std::uint8_t> block(static_cast<std::size_t>(rowBytes) * rows);
  for (std::uint32_t r = 0; r < rows; ++r) {
    for (std::uint32_t c = 0; c < rowBytes; ++c) {
      block[r * rowBytes + c] = static_cast<std::uint8_t>(seed + r * 7 + c);
    }
  }
  return block;
}

// Whether the block at grid column bx, row by holds `block`, the block at grid index
// `otherIndex` (when it is not that one) holds `other`, and every other byte is `fill`.
::testing::AssertionResult OnlyBlockWrittenBesides(
    const CBMPManager& surface, std::uint32_t bx, std::uint32_t by, std::uint32_t rowBytes,
    std::uint32_t rows, const std::vector<std::uint8_t>& block, std::uint32_t otherIndex,
    const std::vector<std::uint8_t>& other, std::uint8_t fill) {
  const std::uint32_t perRow = surface.Stride() / rowBytes;
  for (std::uint32_t row = 0; row < std::uint32_t(surface.SurfaceHeader().biHeight); ++row) {
    for (std::uint32_t x = 0; x < surface.Stride(); ++x) {
      const std::uint32_t index = row / rows * perRow + x / rowBytes;
      const std::size_t at = (row % rows) * rowBytes + x % rowBytes;
      const std::uint8_t expected = row / rows == by && x / rowBytes == bx  ? block[at]
                                    : index == otherIndex && !other.empty() ? other[at]
                                                                            : fill;
      if (Row(surface, row)[x] != expected) {
        return ::testing::AssertionFailure()
               << "memory row " << row << " byte " << x << ": " << int(Row(surface, row)[x])
               << " instead of " << int(expected);
      }
    }
  }
  return ::testing::AssertionSuccess();
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
  EXPECT_EQ(surface.BlockCount(), 88u);
  const auto white = Snapshot(surface);
  ASSERT_EQ(white.size(), 1100u * 4 * 800);
  EXPECT_TRUE(std::all_of(white.begin(), white.end(), [](std::uint8_t b) { return b == 0xFF; }));
}

// Messages that decode nothing must leave every byte of the bitmap as it was.
TEST(BlockGrid, MessagesThatDecodeNothingLeaveTheBitmapAlone) {
  CBMPManager surface(100, 100);
  const BITMAPINFOHEADER header = MessageHeader(1366, 768, 1);
  const auto block = PatternBlock(100, 100, 5);
  const auto body = Zlib(block);
  ASSERT_EQ(SendBlock(surface, kZlib, header, 20, body), 10000);
  const std::vector<std::uint8_t> before = Snapshot(surface);

  std::vector<std::uint8_t> corrupt = body;
  corrupt[corrupt.size() / 2] ^= 0x5A;
  std::vector<std::uint8_t> truncated(body.begin(), body.begin() + body.size() / 2);
  // Decompresses to more than the block holds.
  std::vector<std::uint8_t> oversized = Zlib(std::vector<std::uint8_t>(10000 * 3, 0x11));
  // A bomb: under 64 KiB (one message) that inflates to 48 MiB; only the block's worth may be
  // inflated.
  std::vector<std::uint8_t> bomb = Zlib(std::vector<std::uint8_t>(48u << 20, 0));
  ASSERT_LT(bomb.size(), 65536u);
  struct Case {
    const char* what;
    std::uint32_t mode, index;
    std::vector<std::uint8_t> body;
  };
  const Case cases[] = {
      {"corrupt zlib stream", kZlib, 20, corrupt},
      {"truncated zlib stream", kZlib, 20, truncated},
      {"block larger than its buffer", kZlib, 20, oversized},
      {"zlib bomb", kZlib, 20, bomb},
      {"empty body", kZlib, 20, {}},
      {"block index one past the grid", kZlib, 112, body},
      {"geometry only", 0, 20, body},
      {"JPEG block on an 8-bit screen", kJpeg, 20, body},
      {"mode beyond the table", 9, 20, body},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SendBlock(surface, c.mode, header, c.index, c.body), 0) << c.what;
    EXPECT_TRUE(Snapshot(surface) == before) << c.what;
  }
}

// A block that inflates short is still copied whole: behind its bytes, its place shows the rest
// of the block's own buffer, which holds what the last stream for that block wrote there.
TEST(BlockGrid, ShortBlocksShowTheRestOfTheirOwnBuffer) {
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 1);  // 3 x 2 blocks
  const auto whole = PatternBlock(100, 100, 3);
  const auto other = PatternBlock(100, 100, 40);
  const auto broken = PatternBlock(100, 100, 77);
  // Every byte of `broken`, then a checksum that does not match.
  std::vector<std::uint8_t> brokenBody = Zlib(broken);
  brokenBody.back() ^= 0x01;
  const std::vector<std::uint8_t> head(other.begin(), other.begin() + 4000);
  const std::vector<std::uint8_t> shortHead(whole.begin(), whole.begin() + 6000);
  const std::vector<std::uint8_t> zeros(10000, 0);

  auto followedBy = [](std::vector<std::uint8_t> front, const std::vector<std::uint8_t>& rest) {
    front.insert(front.end(), rest.begin() + front.size(), rest.end());
    return front;
  };
  struct Case {
    const char* what;
    std::vector<std::vector<std::uint8_t>> before;  // bodies for block 4, in order
    std::vector<std::uint8_t> behind;               // what shows behind the short block
  };
  const Case cases[] = {
      {"a new grid", {}, zeros},
      {"a whole block", {Zlib(whole)}, whole},
      {"a whole block, then a broken one", {Zlib(whole), brokenBody}, broken},
      {"a short block", {Zlib(shortHead)}, followedBy(shortHead, zeros)},
  };
  for (const Case& c : cases) {
    CBMPManager surface(100, 100);
    // Another block decoded first must leave nothing of its own behind block 4.
    ASSERT_EQ(SendBlock(surface, kZlib, header, 1, Zlib(other)), 10000) << c.what;
    for (const auto& body : c.before) SendBlock(surface, kZlib, header, 4, body);
    EXPECT_EQ(SendBlock(surface, kZlib, header, 4, Zlib(head)), 4000) << c.what;
    const std::vector<std::uint8_t> expected = followedBy(head, c.behind);
    EXPECT_TRUE(OnlyBlockWrittenBesides(surface, 1, 1, 100, 100, expected, 1, other, 0xFF))
        << c.what;
  }
}

// Bytes per pixel come off the wire too; 2 and 3 prepare a grid but copy nothing, and what no
// grid can hold is refused without touching the current picture.
TEST(BlockGrid, UnpaintableOrImpossibleHeadersNeverCrash) {
  CBMPManager surface(100, 100);
  for (int bytesPerPixel : {2, 3}) {
    const BITMAPINFOHEADER header = MessageHeader(300, 200, bytesPerPixel);
    const auto body = Zlib(PatternBlock(100u * bytesPerPixel, 100, 1));
    EXPECT_GT(SendBlock(surface, kZlib, header, 0, body), 0) << bytesPerPixel;
    EXPECT_EQ(surface.SurfaceHeader().biBitCount, 8 * bytesPerPixel);
    const auto pixels = Snapshot(surface);
    EXPECT_TRUE(std::all_of(pixels.begin(), pixels.end(), [](std::uint8_t b) { return b == 0xFF; }))
        << bytesPerPixel;
  }

  const BITMAPINFOHEADER good = MessageHeader(300, 200, 4);
  ASSERT_EQ(SendBlock(surface, kZlib, good, 1, Zlib(PatternBlock(400, 100, 4))), 40000);
  const auto before = Snapshot(surface);
  const BITMAPINFOHEADER bad = MessageHeader(65535, 65535, 4);
  EXPECT_EQ(SendBlock(surface, kZlib, bad, 0, Zlib(PatternBlock(400, 100, 4))), 0);
  EXPECT_FALSE(surface.PrepareBlocks(bad));
  EXPECT_TRUE(Snapshot(surface) == before);
  // A surface built with an empty block size has no grid at all.
  CBMPManager empty(0, 100);
  EXPECT_EQ(SendBlock(empty, kZlib, good, 0, Zlib(PatternBlock(400, 100, 4))), 0);
  EXPECT_EQ(empty.Pixels(), nullptr);
}

}  // namespace
}  // namespace kwz_test
