// kwz-relay as a user runs it, between a sender and a collector of the test on loopback: the
// scripted faults come out exactly, the statistics line says what happened, and a run ends on
// its count or its time limit. (What it refuses is its options' test.)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "tests/apps/ProgramRun.h"
#include "tests/network/PosixUdpSender.h"
#include "tests/support/UdpCollector.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kTimeoutMs = 20000;

// An RTP datagram of payload type 113 with sequence number n, carrying n as its payload.
Bytes Datagram(std::uint8_t n) {
  return Bytes{0x80, 0x71, 0, n, 0, 0, 0, 0, 1, 2, 3, 4, n, n, n, n};
}

TEST(KwzRelay, ScriptedFaultsComeOutExactly) {
  kwz_test::UdpCollector collector;
  ASSERT_TRUE(collector.ok());
  const std::string listen = std::to_string(kwz_test::FreeUdpPort());
  kwz_test::RunningProgram relay(
      KWZ_RELAY_PATH,
      {"--listen", listen, "--to", std::to_string(collector.port()), "--script-text",
       "drop 2; swap 3 5; truncate 6 14; dup 7; ssrc 8 7", "--count", "8", "--seconds", "15"});
  ASSERT_TRUE(relay.WaitForOut("-> 127.0.0.1:", kTimeoutMs)) << relay.OutSoFar();
  kwz_test::PosixUdpSender sender(static_cast<std::uint16_t>(std::stoi(listen)));
  for (std::uint8_t n = 1; n <= 8; ++n) {
    const Bytes d = Datagram(n);
    ASSERT_TRUE(sender.Send(d.data(), d.size()));
  }
  const kwz_test::ProgramResult result = relay.Wait(kTimeoutMs);  // ends on the count
  ASSERT_EQ(result.exitCode, 0) << result.err;
  EXPECT_NE(result.out.find("received 8 sent 8 dropped 1 duplicated 1 reordered 1 truncated 1\n"),
            std::string::npos)
      << result.out;

  Bytes truncated = Datagram(6);
  truncated.resize(14);
  std::vector<Bytes> expected{Datagram(1), Datagram(4), Datagram(5), Datagram(3),
                              truncated,   Datagram(7), Datagram(7), Datagram(8)};
  expected.back()[11] = 7;  // SSRC 7 from the eighth on
  expected.back()[8] = expected.back()[9] = expected.back()[10] = 0;
  EXPECT_EQ(collector.Drain(500), expected);
}

// (An interrupt ends the run with its statistics in the end-to-end test.)
TEST(KwzRelay, TimeLimitEndsTheRunWithStatistics) {
  kwz_test::UdpCollector collector;
  ASSERT_TRUE(collector.ok());
  const kwz_test::ProgramResult timed =
      kwz_test::RunProgram(KWZ_RELAY_PATH,
                           {"--listen", std::to_string(kwz_test::FreeUdpPort()), "--to",
                            std::to_string(collector.port()), "--seconds", "1"},
                           kTimeoutMs);
  EXPECT_EQ(timed.exitCode, 0) << timed.err;
  EXPECT_NE(timed.out.find("received 0 sent 0 dropped 0"), std::string::npos) << timed.out;
}

}  // namespace
