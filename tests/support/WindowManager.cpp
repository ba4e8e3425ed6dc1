#include "tests/support/WindowManager.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/Xlib.h>

namespace kwz_test {

WindowManager::WindowManager(const std::string& display) {
  pid_ = fork();
  if (pid_ == 0) {
    const int devnull = open("/dev/null", O_WRONLY);
    if (devnull >= 0) {
      dup2(devnull, 1);
      dup2(devnull, 2);
    }
    setenv("DISPLAY", display.c_str(), 1);
    execlp("openbox", "openbox", "--sm-disable", static_cast<char*>(nullptr));
    _exit(127);
  }
  if (pid_ < 0) {
    error_ = "fork failed";
    return;
  }
  Display* connection = XOpenDisplay(display.c_str());
  if (connection == nullptr) {
    error_ = "the display " + display + " cannot be opened";
    return;
  }
  const Atom manager = XInternAtom(connection, "WM_S0", False);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool managing = false;
  while (!managing && std::chrono::steady_clock::now() < deadline) {
    managing = XGetSelectionOwner(connection, manager) != 0;
    int status = 0;
    if (!managing && waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      break;
    }
    if (!managing) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  XCloseDisplay(connection);
  if (!managing) error_ = "openbox did not start (is the openbox package installed?)";
}

WindowManager::~WindowManager() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
}

}  // namespace kwz_test
