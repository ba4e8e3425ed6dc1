#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <stdexcept>
#include <thread>

#include "platform/clock.h"
#include "platform/kernel.h"
#include "platform/seh.h"
#include "platform/winerror.h"
#include "tests/support/Sanitizers.h"

namespace {

HANDLE Begin(_beginthreadex_proc_type start, void* argument) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, start, argument, 0, nullptr));
}

TEST(Thread, HandleSignalsWhenTheThreadReturnsWithItsCode) {
  std::atomic<bool> release{false};
  HANDLE thread = Begin(
      [](void* arg) -> unsigned {
        auto* flag = static_cast<std::atomic<bool>*>(arg);
        while (!flag->load()) Sleep(1);
        return 42;
      },
      &release);
  ASSERT_NE(thread, nullptr);
  DWORD code = 0;
  EXPECT_EQ(WaitForSingleObject(thread, 20), WAIT_TIMEOUT);
  ASSERT_TRUE(GetExitCodeThread(thread, &code));
  EXPECT_EQ(code, STILL_ACTIVE);
  release = true;
  EXPECT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
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
  // Static: the thread reads the count once more after its last increment, possibly after this
  // test has returned, so the count must outlive the test's frame.
  static std::atomic<int> passes;
  passes = 0;
  HANDLE thread = Begin(
      [](void* arg) -> unsigned {
        auto* n = static_cast<std::atomic<int>*>(arg);
        while (n->load() < 5) {
          ++*n;
          Sleep(5);
        }
        return 0;
      },
      &passes);
  CloseHandle(thread);
  for (int i = 0; i < 400 && passes.load() < 5; ++i) Sleep(5);
  EXPECT_EQ(passes.load(), 5);
  // Let the thread end before the process does: LeakSanitizer's check at exit can deadlock
  // with a thread that is exiting at the same moment.
  Sleep(100);
}

TEST(Thread, TerminateEndsAThreadThatWaits) {
  KWZ_SKIP_UNDER_TSAN("thread cancellation");
  std::atomic<int> passes{0};
  HANDLE thread = Begin(
      [](void* arg) -> unsigned {
        for (;;) {
          ++*static_cast<std::atomic<int>*>(arg);
          Sleep(10);
        }
      },
      &passes);
  while (passes.load() == 0) Sleep(1);
  ASSERT_TRUE(TerminateThread(thread, 7));
  EXPECT_EQ(WaitForSingleObject(thread, 0), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 7u);
  int after = passes.load();
  Sleep(50);
  EXPECT_LE(passes.load(), after + 1);  // at most the pass that was under way
  CloseHandle(thread);
}

TEST(Thread, TerminatingAFinishedThreadKeepsItsCode) {
  HANDLE thread = Begin([](void*) -> unsigned { return 3; }, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  EXPECT_TRUE(TerminateThread(thread, 9));
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 3u);
  CloseHandle(thread);
}

TEST(Thread, SuspendedCreationIsRefused) {
  EXPECT_EQ(
      _beginthreadex(
          nullptr, 0, [](void*) -> unsigned { return 0; }, nullptr, CREATE_SUSPENDED, nullptr),
      0u);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_PARAMETER);
}

TEST(ExceptionHandler, ContainsCppExceptionsWithTheirCode) {
  DWORD code = 0;
  EXPECT_TRUE(
      CallWithExceptionHandler([](void*) { throw std::runtime_error("x"); }, nullptr, &code));
  EXPECT_EQ(code, EXCEPTION_CPP);
  code = 0;
  EXPECT_TRUE(CallWithExceptionHandler([](void*) { throw 5; }, nullptr, &code));
  EXPECT_EQ(code, EXCEPTION_CPP);
  code = 0;
  EXPECT_FALSE(CallWithExceptionHandler([](void*) {}, nullptr, &code));
  EXPECT_EQ(code, 0u);
}

TEST(ExceptionHandler, LetsThreadExitThrough) {
  HANDLE thread = Begin(
      [](void*) -> unsigned {
        DWORD code = 0;
        CallWithExceptionHandler([](void*) { _endthreadex(77); }, nullptr, &code);
        return 1;  // not reached: the thread has ended inside the handler's body
      },
      nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 5000), WAIT_OBJECT_0);
  DWORD code = 0;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 77u);
  CloseHandle(thread);
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

TEST(Clock, TickAdvancesAcrossASleep) {
  DWORD before = timeGetTime();
  Sleep(30);
  DWORD elapsed = timeGetTime() - before;  // unsigned difference, as callers compute it
  EXPECT_GE(elapsed, 29u);
  EXPECT_LT(elapsed, 60000u);
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
