#include "packet/CSSPacket.h"

#include <bit>
#include <cstring>

// The header is copied byte for byte into little-endian fields.
static_assert(std::endian::native == std::endian::little);

using screen_packet::kHeaderSize;

CSSPacket::CSSPacket(DWORD capacity) : CPacket(capacity), m_header{}, m_pBody(nullptr) {}

void CSSPacket::LoadHeader() {
  if (m_pData == nullptr || m_dwCapacity < kHeaderSize) {
    m_header = ScreenPacketHeader{};
    m_pBody = nullptr;
    return;
  }
  std::memcpy(&m_header, m_pData, kHeaderSize);
  m_pBody = m_pData + kHeaderSize;
}

std::uint64_t CSSPacket::Stride(std::uint32_t bitCount, std::uint32_t width) {
  return (std::uint64_t{bitCount} * width + 31) / 32 * 4;
}

std::uint64_t CSSPacket::ImageSize(std::uint32_t bitCount, std::uint32_t width,
                                   std::uint32_t height) {
  return Stride(bitCount, width) * height;
}

namespace {

WORD BitCountOf(const ScreenPacketHeader& header) {
  return static_cast<WORD>(header.BytesPerPixel * 8);
}

bool WithinBounds(const ScreenPacketHeader& header) {
  return header.Width <= screen_packet::kMaxDimension &&
         header.Height <= screen_packet::kMaxDimension &&
         CSSPacket::ImageSize(BitCountOf(header), header.Width, header.Height) <=
             screen_packet::kMaxImageSize;
}

}  // namespace

ScreenPacketVerdict CSSPacket::Check() const {
  if (m_header.Magic != screen_packet::kMagic) return ScreenPacketVerdict::kBadMagic;
  if (m_header.StreamMode >= screen_packet::kStreamModeCount)
    return ScreenPacketVerdict::kBadStreamMode;
  if (std::uint64_t{m_header.BodyLength} + kHeaderSize != m_dwLength)
    return ScreenPacketVerdict::kBadLength;
  if (!WithinBounds(m_header)) return ScreenPacketVerdict::kImageTooLarge;
  return ScreenPacketVerdict::kAccepted;
}

bool CSSPacket::ParseHeader(BITMAPINFOHEADER* out, DWORD* blockIndex) const {
  std::memset(out, 0, sizeof *out);
  out->biBitCount = BitCountOf(m_header);
  out->biWidth = m_header.Width;
  out->biHeight = m_header.Height;
  out->biCompression = m_header.StreamMode;
  *blockIndex = m_header.BlockIndex;
  if (!WithinBounds(m_header)) return false;
  // Within the bounds the size fits 32 bits with room to spare.
  out->biSizeImage =
      static_cast<DWORD>(ImageSize(out->biBitCount, m_header.Width, m_header.Height));
  return true;
}

bool CSSPacket::CopyBody(void* dst, DWORD* size) const {
  if (dst == nullptr || m_pData == nullptr || m_dwLength < kHeaderSize) return false;
  const DWORD bodyLength = m_dwLength - kHeaderSize;
  if (*size < bodyLength) return false;
  if (bodyLength != 0) std::memcpy(dst, m_pData + kHeaderSize, bodyLength);
  *size = bodyLength;
  return true;
}

bool CSSPacket::Reset(DWORD size) {
  const bool grown = Grow(size);
  m_dwLength = 0;
  m_dwTimestamp = 0;
  m_dwSequence = 0;
  m_dwLost = 0;
  m_bPayloadType = 0;
  return grown;
}
