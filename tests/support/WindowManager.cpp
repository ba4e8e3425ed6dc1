#include "tests/support/WindowManager.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/Xlib.h>

namespace kwz_test {

WindowManager::WindowManager(const std::string& display) {
  // Connected and listening before openbox starts, so that no change of the root is missed.
  Display* connection = XOpenDisplay(display.c_str());
  if (connection == nullptr) {
    error_ = "the display " + display + " cannot be opened";
    return;
  }
  const Window root = DefaultRootWindow(connection);
  const Atom manager = XInternAtom(connection, "WM_S0", False);
  XSelectInput(connection, root, PropertyChangeMask);
  XSync(connection, False);
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
  // openbox sets the root window's properties (_NET_SUPPORTED and more) as it takes the screen:
  // each change wakes this loop, which then asks for the selection's owner.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  bool managing = false;
  pollfd readable{ConnectionNumber(connection), POLLIN, 0};
  while (pid_ > 0 && std::chrono::steady_clock::now() < deadline) {
    while (XPending(connection) > 0) {
      XEvent event;
      XNextEvent(connection, &event);
    }
    if ((managing = XGetSelectionOwner(connection, manager) != 0)) break;
    int status = 0;
    if (waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
    // Woken by the server, or every 100 ms to see whether openbox gave up.
    if (pid_ > 0) poll(&readable, 1, 100);
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
