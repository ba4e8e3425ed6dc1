#include "engine/CBMPManager.h"

#include <zlib.h>

#include "platform/ipp.h"

namespace {

constexpr std::uint32_t kModeGeometry = 0;
constexpr std::uint32_t kModeZlibBlock = 1;
constexpr std::uint32_t kModeJpegBlock = 2;

bool IsVideoMode(std::uint32_t mode) {
  return mode >= 3 && mode <= 6;
}

}  // namespace

CBMPManager::CBMPManager(std::uint32_t blockWidth, std::uint32_t blockHeight)
    : m_blockWidth(blockWidth), m_blockHeight(blockHeight) {
  LoadCursorIcon();
  MakeDisplayHeader();
}

CBMPManager::~CBMPManager() {
  FreePixels();
  FreeBlocks();
  w7_ippsFree(m_packetScratch);
  m_blockDecoder.reset();
  m_blockEncoder.reset();
  m_drawingHeader.Reset();
}

void CBMPManager::FreePixels() {
  w7_ippsFree(m_pixels);
  m_pixels = nullptr;
  m_pixelsSize = 0;
}

void CBMPManager::FreeBlocks() {
  m_blockBuffers.Free();
  m_blockCount = 0;
  m_blockBytes = 0;
  m_blockRowBytes = 0;
}

std::int32_t CBMPManager::DecodeMessage(BITMAPINFOHEADER header, std::uint32_t blockIndex,
                                        const std::uint8_t* body, std::uint32_t bodyLength) {
  const std::uint32_t mode = m_streamMode;
  if (IsVideoMode(mode)) return DecodeVideoFrame(header, body, bodyLength);
  if (!PrepareBlocks(header)) return 0;
  if (blockIndex >= m_blockCount) return 0;

  // With a JPEG decoder the buffer takes one picture; otherwise it takes a zlib stream.
  uLongf capacity = m_blockDecoder ? m_blockBytes : compressBound(m_blockBytes);
  BYTE* block = m_blockBuffers[blockIndex];
  switch (mode) {
    case kModeZlibBlock:
      if (body == nullptr) return 0;
      // A corrupt stream may have written part of the block's own buffer, never the bitmap.
      if (uncompress(block, &capacity, body, bodyLength) < 0) return 0;
      break;
    case kModeJpegBlock: {
      if (!m_blockDecoder || m_surfaceHeader.biBitCount != 32) return 0;
      if (body == nullptr || bodyLength > 0x7FFFFFFFu) return 0;
      DWORD pictureBytes = static_cast<DWORD>(capacity);
      bool sizeChanged = false;
      // JPEG never writes into its packet; only H.264 does.
      if (m_blockDecoder->Decode(const_cast<BYTE*>(body), static_cast<int>(bodyLength), block,
                                 &pictureBytes, &sizeChanged) != 0) {
        return 0;
      }
      capacity = pictureBytes;
      break;
    }
    case kModeGeometry:
    default:
      return 0;
  }
  if (capacity == 0) return 0;
  CopyBlock(blockIndex, block, m_pixels);
  return static_cast<std::int32_t>(capacity);
}
