// Sizes of the drawing surface, derived from a message header whose width, height and bit
// count come off the wire. Everything is computed in 64 bits and refused above
// kMaxBitmapBytes before anything is allocated, so no header can overflow a size or ask for
// an unbounded buffer.
#pragma once

#include <cstdint>
#include <optional>

#include "platform/wingdi.h"

namespace kwz_engine {

// The receiving endpoint refuses larger screens already; the surface does not rely on it. The
// bound leaves room for the largest screen the endpoint accepts padded up to whole blocks.
constexpr std::uint64_t kMaxBitmapBytes = std::uint64_t{160} << 20;

// Bytes of a DIB of the given size: rows padded to 4 bytes.
constexpr std::uint64_t DibImageSize(std::uint64_t bitCount, std::uint64_t width,
                                     std::uint64_t height) {
  return (bitCount * width + 31) / 32 * 4 * height;
}

// The block grid of the block modes: the picture padded up to whole blocks.
struct BlockGrid {
  std::uint32_t paddedWidth;
  std::uint32_t paddedHeight;
  std::uint32_t bitCount;
  std::uint32_t stride;     // bit count × padded width / 8
  std::uint32_t imageSize;  // DIB size of the padded picture
  std::uint32_t blocksPerRow;
  std::uint32_t blockRowBytes;
  std::uint32_t blockBytes;
  std::uint32_t blockCount;
  std::uint32_t blockBufferBytes;  // room for a block and for its zlib stream
};

// nullopt when the header cannot describe a grid: a width or height below 1, a bit count other
// than 8, 16, 24 or 32, an empty block size, or a padded picture above kMaxBitmapBytes.
std::optional<BlockGrid> ComputeBlockGrid(const BITMAPINFOHEADER& header, std::uint32_t blockWidth,
                                          std::uint32_t blockHeight);

// The picture of the video modes: padded to multiples of 16, which is how the codecs code it.
struct VideoGeometry {
  std::uint32_t width16;
  std::uint32_t height16;
  std::uint32_t stride;     // bit count × padded width / 8
  std::uint32_t imageSize;  // DIB size of the padded picture
};

// nullopt under the same conditions as ComputeBlockGrid.
std::optional<VideoGeometry> ComputeVideoGeometry(const BITMAPINFOHEADER& header);

}  // namespace kwz_engine
