// Reassembly through a real loopback socket: the presenter's packetizer cuts messages, the test
// sends the datagrams in the order a scenario needs, and the receiver puts messages back
// together. The stop event is set while a scenario reads, so a call that has used up what was
// sent ends with NET_STOPPED instead of waiting; the reorder queue runs on a virtual clock.
#include "network/CNetworkReceiver.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>
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

class Reassembly : public testing::Test {
 protected:
  CNetworkReceiver& receiver() { return link_.receiver(); }
  // The next message from what was sent so far, or NET_TIMEOUT when none can be completed.
  int Next() {
    packet_.m_bPayloadType = 113;
    return receiver().ReceiveMessage(&packet_, 0);
  }
  Bytes Delivered() const { return Bytes(packet_.m_pData, packet_.m_pData + packet_.m_dwLength); }
  // The next message is message, flagged with lost when a datagram before it went missing.
  void ExpectNext(const Bytes& message, DWORD lost = 0) {
    ASSERT_EQ(Next(), kPacket);
    EXPECT_EQ(Delivered(), message);
    EXPECT_EQ(packet_.m_dwLost, lost);
  }
  // Sends message as the current source cuts it, its datagrams in order (all when empty).
  Bytes SendMessage(std::size_t length, std::uint32_t tag, const std::vector<int>& order = {}) {
    const Bytes message = Message(length, tag);
    const auto cut = Datagrams(*sender_, message, 100 * (tag + 1));
    if (order.empty()) {
      link_.SendAll(cut);
    } else {
      link_.SendInOrder(cut, order);
    }
    return message;
  }
  void ExpectCounters(DWORD lost, DWORD received) {
    DWORD l = 0, r = 0;
    receiver().TakeCounters(&l, &r);
    EXPECT_EQ(l, lost) << "lost";
    EXPECT_EQ(r, received) << "received";
  }

  kwz_test::LoopbackLink<CNetworkReceiver> link_;
  std::optional<presenter::RtpPacketizer> sender_{std::in_place, kwz_test::PacketizerOptions()};
  CPacket packet_{8192};
};

TEST_F(Reassembly, InOrderMessagesOfOneOrMoreDatagrams) {
  const std::vector<Bytes> messages = {Message(2500, 1), Message(1000, 2), Message(0, 3),
                                       Message(1, 4)};
  std::size_t datagrams = 0;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    auto cut = Datagrams(*sender_, messages[i], 1000 * static_cast<DWORD>(i + 1));
    datagrams += cut.size();
    link_.SendAll(cut);
  }
  ASSERT_EQ(datagrams, 6u);
  DWORD lastSequence = 99;
  for (std::size_t i = 0; i < messages.size(); ++i) {
    ASSERT_EQ(Next(), kPacket) << i;
    EXPECT_EQ(Delivered(), messages[i]) << i;
    EXPECT_EQ(packet_.m_dwLost, 0u);
    EXPECT_EQ(packet_.m_bPayloadType, 113);
    // The message carries its last datagram's timestamp and extended number.
    EXPECT_EQ(packet_.m_dwTimestamp, 1000 * (i + 1) | (i == 0 ? 1 : 0));
    EXPECT_EQ(packet_.m_dwSequence, lastSequence + (i == 0 ? 3 : 1));
    lastSequence = packet_.m_dwSequence;
  }
  EXPECT_EQ(Next(), kDrained);
  ExpectCounters(0, 6);
  ExpectCounters(0, 0);  // the read cleared them
}

// 1, 3, 2 with and without the reorder queue.
class OneThreeTwo : public Reassembly, public testing::WithParamInterface<bool> {};

TEST_P(OneThreeTwo, HealedWithReorderingElseLostFlagOnTheNext) {
  const bool reordering = GetParam();
  receiver().SetReorderEnabled(reordering);
  ExpectNext(SendMessage(10, 0));  // starts the follow
  const Bytes first = SendMessage(2500, 1, {0, 2, 1});
  const Bytes second = SendMessage(1500, 2);
  if (reordering) ExpectNext(first);
  ExpectNext(second, reordering ? 0 : 1);
  ExpectCounters(reordering ? 0 : 1, 6);
  EXPECT_EQ(Next(), kDrained);
}

INSTANTIATE_TEST_SUITE_P(Reordering, OneThreeTwo, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                           return info.param ? "On" : "Off";
                         });

TEST_F(Reassembly, BeforeTheFirstMessageDatagramsKeepArrivalOrder) {
  // Nothing is expected yet, so nothing is queued: the second datagram, first to arrive, is
  // dropped, and the start that follows begins a message that never completes.
  SendMessage(1500, 1, {1, 0});
  const Bytes second = SendMessage(500, 2);
  EXPECT_EQ(Next(), kDrained);  // the next message waits behind the missing datagram
  kwz_test::AdvanceClock(CReorderQueue::kMaxWaitMs);
  ExpectNext(second, 1);
  ExpectCounters(1, 3);
}

TEST_F(Reassembly, MissingDatagramIsGivenUpAfterTheWait) {
  ExpectNext(SendMessage(10, 0));
  SendMessage(2500, 1, {0, 2});
  const Bytes second = SendMessage(1500, 2);
  EXPECT_EQ(Next(), kDrained);  // three datagrams wait for the missing one
  kwz_test::AdvanceClock(CReorderQueue::kMaxWaitMs - 1);
  EXPECT_EQ(Next(), kDrained);
  kwz_test::AdvanceClock(1);
  ExpectNext(second, 1);
  ExpectCounters(1, 5);
}

