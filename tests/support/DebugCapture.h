// Collects what the code under test writes to the debugger output while the capture lives.
// The sink runs on whichever thread writes, so the texts are guarded.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/debug.h"
#include "platform/widestring.h"

namespace kwz_test {

class DebugCapture {
 public:
  DebugCapture() {
    SetDebugOutputSink([this](const WCHAR* text) {
      std::lock_guard<std::mutex> guard(lock_);
      texts_.push_back(Narrow(text));
    });
  }
  ~DebugCapture() { SetDebugOutputSink(nullptr); }
  DebugCapture(const DebugCapture&) = delete;
  DebugCapture& operator=(const DebugCapture&) = delete;

  std::vector<std::string> texts() {
    std::lock_guard<std::mutex> guard(lock_);
    return texts_;
  }

 private:
  std::mutex lock_;
  std::vector<std::string> texts_;
};

}  // namespace kwz_test
