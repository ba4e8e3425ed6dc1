#include "runtime/CMediaThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/debug.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "runtime/NetResult.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"

namespace {

using Clock = std::chrono::steady_clock;

// A body whose behaviour each test picks; the derived destructor stops the thread first, as
// every derived class whose body uses its own members must.
class TestThread : public CMediaThread {
 public:
  enum class Mode {
    kCount,
    kEndAfterThree,
    kIgnoreStop,
    kThrow,
    kDereferenceNull,
    kDivideByZero,
    kIllegalInstruction,
    kProbeCom
  };

  explicit TestThread(Mode mode) : mode_(mode) {}
  ~TestThread() override { Stop(); }

  DWORD Run() override {
    {
      std::lock_guard<std::mutex> guard(lock_);
      threads_.insert(GetCurrentThreadId());
    }
    int pass = ++passes_;
    switch (mode_) {
      case Mode::kCount:
        Sleep(1);
        return 0;
      case Mode::kEndAfterThree:
        return pass == 3 ? NET_STOPPED : 0;
      case Mode::kIgnoreStop:
        for (;;) Sleep(50);  // never returns, never looks at the running flag
      case Mode::kThrow:
        throw std::runtime_error("body failed");
      case Mode::kDereferenceNull: {
        volatile int* nothing = nullptr;
        *nothing = 1;
        return 0;
      }
      case Mode::kDivideByZero: {
        volatile int seven = 7;
        volatile int zero = 0;
        volatile int quotient = seven / zero;
        return quotient;
      }
      case Mode::kIllegalInstruction:
        __builtin_trap();
      case Mode::kProbeCom:
        comResult_ = CoInitialize(nullptr);  // S_FALSE: the thread base initialised COM
        CoUninitialize();
        Sleep(1);
        return 0;
    }
    return 0;
  }

  int passes() const { return passes_.load(); }
  size_t threadCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return threads_.size();
  }
  HRESULT comResult() const { return comResult_.load(); }

 private:
  const Mode mode_;
  std::atomic<int> passes_{0};
  std::atomic<HRESULT> comResult_{E_FAIL};
  std::mutex lock_;
  std::set<DWORD> threads_;
};

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 5000) {
  for (int waited = 0; waited < timeoutMs; waited += 2) {
    if (condition()) return true;
    Sleep(2);
  }
  return condition();
}

TEST(CMediaThread, StartTwiceMakesOneThread) {
  TestThread thread(TestThread::Mode::kCount);
  EXPECT_TRUE(thread.Start());
  EXPECT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return thread.passes() > 20; }));
  EXPECT_EQ(thread.threadCount(), 1u);
  EXPECT_TRUE(thread.Stop());
  EXPECT_FALSE(thread.IsRunning());
}

TEST(CMediaThread, StopOnIdleAndStopTwiceSucceed) {
  TestThread thread(TestThread::Mode::kCount);
  EXPECT_TRUE(thread.Stop());
  thread.Start();
  EXPECT_TRUE(thread.Stop());
  EXPECT_TRUE(thread.Stop());
}

TEST(CMediaThread, BodyReturning240EndsTheLoopAndStopDoesNotWait) {
  TestThread thread(TestThread::Mode::kEndAfterThree);
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return !thread.IsRunning(); }));
  Sleep(20);
  EXPECT_EQ(thread.passes(), 3);
  auto start = Clock::now();
  EXPECT_TRUE(thread.Stop());
  // Far below the 5 s limit that a live thread would cost.
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
}

TEST(CMediaThread, ThreadThatEndedByItselfCanBeStartedAgain) {
  TestThread thread(TestThread::Mode::kEndAfterThree);
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return !thread.IsRunning(); }));
  ASSERT_TRUE(thread.Start());  // closes the old handle and runs a new thread
  ASSERT_TRUE(WaitUntil([&] { return thread.passes() >= 4; }));
  EXPECT_EQ(thread.threadCount(), 2u);
}

