// The block grid of the block modes: the bitmap padded to whole blocks, one decoding buffer
// per block, and the JPEG block codec.
#include <algorithm>
#include <optional>

#include "engine/CBMPManager.h"
#include "engine/SurfaceGeometry.h"
#include "platform/ipp.h"

using kwz_engine::BlockGrid;

namespace {

constexpr std::uint32_t kModeJpegBlock = 2;

}  // namespace

bool CBMPManager::OpenBlockCodec(const BITMAPINFOHEADER& header) {
  BITMAPINFOHEADER block{};
  block.biSize = sizeof(BITMAPINFOHEADER);
  block.biWidth = static_cast<LONG>(m_blockWidth);
  block.biHeight = static_cast<LONG>(m_blockHeight);
  block.biPlanes = 1;
  block.biBitCount = header.biBitCount;
  block.biCompression = BI_RGB;

  m_blockDecoder.reset();
  auto decoder = std::make_unique<CVideoDecoder>();
  decoder->SetCodecId(kwz_codec::kCodecMjpeg);
  // Without a decoder JPEG blocks are dropped, but the grid still works for other modes.
  if (decoder->SetOutputFormat(&block) == 0 && decoder->Open() == 0) {
    m_blockDecoder = std::move(decoder);
  }

  m_blockEncoder.reset();
  auto encoder = std::make_unique<CVideoEncoder>();
  encoder->SetCodecId(kwz_codec::kCodecMjpeg);
  encoder->SetBitRate(static_cast<int>(m_encoderBitRate));
  encoder->SetFrameRate(static_cast<int>(m_frameRate));
  if (m_encoderQuality != 0) encoder->SetQuality(static_cast<int>(m_encoderQuality));
  if (encoder->SetInputFormat(&block) != 0 || encoder->Open() != 0) return false;
  m_blockEncoder = std::move(encoder);
  return true;
}

bool CBMPManager::PrepareBlocks(BITMAPINFOHEADER header) {
  CCritSecLock lock(&m_surfaceLock);
  const std::optional<BlockGrid> grid =
      kwz_engine::ComputeBlockGrid(header, m_blockWidth, m_blockHeight);
  if (!grid) return false;

  // A video frame may have left a bitmap of the same size without a block grid behind it.
  const bool sameGeometry = m_surfaceHeader.biBitCount == header.biBitCount &&
                            m_surfaceHeader.biWidth == static_cast<LONG>(grid->paddedWidth) &&
                            m_surfaceHeader.biHeight == static_cast<LONG>(grid->paddedHeight) &&
                            m_surfaceHeader.biCompression == header.biCompression &&
                            m_pixels != nullptr && m_blockCount == grid->blockCount &&
                            m_blockBytes == grid->blockBytes;
  const bool jpegBlocks = m_streamMode == kModeJpegBlock && header.biBitCount == 32;
  if (sameGeometry && (!jpegBlocks || m_blockEncoder)) return true;

  if (jpegBlocks && !OpenBlockCodec(header)) return false;
  // A switch from zlib to JPEG blocks keeps the picture that is already there.
  if (sameGeometry) return true;

  FreeBlocks();
  FreePixels();
  m_surfaceHeader = header;
  m_surfaceHeader.biWidth = static_cast<LONG>(grid->paddedWidth);
  m_surfaceHeader.biHeight = static_cast<LONG>(grid->paddedHeight);
  m_surfaceHeader.biSizeImage = grid->imageSize;
  m_stride = grid->stride;

  m_pixels = w7_ippsMalloc_8u(static_cast<int>(grid->imageSize));
  if (m_pixels == nullptr || !m_blockBuffers.Allocate(grid->blockCount, grid->blockBufferBytes)) {
    // Out of memory: no picture, and the next message tries the geometry again.
    FreePixels();
    m_surfaceHeader = BITMAPINFOHEADER{};
    return false;
  }
  m_pixelsSize = grid->imageSize;
  // A new geometry starts white until its blocks arrive.
  std::fill_n(m_pixels, m_pixelsSize, std::uint8_t{0xFF});
  m_blockRowBytes = grid->blockRowBytes;
  m_blockBytes = grid->blockBytes;
  m_blockCount = grid->blockCount;
  return true;
}

void CBMPManager::CopyBlock(std::uint32_t index, const std::uint8_t* source, std::uint8_t* pixels) {
  const std::uint32_t bitCount = m_surfaceHeader.biBitCount;
  if (index >= m_blockCount || source == nullptr || pixels == nullptr) return;
  if (bitCount != 8 && bitCount != 32) return;
  const std::uint64_t blocksPerRow =
      static_cast<std::uint64_t>(m_surfaceHeader.biWidth) / m_blockWidth;
  if (blocksPerRow == 0) return;
  const std::uint64_t destination =
      index / blocksPerRow * blocksPerRow * m_blockBytes + index % blocksPerRow * m_blockRowBytes;
  // Where the DIB pads its rows the grid does not cover whole rows; never write past the end.
  const std::uint64_t end =
      destination + std::uint64_t{m_blockHeight - 1} * m_stride + m_blockRowBytes;
  if (end > m_pixelsSize) return;
  const IppiSize region = {static_cast<int>(m_blockWidth), static_cast<int>(m_blockHeight)};
  if (bitCount == 8) {
    w7_ippiCopy_8u_C1R(source, static_cast<int>(m_blockRowBytes), pixels + destination,
                       static_cast<int>(m_stride), region);
  } else {
    w7_ippiCopy_8u_C4R(source, static_cast<int>(m_blockRowBytes), pixels + destination,
                       static_cast<int>(m_stride), region);
  }
}