TEST_F(Reassembly, LateDuplicatesAreDropped) {
  const Bytes first = Message(2500, 1);
  const auto cut = Datagrams(*sender_, first, 100);
  link_.SendAll(cut);
  link_.SendInOrder(cut, {1, 2, 0});  // every one again, after the message is complete
  const Bytes second = SendMessage(800, 2);
  ExpectNext(first);
  ExpectNext(second);
  EXPECT_EQ(Next(), kDrained);
  ExpectCounters(0, 4);  // the duplicates never count
}

TEST_F(Reassembly, SequenceWrapsAt65535AndReorderingHealsAcrossIt) {
  sender_.emplace(kwz_test::PacketizerOptions(65533));
  SendMessage(10, 0);                                       // 65533
  const Bytes across = SendMessage(3500, 1, {0, 1, 3, 2});  // 65534, 65535, 1, 0
  const Bytes reordered = SendMessage(2500, 2, {0, 2, 1});  // 2, 4, 3
  ASSERT_EQ(Next(), kPacket);
  EXPECT_EQ(packet_.m_dwSequence, 65533u);
  ExpectNext(across);
  EXPECT_EQ(packet_.m_dwSequence, 65537u);
  ExpectNext(reordered);
  EXPECT_EQ(packet_.m_dwSequence, 65540u);
  ExpectCounters(0, 8);
}

TEST_F(Reassembly, NewSourceTakesOverAtItsStartDatagram) {
  SendMessage(2500, 1, {0, 1});  // never completed
  sender_.emplace(kwz_test::PacketizerOptions(5000, 0x55667788));
  ExpectNext(SendMessage(2500, 2));  // a change of source is not a loss
  ExpectCounters(0, 5);
}

TEST_F(Reassembly, NewSourceMidMessageWaitsForItsNextStart) {
  ExpectNext(SendMessage(10, 0));
  SendMessage(2500, 1, {0, 1});
  sender_.emplace(kwz_test::PacketizerOptions(5000, 0x55667788));
  SendMessage(2500, 2, {1, 2});  // its start is missing
  const Bytes next = SendMessage(1500, 3);
  // The new source's datagrams are not the one expected from the old source, so they wait in
  // the queue until they are given up.
  EXPECT_EQ(Next(), kDrained);
  kwz_test::AdvanceClock(CReorderQueue::kMaxWaitMs);
  ASSERT_EQ(Next(), kPacket);
  EXPECT_EQ(Delivered(), next);
  EXPECT_EQ(Next(), kDrained);
}

TEST_F(Reassembly, MessageLargerThanThePacketIsRefused) {
  CPacket small(2500);
  const auto oversize = Datagrams(*sender_, Message(3500, 1), 100);  // four datagrams
  const Bytes fits = Message(2500, 2);
  link_.SendAll(oversize);
  link_.SendAll(Datagrams(*sender_, fits, 200));
  small.m_bPayloadType = 113;
  EXPECT_EQ(receiver().ReceiveMessage(&small, 0), static_cast<int>(NET_TOO_LARGE));
  // The rest of the refused message is dropped without moving the expected number, so the
  // next start waits in the queue until it is given up.
  EXPECT_EQ(receiver().ReceiveMessage(&small, 0), kDrained);
  kwz_test::AdvanceClock(CReorderQueue::kMaxWaitMs);
  ASSERT_EQ(receiver().ReceiveMessage(&small, 0), kPacket);
  EXPECT_EQ(Bytes(small.m_pData, small.m_pData + small.m_dwLength), fits);
  EXPECT_EQ(small.m_dwLost, 0u);
  // The rest of the oversize message was read and dropped while waiting for a start.
  ExpectCounters(1, 7);
}

// Empty, malformed and other payload types' datagrams are skipped and never counted.
TEST_F(Reassembly, DatagramsNotOfTheScreenAreSkipped) {
  link_.Send(Bytes{});          // empty
  link_.Send(Bytes(12, 0xFF));  // version 3
  presenter::RtpPacketizer::Options options = kwz_test::PacketizerOptions();
  options.payloadType = 96;
  presenter::RtpPacketizer audio(options);
  link_.SendAll(Datagrams(audio, Message(1500, 9), 100));
  sender_.emplace(kwz_test::PacketizerOptions(102));
  const Bytes message = SendMessage(1500, 1);
  int result;
  do {
    result = Next();
  } while (result == RTPERR_NO_RTP_DATA);
  ASSERT_EQ(result, kPacket);
  EXPECT_EQ(Delivered(), message);
  ExpectCounters(0, 2);
}

TEST_F(Reassembly, PartialMessageSurvivesAnEndedCall) {
  const Bytes message = Message(2500, 1);
  const auto cut = Datagrams(*sender_, message, 100);
  link_.SendInOrder(cut, {0, 1});
  EXPECT_EQ(Next(), kDrained);
  link_.Send(cut[2]);
  ExpectNext(message);
}

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

TEST(WaitAndRead, StopFromAnotherThreadEndsAPendingReceive) {
  kwz_test::LoopbackLink<CNetworkReceiver> link;
  CPacket packet(4096);
  packet.m_bPayloadType = 113;
  // Whether the stop comes before or during the wait, the receive ends stopped.
  std::jthread stopper([&] { SetEvent(link.stop()); });
  EXPECT_EQ(link.receiver().ReceiveMessage(&packet, 60000), kStopped);
}

}  // namespace
