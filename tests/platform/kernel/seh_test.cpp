#include "platform/seh.h"

#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/Sanitizers.h"

namespace {

using kwz_test::kUnderSanitizer;

HANDLE Begin(_beginthreadex_proc_type start, void* argument) {
  return reinterpret_cast<HANDLE>(_beginthreadex(nullptr, 0, start, argument, 0, nullptr));
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

// Hardware faults inside the body come back as Windows' exception codes, and the caller goes on
// (again and again: the handler and the alternate stack are set up anew each time).
struct Fault {
  const char* what;
  void (*body)(void*);
  DWORD code;
};

void Dereference(void*) {
  volatile int* nothing = nullptr;
  *nothing = 1;
}
void DivideByZero(void*) {
  volatile int seven = 7;  // not 1: 1 / x compiles to comparisons, without a division
  volatile int zero = 0;
  volatile int quotient = seven / zero;
  (void)quotient;
}
void IllegalInstruction(void*) {
  __builtin_trap();
}
volatile int g_depthLimit = 1 << 30;  // far beyond any stack
int Recurse(int depth) {
  volatile char frame[4096];
  frame[0] = static_cast<char>(depth);
  if (depth >= g_depthLimit) return frame[0];
  return Recurse(depth + 1) + frame[0];
}
void OverflowTheStack(void*) {
  Recurse(0);
}

// On a thread of its own, whose stack has a fixed size and a guard page below it.
unsigned RunFaults(void*) {
  const Fault faults[] = {
      {"null pointer", Dereference, EXCEPTION_ACCESS_VIOLATION},
      {"integer division by zero", DivideByZero, EXCEPTION_INT_DIVIDE_BY_ZERO},
      {"illegal instruction", IllegalInstruction, EXCEPTION_ILLEGAL_INSTRUCTION},
      {"stack overflow", OverflowTheStack, EXCEPTION_ACCESS_VIOLATION},
  };
  for (int round = 0; round < 2; ++round) {
    for (const Fault& fault : faults) {
      DWORD code = 0;
      EXPECT_TRUE(CallWithExceptionHandler(fault.body, nullptr, &code)) << fault.what;
      EXPECT_EQ(code, fault.code) << fault.what;
    }
  }
  // Nested: the inner handler takes the fault, the outer one sees a normal return.
  DWORD outer = 0;
  EXPECT_FALSE(CallWithExceptionHandler(
      [](void*) {
        DWORD inner = 0;
        EXPECT_TRUE(CallWithExceptionHandler(Dereference, nullptr, &inner));
        EXPECT_EQ(inner, EXCEPTION_ACCESS_VIOLATION);
      },
      nullptr, &outer));
  return 0;
}

TEST(ExceptionHandler, ContainsHardwareFaultsWithWindowsCodes) {
  if (kUnderSanitizer) GTEST_SKIP() << "faults are the sanitizer's to report";
  HANDLE thread = Begin(RunFaults, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 60000), WAIT_OBJECT_0);
  CloseHandle(thread);
}

// Outside a protected body a fault keeps its default action: the process dies of it.
TEST(ExceptionHandler, FaultsElsewhereStillEndTheProcess) {
  if (kUnderSanitizer) GTEST_SKIP() << "faults are the sanitizer's to report";
  kwz_test::ChildProcess child([](const kwz_test::ChildProcess::Channel&) {
    DWORD code = 0;
    CallWithExceptionHandler([](void*) {}, nullptr, &code);  // the handlers are in place now
    HANDLE thread = Begin(
        [](void*) -> unsigned {
          Dereference(nullptr);
          return 0;
        },
        nullptr);
    WaitForSingleObject(thread, 10000);
    return 0;  // not reached
  });
  EXPECT_EQ(child.Wait(), -1);
}

}  // namespace
