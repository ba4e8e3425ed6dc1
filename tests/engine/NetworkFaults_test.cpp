// The presenter's real messages through the relay's decisions into the receiving path: cut into
// datagrams, impaired (at random, seeded, or by an exact script), sent over loopback to a screen
// endpoint whose reorder queue runs on a virtual clock, accepted, and decoded into a surface.
// Most cases cross the sequence wrap at 65535. Whatever the fault:
// - every message delivered is byte for byte one the presenter sent (never spliced together);
// - the loss counter is exact where the fault makes it so, else within what was dropped;
// - one clean refresh from the presenter brings the picture back exactly.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "impair/CImpairment.h"
#include "network/CScreenReceiver.h"
#include "platform/ipp.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/network/ReceiverTestSupport.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

constexpr int kWidth = 420;  // a 5 x 4 grid of blocks, the last column and row partly used
constexpr int kHeight = 320;
constexpr std::uint32_t kFrames = 16;
constexpr std::uint16_t kFirstSequence = 65536 - 60;
constexpr std::uint32_t kSsrc = 0x5EED0001;
constexpr std::size_t kPayload = 200;

// Where each message's datagrams sit in the stream, 1-based as the script counts them.
struct Layout {
  std::vector<std::size_t> first;
  std::vector<std::size_t> count;
  std::size_t target = 0;  // the message the scripted faults aim at: one with a middle datagram
};

struct FaultCase {
  const char* name;
  ImpairSettings impair = {};
  std::function<std::string(const Layout&)> script = {};
  DWORD msPerDatagram = 1;
  // Close to the wrap by default. Near it, a datagram from before the wrap that arrives after it
  // is taken for one from the next cycle and costs its message, by design; the cases that
  // expect the queue to heal everything start elsewhere.
  std::uint16_t firstSequence = kFirstSequence;
  bool reordering = true;
  // The stream stops after this datagram and a restarted presenter (new source, new sequence
  // numbers) sends the refresh; 0: the same presenter carries on.
  std::function<std::size_t(const Layout&)> killAfter = {};
  int lost = -1;     // exact loss count, or -1: between 1 and what the faults could cause
  int missing = -1;  // exact number of messages never delivered, or -1: not exact
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
  return out << c.name;
}

ImpairSettings Random(double loss, double burst, double dup, double reorder, std::uint32_t depth,
                      std::uint32_t delay, std::uint32_t jitter) {
  ImpairSettings s;
  s.loss = loss;
  s.meanBurst = burst;
  s.duplicate = dup;
  s.reorder = reorder;
  s.reorderDepth = depth;
  s.delayMs = delay;
  s.jitterMs = jitter;
  s.seed = 17;
  return s;
}

std::string At(const char* verb, std::size_t n, const std::string& rest = "") {
  return std::string(verb) + " " + std::to_string(n) + (rest.empty() ? "" : " " + rest) + ";";
}

// Messages keyed by everything the endpoint hands over, to recognise a delivery.
using Key = std::tuple<DWORD, LONG, LONG, DWORD, std::vector<std::uint8_t>>;

