// A window manager for the X11 tests about what a desktop does to windows (frames, placement,
// moves and resizes, closing): openbox on a private display, started with the object and
// stopped with it. A bare Xvfb has none, so windows there are never framed or moved.
#pragma once

#include <sys/types.h>

#include <string>

namespace kwz_test {

class WindowManager {
 public:
  // Starts openbox on display and waits up to 10 s until it manages the screen (it owns the
  // WM_S0 selection).
  explicit WindowManager(const std::string& display);
  ~WindowManager();
  WindowManager(const WindowManager&) = delete;
  WindowManager& operator=(const WindowManager&) = delete;

  bool Running() const { return error_.empty(); }
  const std::string& Error() const { return error_; }

 private:
  pid_t pid_ = -1;
  std::string error_;
};

}  // namespace kwz_test
