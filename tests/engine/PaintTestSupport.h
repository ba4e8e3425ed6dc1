// Windows of the headless GDI backend, read back pixel by pixel, and a record of the size
// reports, for the painting tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/IScreenSharing.h"
#include "platform/gdi_testing.h"
#include "platform/winuser.h"

namespace kwz_test {

inline void UseHeadlessGdi() {
  ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
}

class TestWindow {
 public:
  TestWindow(int width, int height)
      : m_window(CreateWindowExW(0, u"STATIC", u"surface", WS_POPUP | WS_VISIBLE, 0, 0, width,
                                 height, nullptr, nullptr, nullptr, nullptr)) {}
  ~TestWindow() {
    if (m_window != nullptr) DestroyWindow(m_window);
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;
  HWND Get() const { return m_window; }

  // What the window shows, top row first, 0xFFRRGGBB.
  std::vector<std::uint32_t> Pixels() const {
    std::vector<std::uint32_t> pixels;
    int width = 0, height = 0;
    EXPECT_TRUE(kwz_platform::ReadWindowPixels(m_window, &pixels, &width, &height));
    return pixels;
  }

 private:
  HWND m_window;
};

// Records every size reported; the engine calls it from its own thread.
class SizeLog : public IScreenSharing {
 public:
  void OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) override {
    std::lock_guard<std::mutex> guard(lock_);
    sizes_.emplace_back(width, height);
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> Sizes() const {
    std::lock_guard<std::mutex> guard(lock_);
    return sizes_;
  }

 private:
  mutable std::mutex lock_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> sizes_;
};

}  // namespace kwz_test
