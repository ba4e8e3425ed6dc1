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

// Stands in for libFuzzer's byte mutator: changes, inserts or removes a few bytes.
std::minstd_rand g_bytes;
std::size_t StandInMutate(std::uint8_t* data, std::size_t size, std::size_t maxSize) {
  const unsigned grow = g_bytes() % 3;
  if (grow == 0 && size < maxSize) data[size++] = static_cast<std::uint8_t>(g_bytes());
  if (grow == 1 && size > 0) --size;
  for (int k = 0; k < 3 && size > 0; ++k) data[g_bytes() % size] ^= 1u << (g_bytes() % 8);
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

// Garbage, an empty input and one that fills maxSize stay within it too.
void MutateEdgeCases(Mutator mutate, const Bytes& full, unsigned seed) {
  if (seed >= 500) return;
  Mutated(mutate, {0x00, 0xFF, 0xFF, 0x80, 0x71, 0x01}, 64, seed);
  Mutated(mutate, {}, 64, seed);
  Mutated(mutate, full, full.size(), seed);
}

bool PlausibleMessage(const Bytes& message) {
  return message.size() >= 29 && message[0] == 'Q' && message[1] == 'Z' && message[2] < 7 &&
         kwz_fuzz::GetLe(message, 27, 2) == message.size() - 29;
}

// A raw stream whose every record is an RTP datagram of payload type 113.
bool PlausibleStream(const Bytes& input) {
  const FramedInput parsed = FramedInput::Parse(input.data(), input.size(), 6, 1);
  return (parsed.prefix[0] & 1) == 0 && !parsed.records.empty() &&
         std::all_of(parsed.records.begin(), parsed.records.end(), [](const auto& record) {
           RtpPacketInfo info{};
           return ParseRtpHeader(record.data.data(), static_cast<DWORD>(record.data.size()),
                                 &info) &&
                  info.payloadType == 113;
         });
}

TEST(InputMutatorTest, ScreenMessagesStayBoundedAndMostlyPlausible) {
  const Bytes input = ScreenInput();
  int plausible = 0;
  constexpr int kSeeds = 2000;
  for (unsigned seed = 0; seed < kSeeds; ++seed) {
    MutateEdgeCases(&kwz_fuzz::MutateScreenInput, input, seed);
    const Bytes out = Mutated(&kwz_fuzz::MutateScreenInput, input, 70000, seed);
    const FramedInput parsed = FramedInput::Parse(out.data(), out.size(), 1, 0);
    plausible += !parsed.records.empty() &&
                 std::all_of(parsed.records.begin(), parsed.records.end(),
                             [](const auto& r) { return PlausibleMessage(r.data); });
  }
  EXPECT_GT(plausible, kSeeds * 3 / 4);
}

// Cross-overs splice whole datagrams, so every one of theirs parses.
TEST(InputMutatorTest, DatagramsAndCrossOversStayBoundedAndMostlyParse) {
  const Bytes input = DatagramInput(), other = DatagramInput(0x77);
  int parsed = 0;
  constexpr int kSeeds = 2000;
  for (unsigned seed = 0; seed < kSeeds; ++seed) {
    MutateEdgeCases(&kwz_fuzz::MutateDatagramInput, input, seed);
    parsed += PlausibleStream(Mutated(&kwz_fuzz::MutateDatagramInput, input, 4096, seed));
    Bytes joined(1000);
    joined.resize(kwz_fuzz::CrossOverDatagramInput(input.data(), input.size(), other.data(),
                                                   other.size(), joined.data(), 1000, seed));
    EXPECT_TRUE(joined.size() == 6 || PlausibleStream(joined)) << "seed " << seed;
  }
  EXPECT_GT(parsed, kSeeds * 3 / 4);
}

}  // namespace
