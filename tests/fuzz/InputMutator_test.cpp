#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include <gtest/gtest.h>

#include "fuzz/mutate/FramedInput.h"
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
  switch (g_bytes() % 3) {
    case 0:
      if (size < maxSize) data[size++] = static_cast<std::uint8_t>(g_bytes());
      break;
    case 1:
      if (size > 0) --size;
      break;
  }
  for (int k = 0; k < 3 && size > 0; ++k) data[g_bytes() % size] ^= 1u << (g_bytes() % 8);
  return size;
}

Bytes Deflate(const Bytes& raw) {
  uLongf length = compressBound(raw.size());
  Bytes out(length);
  EXPECT_EQ(compress2(out.data(), &length, raw.data(), raw.size(), 6), Z_OK);
  out.resize(length);
  return out;
}

// A configuration byte, a zlib block and a video frame of a 200x150 screen.
Bytes ScreenInput() {
  Bytes input{0};
  const Bytes pixels(100 * 100 * 4, 0x5A);
  presenter::ScreenMessageFields fields;
  fields.streamMode = 1;
  fields.width = 200;
  fields.height = 150;
  for (const Bytes& body : {Deflate(pixels), Bytes(900, 0x11)}) {
    Bytes message;
    presenter::WriteScreenMessage(fields, body.data(), body.size(), &message);
    input.push_back(static_cast<std::uint8_t>(message.size()));
    input.push_back(static_cast<std::uint8_t>(message.size() >> 8));
    input.insert(input.end(), message.begin(), message.end());
    fields.streamMode = 4;
    fields.blockIndex = 0;
  }
  return input;
}

// A raw stream: flags, clock, capacity, then two messages cut into 200-byte datagrams.
Bytes DatagramInput() {
  Bytes input{0, 0, 0, 0, 0, 9};
  presenter::RtpPacketizer::Options options;
  options.payloadSize = 200;
  presenter::RtpPacketizer packetizer(options);
  for (std::uint32_t m = 0; m < 2; ++m) {
    const Bytes message(700, static_cast<std::uint8_t>(m + 1));
    packetizer.Packetize(message.data(), message.size(), m * 2,
                         [&](const std::uint8_t* d, std::size_t n) {
                           input.push_back(static_cast<std::uint8_t>(n));
                           input.push_back(static_cast<std::uint8_t>(n >> 8));
                           input.push_back(1);
                           input.insert(input.end(), d, d + n);
                         });
  }
  return input;
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

TEST(InputMutatorTest, GarbageEmptyAndFullInputsStayWithinMaxSize) {
  const Bytes garbage = {0x00, 0xFF, 0xFF, 0x80, 0x71, 0x01};
  for (const Mutator mutate : {&kwz_fuzz::MutateScreenInput, &kwz_fuzz::MutateDatagramInput}) {
    const Bytes full = mutate == &kwz_fuzz::MutateScreenInput ? ScreenInput() : DatagramInput();
    for (unsigned seed = 0; seed < 500; ++seed) {
      Mutated(mutate, garbage, 64, seed);
      Mutated(mutate, {}, 64, seed);
      Mutated(mutate, full, full.size(), seed);
    }
  }
}

bool PlausibleMessage(const Bytes& message) {
  if (message.size() < 29) return false;
  const unsigned bodyLength = message[27] | (message[28] << 8);
  return message[0] == 'Q' && message[1] == 'Z' && message[2] < 7 &&
         bodyLength == message.size() - 29;
}

TEST(InputMutatorTest, ScreenMessagesMostlyStayPlausibleAndBlocksChangePastZlib) {
  const Bytes input = ScreenInput();
  const Bytes originalBlock = FramedInput::Parse(input.data(), input.size(), 1, 0).records[0].data;
  int plausible = 0, changedPixels = 0;
  constexpr int kSeeds = 2000;
  for (unsigned seed = 0; seed < kSeeds; ++seed) {
    const Bytes out = Mutated(&kwz_fuzz::MutateScreenInput, input, 70000, seed);
    const FramedInput parsed = FramedInput::Parse(out.data(), out.size(), 1, 0);
    plausible +=
        !parsed.records.empty() &&
        std::all_of(parsed.records.begin(), parsed.records.end(),
                    [](const kwz_fuzz::FramedRecord& r) { return PlausibleMessage(r.data); });
    for (const auto& record : parsed.records) {
      const Bytes& message = record.data;
      if (!PlausibleMessage(message) || message[2] != 1 || message == originalBlock) continue;
      Bytes raw(1 << 16);
      uLongf length = raw.size();
      if (uncompress(raw.data(), &length, message.data() + 29, message.size() - 29) == Z_OK &&
          Bytes(raw.begin(), raw.begin() + length) != Bytes(100 * 100 * 4, 0x5A)) {
        ++changedPixels;
        break;
      }
    }
  }
  EXPECT_GT(plausible, kSeeds * 3 / 4);
  EXPECT_GT(changedPixels, kSeeds / 20);
}

struct Datagram {
  RtpPacketInfo info;
  Bytes payload;
};

bool ParseAll(const Bytes& input, std::vector<Datagram>* out) {
  const FramedInput parsed = FramedInput::Parse(input.data(), input.size(), 6, 1);
  if ((parsed.prefix[0] & 1) != 0 || parsed.records.empty()) return false;
  for (const auto& record : parsed.records) {
    Datagram d{};
    if (!ParseRtpHeader(record.data.data(), static_cast<DWORD>(record.data.size()), &d.info) ||
        d.info.payloadType != 113) {
      return false;
    }
    d.payload.assign(d.info.payload, d.info.payload + d.info.payloadLength);
    out->push_back(std::move(d));
  }
  return true;
}

TEST(InputMutatorTest, DatagramsMostlyParseAndASplitKeepsTheMessage) {
  const Bytes input = DatagramInput();
  std::vector<Datagram> original;
  ASSERT_TRUE(ParseAll(input, &original));
  Bytes sent;
  for (const Datagram& d : original) sent.insert(sent.end(), d.payload.begin(), d.payload.end());
  int parsed = 0, faithfulSplits = 0;
  constexpr int kSeeds = 2000;
  for (unsigned seed = 0; seed < kSeeds; ++seed) {
    std::vector<Datagram> out;
    if (!ParseAll(Mutated(&kwz_fuzz::MutateDatagramInput, input, 4096, seed), &out)) continue;
    ++parsed;
    if (out.size() != original.size() + 1) continue;
    // A split: the same bytes, consecutive numbers, and still one marker per message.
    Bytes received;
    bool consecutive = true;
    int markers = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
      received.insert(received.end(), out[i].payload.begin(), out[i].payload.end());
      consecutive = consecutive && out[i].info.sequence == i;
      markers += out[i].info.marker;
    }
    faithfulSplits += received == sent && consecutive && markers == 2;
  }
  EXPECT_GT(parsed, kSeeds * 3 / 4);
  EXPECT_GT(faithfulSplits, kSeeds / 40);
}

