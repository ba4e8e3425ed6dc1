#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

using Clock = std::chrono::steady_clock;

long ElapsedMs(Clock::time_point start) {
  return static_cast<long>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

struct EventCase {
  const char* name;
  BOOL manualReset;
  BOOL initialState;
  bool afterFirstWait;  // still signalled after one successful wait?
};

class EventSemantics : public ::testing::TestWithParam<EventCase> {};

TEST_P(EventSemantics, SignalIsConsumedOnlyByAutoReset) {
  const EventCase& c = GetParam();
  HANDLE event = CreateEventW(nullptr, c.manualReset, c.initialState, nullptr);
  ASSERT_NE(event, nullptr);
  if (!c.initialState) {
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), c.afterFirstWait ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

INSTANTIATE_TEST_SUITE_P(Kinds, EventSemantics,
                         ::testing::Values(EventCase{"auto", FALSE, FALSE, false},
                                           EventCase{"autoInitiallySet", FALSE, TRUE, false},
                                           EventCase{"manual", TRUE, FALSE, true},
                                           EventCase{"manualInitiallySet", TRUE, TRUE, true}),
                         [](const auto& info) { return info.param.name; });

TEST(Event, SetTwiceWakesOneAutoResetWaiter) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  SetEvent(event);
  SetEvent(event);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  CloseHandle(event);
}

TEST(Event, TimeOutNeverEndsEarly) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  auto start = Clock::now();
  EXPECT_EQ(WaitForSingleObject(event, 60), WAIT_TIMEOUT);
  EXPECT_GE(ElapsedMs(start), 60);
  CloseHandle(event);
}

TEST(Event, SetFromAnotherThreadWakesInfiniteWait) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::thread setter([event] {
    Sleep(20);
    SetEvent(event);
  });
  EXPECT_EQ(WaitForSingleObject(event, INFINITE), WAIT_OBJECT_0);
  setter.join();
  CloseHandle(event);
}

TEST(Event, EachAutoResetSignalReleasesExactlyOneOfSeveralWaiters) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, 3000) == WAIT_OBJECT_0) ++woken;
    });
  }
  Sleep(50);
  SetEvent(event);
  Sleep(100);
  EXPECT_EQ(woken.load(), 1);
  SetEvent(event);
  for (int i = 0; i < 200 && woken.load() < 2; ++i) Sleep(5);
  EXPECT_EQ(woken.load(), 2);
  SetEvent(event);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 3);
  CloseHandle(event);
}

TEST(Event, ManualResetReleasesEveryWaiter) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (WaitForSingleObject(event, 3000) == WAIT_OBJECT_0) ++woken;
    });
  }
  Sleep(20);
  SetEvent(event);
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 3);
  CloseHandle(event);
}

// Broken handles must fail, never touch freed memory.
TEST(Event, ClosedOrBogusHandlesFail) {
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(CloseHandle(event));
  for (HANDLE bad : {event, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(0x1235),
                     INVALID_HANDLE_VALUE}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 10), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(bad));
    EXPECT_FALSE(ResetEvent(bad));
    EXPECT_FALSE(CloseHandle(bad));
  }
}

TEST(Event, HandleOfAnotherKindIsNotAnEvent) {
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(SetEvent(mutex));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(mutex);
}

TEST(Event, CloseWhileAnotherThreadWaitsIsSafe) {
  HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::thread waiter([event] { EXPECT_EQ(WaitForSingleObject(event, 200), WAIT_TIMEOUT); });
  Sleep(20);
  EXPECT_TRUE(CloseHandle(event));
  waiter.join();
}

TEST(Event, NamedEventsAreRefused) {
  EXPECT_EQ(CreateEventW(nullptr, FALSE, FALSE, u"name"), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_NOT_SUPPORTED);
}

TEST(Event, ClosingReleasesDescriptors) {
  int before = kwz_test::OpenDescriptorCount();
  for (int i = 0; i < 1000; ++i) {
    HANDLE event = CreateEventW(nullptr, i % 2, FALSE, nullptr);
    ASSERT_NE(event, nullptr);
    SetEvent(event);
    CloseHandle(event);
  }
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
}

}  // namespace
