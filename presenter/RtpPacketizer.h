// Cuts screen messages into RTP datagrams the way the screen stream carries them.
//
//   0                   1                   2                   3
//   0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0 1
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |V=2|P|X|  CC=0 |M|  PT = 113   |       sequence number         |
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |            timestamp (bit 0: 0 first datagram, 1 the others)  |
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                             SSRC                              |
//  +-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+-+
//  |                 payload: the next piece of the message        |
//
// Datagrams of a message have consecutive sequence numbers (wrapping at 65536); only the last
// has the marker M set, so a message that fits in one datagram is one datagram with M set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace presenter {

constexpr std::size_t kRtpHeaderSize = 12;
constexpr std::uint8_t kScreenPayloadType = 113;
constexpr std::size_t kDefaultPayloadSize = 1400;
// A datagram must fit a UDP payload and the receiver's 65535-byte read.
constexpr std::size_t kMaxPayloadSize = 65535 - kRtpHeaderSize;

class RtpPacketizer {
 public:
  struct Options {
    std::uint32_t ssrc = 0x4B575A31;
    std::uint16_t firstSequence = 0;
    std::size_t payloadSize = kDefaultPayloadSize;  // clamped to 1..kMaxPayloadSize
    std::uint8_t payloadType = kScreenPayloadType;
  };

  // Receives each datagram; the bytes are valid only during the call.
  using DatagramSink = std::function<void(const std::uint8_t* datagram, std::size_t length)>;

  explicit RtpPacketizer(const Options& options);

  // Sends one message as datagrams to sink and returns how many. The timestamp's bit 0 is
  // cleared on the first datagram and set on the others. An empty message is one datagram
  // with an empty payload.
  std::size_t Packetize(const std::uint8_t* message, std::size_t length, std::uint32_t timestamp,
                        const DatagramSink& sink);

  std::uint16_t next_sequence() const { return sequence_; }
  std::size_t payload_size() const { return payloadSize_; }

 private:
  const std::uint32_t ssrc_;
  const std::uint8_t payloadType_;
  const std::size_t payloadSize_;
  std::uint16_t sequence_;
  std::vector<std::uint8_t> datagram_;  // reused for every datagram
};

}  // namespace presenter