TEST(InputMutatorTest, CrossOverJoinsWholeRecordsOfBoth) {
  const Bytes a = DatagramInput();
  Bytes b = a;
  b[5] = 3;
  for (std::size_t at = 6; at < b.size();) {  // b's datagrams carry another SSRC
    const std::size_t length = b[at] | (b[at + 1] << 8);
    b[at + 3 + 11] = 0x77;
    at += 3 + length;
  }
  const FramedInput first = FramedInput::Parse(a.data(), a.size(), 6, 1);
  const FramedInput second = FramedInput::Parse(b.data(), b.size(), 6, 1);
  bool mixed = false;
  for (unsigned seed = 0; seed < 200; ++seed) {
    Bytes out(4096);
    out.resize(kwz_fuzz::CrossOverDatagramInput(a.data(), a.size(), b.data(), b.size(), out.data(),
                                                out.size(), seed));
    const FramedInput joined = FramedInput::Parse(out.data(), out.size(), 6, 1);
    ASSERT_EQ(joined.prefix, first.prefix);
    std::size_t k = 0;
    while (k < joined.records.size() && joined.records[k].data[11] != 0x77) {
      ASSERT_EQ(joined.records[k].data, first.records[k].data);
      ++k;
    }
    const std::size_t tail = joined.records.size() - k;
    ASSERT_LE(tail, second.records.size());
    for (std::size_t i = 0; i < tail; ++i) {
      ASSERT_EQ(joined.records[k + i].data, second.records[second.records.size() - tail + i].data);
    }
    mixed = mixed || (k > 0 && tail > 0);
  }
  EXPECT_TRUE(mixed);
}

}  // namespace