class NetworkFaults : public testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override {
    buffer_ = w7_ippsMalloc_8u(capacity_);
    link_.receiver().SetReorderEnabled(GetParam().reordering);
    link_.receiver().SetWaitMs(0);  // a call that has used up what was sent ends, not waits
  }
  void TearDown() override { w7_ippsFree(buffer_); }

  void Remember(const SentMessage& m, bool counted) {
    const std::size_t index = sent_.size();
    sent_.push_back(m);
    delivered_.push_back(0);
    counted_.push_back(counted);
    const std::vector<std::uint8_t> body(m.bytes.begin() + 29, m.bytes.end());
    byKey_[Key{DWORD(m.mode), m.width, m.height, DWORD(m.blockIndex), body}].push_back(index);
  }

  // Receives everything that can be completed now and decodes it into the viewer.
  void Drain() {
    for (;;) {
      BITMAPINFOHEADER header;
      DWORD blockIndex = 0;
      DWORD size = capacity_;
      BYTE* before = buffer_;
      if (!link_.receiver().Receive(&header, &blockIndex, &buffer_, &size)) return;
      if (buffer_ != before) capacity_ = header.biSizeImage;
      const Key key{header.biCompression, header.biWidth, header.biHeight, blockIndex,
                    std::vector<std::uint8_t>(buffer_, buffer_ + size)};
      const auto found = byKey_.find(key);
      if (found == byKey_.end()) {
        ++spliced_;
        continue;
      }
      // Messages that repeat one another (a block sent again unchanged) are told apart by
      // phase, then order: the first not yet delivered.
      std::size_t index = found->second.front();
      bool inPhase = false;
      for (std::size_t i : found->second) {
        if (delivered_[i] == 0 && (!inPhase || i >= phaseStart_)) {
          inPhase = i >= phaseStart_;
          index = i;
          if (inPhase) break;
        }
      }
      ++delivered_[index];
      viewer_.Take(sent_[index]);
      ++deliveries_;
    }
  }

  void Settle() {
    for (int i = 0; i < 3; ++i) {
      Drain();
      AdvanceClock(CReorderQueue::kMaxWaitMs);
    }
    Drain();
  }

  LoopbackLink<CScreenReceiver> link_;
  DWORD capacity_ = 180000;
  BYTE* buffer_ = nullptr;
  ViewerHarness viewer_;
  std::vector<SentMessage> sent_;
  std::vector<int> delivered_;
  std::vector<bool> counted_;  // whole in the faulty phase: its loss is the fault's
  std::map<Key, std::vector<std::size_t>> byKey_;
  std::size_t phaseStart_ = 0;  // first message of the phase being received
  int spliced_ = 0;
  int deliveries_ = 0;
};

