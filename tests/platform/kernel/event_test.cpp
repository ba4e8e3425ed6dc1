#include <gtest/gtest.h>

#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "tests/support/ChildProcess.h"

namespace {

struct EventCase {
  const char* name;
  BOOL manualReset;
  BOOL initialState;
};

class EventSemantics : public ::testing::TestWithParam<EventCase> {};

// A wait consumes the signal of an auto-reset event only; a second Set adds nothing.
TEST_P(EventSemantics, SignalIsConsumedOnlyByAutoReset) {
  const EventCase& c = GetParam();
  HANDLE event = CreateEventW(nullptr, c.manualReset, c.initialState, nullptr);
  ASSERT_NE(event, nullptr);
  if (!c.initialState) {
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
    ASSERT_TRUE(SetEvent(event));
    ASSERT_TRUE(SetEvent(event));
  }
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
  EXPECT_EQ(WaitForSingleObject(event, 0), c.manualReset ? WAIT_OBJECT_0 : WAIT_TIMEOUT);
  ASSERT_TRUE(ResetEvent(event));
  EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT);
  EXPECT_TRUE(CloseHandle(event));
}

INSTANTIATE_TEST_SUITE_P(Kinds, EventSemantics,
                         ::testing::Values(EventCase{"auto", FALSE, FALSE},
                                           EventCase{"manualInitiallySet", TRUE, TRUE}),
                         [](const auto& info) { return info.param.name; });

// Waiters on other threads: each auto-reset Set releases exactly one of them (the signal is
// gone once one woke), a manual-reset Set releases them all.
TEST(Event, SetReleasesOneAutoResetWaiterOrEveryManualResetWaiter) {
  for (const BOOL manual : {FALSE, TRUE}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    HANDLE event = CreateEventW(nullptr, manual, FALSE, nullptr);
    std::mutex lock;
    std::condition_variable changed;
    int woken = 0;
    std::vector<DWORD> results(3, WAIT_FAILED);
    {
      std::vector<std::jthread> waiters;
      for (DWORD& result : results) {
        waiters.emplace_back([&, out = &result] {
          *out = WaitForSingleObject(event, 30000);
          std::lock_guard<std::mutex> guard(lock);
          ++woken;
          changed.notify_all();
        });
      }
      for (int set = 1; set <= (manual ? 1 : 3); ++set) {
        EXPECT_TRUE(SetEvent(event));
        std::unique_lock<std::mutex> held(lock);
        changed.wait(held, [&] { return woken >= (manual ? 3 : set); });
        if (!manual) {
          EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_TIMEOUT) << "set " << set;
        }
      }
    }
    EXPECT_EQ(results, std::vector<DWORD>(3, WAIT_OBJECT_0));
    CloseHandle(event);
  }
}

// Broken handles and handles of another kind fail, never touch freed memory; closing gives the
// descriptors back, also while another thread waits (the sanitizers check), whose wait ends
// with a time-out or, when the close came first, a failure.
TEST(Event, BadHandlesFailAndClosingIsSafeAndGivesDescriptorsBack) {
  const int before = kwz_test::OpenDescriptorCount();
  HANDLE event = CreateEventW(nullptr, FALSE, FALSE, nullptr);
  ASSERT_TRUE(SetEvent(event));
  ASSERT_TRUE(CloseHandle(event));
  for (HANDLE bad : {event, static_cast<HANDLE>(nullptr), reinterpret_cast<HANDLE>(0x1235),
                     INVALID_HANDLE_VALUE}) {
    SetLastError(0);
    EXPECT_EQ(WaitForSingleObject(bad, 0), WAIT_FAILED);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_FALSE(SetEvent(bad));
    EXPECT_FALSE(ResetEvent(bad));
    EXPECT_FALSE(CloseHandle(bad));
  }
  HANDLE mutex = CreateMutexA(nullptr, FALSE, nullptr);
  EXPECT_FALSE(SetEvent(mutex));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
  CloseHandle(mutex);

  event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  DWORD result = 0;
  {
    std::jthread waiter([&] { result = WaitForSingleObject(event, 50); });
    EXPECT_TRUE(CloseHandle(event));
  }
  EXPECT_TRUE(result == WAIT_TIMEOUT || result == WAIT_FAILED) << result;
  EXPECT_EQ(kwz_test::OpenDescriptorCount(), before);
}

}  // namespace
