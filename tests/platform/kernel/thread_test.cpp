// Threads where CMediaThread's tests (start, return through _endthreadex, giving up on a body
// that never returns) do not reach: what TerminateThread leaves of a thread whatever it was
// doing, and the tick.
#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <time.h>

#include <atomic>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>

#include "platform/clock.h"
#include "platform/kernel.h"
#include "tests/support/Sanitizers.h"

namespace {

HANDLE Begin(_beginthreadex_proc_type start, void* argument) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, start, argument, 0, nullptr));
}

// What a thread was doing when it was terminated: TerminateThread must leave it executing
// nothing more of the program in every case, so that its owner may free what it used.
enum class Doing { kSleeping, kSpinning, kWaitingOnALock };

struct Work {
  explicit Work(Doing d) : doing(d) {}
  const Doing doing;
  std::atomic<DWORD> tid{0};
  std::atomic<unsigned long> passes{0};
  std::mutex lock;  // held by the test in kWaitingOnALock
};

unsigned DoWork(void* arg) {
  auto* work = static_cast<Work*>(arg);
  work->tid = GetCurrentThreadId();
  for (;;) {
    work->passes.fetch_add(1);
    work->passes.notify_all();
    if (work->doing == Doing::kSleeping) Sleep(10);
    if (work->doing == Doing::kWaitingOnALock) std::lock_guard<std::mutex> guard(work->lock);
  }
}

TEST(Thread, TerminateParksTheThreadWhateverItDoes) {
  KWZ_SKIP_UNDER_TSAN("signals reach a thread only at the sanitizer's own points");
  for (Doing doing : {Doing::kSleeping, Doing::kSpinning, Doing::kWaitingOnALock}) {
    SCOPED_TRACE(static_cast<int>(doing));
    auto* work = new Work(doing);
    std::unique_lock<std::mutex> held(work->lock, std::defer_lock);
    if (doing == Doing::kWaitingOnALock) held.lock();
    HANDLE thread = Begin(DoWork, work);
    ASSERT_NE(thread, nullptr);
    work->passes.wait(0);
    ASSERT_TRUE(TerminateThread(thread, 7));
    EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
    // Parked: blocked for good in the handler's sigsuspend, whatever it was doing before.
    // /proc tells no one when a thread blocks, so its system call is polled.
    bool parked = false;
    for (int i = 0; i < 5000 && !parked; ++i) {
      std::ifstream in("/proc/self/task/" + std::to_string(work->tid) + "/syscall");
      std::string call;
      in >> call;
      parked = call == std::to_string(SYS_rt_sigsuspend);
      if (!parked) Sleep(1);
    }
    EXPECT_TRUE(parked);
    // The owner frees what the thread used; AddressSanitizer would report any later touch.
    if (held.owns_lock()) held.unlock();
    held.release();
    delete work;
    CloseHandle(thread);
  }
}

// The tick is the monotonic clock in milliseconds, cut to 32 bits as callers expect it.
TEST(Clock, TickFollowsTheMonotonicClock) {
  auto monotonicMs = [] {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<DWORD>(static_cast<std::uint64_t>(now.tv_sec) * 1000 +
                              now.tv_nsec / 1000000);
  };
  const DWORD before = monotonicMs();
  const DWORD tick = timeGetTime();
  EXPECT_LE(tick - before, monotonicMs() - before);  // unsigned differences, as callers compute
}

}  // namespace
