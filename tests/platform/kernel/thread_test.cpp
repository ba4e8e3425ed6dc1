#include <gtest/gtest.h>

#include <sys/syscall.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>

#include "platform/clock.h"
#include "platform/kernel.h"
#include "platform/winerror.h"
#include "tests/support/Sanitizers.h"

namespace {

HANDLE Begin(_beginthreadex_proc_type start, void* argument) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, start, argument, 0, nullptr));
}

TEST(Thread, HandleSignalsWhenTheThreadReturnsAndKeepsItsCode) {
  std::atomic<bool> release{false};
  HANDLE thread = Begin(
      [](void* arg) -> unsigned {
        static_cast<std::atomic<bool>*>(arg)->wait(false);
        return 42;
      },
      &release);
  ASSERT_NE(thread, nullptr);
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_TIMEOUT);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  release = true;
  release.notify_all();
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(TerminateThread(thread, 9));  // a finished thread keeps its code
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, 42u);
  EXPECT_TRUE(CloseHandle(thread));
}

struct Flag {
  explicit Flag(std::atomic<bool>* f) : flag(f) {}
  ~Flag() { *flag = true; }
  std::atomic<bool>* flag;
};

TEST(Thread, EndThreadExSetsTheCodeAndUnwinds) {
  std::atomic<bool> unwound{false};
  HANDLE thread = Begin(
      [](void* arg) -> unsigned {
        Flag guard(static_cast<std::atomic<bool>*>(arg));
        _endthreadex(240);
      },
      &unwound);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 240u);
  EXPECT_TRUE(unwound.load());
  CloseHandle(thread);
}

TEST(Thread, ClosingTheHandleLeavesTheThreadRunning) {
  // Static: the thread may still touch them after this test has returned.
  static std::atomic<bool> go;
  static std::atomic<bool> done;
  go = false;
  done = false;
  HANDLE thread = Begin(
      [](void*) -> unsigned {
        go.wait(false);
        done = true;
        done.notify_all();
        return 0;
      },
      nullptr);
  ASSERT_TRUE(CloseHandle(thread));
  go = true;
  go.notify_all();
  done.wait(false);
  EXPECT_TRUE(done.load());
  // Without a handle the thread's exit cannot be awaited; LeakSanitizer's check at process exit
  // can deadlock with a thread exiting at the same moment, so give it time to go.
  Sleep(100);
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
    if (work->doing == Doing::kWaitingOnALock) {
      std::lock_guard<std::mutex> guard(work->lock);
    }
  }
}

// The system call a thread of this process is blocked in, from /proc: -1 while it runs.
long BlockedInSystemCall(DWORD tid) {
  std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/syscall");
  std::string first;
  in >> first;
  return first == "running" || first.empty() ? -1 : std::stol(first);
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
    DWORD code = 0;
    GetExitCodeThread(thread, &code);
    EXPECT_EQ(code, 7u);
    // Parked: blocked for good in the handler's sigsuspend, whatever it was doing before.
    // /proc tells no one when a thread blocks, so it is polled.
    bool parked = false;
    for (int i = 0; i < 5000 && !parked; ++i) {
      parked = BlockedInSystemCall(work->tid) == SYS_rt_sigsuspend;
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

TEST(Thread, SuspendedCreationIsRefused) {
  EXPECT_EQ(
      _beginthreadex(
          nullptr, 0, [](void*) -> unsigned { return 0; }, nullptr, CREATE_SUSPENDED, nullptr),
      0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(CriticalSection, IsRecursiveForItsOwnerAndExcludesOthers) {
  CRITICAL_SECTION cs;
  InitializeCriticalSection(&cs);
  EnterCriticalSection(&cs);
  EnterCriticalSection(&cs);
  std::thread other([&] { EXPECT_FALSE(TryEnterCriticalSection(&cs)); });
  other.join();
  LeaveCriticalSection(&cs);
  std::thread stillHeld([&] { EXPECT_FALSE(TryEnterCriticalSection(&cs)); });
  stillHeld.join();
  LeaveCriticalSection(&cs);
  std::thread free([&] {
    EXPECT_TRUE(TryEnterCriticalSection(&cs));
    LeaveCriticalSection(&cs);
  });
  free.join();
  DeleteCriticalSection(&cs);
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
  const DWORD after = monotonicMs();
  EXPECT_LE(tick - before, after - before);  // unsigned differences, as callers compute them
}

TEST(Clock, LocalTimeAgreesWithTheCRuntime) {
  SYSTEMTIME now;
  GetLocalTime(&now);
  std::time_t seconds = std::time(nullptr);
  std::tm parts{};
  ASSERT_EQ(localtime_s(&parts, &seconds), 0);
  EXPECT_EQ(now.wYear, parts.tm_year + 1900);
  EXPECT_GE(now.wMonth, 1);
  EXPECT_LE(now.wMonth, 12);
  EXPECT_LT(now.wMilliseconds, 1000);
  EXPECT_EQ(localtime_s(nullptr, &seconds), EINVAL);
  _timeb withMs;
  _ftime(&withMs);
  EXPECT_LT(withMs.millitm, 1000);
  EXPECT_LE(withMs.time - seconds, 1);
}

TEST(Interlocked, CountsAcrossThreads) {
  volatile LONG counter = 0;
  std::thread a([&] {
    for (int i = 0; i < 10000; ++i) InterlockedIncrement(&counter);
  });
  std::thread b([&] {
    for (int i = 0; i < 10000; ++i) InterlockedIncrement(&counter);
  });
  a.join();
  b.join();
  EXPECT_EQ(InterlockedDecrement(&counter), 19999);
}

}  // namespace
