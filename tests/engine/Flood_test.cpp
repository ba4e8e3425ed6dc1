// A hostile flood into a running engine on loopback for KWZ_FLOOD_SECONDS (2 by default; the
// soak script runs it for minutes and judges the resident size and the Stop time it prints).
// Most datagrams are noise (random bytes, RTP headers over random payloads); some are
// well-formed screen messages of random geometry, mode and body, so the decoders and the
// surface's reallocation see them too. Afterwards the engine still runs, has counted what it
// received, and a real stream brings the picture back.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "tests/engine/EngineFixture.h"
#include "tests/network/PosixUdpSender.h"

namespace kwz_test {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr int kBatch = 500;  // datagrams sent between looks at the clock

// One datagram of the flood: one in 64 a one-datagram screen message that passes the
// endpoint's checks, one in 8 a few random bytes, the rest an RTP header of the stream's payload
// type over random bytes, so the noise reaches the reassembly.
Bytes Noise(std::mt19937& rng) {
  const unsigned kind = rng() % 64;
  Bytes d(kind == 0 ? rng() % 1300 : kind < 8 ? rng() % 20 : rng() % 1400);
  for (auto& b : d) b = static_cast<std::uint8_t>(rng());
  if (kind == 0) {
    presenter::ScreenMessageFields f;
    f.streamMode = static_cast<std::uint8_t>(rng() % 7);
    const std::uint8_t depths[] = {1, 3, 4, 4, static_cast<std::uint8_t>(rng())};
    f.bytesPerPixel = depths[rng() % 5];
    const unsigned side = rng() % 8 == 0 ? 65535 : 2000;
    f.width = static_cast<std::uint16_t>(1 + rng() % side);
    f.height = static_cast<std::uint16_t>(1 + rng() % side);
    f.blockIndex = static_cast<std::uint16_t>(rng() % 400);
    Bytes message;
    presenter::WriteScreenMessage(f, d.data(), d.size(), &message);
    presenter::RtpPacketizer::Options options;
    options.ssrc = rng();
    options.firstSequence = static_cast<std::uint16_t>(rng());
    options.payloadSize = 1400;
    presenter::RtpPacketizer(options).Packetize(
        message.data(), message.size(), (rng() & ~1u),
        [&](const std::uint8_t* p, std::size_t n) { d.assign(p, p + n); });
  } else if (kind >= 8 && d.size() >= 12) {
    d[0] = static_cast<std::uint8_t>(0x80 | (d[0] & 0x3F));
    d[1] = static_cast<std::uint8_t>((d[1] & 0x80) | 113);
  }
  return d;
}

TEST(Flood, EngineSurvivesThenShowsTheRealStream) {
  UseHeadlessGdi();
  const USHORT port = FreeEvenPort();
  ASSERT_NE(port, 0);
  SizeLog sizes;
  TestWindow window(kWidth, kHeight);
  CScreenSharing engine;
  engine.m_dwPort = port;
  engine.m_pSizeSink = &sizes;
  engine.SetLocalAddress("127.0.0.1");
  engine.SetWindow(window.Get());
  ASSERT_EQ(engine.Setup(), S_OK);
  ASSERT_TRUE(engine.Start());

  // The flood, as fast as the socket takes it (a full socket buffer drops some: that is a flood).
  std::mt19937 rng(20261206);
  PosixUdpSender flood(port);
  std::uint64_t sent = 0;
  std::printf("flood: started\n");  // the soak script samples the resident size from here on
  std::fflush(stdout);
  const char* text = std::getenv("KWZ_FLOOD_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;  // unset or not a count: 2 s
  const auto end = SteadyClock::now() + std::chrono::seconds(seconds > 0 ? seconds : 2);
  while (SteadyClock::now() < end) {
    for (int i = 0; i < kBatch; ++i) {
      const Bytes d = Noise(rng);
      flood.Send(d.data(), d.size());
    }
    sent += kBatch;
  }
  const unsigned received = Received(engine.GetPacketLossReport());
  EXPECT_GT(received, 0u);
  EXPECT_LE(received, sent);

  // A presenter starts (again): every block of a picture, again until it shows.
  const auto picture = Picture(kWidth, kHeight, 5);
  const std::vector<Bytes> blocks = ZlibBlocks(picture, kWidth, kHeight);
  ScreenSender sender("127.0.0.1", port);
  bool recovered = false;
  for (int round = 0; round < 20 && !recovered; ++round) {
    for (std::uint16_t i = 0; i < blocks.size(); ++i) {
      sender.Send(BlockFields(kWidth, kHeight, i), blocks[i]);
    }
    recovered = WaitUntil([&] { return window.Pixels() == picture; }, 1000);
  }
  EXPECT_TRUE(recovered);
  ASSERT_FALSE(sizes.Sizes().empty());
  EXPECT_EQ(sizes.Sizes().back(), (std::pair<std::uint32_t, std::uint32_t>{kWidth, kHeight}));

  const auto stopStart = SteadyClock::now();
  EXPECT_TRUE(engine.Stop());
  std::printf("flood: Stop took %.1f ms\n",
              std::chrono::duration<double, std::milli>(SteadyClock::now() - stopStart).count());
}

}  // namespace
}  // namespace kwz_test
