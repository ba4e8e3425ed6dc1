// The packetizer at its edges; what the sender puts on the wire in the common case is checked
// datagram by datagram by the sender's and the programs' tests.
#include "presenter/RtpPacketizer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <vector>

namespace {

using presenter::RtpPacketizer;

// The receiving side's view of one datagram, decoded here from the RTP layout directly.
struct Datagram {
  bool marker;
  std::uint16_t sequence;
  std::uint32_t timestamp;
  std::vector<std::uint8_t> payload;
};

std::vector<Datagram> Cut(RtpPacketizer& packetizer, std::size_t length, std::uint32_t timestamp) {
  std::vector<std::uint8_t> message(length);
  std::iota(message.begin(), message.end(), 0);
  std::vector<Datagram> out;
  std::vector<std::uint8_t> joined;
  const std::size_t count = packetizer.Packetize(
      message.data(), message.size(), timestamp, [&](const std::uint8_t* d, std::size_t n) {
        EXPECT_GE(n, 12u);
        EXPECT_EQ(d[0], 0x80);  // version 2; no padding, extension or CSRC
        EXPECT_EQ(d[1] & 0x7F, 113);
        out.push_back(Datagram{(d[1] & 0x80) != 0, static_cast<std::uint16_t>((d[2] << 8) | d[3]),
                               std::uint32_t{d[4]} << 24 | d[5] << 16 | d[6] << 8 | d[7],
                               std::vector<std::uint8_t>(d + 12, d + n)});
        joined.insert(joined.end(), d + 12, d + n);
      });
  EXPECT_EQ(count, out.size());
  EXPECT_EQ(joined, message);
  return out;
}

// Each message is cut into consecutive datagrams that fill the payload size, the marker on the
// last only, the start datagram's timestamp even (bit 0 cleared) and the others' odd. (That the
// sequence goes on from one message to the next is checked on the wire by kwz-present's tests.)
TEST(RtpPacketizer, CutsEachMessageAtThePayloadSizeAndMarksItsEnd) {
  const struct {
    std::uint16_t firstSequence;
    std::size_t length, payloadSize, datagrams;
  } cases[] = {{100, 1400, 1400, 1},  // exactly one payload
               {100, 1401, 1400, 2},  // one byte over
               {100, 10, 1, 10},      // smallest payload
               {100, 0, 1400, 1},     // empty message
               {65534, 25, 10, 3}};   // the sequence wraps
  for (const auto& c : cases) {
    SCOPED_TRACE(c.length);
    RtpPacketizer packetizer({.firstSequence = c.firstSequence, .payloadSize = c.payloadSize});
    const std::vector<Datagram> datagrams = Cut(packetizer, c.length, 0x1001);
    ASSERT_EQ(datagrams.size(), c.datagrams);
    for (std::size_t i = 0; i < datagrams.size(); ++i) {
      EXPECT_EQ(datagrams[i].sequence, static_cast<std::uint16_t>(c.firstSequence + i));
      EXPECT_EQ(datagrams[i].timestamp, i == 0 ? 0x1000u : 0x1001u);
      EXPECT_EQ(datagrams[i].marker, i + 1 == datagrams.size()) << i;
      EXPECT_EQ(datagrams[i].payload.size(), std::min(c.payloadSize, c.length - i * c.payloadSize));
    }
  }
}

TEST(RtpPacketizer, PayloadSizeIsKeptWithinADatagram) {
  EXPECT_EQ(RtpPacketizer({.payloadSize = 0}).payload_size(), 1u);
  EXPECT_EQ(RtpPacketizer({.payloadSize = 1 << 20}).payload_size(), presenter::kMaxPayloadSize);
}

}  // namespace
