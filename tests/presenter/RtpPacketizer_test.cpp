#include "presenter/RtpPacketizer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <numeric>
#include <vector>

namespace {

using presenter::RtpPacketizer;

// The receiving side's view of one datagram, decoded here from the RTP layout directly.
struct Datagram {
  int version;
  bool marker;
  int payloadType;
  std::uint16_t sequence;
  std::uint32_t timestamp;
  std::uint32_t ssrc;
  std::vector<std::uint8_t> payload;
};

std::uint32_t Big32(const std::uint8_t* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) |
         p[3];
}

std::vector<Datagram> Cut(RtpPacketizer& packetizer, const std::vector<std::uint8_t>& message,
                          std::uint32_t timestamp) {
  std::vector<Datagram> out;
  std::size_t count = packetizer.Packetize(
      message.data(), message.size(), timestamp, [&](const std::uint8_t* d, std::size_t n) {
        EXPECT_GE(n, 12u);
        out.push_back(Datagram{d[0] >> 6, (d[1] & 0x80) != 0, d[1] & 0x7F,
                               static_cast<std::uint16_t>((d[2] << 8) | d[3]), Big32(d + 4),
                               Big32(d + 8), std::vector<std::uint8_t>(d + 12, d + n)});
        EXPECT_EQ(d[0] & 0x3F, 0);  // no padding, no extension, no CSRC
      });
  EXPECT_EQ(count, out.size());
  return out;
}

std::vector<std::uint8_t> Message(std::size_t length) {
  std::vector<std::uint8_t> m(length);
  std::iota(m.begin(), m.end(), 0);
  return m;
}

struct CutCase {
  std::size_t length;
  std::size_t payloadSize;
  std::size_t datagrams;
};

class RtpCut : public ::testing::TestWithParam<CutCase> {};

TEST_P(RtpCut, MessageIsCutIntoConsecutiveDatagramsMarkedAtTheEnd) {
  const CutCase& c = GetParam();
  RtpPacketizer packetizer(
      {.ssrc = 0xCAFEBABE, .firstSequence = 100, .payloadSize = c.payloadSize});
  std::vector<std::uint8_t> message = Message(c.length);
  std::vector<Datagram> datagrams = Cut(packetizer, message, 0x1000);
  ASSERT_EQ(datagrams.size(), c.datagrams);

  std::vector<std::uint8_t> joined;
  for (std::size_t i = 0; i < datagrams.size(); ++i) {
    const Datagram& d = datagrams[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(d.version, 2);
    EXPECT_EQ(d.payloadType, 113);
    EXPECT_EQ(d.ssrc, 0xCAFEBABEu);
    EXPECT_EQ(d.sequence, 100 + i);
    EXPECT_EQ(d.timestamp, i == 0 ? 0x1000u : 0x1001u);
    EXPECT_EQ(d.marker, i + 1 == datagrams.size());
    EXPECT_LE(d.payload.size(), c.payloadSize);
    joined.insert(joined.end(), d.payload.begin(), d.payload.end());
  }
  EXPECT_EQ(joined, message);
  EXPECT_EQ(packetizer.next_sequence(), 100 + c.datagrams);
}

INSTANTIATE_TEST_SUITE_P(Lengths, RtpCut,
                         ::testing::Values(CutCase{29, 1400, 1},    // one datagram
                                           CutCase{1400, 1400, 1},  // exactly one payload
                                           CutCase{1401, 1400, 2},  // one byte over
                                           CutCase{65535 + 29, 1400, 47},
                                           CutCase{10, 1, 10},     // smallest payload
                                           CutCase{0, 1400, 1}));  // empty message

TEST(RtpPacketizer, SequenceWrapsAndContinuesAcrossMessages) {
  RtpPacketizer packetizer({.firstSequence = 65534, .payloadSize = 10});
  std::vector<Datagram> first = Cut(packetizer, Message(25), 7);  // 3 datagrams
  ASSERT_EQ(first.size(), 3u);
  EXPECT_EQ(first[0].sequence, 65534);
  EXPECT_EQ(first[1].sequence, 65535);
  EXPECT_EQ(first[2].sequence, 0);
  EXPECT_EQ(first[0].timestamp, 6u);  // bit 0 cleared on the start datagram
  EXPECT_EQ(first[1].timestamp, 7u);
  std::vector<Datagram> second = Cut(packetizer, Message(5), 20);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].sequence, 1);
  EXPECT_TRUE(second[0].marker);
}

TEST(RtpPacketizer, PayloadSizeIsKeptWithinADatagram) {
  EXPECT_EQ(RtpPacketizer({.payloadSize = 0}).payload_size(), 1u);
  EXPECT_EQ(RtpPacketizer({.payloadSize = 1 << 20}).payload_size(), presenter::kMaxPayloadSize);
}

}  // namespace
