// The worker thread base, and the event it and its users wait on.
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
#include <utility>

#include "platform/com.h"
#include "platform/winerror.h"
#include "runtime/CEvent.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"

namespace {

// Runs body(pass number) as each pass; the derived destructor stops the thread first, as every
// derived class whose body uses its own members must.
class TestThread : public CMediaThread {
 public:
  explicit TestThread(std::function<DWORD(int)> body) : body_(std::move(body)) {}
  ~TestThread() override { Stop(); }

  DWORD Run() override { return body_(++passes); }

  std::atomic<int> passes{0};

 private:
  std::function<DWORD(int)> body_;
};

// A body that counts; pacing only: a spinning body would take a core from the other suites.
DWORD Counting(int) {
  Sleep(1);
  return 0;
}

bool WaitUntil(const std::function<bool()>& condition) {
  for (int waited = 0; waited < 5000; waited += 2) {
    if (condition()) return true;
    Sleep(2);  // a poll: the passes and the thread's end have no event of their own
  }
  return condition();
}

// Start twice makes one thread, which has COM initialised; Stop (also when idle) ends it. (A body
// that ends the loop itself, and a new Start after it, are the engine's Stop and Start.)
TEST(CMediaThread, StartAndStopManageOneThreadAtATime) {
  std::atomic<HRESULT> com{E_FAIL};
  std::mutex lock;
  std::set<DWORD> threads;
  TestThread thread([&](int) {
    com = CoInitialize(nullptr);  // S_FALSE: the thread base initialised COM
    CoUninitialize();
    std::lock_guard<std::mutex> guard(lock);
    threads.insert(GetCurrentThreadId());
    return Counting(0);
  });
  EXPECT_TRUE(thread.Stop());
  EXPECT_TRUE(thread.Start());
  EXPECT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return thread.passes > 20; }));
  EXPECT_TRUE(thread.Stop());
  EXPECT_EQ(threads.size(), 1u);
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_EQ(com.load(), S_FALSE);
}

// The stop limit is the product's 5 s; this body never returns, so the test sets a short one.
TEST(CMediaThread, StopGivesUpOnABodyThatNeverReturns) {
  KWZ_SKIP_UNDER_TSAN("thread cancellation");
  TestThread thread([](int) -> DWORD {
    for (;;) Sleep(50);  // never returns, never looks at the running flag
  });
  thread.SetStopTimeoutMs(50);
  ASSERT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return thread.passes > 0; }));
  EXPECT_FALSE(thread.Stop());
  EXPECT_FALSE(thread.IsRunning());
  EXPECT_TRUE(thread.Stop());  // idle afterwards
}

// A body that throws or faults ends its own thread with one log entry holding Windows' code for
// what happened; the other threads of the process go on. (The sanitizer builds report faults
// and end the process instead.)
TEST(CMediaThread, FailingBodyIsContainedAndLogged) {
  struct Failure {
    const char* code;
    bool hardware;
    std::function<DWORD(int)> body;
  };
  const Failure failures[] = {
      {"0xE06D7363", false, [](int) -> DWORD { throw std::runtime_error("body failed"); }},
      {"0xC0000005", true,
       [](int) -> DWORD {
         volatile int* nothing = nullptr;
         *nothing = 1;
         return 0;
       }},
      {"0xC0000094", true,
       [](int) -> DWORD {
         volatile int seven = 7, zero = 0;
         return static_cast<DWORD>(seven / zero);
       }},
      {"0xC000001D", true, [](int) -> DWORD { __builtin_trap(); }}};
  TestThread healthy(Counting);
  healthy.Start();
  for (const Failure& failure : failures) {
    if (failure.hardware && kwz_test::kUnderSanitizer) continue;
    SCOPED_TRACE(failure.code);
    kwz_test::TempDir appData;
    const std::string logDir = std::string(appData.path()) + "/Orvana/Client/Log";
    ASSERT_EQ(std::system(("mkdir -p '" + logDir + "'").c_str()), 0);
    kwz_test::ScopedEnv env("ProgramData", appData.path());

    TestThread failing(failure.body);
    ASSERT_TRUE(failing.Start());
    ASSERT_TRUE(WaitUntil([&] { return !failing.IsRunning(); }));
    EXPECT_EQ(failing.passes, 1);
    // Only the failing thread ended.
    const int before = healthy.passes;
    EXPECT_TRUE(WaitUntil([&] { return healthy.passes > before; }));

    std::stringstream all;
    all << std::ifstream(logDir + "/kwz_debug.txt", std::ios::binary).rdbuf();
    const std::string log = all.str();
    const std::string entry = std::string(" [CMediaThread] -> Exception code: ") + failure.code;
    EXPECT_NE(log.find(entry + "\r\n"), std::string::npos) << log;
    EXPECT_EQ(log.find("Exception code: 0x"), log.rfind("Exception code: 0x"));  // one entry
  }
}

// Auto-reset by default: a Set is consumed by one wait; manual-reset stays set until Reset; a
// broken handle gives false, never true.
TEST(CEvent, ResetKindsAndAFailingHandle) {
  CEvent automatic;
  EXPECT_FALSE(automatic.Poll());
  EXPECT_TRUE(automatic.Set());
  EXPECT_TRUE(automatic.Poll());
  EXPECT_FALSE(automatic.Poll());

  CEvent manual(true);
  manual.Set();
  EXPECT_TRUE(manual.Wait(0));
  EXPECT_TRUE(manual.Wait(0));
  manual.Reset();
  EXPECT_FALSE(manual.Poll());
  manual.Set();
  ASSERT_TRUE(CloseHandle(manual.GetHandle()));  // break it behind the wrapper's back
  EXPECT_FALSE(manual.Wait(10));
  EXPECT_FALSE(manual.Set());
}

}  // namespace
