#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/consoleapi.h"

namespace {

std::mutex g_lock;
std::vector<PHANDLER_ROUTINE> g_handlers;  // guarded by g_lock
int g_pipe[2] = {-1, -1};                  // written by the signal handler, read by the thread

// Async-signal-safe: only a write of the signal's number.
void OnSignal(int signal) {
  const unsigned char number = static_cast<unsigned char>(signal);
  [[maybe_unused]] const ssize_t ignored = ::write(g_pipe[1], &number, 1);
}

void Dispatch() {
  unsigned char number = 0;
  while (::read(g_pipe[0], &number, 1) == 1) {
    const DWORD type = number == SIGINT ? CTRL_C_EVENT : CTRL_CLOSE_EVENT;
    std::vector<PHANDLER_ROUTINE> handlers;
    {
      std::lock_guard<std::mutex> lock(g_lock);
      handlers.assign(g_handlers.rbegin(), g_handlers.rend());
    }
    const bool handled =
        std::any_of(handlers.begin(), handlers.end(), [type](auto h) { return h(type) != FALSE; });
    if (!handled) {
      std::signal(number, SIG_DFL);
      std::raise(number);
    }
  }
}

// Once per process: the pipe, the dispatching thread and the signal handlers.
bool Install() {
  static const bool installed = [] {
    if (::pipe2(g_pipe, O_CLOEXEC) != 0) return false;
    std::thread(Dispatch).detach();
    struct sigaction action = {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
    return true;
  }();
  return installed;
}

}  // namespace

BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add) {
  if (handler == nullptr || !Install()) return FALSE;
  std::lock_guard<std::mutex> lock(g_lock);
  if (add) {
    g_handlers.push_back(handler);
    return TRUE;
  }
  auto it = std::find(g_handlers.rbegin(), g_handlers.rend(), handler);
  if (it == g_handlers.rend()) return FALSE;
  g_handlers.erase(std::next(it).base());
  return TRUE;
}
