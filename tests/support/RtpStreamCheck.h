// Checks a run of datagrams as a viewer's receiver reads them: RTP version 2, payload type 113,
// one source, consecutive sequence numbers, the first datagram of a message with an even
// timestamp and the others with it odd, the marker on the last datagram of each message only,
// and each reassembled message a whole screen message (magic "QZ", BodyLength + 29 bytes).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace kwz_test {

inline std::vector<std::vector<std::uint8_t>> CheckScreenStream(
    const std::vector<std::vector<std::uint8_t>>& datagrams) {
  std::vector<std::vector<std::uint8_t>> messages;
  std::vector<std::uint8_t> current;
  bool inMessage = false;
  std::uint32_t messageTimestamp = 0;
  for (std::size_t i = 0; i < datagrams.size(); ++i) {
    const std::vector<std::uint8_t>& d = datagrams[i];
    EXPECT_GE(d.size(), 12u) << i;
    if (d.size() < 12) return messages;
    auto big16 = [&](int at) { return static_cast<std::uint16_t>(d[at] << 8 | d[at + 1]); };
    auto big32 = [&](int at) {
      return static_cast<std::uint32_t>(d[at]) << 24 | static_cast<std::uint32_t>(d[at + 1]) << 16 |
             static_cast<std::uint32_t>(d[at + 2]) << 8 | d[at + 3];
    };
    EXPECT_EQ(d[0], 0x80) << "version 2, no padding, extension or CSRC; datagram " << i;
    EXPECT_EQ(d[1] & 0x7F, 113) << i;
    if (i > 0) {
      const std::vector<std::uint8_t>& p = datagrams[i - 1];
      const std::uint16_t previous = static_cast<std::uint16_t>(p[2] << 8 | p[3]);
      EXPECT_EQ(big16(2), static_cast<std::uint16_t>(previous + 1)) << "sequence at " << i;
      EXPECT_EQ(big32(8), static_cast<std::uint32_t>(p[8]) << 24 | p[9] << 16 | p[10] << 8 | p[11])
          << "SSRC at " << i;
    }
    const std::uint32_t timestamp = big32(4);
    if (!inMessage) {
      EXPECT_EQ(timestamp & 1u, 0u) << "a message starts with an even timestamp; datagram " << i;
      messageTimestamp = timestamp;
      current.clear();
      inMessage = true;
    } else {
      EXPECT_EQ(timestamp, messageTimestamp | 1u) << i;
    }
    current.insert(current.end(), d.begin() + 12, d.end());
    if (d[1] & 0x80) {
      EXPECT_GE(current.size(), 29u);
      if (current.size() >= 29) {
        EXPECT_EQ(current[0], 'Q');
        EXPECT_EQ(current[1], 'Z');
        EXPECT_EQ(current.size(), 29u + (current[27] | current[28] << 8));
      }
      messages.push_back(current);
      inMessage = false;
    }
  }
  EXPECT_FALSE(inMessage) << "the last message has no datagram with the marker";
  return messages;
}

}  // namespace kwz_test
