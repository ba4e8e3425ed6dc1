#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/mutate/InputMutators.h"
#include "network/RtpHeader.h"
#include "presenter/RtpPacketizer.h"
#include "presenter/ScreenMessageWriter.h"

namespace {

using kwz_fuzz::Bytes;
using kwz_fuzz::FramedInput;

// Stands in for libFuzzer's byte mutator: grows or shrinks the bytes by one and flips a bit.
std::minstd_rand g_bytes;
std::size_t StandInMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize) {
  const unsigned grow = g_bytes() % 3;
  if (grow == 0 && size < maxSize) ++size;
  if (grow == 1 && size > 0) --size;
  if (size > 0) data[g_bytes() % size] ^= 1u << (g_bytes() % 8);
  return size;
}

// A configuration byte, a zlib block and a video frame of a 200x150 screen.
Bytes ScreenInput() {
  FramedInput input{{0}, {}};
  presenter::ScreenMessageFields fields;
  fields.width = 200;
  fields.height = 150;
  for (const auto& [mode, body] : {std::pair{1, kwz_fuzz::Deflate(Bytes(100 * 100 * 4, 0x5A), 6)},
                                   std::pair{4, Bytes(900, 0x11)}}) {
    fields.streamMode = static_cast<std::uint8_t>(mode);
    input.records.emplace_back();
    presenter::WriteScreenMessage(fields, body.data(), body.size(), &input.records.back().data);
  }
  return input.Serialize(SIZE_MAX);
}

// A raw stream: flags, clock, capacity, then two messages cut into 200-byte datagrams.
Bytes DatagramInput(std::uint32_t ssrc = 0x4B575A31) {
  FramedInput input{{0, 0, 0, 0, 0, 9}, {}};
  presenter::RtpPacketizer::Options options;
  options.payloadSize = 200;
  options.ssrc = ssrc;
  presenter::RtpPacketizer packetizer(options);
  for (std::uint32_t m = 0; m < 2; ++m) {
    const Bytes message(700, static_cast<std::uint8_t>(m + 1));
    packetizer.Packetize(message.data(), message.size(), m * 2,
                         [&](const std::uint8_t* d, std::size_t n) {
                           input.records.push_back({{1}, Bytes(d, d + n)});
                         });
  }
  return input.Serialize(SIZE_MAX);
}

using Mutator = std::size_t (*)(std::uint8_t*, std::size_t, std::size_t, unsigned,
                                kwz_fuzz::ByteMutator);
using CrossOver = std::size_t (*)(const std::uint8_t*, std::size_t, const std::uint8_t*,
                                  std::size_t, std::uint8_t*, std::size_t, unsigned);

// Every mutation stays within maxSize and is the same again for the same seed.
Bytes Mutated(Mutator mutate, const Bytes& input, std::size_t maxSize, unsigned seed) {
  Bytes runs[2];
  for (Bytes& data : runs) {
    g_bytes.seed(seed);
    data = input;
    data.resize(std::max(maxSize, input.size()));
    data.resize(mutate(data.data(), input.size(), maxSize, seed, &StandInMutate));
  }
  EXPECT_LE(runs[0].size(), maxSize) << "seed " << seed;
  EXPECT_EQ(runs[0], runs[1]) << "seed " << seed;
  return runs[0];
}

// Every message a screen input holds has the magic, a known mode and a matching BodyLength.
bool PlausibleScreens(const Bytes& input) {
  const FramedInput parsed = FramedInput::Parse(input.data(), input.size(), 1, 0);
  return std::all_of(parsed.records.begin(), parsed.records.end(), [](const auto& record) {
    const Bytes& m = record.data;
    return m.size() >= 29 && m[0] == 'Q' && m[1] == 'Z' && m[2] < 7 &&
           kwz_fuzz::GetLe(m, 27, 2) == m.size() - 29;
  });
}

// Every record of a raw stream is an RTP datagram of payload type 113.
bool PlausibleStream(const Bytes& input) {
  const FramedInput parsed = FramedInput::Parse(input.data(), input.size(), 6, 1);
  return (parsed.prefix[0] & 1) == 0 &&
         std::all_of(parsed.records.begin(), parsed.records.end(), [](const auto& record) {
           RtpPacketInfo info{};
           return ParseRtpHeader(record.data.data(), static_cast<DWORD>(record.data.size()),
                                 &info) &&
                  info.payloadType == 113;
         });
}

// Mutations, also of garbage, an empty input and one that fills maxSize, stay within maxSize;
// most still hold the structure their target reads. Cross-overs splice whole records.
TEST(InputMutatorTest, OutputsStayBoundedAndMostlyPlausible) {
  const struct {
    Mutator mutate;
    CrossOver crossOver;
    Bytes input;
    std::size_t maxSize;
    bool (*plausible)(const Bytes&);
  } cases[] = {{&kwz_fuzz::MutateScreenInput, &kwz_fuzz::CrossOverScreenInput, ScreenInput(), 70000,
                &PlausibleScreens},
               {&kwz_fuzz::MutateDatagramInput, &kwz_fuzz::CrossOverDatagramInput, DatagramInput(),
                4096, &PlausibleStream}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.maxSize);
    int plausible = 0;
    constexpr int kSeeds = 2000;
    for (unsigned seed = 0; seed < kSeeds; ++seed) {
      if (seed < 500) {
        Mutated(c.mutate, {0x00, 0xFF, 0xFF, 0x80, 0x71, 0x01}, 64, seed);
        Mutated(c.mutate, {}, 64, seed);
        Mutated(c.mutate, c.input, c.input.size(), seed);
      }
      plausible += c.plausible(Mutated(c.mutate, c.input, c.maxSize, seed));
      Bytes joined(c.input.size());
      joined.resize(c.crossOver(c.input.data(), c.input.size(), c.input.data(), c.input.size(),
                                joined.data(), joined.size(), seed));
      EXPECT_TRUE(c.plausible(joined)) << "seed " << seed;
    }
    EXPECT_GT(plausible, kSeeds * 3 / 4);
  }
}

}  // namespace
