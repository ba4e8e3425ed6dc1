// Screen capture through the screen's DC, as kwz-present captures an X display: a private Xvfb
// whose screen a window of the X11 backend covers. BitBlt into
// top-down and bottom-up DIB sections, clipping at the display's and the section's edges, and
// the calls the subset refuses. The display's size and pointer are kwz-present's tests'.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "platform/gdi.h"
#include "platform/gdi_testing.h"
#include "platform/winuser.h"
#include "tests/support/XvfbServer.h"

namespace {

using kwz_platform::GdiBackendKind;

constexpr int kScreenW = 64;
constexpr int kScreenH = 48;

std::uint32_t ScreenPixel(int x, int y) {
  return static_cast<std::uint32_t>(x * 0x010203 + y * 0x100) & 0xFFFFFF;
}

class ScreenCapture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static kwz_test::XvfbServer server("64x48x24");
    server_ = &server;
  }
  void SetUp() override {
    for (int y = 0; y < kScreenH; ++y)
      for (int x = 0; x < kScreenW; ++x) screen_pixels_[y * kScreenW + x] = ScreenPixel(x, y);
    if (!server_->Running()) GTEST_SKIP() << "X11 suite skipped: " << server_->Error();
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(GdiBackendKind::kX11, server_->Display().c_str()));
    // A window over the whole screen shows the picture.
    cover_ = CreateWindowExW(0, u"STATIC", u"", WS_POPUP | WS_VISIBLE, 0, 0, kScreenW, kScreenH,
                             nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(cover_, nullptr);
    BITMAPINFO info{};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), kScreenW, -kScreenH, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    HDC dc = GetDC(cover_);
    SetDIBitsToDevice(dc, 0, 0, kScreenW, kScreenH, 0, 0, 0, kScreenH, screen_pixels_.data(), &info,
                      DIB_RGB_COLORS);
    ReleaseDC(cover_, dc);
    screen_ = GetDC(nullptr);
    memory_ = CreateCompatibleDC(screen_);
    ASSERT_NE(screen_, nullptr);
    ASSERT_NE(memory_, nullptr);
  }
  void TearDown() override {
    if (memory_ != nullptr) {
      EXPECT_TRUE(DeleteDC(memory_));
    }
    if (screen_ != nullptr) {
      EXPECT_EQ(ReleaseDC(nullptr, screen_), 1);
    }
    if (cover_ != nullptr) DestroyWindow(cover_);
  }

  // A 32-bit section of width x height, top-down or bottom-up, selected into the memory DC.
  std::uint32_t* Section(int width, int height, bool topDown) {
    BITMAPINFO info{};
    info.bmiHeader = {
        sizeof(BITMAPINFOHEADER), width, topDown ? -height : height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HBITMAP section = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    EXPECT_NE(SelectObject(memory_, section), nullptr);
    return static_cast<std::uint32_t*>(bits);
  }

  static kwz_test::XvfbServer* server_;
  std::vector<std::uint32_t> screen_pixels_ = std::vector<std::uint32_t>(kScreenW * kScreenH);
  HWND cover_ = nullptr;
  HDC screen_ = nullptr;
  HDC memory_ = nullptr;
};

kwz_test::XvfbServer* ScreenCapture::server_ = nullptr;

// Where a section's picture row y lies in its memory.
int MemoryRow(int y, int height, bool topDown) {
  return topDown ? y : height - 1 - y;
}

// The copy lands the right way up in either row order; what lies beyond the display comes out
// black and what lies beyond the section is cut.
TEST_F(ScreenCapture, BitBltCopiesTheScreenRectangleClippedAtBothEnds) {
  for (bool topDown : {true, false}) {
    constexpr int kW = 16, kH = 16;
    std::uint32_t* bits = Section(kW, kH, topDown);
    std::fill_n(bits, kW * kH, 0x00ABCDEFu);
    // From screen (56, 40): 8 x 8 pixels lie on the display. Drawn at (4, 4) and 20 wide, the
    // copy is cut at the section's right and bottom edges.
    ASSERT_TRUE(BitBlt(memory_, 4, 4, 20, 20, screen_, 56, 40, SRCCOPY));
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const std::uint32_t got = bits[MemoryRow(y, kH, topDown) * kW + x] & 0xFFFFFF;
        std::uint32_t want = 0xABCDEF;  // left and top of the copy: untouched
        if (x >= 4 && y >= 4) {
          const int sx = 56 + x - 4, sy = 40 + y - 4;
          want = sx < kScreenW && sy < kScreenH ? ScreenPixel(sx, sy) : 0;
        }
        ASSERT_EQ(got, want) << (topDown ? "top-down " : "bottom-up ") << x << "," << y;
      }
    }
  }
}

TEST_F(ScreenCapture, RefusedCallsChangeNothing) {
  std::uint32_t* bits = Section(4, 4, true);
  std::fill_n(bits, 16, 0x123456u);
  HDC other = CreateCompatibleDC(nullptr);
  // Not SRCCOPY; not from the screen; not into a memory DC; a memory DC with no section.
  EXPECT_FALSE(BitBlt(memory_, 0, 0, 4, 4, screen_, 0, 0, 0x00EE0086u));
  EXPECT_FALSE(BitBlt(memory_, 0, 0, 4, 4, other, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(screen_, 0, 0, 4, 4, screen_, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(other, 0, 0, 4, 4, screen_, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(memory_, 0, 0, -4, 4, screen_, 0, 0, SRCCOPY));
  for (int i = 0; i < 16; ++i) ASSERT_EQ(bits[i], 0x123456u);
  // The screen's DC goes back with ReleaseDC, not DeleteDC; a memory DC is no window's DC.
  EXPECT_FALSE(DeleteDC(screen_));
  EXPECT_EQ(ReleaseDC(nullptr, other), 0);
  EXPECT_TRUE(DeleteDC(other));
  EXPECT_FALSE(GetCursorPos(nullptr));

  // Sections other than 32-bit BI_RGB, or beyond 16384 pixels a side, are not made.
  BITMAPINFO info{};
  info.bmiHeader = {sizeof(BITMAPINFOHEADER), 8, 8, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
  void* out = reinterpret_cast<void*>(1);
  for (auto [bitCount, width, height] : {std::tuple{24, 8, 8}, std::tuple{32, 0, 8},
                                         std::tuple{32, 16385, 8}, std::tuple{32, 8, -16385}}) {
    info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    EXPECT_EQ(CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &out, nullptr, 0), nullptr);
    EXPECT_EQ(out, nullptr);
  }
}

}  // namespace
