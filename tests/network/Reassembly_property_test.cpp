// Thousands of random screen messages, packetised, then dropped, duplicated and reordered by a
// seeded impairment before they go over loopback. Whatever Receive delivers must be byte for
// byte a message that was sent; with reordering on and duplicates that stay inside the late
// window, nothing may be delivered twice. Duplicates replayed from far back may start their
// message again: those re-deliveries are counted and bounded by the replays that could cause
// them.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <numeric>
#include <ostream>
#include <random>
#include <string>
#include <vector>

#include "network/CScreenReceiver.h"
#include "platform/ipp.h"
#include "tests/network/ReceiverTestSupport.h"

namespace {

using kwz_test::Bytes;

struct Impairment {
  const char* name;
  unsigned seed;
  bool reordering;
  double drop;       // per datagram
  double swap;       // per datagram: trades places with one up to 3 further on
  double nearDup;    // per datagram: a copy follows 1 to 4 datagrams later
  double farReplay;  // per datagram: a copy of one sent 200 to 2000 datagrams earlier
  bool expectNoRedelivery;
};

std::ostream& operator<<(std::ostream& out, const Impairment& i) {
  return out << i.name;
}

constexpr int kMessages = 3000;
constexpr std::size_t kBatch = 40;  // datagrams sent before the receiver drains the socket
constexpr DWORD kBatchMs = 20;      // virtual time that passes per batch

struct Sent {
  presenter::ScreenMessageFields fields;
  Bytes body;
};

class ReassemblyProperty : public testing::TestWithParam<Impairment> {};

TEST_P(ReassemblyProperty, DeliversOnlyWhatWasSent) {
  const Impairment& p = GetParam();
  std::mt19937 rng(p.seed);
  std::uniform_real_distribution<double> chance(0, 1);

  // Messages of 0 to 4 full datagrams and more, each body led by its index.
  std::vector<Sent> sent(kMessages);
  std::vector<Bytes> datagrams;
  // Starts close enough to 65535 that the numbers wrap mid-run.
  presenter::RtpPacketizer packetizer(
      kwz_test::PacketizerOptions(static_cast<std::uint16_t>(65536 - 2000), 0x0BADCAFE, 1000));
  for (int i = 0; i < kMessages; ++i) {
    Sent& s = sent[i];
    s.fields.streamMode = static_cast<std::uint8_t>(rng() % 7);
    s.fields.bytesPerPixel = 4;
    s.fields.width = static_cast<std::uint16_t>(1 + rng() % 300);
    s.fields.height = static_cast<std::uint16_t>(1 + rng() % 300);
    s.fields.blockIndex = static_cast<std::uint16_t>(rng());
    const std::size_t length = (rng() % 8 == 0) ? 4 : 4 + rng() % 4500;
    s.body = kwz_test::Message(length, static_cast<std::uint32_t>(i));
    std::memcpy(s.body.data(), &i, 4);
    Bytes message;
    presenter::WriteScreenMessage(s.fields, s.body.data(), s.body.size(), &message);
    for (Bytes& d : kwz_test::Datagrams(packetizer, message, 0x1000u * static_cast<DWORD>(i)))
      datagrams.push_back(std::move(d));
  }

  // The impaired order of arrival.
  std::vector<std::size_t> order(datagrams.size());
  std::iota(order.begin(), order.end(), std::size_t{0});
  for (std::size_t i = 0; i + 1 < order.size(); ++i) {
    if (chance(rng) < p.swap)
      std::swap(order[i], order[std::min(order.size() - 1, i + 1 + rng() % 3)]);
  }
  std::vector<std::size_t> arrival;
  std::vector<std::pair<int, std::size_t>> pending;  // near duplicates: countdown, datagram
  int farReplays = 0;
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (chance(rng) >= p.drop) {
      arrival.push_back(order[k]);
      if (chance(rng) < p.nearDup) pending.push_back({1 + static_cast<int>(rng() % 4), order[k]});
    }
    for (auto& d : pending) {
      if (--d.first == 0) arrival.push_back(d.second);
    }
    std::erase_if(pending, [](const auto& d) { return d.first <= 0; });
    if (arrival.size() > 2000 && chance(rng) < p.farReplay) {
      arrival.push_back(arrival[arrival.size() - 200 - rng() % 1800]);
      ++farReplays;
    }
  }

  kwz_test::LoopbackLink<CScreenReceiver> link;
  link.receiver().SetReorderEnabled(p.reordering);
  link.receiver().SetWaitMs(0);  // drain what was sent, never wait
  BYTE* buffer = w7_ippsMalloc_8u(180000);
  DWORD capacity = 180000;
  std::map<int, int> deliveries;
  int mismatches = 0;
  auto drain = [&] {
    for (;;) {
      BITMAPINFOHEADER header;
      DWORD blockIndex = 0;
      DWORD size = capacity;
      BYTE* before = buffer;
      if (!link.receiver().Receive(&header, &blockIndex, &buffer, &size)) return;
      if (buffer != before) capacity = header.biSizeImage;
      int index = -1;
      if (size >= 4) std::memcpy(&index, buffer, 4);
      const bool known = index >= 0 && index < kMessages;
      const bool same = known && size == sent[index].body.size() &&
                        std::memcmp(buffer, sent[index].body.data(), size) == 0 &&
                        header.biCompression == sent[index].fields.streamMode &&
                        header.biWidth == sent[index].fields.width &&
                        header.biHeight == sent[index].fields.height &&
                        blockIndex == sent[index].fields.blockIndex;
      ++(same ? deliveries[index] : mismatches);
    }
  };
  for (std::size_t k = 0; k < arrival.size(); ++k) {
    link.Send(datagrams[arrival[k]]);
    if ((k + 1) % kBatch == 0) {
      drain();
      kwz_test::AdvanceClock(kBatchMs);
    }
  }
  for (int i = 0; i < 3; ++i) {
    drain();
    kwz_test::AdvanceClock(CReorderQueue::kMaxWaitMs);
  }
  w7_ippsFree(buffer);

  int redelivered = 0;
  for (const auto& [index, count] : deliveries) redelivered += count - 1;
  DWORD lost = 0, received = 0;
  link.receiver().TakeCounters(&lost, &received);
  EXPECT_EQ(mismatches, 0);
  if (p.expectNoRedelivery) {
    EXPECT_EQ(redelivered, 0);
  } else {
    EXPECT_LE(redelivered, farReplays + static_cast<int>(arrival.size() - datagrams.size()));
  }
  // Not vacuous: most messages make it through such light impairment.
  EXPECT_GT(deliveries.size(), static_cast<std::size_t>(kMessages / 2));
  EXPECT_LE(received, arrival.size());
  EXPECT_GT(lost, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Seeds, ReassemblyProperty,
    testing::Values(Impairment{"ReorderOnNearDuplicates", 2, true, 0.02, 0.10, 0.05, 0, true},
                    Impairment{"ReorderOnFarReplays", 4, true, 0.01, 0.05, 0.03, 0.01, false},
                    Impairment{"ReorderOffNearDuplicates", 5, false, 0.01, 0.05, 0.03, 0, false}),
    [](const testing::TestParamInfo<Impairment>& info) { return std::string(info.param.name); });

}  // namespace
