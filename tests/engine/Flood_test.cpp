// A hostile flood into a running engine: about 50 000 datagrams a second on loopback for
// KWZ_FLOOD_SECONDS (5 by default; the full test run sets 30, the soak script 600). Most are
// noise (random bytes, RTP headers over random payloads); some are well-formed screen messages
// of random geometry, mode and body, so the decoders and the surface's reallocation see them
// too. Afterwards a real presenter's stream must bring the picture back, Stop must end the
// thread within 500 ms, and the resident size must stay within the idle size + 256 MB (and,
// over a soak of several minutes, not grow between the first and the last minute).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <random>
#include <thread>
#include <vector>

#include "engine/CScreenSharing.h"
#include "presenter/CScreenSender.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/PaintTestSupport.h"
#include "tests/network/PosixUdpSender.h"
#include "tests/presenter/ViewerHarness.h"
#include "tests/support/ResidentMemory.h"

namespace kwz_test {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 300;
constexpr int kRatePerSecond = 50000;
constexpr int kBatch = 500;  // datagrams sent between looks at the clock
constexpr std::size_t kMegabyte = 1 << 20;
constexpr bool kUnderSanitizer = !kMeasuresResidentMemory;

int FloodSeconds() {
  const char* text = std::getenv("KWZ_FLOOD_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 0;
  return seconds > 0 ? seconds : 5;
}

// One datagram of the flood.
Bytes Noise(std::mt19937& rng) {
  const unsigned kind = rng() % 64;
  Bytes d;
  if (kind == 0) {
    // A one-datagram screen message that passes the endpoint's checks.
    presenter::ScreenMessageFields f;
    f.streamMode = static_cast<std::uint8_t>(rng() % 7);
    const std::uint8_t depths[] = {1, 3, 4, 4, static_cast<std::uint8_t>(rng())};
    f.bytesPerPixel = depths[rng() % 5];
    const bool large = rng() % 8 == 0;
    f.width = static_cast<std::uint16_t>(1 + rng() % (large ? 65535 : 2000));
    f.height = static_cast<std::uint16_t>(1 + rng() % (large ? 65535 : 2000));
    f.blockIndex = static_cast<std::uint16_t>(rng() % 400);
    Bytes body(rng() % 1300);
    for (auto& b : body) b = static_cast<std::uint8_t>(rng());
    Bytes message;
    presenter::WriteScreenMessage(f, body.data(), body.size(), &message);
    presenter::RtpPacketizer::Options options;
    options.ssrc = rng();
    options.firstSequence = static_cast<std::uint16_t>(rng());
    options.payloadSize = 1400;
    presenter::RtpPacketizer packetizer(options);
    packetizer.Packetize(message.data(), message.size(), (rng() & ~1u),
                         [&](const std::uint8_t* p, std::size_t n) { d.assign(p, p + n); });
    return d;
  }
  d.resize(kind < 8 ? rng() % 20 : rng() % 1400);
  for (auto& b : d) b = static_cast<std::uint8_t>(rng());
  if (kind >= 8 && d.size() >= 12) {
    // An RTP header of the stream's payload type, so the noise reaches the reassembly.
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
  auto engine = std::make_unique<CScreenSharing>();
  engine->m_dwPort = port;
  engine->m_pSizeSink = &sizes;
  engine->SetLocalAddress("127.0.0.1");
  engine->SetWindow(window.Get());
  ASSERT_EQ(engine->Setup(), S_OK);
  ASSERT_TRUE(engine->Start());
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  const std::size_t idle = ResidentBytes();

  // The flood, paced to the rate; the resident size sampled at every batch. A hostile message
  // may make the engine hold a large bitmap for a while, so growth is judged by each minute's
  // floor, its least sample: what stays held rises it, what comes and goes does not.
  const int seconds = FloodSeconds();
  std::mt19937 rng(20261206);
  PosixUdpSender flood(port);
  std::size_t peak = idle, firstMinute = 0, lastMinute = 0;
  std::size_t minuteFloor = SIZE_MAX;  // of the minute under way
  std::uint64_t sent = 0;
  const auto start = SteadyClock::now();
  const auto end = start + std::chrono::seconds(seconds);
  int minute = 0;
  while (SteadyClock::now() < end) {
    for (int i = 0; i < kBatch; ++i) {
      const Bytes d = Noise(rng);
      flood.Send(d.data(), d.size());  // a full socket buffer drops some: that is a flood
    }
    sent += kBatch;
    const std::size_t rss = ResidentBytes();
    peak = std::max(peak, rss);
    minuteFloor = std::min(minuteFloor, rss);
    const auto elapsed = SteadyClock::now() - start;
    if (elapsed >= std::chrono::minutes(minute + 1)) {
      ++minute;
      std::printf("flood minute %d: resident %zu MB, least %zu MB\n", minute, rss / kMegabyte,
                  minuteFloor / kMegabyte);
      std::fflush(stdout);
      (minute == 1 ? firstMinute : lastMinute) = minuteFloor;
      minuteFloor = SIZE_MAX;
    }
    const auto due = start + std::chrono::microseconds(sent * 1000000 / kRatePerSecond);
    std::this_thread::sleep_until(due);
  }
  const double took = std::chrono::duration<double>(SteadyClock::now() - start).count();

  // The presenter starts (again): every block of its first frame, then what changes.
  presenter::ScreenStreamSettings stream;
  presenter::CScreenStreamer streamer(stream);
  presenter::ScreenSenderSettings send;
  send.port = port;
  presenter::CScreenSender sender(send);
  const SyntheticDesktop desktop(kWidth, kHeight);
  constexpr std::uint32_t kFrames = 10;
  std::uint32_t timestamp = 0;
  auto sendFrame = [&](std::uint32_t n) {
    timestamp += 9000;
    streamer.AddFrame(
        FrameOf(desktop.Render(n), kWidth, kHeight),
        [&](const std::uint8_t* m, std::size_t length) { sender.Send(m, length, timestamp); });
  };
  const std::vector<std::uint8_t> last = desktop.Render(kFrames - 1);
  auto showsLast = [&] {
    const std::vector<std::uint32_t> shown = window.Pixels();
    if (shown.size() < static_cast<std::size_t>(kWidth) * kHeight) return false;
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const std::uint8_t* p = &last[(static_cast<std::size_t>(y) * kWidth + x) * 4];
        const std::uint32_t want = 0xFF000000u | p[2] << 16 | p[1] << 8 | p[0];
        if (window.At(shown, x, y) != want) return false;
      }
    }
    return true;
  };
  const auto recoveryStart = SteadyClock::now();
  for (std::uint32_t n = 0; n < kFrames; ++n) {
    sendFrame(n);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    peak = std::max(peak, ResidentBytes());
  }
  // Then the last picture again, whole, every half second, as the presenter's refresh does.
  int refreshes = 0;
  const bool recovered = WaitUntil(
      [&] {
        if (showsLast()) return true;
        streamer.RequestRefresh();
        sendFrame(kFrames - 1);
        ++refreshes;
        std::this_thread::sleep_for(std::chrono::milliseconds(500));
        peak = std::max(peak, ResidentBytes());
        return showsLast();
      },
      30000);
  const double recoveryMs =
      std::chrono::duration<double, std::milli>(SteadyClock::now() - recoveryStart).count();

  const auto stopStart = SteadyClock::now();
  EXPECT_TRUE(engine->Stop());
  const double stopMs =
      std::chrono::duration<double, std::milli>(SteadyClock::now() - stopStart).count();
  engine.reset();

  std::printf(
      "flood: %llu datagrams in %.1f s (%.0f a second); resident idle %zu MB, peak %zu MB; "
      "picture back %.0f ms after the presenter started (%d refreshes); Stop took %.1f ms\n",
      static_cast<unsigned long long>(sent), took, static_cast<double>(sent) / took,
      idle / kMegabyte, peak / kMegabyte, recoveryMs, refreshes, stopMs);
  EXPECT_TRUE(recovered);
  EXPECT_LT(stopMs, 500);
  // The sanitizers keep freed memory in quarantine and add shadow memory: only a plain build
  // measures what the receiver itself holds.
  if (!kUnderSanitizer) {
    EXPECT_LE(peak, idle + 256 * kMegabyte);
  }
  if (minute >= 2 && !kUnderSanitizer) {
    std::printf("flood: least resident %zu MB in the first minute, %zu MB in the last\n",
                firstMinute / kMegabyte, lastMinute / kMegabyte);
    EXPECT_LE(lastMinute, firstMinute + 16 * kMegabyte);
  }
}

}  // namespace
}  // namespace kwz_test
