// The one poll the tests share, for state that changes without an event of its own: window
// pixels, another process's port or file, a count kept by another thread.
#pragma once

#include <chrono>
#include <functional>
#include <thread>

namespace kwz_test {

// Looks at condition every few milliseconds until it holds (true) or timeoutMs passed (false).
// The limit only ends a wait for a fault, so it is generous for a loaded machine.
inline bool WaitUntil(const std::function<bool()>& condition, int timeoutMs = 20000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace kwz_test