TEST_P(NetworkFaults, NothingSplicedLossCountedPictureBackAtTheRefresh) {
  const FaultCase& c = GetParam();
  presenter::ScreenStreamSettings stream;  // zlib blocks at 32 bits: lossless, so exact
  presenter::CScreenStreamer streamer(stream);
  // Dense glyphs, so that blocks need several datagrams.
  const SyntheticDesktop desktop(kWidth, kHeight, SyntheticDesktop::Text::kGlyphs);
  presenter::RtpPacketizer packetizer(PacketizerOptions(c.firstSequence, kSsrc, kPayload));

  // The faulty phase: its datagrams and where each message lies among them.
  std::vector<Bytes> datagrams;
  Layout layout;
  std::vector<SentMessage> messages;
  std::uint32_t timestamp = 0;
  for (std::uint32_t f = 0; f < kFrames; ++f) {
    for (SentMessage& m : StreamFrame(streamer, FrameOf(desktop.Render(f), kWidth, kHeight))) {
      layout.first.push_back(datagrams.size() + 1);
      for (Bytes& d : Datagrams(packetizer, m.bytes, timestamp += 2)) datagrams.push_back(d);
      layout.count.push_back(datagrams.size() + 1 - layout.first.back());
      messages.push_back(std::move(m));
    }
  }
  for (layout.target = 8; layout.target < messages.size() && layout.count[layout.target] < 3;)
    ++layout.target;
  ASSERT_LT(layout.target + 5, messages.size());
  const std::size_t sendCount = c.killAfter ? c.killAfter(layout) : datagrams.size();
  for (std::size_t i = 0; i < messages.size(); ++i)
    Remember(messages[i], layout.first[i] + layout.count[i] - 1 <= sendCount);

  ImpairScript script;
  std::string error;
  if (c.script) {
    ASSERT_TRUE(script.Parse(c.script(layout), &error)) << error;
  }
  CImpairment impairment(c.impair, script);
  std::vector<ImpairedDatagram> out;
  std::uint64_t now = 0;
  // The first message goes through untouched, so that the receiver follows the stream before
  // the faults begin (until then it keeps datagrams in arrival order, by design).
  for (std::size_t i = 0; i < layout.count[0]; ++i) link_.Send(datagrams[i]);
  Drain();
  ASSERT_EQ(delivered_[0], 1);
  for (std::size_t i = layout.count[0]; i < sendCount; ++i) {
    now += c.msPerDatagram;
    AdvanceClock(c.msPerDatagram);
    // Numbered from the first impaired datagram on; the scripts count from the stream's start.
    impairment.Push(datagrams[i], now);
    out.clear();
    impairment.Take(now, &out);
    for (const ImpairedDatagram& d : out) link_.Send(d.bytes);
    if (i % 8 == 0) Drain();
  }
  out.clear();
  impairment.Flush(&out);
  for (const ImpairedDatagram& d : out) link_.Send(d.bytes);
  Settle();
  DWORD lost = 0, received = 0;
  link_.receiver().TakeCounters(&lost, &received);

  int missing = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) missing += counted_[i] && delivered_[i] == 0;

  // The presenter resends everything, unimpaired; a restarted one from scratch.
  const std::size_t before = sent_.size();
  phaseStart_ = before;
  streamer.RequestRefresh();
  const std::vector<std::uint8_t> last = desktop.Render(kFrames - 1);
  presenter::RtpPacketizer restarted(PacketizerOptions(0x1234, 0xFEEDF00D, kPayload));
  // The same presenter keeps the numbering and source that the faults gave its stream.
  ImpairScript kept;
  for (const ImpairAction& a : script.Actions()) {
    if (a.kind == ImpairAction::Kind::kSequenceJump || a.kind == ImpairAction::Kind::kSsrc)
      kept.Add({a.kind, 1, a.value});
  }
  CImpairment rewrite(ImpairSettings{}, kept);
  for (SentMessage& m : StreamFrame(streamer, FrameOf(last, kWidth, kHeight))) {
    Remember(m, false);
    for (Bytes& d : Datagrams(c.killAfter ? restarted : packetizer, m.bytes, timestamp += 2))
      rewrite.Push(std::move(d), now);
  }
  out.clear();
  rewrite.Flush(&out);
  for (const ImpairedDatagram& d : out) link_.Send(d.bytes);
  Settle();
  DWORD refreshLost = 0, refreshReceived = 0;
  link_.receiver().TakeCounters(&refreshLost, &refreshReceived);
  int refreshDelivered = 0;
  for (std::size_t i = before; i < sent_.size(); ++i) refreshDelivered += delivered_[i] > 0;

  const ImpairStats& s = impairment.Stats();
  std::printf(
      "%s: %zu datagrams, dropped %llu, duplicated %llu, reordered %llu; lost %u / "
      "received %u; %d of %zu messages missing; refresh %d of %zu, lost %u\n",
      c.name, sendCount, static_cast<unsigned long long>(s.dropped),
      static_cast<unsigned long long>(s.duplicated), static_cast<unsigned long long>(s.reordered),
      lost, received, missing, messages.size(), refreshDelivered, sent_.size() - before,
      refreshLost);

  EXPECT_EQ(spliced_, 0) << "a delivered message is none that was sent";
  for (std::size_t i = 0; i < delivered_.size(); ++i) EXPECT_LE(delivered_[i], 1) << i;
  if (c.lost >= 0) {
    EXPECT_EQ(lost + refreshLost, static_cast<DWORD>(c.lost));
  } else {
    EXPECT_GE(lost, 1u);
    // A dropped or cut datagram makes one gap; one moved too far for the queue breaks the order
    // in up to three places: where it left, and either side of where it turns up.
    EXPECT_LE(lost + refreshLost, s.dropped + s.truncated + 3 * s.reordered);
  }
  if (c.missing >= 0) {
    EXPECT_EQ(missing, c.missing);
  }
  EXPECT_LE(received, s.sent + layout.count[0]);
  // The gap at the very end of the faulty stream shows only when the refresh begins.
  EXPECT_LE(refreshLost, 1u);
  EXPECT_EQ(refreshDelivered, static_cast<int>(sent_.size() - before));
  EXPECT_EQ(PsnrBgr(last, viewer_.VisibleBgr(kWidth, kHeight), kWidth, kHeight),
            std::numeric_limits<double>::infinity());
}

