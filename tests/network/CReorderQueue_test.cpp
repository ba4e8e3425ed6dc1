// The reorder queue on a virtual clock: order, the late window, and the two ways a missing
// datagram is given up (the limit and the wait).
#include "network/CReorderQueue.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

DWORD g_now = 0;
DWORD Now() {
  return g_now;
}

class ReorderQueue : public testing::Test {
 protected:
  void SetUp() override { g_now = 5000; }

  bool Insert(DWORD extended, DWORD expected, BYTE fill = 0x5A) {
    payloads_.emplace_back(3, fill);
    RtpPacketInfo info{};
    info.extendedSequence = extended;
    info.sequence = static_cast<WORD>(extended);
    info.payload = payloads_.back().data();
    info.payloadLength = 3;
    return queue_.Insert(info, expected);
  }
  CReorderQueue queue_{&Now};
  std::vector<std::vector<BYTE>> payloads_;
};

TEST_F(ReorderQueue, WaitSurvivesTheClockWrapping) {
  g_now = 0xFFFFFFF0;
  ASSERT_TRUE(Insert(103, 101));
  g_now += 99;  // wraps past 0
  EXPECT_EQ(queue_.Take(101), nullptr);
  g_now += 1;
  EXPECT_NE(queue_.Take(101), nullptr);
}

TEST_F(ReorderQueue, FullQueueReleasesItsFront) {
  for (DWORD e = 200; e < 200 + CReorderQueue::kLimit - 1; ++e) ASSERT_TRUE(Insert(e, 150));
  EXPECT_EQ(queue_.Take(150), nullptr);
  ASSERT_TRUE(Insert(300, 150));
  auto front = queue_.Take(150);
  ASSERT_NE(front, nullptr);
  EXPECT_EQ(front->info.extendedSequence, 200u);
  EXPECT_EQ(queue_.Take(150), nullptr);  // back below the limit
}

// The 19 numbers just below the expected one are late duplicates; the twentieth back is not.
struct LateCase {
  DWORD expected;
  DWORD extended;
  bool queued;
};

class LateWindow : public ReorderQueue, public testing::WithParamInterface<LateCase> {};

TEST_P(LateWindow, DropsOnlyTheNineteenJustBelow) {
  EXPECT_EQ(Insert(GetParam().extended, GetParam().expected), GetParam().queued);
  EXPECT_EQ(queue_.Size(), GetParam().queued ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(Numbers, LateWindow,
                         testing::Values(LateCase{100, 99, false}, LateCase{100, 81, false},
                                         LateCase{100, 80, true}, LateCase{100, 101, true},
                                         // Below 20 the window would wrap and is empty.
                                         LateCase{10, 9, true}, LateCase{65540, 65536, false}));

TEST_F(ReorderQueue, SecondCopyOfAQueuedDatagramIsDropped) {
  ASSERT_TRUE(Insert(103, 101));
  EXPECT_FALSE(Insert(103, 101));
  EXPECT_EQ(queue_.Size(), 1u);
}

TEST_F(ReorderQueue, EmptyPayloadIsQueuedAndClearFreesEverything) {
  RtpPacketInfo info{};
  info.extendedSequence = 9;
  ASSERT_TRUE(queue_.Insert(info, 8));
  auto record = queue_.Take(9);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->info.payloadLength, 0u);

  for (DWORD e = 10; e < 15; ++e) Insert(e, 1);
  queue_.Clear();
  EXPECT_EQ(queue_.Size(), 0u);
  g_now += 1000;
  EXPECT_EQ(queue_.Take(1), nullptr);
}

}  // namespace
