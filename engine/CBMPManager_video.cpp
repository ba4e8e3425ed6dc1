// Whole-frame decoding of the video modes: the frame is decoded straight into the bitmap,
// whose rows then follow the coded order (the decoder's RGB32 flip is off).
#include <cstring>
#include <optional>

#include "engine/CBMPManager.h"
#include "engine/SurfaceGeometry.h"
#include "platform/ipp.h"

using kwz_engine::VideoGeometry;

namespace {

int CodecForMode(std::uint32_t mode) {
  switch (mode) {
    case 3:
      return kwz_codec::kCodecMpeg4;
    case 4:
      return kwz_codec::kCodecH264;
    case 5:
      return kwz_codec::kCodecVp8;
    case 6:
      return kwz_codec::kCodecVp9;
    default:
      return 0;
  }
}

// The H.264 decoder writes a 4-byte start code directly behind the packet.
constexpr std::uint32_t kStartCodeRoom = 4;

}  // namespace

bool CBMPManager::ConfigureVideoDecoder(const BITMAPINFOHEADER& header, int codecId) {
  const std::optional<VideoGeometry> geometry = kwz_engine::ComputeVideoGeometry(header);
  if (!geometry) return false;
  BITMAPINFOHEADER input = header;
  input.biWidth = static_cast<LONG>(geometry->width16);
  input.biHeight = static_cast<LONG>(geometry->height16);
  input.biCompression = m_decoderInputTag;
  input.biSizeImage = geometry->imageSize;

  m_videoConfigured = false;
  m_videoDecoder.Close();
  m_videoDecoder.SetFrameRate(static_cast<int>(m_frameRate));
  // Rows land in the order in which they are coded, which is the bitmap's memory order.
  m_videoDecoder.SetFlipRGB32(false);
  // A description the decoder refuses would leave it at its previous size: never open that.
  if (m_videoDecoder.SetOutputFormat(&input) != 0) return false;
  m_videoDecoder.SetCodecId(codecId);
  if (m_videoDecoder.Open() != 0) return false;

  // The block grid belonged to the bitmap that is about to go.
  FreeBlocks();
  FreePixels();
  m_surfaceHeader = header;
  m_surfaceHeader.biWidth = input.biWidth;
  m_surfaceHeader.biHeight = input.biHeight;
  m_surfaceHeader.biSizeImage = geometry->imageSize;
  m_stride = geometry->stride;
  m_pixels = w7_ippsMalloc_8u(static_cast<int>(geometry->imageSize));
  if (m_pixels == nullptr) {
    m_surfaceHeader = BITMAPINFOHEADER{};
    return false;
  }
  m_pixelsSize = geometry->imageSize;
  // Painted before the first frame decodes, the bitmap shows black, not stale heap bytes.
  w7_ippsZero_8u(m_pixels, static_cast<int>(m_pixelsSize));
  m_videoConfigured = true;
  return true;
}

std::int32_t CBMPManager::DecodeVideoFrame(BITMAPINFOHEADER header, const std::uint8_t* body,
                                           std::uint32_t bodyLength) {
  CCritSecLock lock(&m_surfaceLock);
  const int codecId = CodecForMode(m_streamMode);
  const std::optional<VideoGeometry> geometry = kwz_engine::ComputeVideoGeometry(header);
  if (codecId == 0 || !geometry) return -1;

  const bool configured = m_videoConfigured && m_pixels != nullptr &&
                          m_surfaceHeader.biWidth == static_cast<LONG>(geometry->width16) &&
                          m_surfaceHeader.biHeight == static_cast<LONG>(geometry->height16) &&
                          m_surfaceHeader.biBitCount == header.biBitCount &&
                          m_videoDecoder.CodecId() == codecId;
  // A failed reconfiguration answers -1; the next frame tries again.
  if (!configured && !ConfigureVideoDecoder(header, codecId)) return -1;
  if (m_videoDecoder.FrameSize() > m_pixelsSize) return -1;
  if (body == nullptr || bodyLength == 0 || bodyLength > 0x7FFFFFFFu - kStartCodeRoom) return -1;

  BYTE* packet = const_cast<BYTE*>(body);  // only H.264 writes into it, and gets a copy
  if (codecId == kwz_codec::kCodecH264) {
    const std::uint32_t needed = bodyLength + kStartCodeRoom;
    if (m_packetScratchSize < needed) {
      w7_ippsFree(m_packetScratch);
      m_packetScratchSize = 0;
      m_packetScratch = w7_ippsMalloc_8u(static_cast<int>(needed));
      if (m_packetScratch == nullptr) return -1;
      m_packetScratchSize = needed;
    }
    std::memcpy(m_packetScratch, body, bodyLength);
    packet = m_packetScratch;
  }
  // A block grid of the same padded size may still be behind this bitmap.
  TakeBackBlockBuffers();
  DWORD pictureBytes = m_pixelsSize;
  bool sizeChanged = false;
  if (m_videoDecoder.Decode(packet, static_cast<int>(bodyLength), m_pixels, &pictureBytes,
                            &sizeChanged) != 0) {
    return -1;
  }
  return static_cast<std::int32_t>(pictureBytes);
}