TEST(CMediaThread, StopThenStartRestarts) {
  TestThread thread(TestThread::Mode::kCount);
  thread.Start();
  ASSERT_TRUE(WaitUntil([&] { return thread.passes() > 0; }));
  ASSERT_TRUE(thread.Stop());
  int stoppedAt = thread.passes();
  Sleep(20);
  EXPECT_EQ(thread.passes(), stoppedAt);
  ASSERT_TRUE(thread.Start());
  EXPECT_TRUE(WaitUntil([&] { return thread.passes() > stoppedAt; }));
}

TEST(CMediaThread, EachThreadInitialisesCom) {
  TestThread thread(TestThread::Mode::kProbeCom);
  thread.Start();
  ASSERT_TRUE(WaitUntil([&] { return thread.passes() > 0; }));
  thread.Stop();
  EXPECT_EQ(thread.comResult(), S_FALSE);
}

TEST(CMediaThread, StopGivesUpOnABodyThatNeverReturns) {
  KWZ_SKIP_UNDER_TSAN("thread cancellation");
  std::mutex lock;
  std::vector<std::string> debug;
  SetDebugOutputSink([&](const WCHAR* text) {
    std::lock_guard<std::mutex> guard(lock);
    debug.push_back(Narrow(text));
  });
  TestThread thread(TestThread::Mode::kIgnoreStop);
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return thread.passes() > 0; }));
  auto start = Clock::now();
  EXPECT_FALSE(thread.Stop());
  auto waited = Clock::now() - start;
  SetDebugOutputSink(nullptr);
  EXPECT_GE(waited, std::chrono::milliseconds(CMediaThread::kStopTimeoutMs));
  EXPECT_LT(waited, std::chrono::milliseconds(CMediaThread::kStopTimeoutMs + 3000));
  EXPECT_EQ(debug, std::vector<std::string>{"\nWARNING using TerminateThread.\n\n"});
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_TRUE(thread.Stop());  // idle afterwards
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream all;
  all << in.rdbuf();
  return all.str();
}

// A body that throws or faults ends its own thread with one log entry holding Windows' code for
// what happened; the other threads of the process go on. (The sanitizer builds report faults
// and end the process instead.)
TEST(CMediaThread, FailingBodyIsContainedAndLogged) {
  struct Failure {
    TestThread::Mode mode;
    const char* entry;
    bool hardware;
  };
  const Failure failures[] = {
      {TestThread::Mode::kThrow, " [CMediaThread] -> Exception code: 0xE06D7363\r\n", false},
      {TestThread::Mode::kDereferenceNull, " [CMediaThread] -> Exception code: 0xC0000005\r\n",
       true},
      {TestThread::Mode::kDivideByZero, " [CMediaThread] -> Exception code: 0xC0000094\r\n", true},
      {TestThread::Mode::kIllegalInstruction, " [CMediaThread] -> Exception code: 0xC000001D\r\n",
       true},
  };
  TestThread healthy(TestThread::Mode::kCount);
  healthy.Start();
  for (const Failure& failure : failures) {
    if (failure.hardware && kwz_test::kUnderSanitizer) continue;
    SCOPED_TRACE(failure.entry);
    kwz_test::TempDir appData;
    std::string logDir = std::string(appData.path()) + "/Orvana/Client/Log";
    ASSERT_EQ(std::system(("mkdir -p '" + logDir + "'").c_str()), 0);
    kwz_test::ScopedEnv env("ProgramData", appData.path());

    TestThread failing(failure.mode);
    ASSERT_TRUE(failing.Start());
    ASSERT_TRUE(WaitUntil([&] { return !failing.IsRunning(); }));
    EXPECT_EQ(failing.passes(), 1);
    EXPECT_TRUE(failing.Stop());

    // Only the failing thread ended.
    int before = healthy.passes();
    EXPECT_TRUE(WaitUntil([&] { return healthy.passes() > before; }));
    EXPECT_TRUE(healthy.IsRunning());

    std::string log = ReadAll(logDir + "/kwz_debug.txt");
    EXPECT_NE(log.find(failure.entry), std::string::npos) << log;
    EXPECT_EQ(log.find("Exception code: 0x"), log.rfind("Exception code: 0x"));  // one entry
  }
}

}  // namespace
