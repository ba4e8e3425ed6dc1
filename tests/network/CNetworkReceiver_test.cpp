// Reassembly through a real loopback socket: the presenter's packetizer cuts messages, each
// scenario sends the datagrams in the order it needs, and the receiver puts messages back
// together. In-order streams are the engine's end-to-end tests; here are the orders, losses,
// wraps and sources they cannot arrange. The reorder queue runs on a virtual clock.
#include "network/CNetworkReceiver.h"

#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "network/NetworkErrors.h"
#include "runtime/NetResult.h"
#include "tests/network/ReceiverTestSupport.h"

namespace {

using kwz_test::Bytes;
using kwz_test::Datagrams;
using kwz_test::Message;

constexpr int kPacket = static_cast<int>(NET_PACKET);
constexpr int kStopped = static_cast<int>(NET_STOPPED);
constexpr int kDrained = static_cast<int>(NET_TIMEOUT);  // nothing more can be completed now
constexpr int kWait = static_cast<int>(CReorderQueue::kMaxWaitMs);

// One step of a scenario. Message tag t is sent with timestamp 100 × (t + 1).
struct Step {
  char op;
  int a = 0, b = 0, c = 0;
  std::vector<int> order = {};
};
// Message tag of length bytes, its datagrams in order (all when empty); Again sends the last
// message's datagrams once more.
const auto Send = [](int length, int tag, std::vector<int> order = {}) {
  return Step{'S', length, tag, 0, std::move(order)};
};
const auto Again = [](std::vector<int> order) { return Step{'A', 0, 0, 0, std::move(order)}; };
const auto Source = [](int first, int ssrc = 0x55667788) { return Step{'N', first, ssrc}; };
const auto Clock = [](int ms) { return Step{'C', ms}; };
// The next message is tag, flagged lost (-1: either way), with that extended number (0: any).
const auto Got = [](int tag, int lost = 0, int sequence = 0) {
  return Step{'R', tag, lost, sequence};
};
const auto Result = [](int code) { return Step{'E', code}; };
const auto Counters = [](int lost, int received) { return Step{'K', lost, received}; };
// An empty datagram, one of version 3, and a message of another payload type.
const auto Junk = [] { return Step{'J'}; };

struct Scenario {
  const char* name;
  std::vector<Step> steps;
  bool reorder = true;
  DWORD capacity = 8192;
};

class Reassembly : public testing::TestWithParam<Scenario> {};

TEST_P(Reassembly, DeliversWhatTheScenarioExpects) {
  kwz_test::LoopbackLink<CNetworkReceiver> link;
  link.receiver().SetReorderEnabled(GetParam().reorder);
  std::optional<presenter::RtpPacketizer> sender{std::in_place, kwz_test::PacketizerOptions()};
  CPacket packet(GetParam().capacity);
  std::map<int, Bytes> sent;
  std::vector<Bytes> cut;
  auto next = [&] {
    int result;
    do {
      packet.m_bPayloadType = 113;
      result = link.receiver().ReceiveMessage(&packet, 0);
    } while (result == RTPERR_NO_RTP_DATA);
    return result;
  };
  for (std::size_t i = 0; i < GetParam().steps.size(); ++i) {
    const Step& s = GetParam().steps[i];
    SCOPED_TRACE(testing::Message() << "step " << i << " " << s.op);
    if (s.op == 'S') {
      sent[s.b] = Message(s.a, s.b);
      cut = Datagrams(*sender, sent[s.b], 100 * (s.b + 1));
      if (s.order.empty()) {
        link.SendAll(cut);
      } else {
        link.SendInOrder(cut, s.order);
      }
    } else if (s.op == 'A') {
      link.SendInOrder(cut, s.order);
    } else if (s.op == 'N') {
      sender.emplace(kwz_test::PacketizerOptions(static_cast<std::uint16_t>(s.a), s.b));
    } else if (s.op == 'J') {
      link.Send(Bytes{});
      link.Send(Bytes(12, 0xFF));
      presenter::RtpPacketizer::Options options = kwz_test::PacketizerOptions();
      options.payloadType = 96;
      presenter::RtpPacketizer audio(options);
      link.SendAll(Datagrams(audio, Message(1500, 9), 100));
    } else if (s.op == 'C') {
      kwz_test::AdvanceClock(s.a);
    } else if (s.op == 'E') {
      EXPECT_EQ(next(), s.a);
    } else if (s.op == 'K') {
      DWORD lost = 0, received = 0;
      link.receiver().TakeCounters(&lost, &received);
      EXPECT_EQ(lost, static_cast<DWORD>(s.a)) << "lost";
      EXPECT_EQ(received, static_cast<DWORD>(s.b)) << "received";
    } else {
      ASSERT_EQ(next(), kPacket);
      const Bytes& message = sent[s.a];
      EXPECT_EQ(Bytes(packet.m_pData, packet.m_pData + packet.m_dwLength), message);
      if (s.b >= 0) {
        EXPECT_EQ(packet.m_dwLost, static_cast<DWORD>(s.b));
      }
      if (s.c != 0) {
        EXPECT_EQ(packet.m_dwSequence, static_cast<DWORD>(s.c));
      }
      // The last datagram's timestamp, odd when the message took more than one.
      EXPECT_EQ(packet.m_dwTimestamp, 100u * (s.a + 1) | (message.size() > 1000 ? 1 : 0));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Reordering, Reassembly,
    testing::Values(
        // 1, 3, 2 without the queue: the next message is flagged (the queue heals it below).
        Scenario{"OneThreeTwoOff",
                 {Send(10, 0), Got(0), Send(2500, 1, {0, 2, 1}), Send(1500, 2), Got(2, 1),
                  Counters(1, 6), Result(kDrained)},
                 false},
        // Nothing is expected yet, so nothing is queued: the second datagram, first to arrive,
        // is dropped, and the start that follows begins a message that never completes.
        Scenario{"BeforeTheFirstMessageArrivalOrderHolds",
                 {Send(1500, 1, {1, 0}), Send(500, 2), Result(kDrained), Clock(kWait), Got(2, 1),
                  Counters(1, 3)}},
        Scenario{"MissingDatagramIsGivenUpAfterTheWait",
                 {Send(10, 0), Got(0), Send(2500, 1, {0, 2}), Send(1500, 2), Result(kDrained),
                  Clock(kWait - 1), Result(kDrained), Clock(1), Got(2, 1), Counters(1, 5)}},
        // Every datagram again after the message is complete: dropped and never counted.
        Scenario{"LateDuplicatesAreDropped",
                 {Send(2500, 1), Again({1, 2, 0}), Send(800, 2), Got(1), Got(2), Result(kDrained),
                  Counters(0, 4), Counters(0, 0)}},
        Scenario{"SequenceWrapsAt65535AndReorderingHealsAcrossIt",
                 {Source(65533, 0x11223344), Send(0, 0), Send(3500, 1, {0, 1, 3, 2}),
                  Send(2500, 2, {0, 2, 1}), Got(0, 0, 65533), Got(1, 0, 65537), Got(2, 0, 65540),
                  Counters(0, 8)}},
        // A change of source is not a loss.
        Scenario{"NewSourceTakesOverAtItsStartDatagram",
                 {Send(2500, 1, {0, 1}), Source(5000), Send(2500, 2), Got(2), Counters(0, 5)}},
        // The new source's datagrams are not the one expected from the old source, so they wait
        // in the queue until they are given up.
        Scenario{"NewSourceMidMessageWaitsForItsNextStart",
                 {Send(10, 0), Got(0), Send(2500, 1, {0, 1}), Source(5000), Send(2500, 2, {1, 2}),
                  Send(1500, 3), Result(kDrained), Clock(kWait), Got(3, -1), Result(kDrained)}},
        // The rest of the refused message is read and dropped without moving the expected
        // number, so the next start waits in the queue until it is given up.
        Scenario{"MessageLargerThanThePacketIsRefused",
                 {Send(3500, 1), Send(2500, 2), Result(static_cast<int>(NET_TOO_LARGE)),
                  Result(kDrained), Clock(kWait), Got(2), Counters(1, 7)},
                 true,
                 2500},
        Scenario{"PartialMessageSurvivesAnEndedCall",
                 {Send(2500, 1, {0, 1}), Result(kDrained), Again({2}), Got(1)}},
        // Skipped and never counted.
        Scenario{"DatagramsNotOfTheScreenAreSkipped",
                 {Junk(), Source(102, 0x11223344), Send(1500, 1), Got(1), Counters(0, 2)}}),
    [](const testing::TestParamInfo<Scenario>& info) { return std::string(info.param.name); });

// --- The wait itself ---

// Time-out, stop, a failed wait, and a buffer too small for any datagram. A flood keeps the
// network event signalled for good; the stop must still be seen before the next datagram's
// work, not when the socket runs dry.
TEST(WaitAndRead, TimeOutStopFailedWaitAndShortBuffer) {
  kwz_test::LoopbackLink<CNetworkReceiver> link;
  BYTE buffer[65536];
  DWORD length = sizeof buffer;
  RtpPacketInfo info;
  EXPECT_EQ(link.receiver().WaitAndRead(buffer, &length, &info, 0), static_cast<int>(NET_TIMEOUT));
  presenter::RtpPacketizer sender(kwz_test::PacketizerOptions());
  link.SendAll(Datagrams(sender, Message(50, 1), 100));
  link.Send(Message(50, 2));
  SetEvent(link.stop());
  EXPECT_EQ(link.receiver().WaitAndRead(buffer, &length, &info, 1000), kStopped);
  EXPECT_EQ(link.receiver().WaitAndRead(buffer, &length, &info, 1000), kStopped);
  ResetEvent(link.stop());
  EXPECT_EQ(link.receiver().WaitAndRead(buffer, &length, &info, 1000), kPacket);
  length = 100;
  EXPECT_EQ(link.receiver().WaitAndRead(buffer, &length, &info, 1000), RTPERR_NO_RTP_DATA);

  // A stop event that is no event makes the wait itself fail.
  kwz_test::LoopbackLink<CNetworkReceiver>::Exposed broken;
  ASSERT_EQ(broken.Open(0, "127.0.0.1", reinterpret_cast<HANDLE>(0x7777)), 0);
  EXPECT_EQ(broken.WaitAndRead(buffer, &length, &info, 0), static_cast<int>(NET_WAIT_FAILED));
}

}  // namespace
