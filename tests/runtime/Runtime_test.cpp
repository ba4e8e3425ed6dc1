// The worker thread base, the event it and its users wait on, and the diagnostic log its
// failures and the control's exceptions are written to.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <ctime>
#include <fstream>
#include <functional>
#include <mutex>
#include <set>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/com.h"
#include "platform/widestring.h"
#include "platform/winerror.h"
#include "runtime/CEvent.h"
#include "runtime/CMediaThread.h"
#include "runtime/ExceptionLog.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"
#include "tests/support/WaitUntil.h"

namespace {

using kwz_test::WaitUntil;

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
    Sleep(1);  // pacing only: a spinning body would take a core from the other suites
    return DWORD{0};
  });
  EXPECT_TRUE(thread.Stop());
  EXPECT_TRUE(thread.Start());
  EXPECT_TRUE(thread.Start());
  ASSERT_TRUE(WaitUntil([&] { return thread.passes > 20; }));
  EXPECT_TRUE(thread.Stop());
  EXPECT_EQ(threads.size(), 1u);
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
         volatile int* volatile nothing = nullptr;  // both volatile: no optimiser drops it
         *nothing = 1;
         return 0;
       }},
      {"0xC0000094", true,
       [](int) -> DWORD {
         volatile int seven = 7, zero = 0;
         return static_cast<DWORD>(seven / zero);
       }},
      {"0xC000001D", true, [](int) -> DWORD { __builtin_trap(); }}};
  TestThread healthy([](int) {
    Sleep(1);
    return DWORD{0};
  });
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

// "YYYY-MM-DD hh:mm:ss.mmm": 23 characters.
constexpr size_t kStampLength = 23;

class ExceptionLog : public ::testing::Test {
 protected:
  ExceptionLog() : env_("ProgramData", appData_.path()) {}

  void MakeLogFolder() { ASSERT_EQ(std::system(("mkdir -p '" + Folder() + "'").c_str()), 0); }
  std::string Folder() const { return std::string(appData_.path()) + "/Orvana/Client/Log"; }
  std::string ReadLog() const {
    std::stringstream all;
    all << std::ifstream(Folder() + "/kwz_debug.txt", std::ios::binary).rdbuf();
    return all.str();
  }

  kwz_test::TempDir appData_;
  kwz_test::ScopedEnv env_;
};

// The entry is stamped with the local calendar time of writing, lines end in CR LF, and the
// text is written in the locale's multibyte form.
TEST_F(ExceptionLog, EntryByteForByteAfterItsStamp) {
  MakeLogFolder();
  const std::time_t before = std::time(nullptr);
  ReportException(
      exc_screen_receiver(u".\\ScreenReceiver", 723, u"Unknown property : draw_logo", 0));
  AppendExceptionEntry(u"d\u00e9j\u00e0 \u4e2d\n");

  const std::string log = ReadLog();
  std::tm local{};
  localtime_r(&before, &local);
  char date[16];
  std::strftime(date, sizeof date, "%Y-%m-%d ", &local);
  const std::string first =
      " [Exception]\r\nUnknown property : draw_logo\r\nscreen_receiver\r\n"
      ".\\ScreenReceiver(723)\r\n0x00000000 \r\n\r\n";
  ASSERT_GT(log.size(), 2 * kStampLength + first.size());
  EXPECT_EQ(log.substr(0, 11), date);
  EXPECT_EQ(log.substr(kStampLength, first.size()), first);
  EXPECT_EQ(log.substr(2 * kStampLength + first.size()),
            " [Exception]\r\nd\xc3\xa9j\xc3\xa0 \xe4\xb8\xad\r\n\r\n");
}

// Each class names itself as the source; the code line names a code it knows and says Unknown
// for the others; null texts print as (null) and long messages are cut.
TEST_F(ExceptionLog, EntryTexts) {
  const std::u16string longMessage(3000, u'm');
  const struct {
    base_exception error;
    std::string text;
  } cases[] = {
      {exc_screen_receiver(u"f", 7, u"m", 0x80070057u),
       "m\nscreen_receiver\nf(7)\n0x80070057 E_INVALIDARG\n"},
      {exc_CNetwork(nullptr, 1, nullptr, 0x0000ABCDu),
       "(null)\nCNetwork\n(null)(1)\n0x0000ABCD Unknown\n"},
      {exc_create_shared_memory(u"f", 1, u"m", 0), "m\ncreate_shared_memory\nf(1)\n0x00000000 \n"},
      {exc_set_shared_socket(u"f", 1, u"m", 0), "m\nset_shared_socket\nf(1)\n0x00000000 \n"},
      {exc_get_shared_socket(u"f", 1, u"m", 0), "m\nget_shared_socket\nf(1)\n0x00000000 \n"},
      {exc_CNetwork(u"f", 1, longMessage.c_str(), 0), std::string(1023, 'm')},
  };
  for (const auto& c : cases) EXPECT_EQ(Narrow(FormatExceptionEntry(c.error).c_str()), c.text);
  // Without the folder nothing is written, nor the folder made, and the text is still given.
  EXPECT_EQ(Narrow(ReportException(cases[0].error).c_str()), cases[0].text);
  AppendThreadFaultEntry(0xC0000005u);
  struct stat info;
  EXPECT_NE(stat((std::string(appData_.path()) + "/Orvana").c_str(), &info), 0);
}

// A hundred reports from four threads: each whole entry once, nothing else in the log.
TEST_F(ExceptionLog, ConcurrentReportsStayWhole) {
  MakeLogFolder();
  {
    std::vector<std::jthread> writers;
    for (int t = 0; t < 4; ++t) {
      writers.emplace_back([t] {
        for (int i = 0; i < 25; ++i) {
          const std::u16string message = u"writer " + Widen(std::to_string(t).c_str());
          ReportException(exc_CNetwork(u"f", i, message.c_str(), 0));
        }
      });
    }
  }  // joined here
  const std::string log = ReadLog();
  std::size_t total = 0;
  for (int t = 0; t < 4; ++t) {
    for (int i = 0; i < 25; ++i) {
      const std::string entry = " [Exception]\r\nwriter " + std::to_string(t) +
                                "\r\nCNetwork\r\nf(" + std::to_string(i) +
                                ")\r\n0x00000000 \r\n\r\n";
      EXPECT_EQ(log.find(entry), log.rfind(entry)) << entry;
      EXPECT_NE(log.find(entry), std::string::npos) << entry;
      total += kStampLength + entry.size();
    }
  }
  EXPECT_EQ(log.size(), total);
}

}  // namespace
