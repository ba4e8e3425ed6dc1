// The block grid of the block modes: the bitmap padded to whole blocks, one decoding buffer
// per block, and the JPEG block codec.
#include <zlib.h>

#include <algorithm>
#include <cstring>
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

std::optional<std::uint64_t> CBMPManager::BlockPlace(std::uint32_t index) const {
  const std::uint32_t bitCount = m_surfaceHeader.biBitCount;
  if (index >= m_blockCount) return std::nullopt;
  if (bitCount != 8 && bitCount != 32) return std::nullopt;
  const std::uint64_t blocksPerRow =
      static_cast<std::uint64_t>(m_surfaceHeader.biWidth) / m_blockWidth;
  if (blocksPerRow == 0) return std::nullopt;
  const std::uint64_t destination =
      index / blocksPerRow * blocksPerRow * m_blockBytes + index % blocksPerRow * m_blockRowBytes;
  // Where the DIB pads its rows the grid does not cover whole rows; never write past the end.
  const std::uint64_t end =
      destination + std::uint64_t{m_blockHeight - 1} * m_stride + m_blockRowBytes;
  if (end > m_pixelsSize) return std::nullopt;
  return destination;
}

void CBMPManager::CopyBlock(std::uint32_t index, const std::uint8_t* source, std::uint8_t* pixels) {
  const std::optional<std::uint64_t> place = BlockPlace(index);
  if (!place || source == nullptr || pixels == nullptr) return;
  CopyToPlace(*place, source, pixels);
}

// A block's rows lie a whole bitmap row apart, each in a page of its own at 1080p, so the
// hardware prefetchers never see a stream and every line of a cold place would stall the copy
// (measured: 21-35 us of a 40 KB block's copy against 4-5 us warmed). Asked for before the
// decode, the lines arrive while zlib or the JPEG decoder works.
void CBMPManager::WarmPlace(std::uint64_t place) const {
  constexpr std::uint64_t kLine = 64;
  // Every line a row touches, from the one that holds its first byte.
  const std::uint64_t lead = place % kLine;
  const std::uint8_t* row = m_pixels + (place - lead);
  for (std::uint32_t y = 0; y < m_blockHeight; ++y, row += m_stride) {
    for (std::uint64_t x = 0; x < lead + m_blockRowBytes; x += kLine) {
      __builtin_prefetch(row + x, 1, 2);
    }
  }
}

void CBMPManager::CopyToPlace(std::uint64_t place, const std::uint8_t* source,
                              std::uint8_t* pixels) {
  const IppiSize region = {static_cast<int>(m_blockWidth), static_cast<int>(m_blockHeight)};
  if (m_surfaceHeader.biBitCount == 8) {
    w7_ippiCopy_8u_C1R(source, static_cast<int>(m_blockRowBytes), pixels + place,
                       static_cast<int>(m_stride), region);
  } else {
    w7_ippiCopy_8u_C4R(source, static_cast<int>(m_blockRowBytes), pixels + place,
                       static_cast<int>(m_stride), region);
  }
}

BYTE* CBMPManager::OwnBlockBuffer(std::uint32_t index) {
  BYTE* buffer = m_blockBuffers[index];
  if (!m_blockBuffers.HeldByBitmap(index)) return buffer;
  // Held by the bitmap means the block's place still shows exactly the buffer's bytes.
  const std::optional<std::uint64_t> place = BlockPlace(index);
  if (place && m_pixels != nullptr) {
    w7_ippiCopy_8u_C1R(
        m_pixels + *place, static_cast<int>(m_stride), buffer, static_cast<int>(m_blockRowBytes),
        IppiSize{static_cast<int>(m_blockRowBytes), static_cast<int>(m_blockHeight)});
  }
  m_blockBuffers.SetHeldByBitmap(index, false);
  return buffer;
}

void CBMPManager::TakeBackBlockBuffers() {
  for (std::uint32_t index = 0; m_blockBuffers.HeldByBitmapCount() != 0 && index < m_blockCount;
       ++index) {
    OwnBlockBuffer(index);
  }
}

std::int32_t CBMPManager::DecodeZlibBlock(std::uint32_t index, uLongf capacity, const BYTE* body,
                                          std::uint32_t bodyLength) {
  if (body == nullptr) return 0;
  const std::optional<std::uint64_t> place = BlockPlace(index);
  if (place) WarmPlace(*place);
  BYTE* scratch = m_blockBuffers.Scratch();
  const int result = uncompress(scratch, &capacity, body, bodyLength);
  // zlib reports how much it wrote, also when the stream breaks off.
  if (result >= 0 && capacity >= m_blockBytes && place) {
    CopyToPlace(*place, scratch, m_pixels);
    m_blockBuffers.SetHeldByBitmap(index, true);
    return static_cast<std::int32_t>(capacity);
  }
  // A short or corrupt stream leaves in the block's own buffer what it wrote there, and a short
  // block is copied with the rest of that buffer behind it.
  BYTE* own = OwnBlockBuffer(index);
  if (capacity != 0) std::memcpy(own, scratch, capacity);
  if (result < 0 || capacity == 0) return 0;
  if (place) CopyToPlace(*place, own, m_pixels);
  return static_cast<std::int32_t>(capacity);
}

std::int32_t CBMPManager::DecodeJpegBlock(std::uint32_t index, uLongf capacity, const BYTE* body,
                                          std::uint32_t bodyLength) {
  if (!m_blockDecoder || m_surfaceHeader.biBitCount != 32) return 0;
  if (body == nullptr || bodyLength > 0x7FFFFFFFu) return 0;
  DWORD pictureBytes = static_cast<DWORD>(capacity);
  bool sizeChanged = false;
  // The decoder converts a whole picture or writes nothing, so a block can go straight to its
  // place. JPEG never writes into its packet; only H.264 does.
  const std::optional<std::uint64_t> place = BlockPlace(index);
  if (place) WarmPlace(*place);
  BYTE* destination = place ? m_pixels + *place : OwnBlockBuffer(index);
  const LONG stride = static_cast<LONG>(place ? m_stride : m_blockRowBytes);
  if (m_blockDecoder->Decode(const_cast<BYTE*>(body), static_cast<int>(bodyLength), destination,
                             stride, &pictureBytes, &sizeChanged) != 0) {
    return 0;
  }
  if (pictureBytes == 0) return 0;
  if (place) m_blockBuffers.SetHeldByBitmap(index, true);
  return static_cast<std::int32_t>(pictureBytes);
}
