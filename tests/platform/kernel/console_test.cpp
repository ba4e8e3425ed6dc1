// Console control handlers: a signal reaches the handlers on a thread of their own, newest
// first, and ends the process only when none takes it. Each case runs in a child process, since
// the handlers are installed for the whole process.
#include "platform/consoleapi.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ChildProcess;

std::atomic<int> g_order{0};
std::atomic<int> g_firstSeen{-1};
std::atomic<int> g_secondSeen{-1};
std::atomic<DWORD> g_type{99};
std::atomic<bool> g_onSignalThread{true};
pthread_t g_mainThread;

BOOL First(DWORD type) {
  g_type = type;
  g_firstSeen = g_order++;
  g_order.notify_all();
  return TRUE;
}
BOOL Second(DWORD) {
  g_onSignalThread = pthread_equal(pthread_self(), g_mainThread) != 0;
  g_secondSeen = g_order++;
  g_order.notify_all();
  return FALSE;  // passes the event on
}
BOOL Decline(DWORD) {
  return FALSE;
}

// Until the handlers have run count times in all (a hang here is caught by the test's time-out).
bool WaitFor(std::atomic<int>& value, int wanted) {
  for (int seen = value.load(); seen < wanted; seen = value.load()) value.wait(seen);
  return value.load() == wanted;
}

TEST(ConsoleCtrlHandler, SignalsReachHandlersNewestFirstOffTheSignal) {
  ChildProcess child([](const ChildProcess::Channel&) {
    g_mainThread = pthread_self();
    if (!SetConsoleCtrlHandler(First, TRUE) || !SetConsoleCtrlHandler(Second, TRUE)) return 10;
    std::raise(SIGINT);
    if (!WaitFor(g_order, 2)) return 11;
    if (g_secondSeen != 0 || g_firstSeen != 1) return 12;
    if (g_type != CTRL_C_EVENT || g_onSignalThread) return 13;
    // Removed handlers are not called; SIGTERM is a close.
    if (!SetConsoleCtrlHandler(Second, FALSE) || SetConsoleCtrlHandler(Second, FALSE)) return 14;
    std::raise(SIGTERM);
    if (!WaitFor(g_order, 3) || g_type != CTRL_CLOSE_EVENT) return 15;
    return 0;
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
  EXPECT_FALSE(SetConsoleCtrlHandler(nullptr, TRUE));
}

}  // namespace
