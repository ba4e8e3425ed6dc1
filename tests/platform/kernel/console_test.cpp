// Console control handlers where the programs' process tests (SIGINT to a program whose handler
// takes it) do not reach: the handler runs on a thread of its own, SIGTERM is a close, removed
// handlers are not called, and a signal no handler takes ends the process. Each case runs in a
// child process, since the handlers are installed for the whole process.
#include "platform/consoleapi.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ChildProcess;

std::atomic<int> g_calls{0};
std::atomic<DWORD> g_type{99};
std::atomic<bool> g_onSignalThread{true};
pthread_t g_mainThread;

BOOL Take(DWORD type) {
  g_type = type;
  g_onSignalThread = pthread_equal(pthread_self(), g_mainThread) != 0;
  ++g_calls;
  g_calls.notify_all();
  return TRUE;
}
BOOL Decline(DWORD) {
  return FALSE;
}

TEST(ConsoleCtrlHandler, SignalsReachTheHandlersOffTheSignal) {
  ChildProcess child([](const ChildProcess::Channel&) {
    g_mainThread = pthread_self();
    if (!SetConsoleCtrlHandler(Take, TRUE) || !SetConsoleCtrlHandler(Decline, TRUE)) return 10;
    std::raise(SIGINT);
    g_calls.wait(0);  // a hang here is caught by the test's time-out
    if (g_type != CTRL_C_EVENT || g_onSignalThread) return 11;
    if (!SetConsoleCtrlHandler(Take, FALSE) || SetConsoleCtrlHandler(Take, FALSE)) return 12;
    if (!SetConsoleCtrlHandler(Take, TRUE)) return 13;
    std::raise(SIGTERM);
    g_calls.wait(1);
    return g_type == CTRL_CLOSE_EVENT && g_calls == 2 ? 0 : 14;
  });
  EXPECT_EQ(child.Wait(), 0);
}

TEST(ConsoleCtrlHandler, UnhandledSignalEndsTheProcessAsTheSignalWould) {
  ChildProcess child([](const ChildProcess::Channel&) {
    if (!SetConsoleCtrlHandler(Decline, TRUE)) return 10;
    std::raise(SIGTERM);
    for (;;) pause();  // until the signal ends the process
  });
  EXPECT_EQ(child.Wait(), -1) << "killed by the signal, not an exit";
}

}  // namespace
