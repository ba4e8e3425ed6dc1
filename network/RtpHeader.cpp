#include "network/RtpHeader.h"

#include <cstdint>

namespace {

DWORD Big16(const BYTE* p) {
  return (DWORD{p[0]} << 8) | p[1];
}

DWORD Big32(const BYTE* p) {
  return (DWORD{p[0]} << 24) | (DWORD{p[1]} << 16) | (DWORD{p[2]} << 8) | p[3];
}

}  // namespace

bool ParseRtpHeader(const BYTE* data, DWORD length, RtpPacketInfo* info) {
  if (data == nullptr || length < kRtpFixedHeaderSize) return false;
  if ((data[0] >> 6) != kRtpVersion) return false;
  const bool padding = (data[0] & 0x20) != 0;
  const bool extension = (data[0] & 0x10) != 0;
  const DWORD csrcCount = data[0] & 0x0F;

  // Signed 64-bit so that every subtraction below can go negative instead of wrapping.
  std::int64_t start = kRtpFixedHeaderSize + 4 * csrcCount;
  std::int64_t payloadLength = std::int64_t{length} - start;
  if (payloadLength < 0) return false;
  if (extension) {
    if (payloadLength < 4) return false;
    const std::int64_t words = Big16(data + start + 2);
    payloadLength -= 4 + 4 * words;
    if (payloadLength < 0) return false;
    start += 4 + 4 * words;
  }
  if (padding) {
    if (payloadLength < 1) return false;
    payloadLength -= data[length - 1];
    if (payloadLength < 0) return false;
  }

  info->ssrc = Big32(data + 8);
  info->timestamp = Big32(data + 4);
  info->sequence = static_cast<WORD>(Big16(data + 2));
  info->extendedSequence = 0;
  info->payloadType = data[1] & 0x7F;
  info->marker = data[1] >> 7;
  info->payload = data + start;
  info->payloadLength = static_cast<DWORD>(payloadLength);
  return true;
}
