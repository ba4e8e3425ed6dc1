#include "tests/support/WindowManager.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/Xlib.h>

namespace kwz_test {

WindowManager::WindowManager(const std::string& display) {
  Display* connection = XOpenDisplay(display.c_str());
  if (connection == nullptr) {
    error_ = "the display " + display + " cannot be opened";
    return;
  }
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
  // Polled: the server tells no client when another one takes a selection it does not own.
  const Atom manager = XInternAtom(connection, "WM_S0", False);
  bool managing = false;
  for (int wait = 0; wait < 1000 && pid_ > 0; ++wait) {
    if ((managing = XGetSelectionOwner(connection, manager) != 0)) break;
    if (waitpid(pid_, nullptr, WNOHANG) == pid_) pid_ = -1;  // openbox gave up
    usleep(10000);
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
