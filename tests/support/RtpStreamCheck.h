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
  auto big = [](const std::vector<std::uint8_t>& d, int at, int bytes) {
    std::uint32_t value = 0;
    for (int i = 0; i < bytes; ++i) value = value << 8 | d[at + i];
    return value;
  };
  std::vector<std::vector<std::uint8_t>> messages;
  std::vector<std::uint8_t> current;  // empty between messages
  std::uint32_t start = 0;            // the timestamp of the message's first datagram
  for (std::size_t i = 0; i < datagrams.size(); ++i) {
    SCOPED_TRACE(i);
    const std::vector<std::uint8_t>& d = datagrams[i];
    EXPECT_GE(d.size(), 12u);
    if (d.size() < 12) return messages;
    EXPECT_EQ(d[0], 0x80) << "version 2, no padding, extension or CSRC";
    EXPECT_EQ(d[1] & 0x7F, 113);
    if (i > 0) {
      EXPECT_EQ(big(d, 2, 2), (big(datagrams[i - 1], 2, 2) + 1) & 0xFFFF) << "sequence";
      EXPECT_EQ(big(d, 8, 4), big(datagrams[i - 1], 8, 4)) << "SSRC";
    }
    if (current.empty()) {
      start = big(d, 4, 4);
      EXPECT_EQ(start & 1u, 0u) << "a message starts with an even timestamp";
    } else {
      EXPECT_EQ(big(d, 4, 4), start | 1u);
    }
    current.insert(current.end(), d.begin() + 12, d.end());
    if (d[1] & 0x80) {
      EXPECT_TRUE(current.size() >= 29 && current[0] == 'Q' && current[1] == 'Z' &&
                  current.size() == 29u + (current[27] | current[28] << 8))
          << "not a whole screen message";
      messages.push_back(std::move(current));
      current.clear();
    }
  }
  EXPECT_TRUE(current.empty()) << "the last message has no datagram with the marker";
  return messages;
}

}  // namespace kwz_test
