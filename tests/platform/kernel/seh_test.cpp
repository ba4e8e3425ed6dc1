// The exception handler where CMediaThread's tests (a fault of each kind in a thread body) do
// not reach: a stack overflow, faults again, and faults outside any body.
#include "platform/seh.h"

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"

namespace {

using kwz_test::kUnderSanitizer;

HANDLE Begin(_beginthreadex_proc_type start) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, start, nullptr, 0, nullptr));
}

void Dereference(void*) {
  volatile int* volatile nothing = nullptr;  // both volatile: no optimiser drops it
  *nothing = 1;
}
volatile int g_depthLimit = 1 << 30;  // far beyond any stack
int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (depth >= g_depthLimit) return frame[0];
  return Recurse(depth + 1) + frame[0];
}

// On a thread of its own, whose stack has a fixed size and a guard page below it: a stack
// overflow and a null pointer, twice over (the handler and the alternate stack are set up anew
// each time).
TEST(ExceptionHandler, ContainsStackOverflowAgainAndAgain) {
  if (kUnderSanitizer) GTEST_SKIP() << "faults are the sanitizer's to report";
  HANDLE thread = Begin([](void*) -> unsigned {
    for (int round = 0; round < 2; ++round) {
      for (void (*body)(void*) : {+[](void*) { Recurse(0); }, &Dereference}) {
        DWORD code = 0;
        EXPECT_TRUE(CallWithExceptionHandler(body, nullptr, &code)) << round;
        EXPECT_EQ(code, EXCEPTION_ACCESS_VIOLATION) << round;
      }
    }
    return 0;
  });
  ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

// Outside a protected body a fault keeps its default action: the process dies of it.
TEST(ExceptionHandler, FaultsElsewhereStillEndTheProcess) {
  if (kUnderSanitizer) GTEST_SKIP() << "faults are the sanitizer's to report";
  kwz_test::ChildProcess child([](const kwz_test::ChildProcess::Channel&) {
    DWORD code = 0;
    CallWithExceptionHandler([](void*) {}, nullptr, &code);  // the handlers are in place now
    HANDLE thread = Begin([](void*) -> unsigned {
      Dereference(nullptr);
      return 0;
    });
    WaitForSingleObject(thread, 10000);
    return 0;  // not reached
  });
  EXPECT_EQ(child.Wait(), -1);
}

}  // namespace
