#include "engine/SurfaceGeometry.h"

#include <zlib.h>

namespace kwz_engine {

namespace {

bool IsSupportedBitCount(std::uint32_t bitCount) {
  return bitCount == 8 || bitCount == 16 || bitCount == 24 || bitCount == 32;
}

std::uint64_t RoundUp(std::uint64_t value, std::uint64_t unit) {
  return (value + unit - 1) / unit * unit;
}

}  // namespace

std::optional<BlockGrid> ComputeBlockGrid(const BITMAPINFOHEADER& header, std::uint32_t blockWidth,
                                          std::uint32_t blockHeight) {
  const std::uint32_t bitCount = header.biBitCount;
  if (header.biWidth < 1 || header.biHeight < 1 || blockWidth < 1 || blockHeight < 1 ||
      !IsSupportedBitCount(bitCount)) {
    return std::nullopt;
  }
  // A block alone must fit the bound too, or its buffer size would overflow.
  const std::uint64_t blockBytes = std::uint64_t{bitCount} * blockWidth * blockHeight / 8;
  if (blockBytes > kMaxBitmapBytes) return std::nullopt;
  const std::uint64_t paddedWidth = RoundUp(static_cast<std::uint64_t>(header.biWidth), blockWidth);
  const std::uint64_t paddedHeight =
      RoundUp(static_cast<std::uint64_t>(header.biHeight), blockHeight);
  const std::uint64_t imageSize = DibImageSize(bitCount, paddedWidth, paddedHeight);
  if (imageSize > kMaxBitmapBytes) return std::nullopt;

  BlockGrid grid{};
  grid.paddedWidth = static_cast<std::uint32_t>(paddedWidth);
  grid.paddedHeight = static_cast<std::uint32_t>(paddedHeight);
  grid.bitCount = bitCount;
  grid.stride = static_cast<std::uint32_t>(bitCount * paddedWidth / 8);
  grid.imageSize = static_cast<std::uint32_t>(imageSize);
  grid.blocksPerRow = static_cast<std::uint32_t>(paddedWidth / blockWidth);
  grid.blockRowBytes = static_cast<std::uint32_t>(std::uint64_t{bitCount} * blockWidth / 8);
  grid.blockBytes = static_cast<std::uint32_t>(blockBytes);
  grid.blockCount = static_cast<std::uint32_t>(imageSize / blockBytes);
  const std::uint64_t zlibBound = compressBound(static_cast<uLong>(blockBytes));
  grid.blockBufferBytes =
      static_cast<std::uint32_t>(zlibBound > blockBytes ? zlibBound : blockBytes);
  return grid;
}

std::optional<VideoGeometry> ComputeVideoGeometry(const BITMAPINFOHEADER& header) {
  const std::uint32_t bitCount = header.biBitCount;
  if (header.biWidth < 1 || header.biHeight < 1 || !IsSupportedBitCount(bitCount)) {
    return std::nullopt;
  }
  const std::uint64_t width16 = RoundUp(static_cast<std::uint64_t>(header.biWidth), 16);
  const std::uint64_t height16 = RoundUp(static_cast<std::uint64_t>(header.biHeight), 16);
  const std::uint64_t imageSize = DibImageSize(bitCount, width16, height16);
  if (imageSize > kMaxBitmapBytes) return std::nullopt;
  VideoGeometry geometry{};
  geometry.width16 = static_cast<std::uint32_t>(width16);
  geometry.height16 = static_cast<std::uint32_t>(height16);
  geometry.stride = static_cast<std::uint32_t>(bitCount * width16 / 8);
  geometry.imageSize = static_cast<std::uint32_t>(imageSize);
  return geometry;
}

}  // namespace kwz_engine
