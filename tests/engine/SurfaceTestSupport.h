// Message headers and bodies as the engine hands them to the drawing surface, windows of the
// headless GDI backend read back pixel by pixel, and a record of the size reports.
#pragma once

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "engine/CBMPManager.h"
#include "engine/IScreenSharing.h"
#include "platform/gdi_testing.h"
#include "platform/wingdi.h"
#include "platform/winuser.h"

namespace kwz_test {

// A header as the engine passes it: biCompression already replaced by the bytes per pixel.
inline BITMAPINFOHEADER MessageHeader(LONG width, LONG height, int bytesPerPixel) {
  BITMAPINFOHEADER h{};
  h.biWidth = width;
  h.biHeight = height;
  h.biBitCount = static_cast<WORD>(bytesPerPixel * 8);
  h.biCompression = static_cast<DWORD>(bytesPerPixel);
  h.biSizeImage = static_cast<DWORD>((h.biBitCount * static_cast<std::uint64_t>(width) + 31) / 32 *
                                     4 * static_cast<std::uint64_t>(height));
  return h;
}

inline std::vector<std::uint8_t> Zlib(const std::vector<std::uint8_t>& raw) {
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> out(size);
  EXPECT_EQ(compress2(out.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 6), Z_OK);
  out.resize(size);
  return out;
}

// Decodes one block message of the given mode.
inline std::int32_t SendBlock(CBMPManager& surface, std::uint32_t mode,
                              const BITMAPINFOHEADER& header, std::uint32_t index,
                              const std::vector<std::uint8_t>& body) {
  surface.SetStreamMode(mode);
  return surface.DecodeMessage(header, index, body.empty() ? nullptr : body.data(),
                               static_cast<std::uint32_t>(body.size()));
}

// Bytes of memory row `row` of the surface's bitmap, from byte `offset` on.
inline const std::uint8_t* Row(const CBMPManager& surface, std::uint32_t row,
                               std::uint32_t offset = 0) {
  return surface.Pixels() + static_cast<std::size_t>(row) * surface.Stride() + offset;
}

// Copies the bitmap, to compare before and after a message.
inline std::vector<std::uint8_t> Snapshot(const CBMPManager& surface) {
  if (surface.Pixels() == nullptr) return {};
  return std::vector<std::uint8_t>(surface.Pixels(), surface.Pixels() + surface.PixelsSize());
}

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
