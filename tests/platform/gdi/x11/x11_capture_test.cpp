// Screen capture on the X11 backend under a private Xvfb: what a window shows comes back through
// the screen's DC at the window's place, and the pointer's position is the server's.
#include <gtest/gtest.h>

#include "tests/platform/GdiTestSupport.h"
#include "tests/support/XvfbServer.h"

// After gtest, whose templates use names that Xlib defines as macros (None).
#include <X11/Xlib.h>

namespace {

class X11ScreenCapture : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static kwz_test::XvfbServer server("320x240x24");
    server_ = &server;
  }
  void SetUp() override {
    if (!server_->Running()) GTEST_SKIP() << "X11 suite skipped: " << server_->Error();
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11,
                                               server_->Display().c_str()));
  }
  static kwz_test::XvfbServer* server_;
};

kwz_test::XvfbServer* X11ScreenCapture::server_ = nullptr;

TEST_F(X11ScreenCapture, WindowPaintedOnTheScreenComesBackAtItsPlace) {
  constexpr int kX = 40, kY = 30, kW = 48, kH = 36;
  HWND window = CreateWindowExW(0, u"STATIC", u"", WS_POPUP | WS_VISIBLE, kX, kY, kW, kH, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  const kwz_test::TestDib dib =
      kwz_test::MakeDib(kW, kH, 32, true, [](int x, int y) { return (x * 5 + y * 11) & 255; });
  HDC dc = GetDC(window);
  SetDIBitsToDevice(dc, 0, 0, kW, kH, 0, 0, 0, kH, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS);
  ReleaseDC(window, dc);

  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  EXPECT_EQ(GetDeviceCaps(screen, HORZRES), 320);
  EXPECT_EQ(GetDeviceCaps(screen, VERTRES), 240);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = kW;
  info.bmiHeader.biHeight = kH;  // bottom-up, as a Windows capture usually asks
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP section = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  ASSERT_NE(section, nullptr);
  SelectObject(memory, section);
  ASSERT_TRUE(BitBlt(memory, 0, 0, kW, kH, screen, kX, kY, SRCCOPY));
  const auto* pixels = static_cast<const std::uint32_t*>(bits);
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      ASSERT_EQ(pixels[(kH - 1 - y) * kW + x] & 0xFFFFFF, dib.Colour(x, y) & 0xFFFFFF)
          << x << "," << y;
    }
  }
  DeleteObject(section);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  DestroyWindow(window);
}

TEST_F(X11ScreenCapture, CursorPositionFollowsThePointer) {
  Display* display = XOpenDisplay(server_->Display().c_str());
  ASSERT_NE(display, nullptr);
  for (POINT where : {POINT{5, 7}, POINT{319, 239}}) {
    XWarpPointer(display, None, DefaultRootWindow(display), 0, 0, 0, 0, where.x, where.y);
    XSync(display, False);
    POINT got{};
    ASSERT_TRUE(GetCursorPos(&got));
    EXPECT_EQ(got.x, where.x);
    EXPECT_EQ(got.y, where.y);
  }
  XCloseDisplay(display);
}

}  // namespace
