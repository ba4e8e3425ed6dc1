#include "runtime/CMediaThread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/com.h"
#include "platform/winerror.h"
#include "runtime/NetResult.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"

namespace {

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
    kIllegalInstruction
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
        comResult_ = CoInitialize(nullptr);  // S_FALSE: the thread base initialised COM
        CoUninitialize();
        Sleep(1);  // pacing only: a spinning body would take a core from the other suites
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

bool WaitUntil(const std::function<bool()>& condition) {
  for (int waited = 0; waited < 5000; waited += 2) {
    if (condition()) return true;
    Sleep(2);  // a poll: the passes and the thread's end have no event of their own
  }
  return condition();
}

// Start twice makes one thread, which has COM initialised; Stop (also when idle) ends it; Start
// after a body that ended the loop itself by returning NET_STOPPED runs a new one. (Restarts of
// a stopped thread are the engine's tests'.)
TEST(CMediaThread, StartAndStopManageOneThreadAtATime) {
  TestThread thread(TestThread::Mode::kCount);
  EXPECT_TRUE(thread.Stop());
  EXPECT_TRUE(thread.Start());
  EXPECT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return thread.passes() > 20; }));
  EXPECT_EQ(thread.threadCount(), 1u);
  EXPECT_TRUE(thread.Stop());
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(thread.comResult(), S_FALSE);

  TestThread ending(TestThread::Mode::kEndAfterThree);
  ASSERT_TRUE(ending.Start());
  ASSERT_TRUE(WaitUntil([&] { return !ending.IsRunning(); }));
  EXPECT_EQ(ending.passes(), 3);
  ASSERT_TRUE(ending.Start());  // closes the old handle and runs a new thread
  ASSERT_TRUE(WaitUntil([&] { return ending.passes() >= 4; }));
  EXPECT_EQ(ending.threadCount(), 2u);
  EXPECT_TRUE(ending.Stop());
}

// The stop limit is the product's 5 s; this body never returns, so the test sets a short one.
TEST(CMediaThread, StopGivesUpOnABodyThatNeverReturns) {
  KWZ_SKIP_UNDER_TSAN("thread cancellation");
  TestThread thread(TestThread::Mode::kIgnoreStop);
  thread.SetStopTimeoutMs(50);
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return thread.passes() > 0; }));
  EXPECT_FALSE(thread.Stop());
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
    const char* code;
    bool hardware;
  };
  const Failure failures[] = {{TestThread::Mode::kThrow, "0xE06D7363", false},
                              {TestThread::Mode::kDereferenceNull, "0xC0000005", true},
                              {TestThread::Mode::kDivideByZero, "0xC0000094", true},
                              {TestThread::Mode::kIllegalInstruction, "0xC000001D", true}};
  TestThread healthy(TestThread::Mode::kCount);
  healthy.Start();
  for (const Failure& failure : failures) {
    if (failure.hardware && kwz_test::kUnderSanitizer) continue;
    SCOPED_TRACE(failure.code);
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
    const std::string entry = std::string(" [CMediaThread] -> Exception code: ") + failure.code;
    EXPECT_NE(log.find(entry + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Exception code: 0x"), log.rfind("Exception code: 0x"));  // one entry
  }
}

}  // namespace
