// A private Xvfb for the X11 tests: started on a free display number (Xvfb picks it and reports
// it through -displayfd), stopped with the object.
#pragma once

#include <sys/types.h>

#include <string>

namespace kwz_test {

class XvfbServer {
 public:
  // Starts "Xvfb -displayfd N -screen 0 <screen> -nolisten tcp" and waits up to 10 s for it.
  explicit XvfbServer(const char* screen = "1920x1080x24");
  ~XvfbServer();

  bool Running() const { return !display_.empty(); }
  // ":N", or empty when the server could not start; then Error() says why.
  const std::string& Display() const { return display_; }
  const std::string& Error() const { return error_; }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
  std::string display_;
  std::string error_;
};

}  // namespace kwz_test