std::string DupAll(const Layout& l) {
  std::string s;
  for (std::size_t i = 0; i < l.count[l.target]; ++i) s += At("dup", l.first[l.target] + i);
  return s;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, NetworkFaults,
    testing::Values(
        // Loss at random, in bursts: counted, never spliced.
        FaultCase{"Loss1PercentBursts", Random(0.01, 3, 0, 0, 0, 0, 0)},
        FaultCase{"Loss5PercentBursts", Random(0.05, 3, 0, 0, 0, 0, 0)},
        FaultCase{"Loss20PercentBursts", Random(0.20, 5, 0, 0, 0, 0, 0)},
        // Reordering the queue heals: within 20 datagrams and 100 ms.
        FaultCase{
            "ReorderWithinTheQueue", Random(0, 1, 0, 0.05, 6, 0, 0), {}, 1, 1000, true, {}, 0, 0},
        FaultCase{"JitterWithinTheQueue", Random(0, 1, 0, 0, 0, 5, 8), {}, 1, 1000, true, {}, 0, 0},
        // ...and beyond it, given up and counted.
        FaultCase{"ReorderBeyondTwentyDatagrams", Random(0, 1, 0, 0.03, 30, 0, 0)},
        FaultCase{"ReorderBeyond100Ms", Random(0, 1, 0, 0.05, 12, 0, 0), {}, 10, 1000},
        FaultCase{"ReorderWithTheQueueOff", Random(0, 1, 0, 0.05, 3, 0, 0), {}, 1, 1000, false},
        FaultCase{
            "Duplicates", Random(0, 1, 0.2, 0, 0, 0, 0), {}, 1, kFirstSequence, true, {}, 0, 0},
        // Exact faults on one message.
        FaultCase{"LostFirstDatagram",
                  {},
                  [](const Layout& l) { return At("drop", l.first[l.target]); },
                  1,
                  kFirstSequence,
                  true,
                  {},
                  1,
                  1},
        FaultCase{
            "LostLastDatagram",
            {},
            [](const Layout& l) { return At("drop", l.first[l.target] + l.count[l.target] - 1); },
            1,
            kFirstSequence,
            true,
            {},
            1,
            1},
        FaultCase{"SwappedInsideAMessage",
                  {},
                  [](const Layout& l) {
                    return At("swap", l.first[l.target], std::to_string(l.first[l.target] + 2));
                  },
                  1,
                  kFirstSequence,
                  true,
                  {},
                  0,
                  0},
        FaultCase{"WholeMessageTwice", {}, DupAll, 1, kFirstSequence, true, {}, 0, 0},
        FaultCase{"SequenceJumpOfThousands",
                  {},
                  [](const Layout& l) { return At("seqjump", l.first[l.target] + 1, "5000"); },
                  1,
                  kFirstSequence,
                  true,
                  {},
                  1,
                  1},
        FaultCase{"SsrcChangeMidMessage",
                  {},
                  [](const Layout& l) { return At("ssrc", l.first[l.target] + 1, "0xABCDEF01"); },
                  1,
                  kFirstSequence,
                  true,
                  {},
                  0,
                  1},
        FaultCase{"TruncatedPayload",
                  {},
                  [](const Layout& l) { return At("truncate", l.first[l.target] + 1, "40"); },
                  1,
                  kFirstSequence,
                  true,
                  {},
                  0,
                  1},
        FaultCase{"TruncatedHeader",
                  {},
                  [](const Layout& l) { return At("truncate", l.first[l.target] + 1, "7"); },
                  1,
                  kFirstSequence,
                  true,
                  {},
                  1,
                  1},
        FaultCase{"SenderKilledMidMessage",
                  {},
                  {},
                  1,
                  kFirstSequence,
                  true,
                  [](const Layout& l) { return l.first[l.target] + 1; },
                  0,
                  0}),
    [](const testing::TestParamInfo<FaultCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kwz_test
