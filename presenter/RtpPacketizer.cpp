#include "presenter/RtpPacketizer.h"

#include <algorithm>
#include <cstring>

namespace presenter {
namespace {

void PutBig16(std::uint8_t* at, std::uint16_t value) {
  at[0] = static_cast<std::uint8_t>(value >> 8);
  at[1] = static_cast<std::uint8_t>(value);
}

void PutBig32(std::uint8_t* at, std::uint32_t value) {
  for (int i = 0; i < 4; ++i) at[i] = static_cast<std::uint8_t>(value >> (24 - 8 * i));
}

}  // namespace

RtpPacketizer::RtpPacketizer(const Options& options)
    : ssrc_(options.ssrc),
      payloadType_(options.payloadType & 0x7F),
      payloadSize_(std::clamp<std::size_t>(options.payloadSize, 1, kMaxPayloadSize)),
      sequence_(options.firstSequence),
      datagram_(kRtpHeaderSize + payloadSize_) {}

std::size_t RtpPacketizer::Packetize(const std::uint8_t* message, std::size_t length,
                                     std::uint32_t timestamp, const DatagramSink& sink) {
  std::size_t sent = 0;
  std::size_t offset = 0;
  do {
    std::size_t piece = std::min(payloadSize_, length - offset);
    bool last = offset + piece == length;
    std::uint8_t* d = datagram_.data();
    d[0] = 0x80;  // version 2, no padding, no extension, no CSRC
    d[1] = static_cast<std::uint8_t>((last ? 0x80 : 0) | payloadType_);
    PutBig16(d + 2, sequence_++);
    PutBig32(d + 4, sent == 0 ? (timestamp & ~1u) : (timestamp | 1u));
    PutBig32(d + 8, ssrc_);
    if (piece != 0) std::memcpy(d + kRtpHeaderSize, message + offset, piece);
    sink(d, kRtpHeaderSize + piece);
    offset += piece;
    ++sent;
  } while (offset < length);
  return sent;
}

}  // namespace presenter
