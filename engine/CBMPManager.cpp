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

  // With a JPEG decoder a buffer takes one picture; otherwise it takes a zlib stream.
  const uLongf capacity = m_blockDecoder ? m_blockBytes : compressBound(m_blockBytes);
  switch (mode) {
    case kModeZlibBlock:
      return DecodeZlibBlock(blockIndex, capacity, body, bodyLength);
    case kModeJpegBlock:
      return DecodeJpegBlock(blockIndex, capacity, body, bodyLength);
    case kModeGeometry:
    default:
      return 0;
  }
}
