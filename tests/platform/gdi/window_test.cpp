// Windows, device contexts, display enumeration and bad handles on the headless backend.
#include <gtest/gtest.h>
#include <png.h>

#include <string>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "tests/platform/GdiTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::MakeDib;
using kwz_test::MakeWindow;
using kwz_test::PaletteColour;
using kwz_test::Read;

class GdiWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
  }
};

// Creation needs WM_NCCREATE answered as the default procedure does.
LRESULT TestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return DefWindowProcW(window, message, wParam, lParam);
}

TEST_F(GdiWindowTest, ClassesRegisterOnceAndKeepTheirWindowProcedure) {
  WNDCLASSW wc{};
  wc.lpfnWndProc = TestProc;
  wc.lpszClassName = u"KwzGdiTestClass";
  const ATOM atom = RegisterClassW(&wc);
  ASSERT_NE(atom, 0);
  wc.lpszClassName = u"KWZGDITESTCLASS";  // names ignore case
  EXPECT_EQ(RegisterClassW(&wc), 0);
  EXPECT_EQ(GetLastError(), ERROR_CLASS_ALREADY_EXISTS);
  for (LPCWSTR name : {static_cast<LPCWSTR>(u"kwzgditestclass"), MAKEINTATOM(atom)}) {
    HWND window =
        CreateWindowExW(0, name, u"", WS_VISIBLE, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(kwz_platform::GetWindowProcForTesting(window), &TestProc);
    DestroyWindow(window);
  }
  EXPECT_TRUE(UnregisterClassW(u"KwzGdiTestClass", nullptr));
  EXPECT_EQ(CreateWindowExW(0, u"KwzGdiTestClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                            nullptr),
            nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
}

TEST_F(GdiWindowTest, ChildWindowsSitInTheirParentAndDieWithIt) {
  EXPECT_EQ(
      CreateWindowExW(0, u"STATIC", u"", WS_CHILD, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);
  HWND parent = CreateWindowExW(0, u"STATIC", u"", WS_VISIBLE, 100, 50, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
  HWND child = CreateWindowExW(0, u"STATIC", u"", WS_CHILD | WS_VISIBLE, 10, 20, 64, 48, parent,
                               nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  RECT r{};
  ASSERT_TRUE(GetWindowRect(child, &r));
  EXPECT_EQ(r.left, 110);
  EXPECT_EQ(r.top, 70);
  EXPECT_EQ(r.right, 174);
  EXPECT_EQ(r.bottom, 118);
  ASSERT_TRUE(GetClientRect(child, &r));
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.right, 64);
  EXPECT_EQ(r.bottom, 48);
  POINT p{1, 2};
  ASSERT_TRUE(ClientToScreen(child, &p));
  EXPECT_EQ(p.x, 111);
  EXPECT_EQ(p.y, 72);
  ASSERT_TRUE(ScreenToClient(parent, &p));
  EXPECT_EQ(p.x, 11);
  EXPECT_EQ(p.y, 22);
  // The deepest window under a point, else its parent, else none of ours.
  EXPECT_EQ(WindowFromPoint(POINT{120, 80}), child);
  EXPECT_EQ(WindowFromPoint(POINT{300, 80}), parent);
  EXPECT_EQ(WindowFromPoint(POINT{99, 80}), nullptr);
  EXPECT_TRUE(DestroyWindow(parent));
  EXPECT_FALSE(IsWindow(child));
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(DestroyWindow(child));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
}

// A child shows only while it and every parent are shown; hiding or showing a window answers
// whether it was visible, and SetWindowPos's show and hide flags count the same.
TEST_F(GdiWindowTest, VisibilityFollowsTheParentChain) {
  HWND parent = CreateWindowExW(0, u"STATIC", u"", WS_VISIBLE, 0, 0, 300, 200, nullptr, nullptr,
                                nullptr, nullptr);
  HWND hidden =
      CreateWindowExW(0, u"STATIC", u"", WS_CHILD, 0, 0, 10, 10, parent, nullptr, nullptr, nullptr);
  HWND child = CreateWindowExW(0, u"STATIC", u"", WS_CHILD | WS_VISIBLE, 0, 0, 10, 10, parent,
                               nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  EXPECT_EQ(GetParent(child), parent);
  EXPECT_EQ(GetParent(parent), nullptr);
  EXPECT_TRUE(IsWindowVisible(child));
  EXPECT_FALSE(IsWindowVisible(hidden));

  EXPECT_TRUE(ShowWindow(parent, SW_HIDE));
  EXPECT_FALSE(IsWindowVisible(child));
  EXPECT_FALSE(ShowWindow(parent, SW_HIDE));
  EXPECT_FALSE(ShowWindow(parent, SW_SHOW));
  EXPECT_TRUE(IsWindowVisible(child));
  EXPECT_TRUE(SetWindowPos(child, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_HIDEWINDOW));
  EXPECT_FALSE(IsWindowVisible(child));
  EXPECT_TRUE(IsWindowVisible(parent));
  EXPECT_TRUE(SetWindowPos(child, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW));
  EXPECT_TRUE(IsWindowVisible(child));

  EXPECT_TRUE(DestroyWindow(parent));
  EXPECT_FALSE(IsWindowVisible(child));
  EXPECT_FALSE(ShowWindow(child, SW_SHOW));
  EXPECT_EQ(GetParent(child), nullptr);
}

TEST_F(GdiWindowTest, ResizeKeepsTheTopLeftAndNextDcHasTheNewSize) {
  HWND window = MakeWindow(6, 4);
  kwz_test::Fill(window, 6, 4, 50);
  ASSERT_TRUE(SetWindowPos(window, nullptr, 999, 999, 9, 3, SWP_NOMOVE | SWP_NOZORDER));
  RECT r{};
  ASSERT_TRUE(GetClientRect(window, &r));
  EXPECT_EQ(r.right, 9);
  EXPECT_EQ(r.bottom, 3);
  ASSERT_TRUE(GetWindowRect(window, &r));
  EXPECT_EQ(r.left, 0);  // SWP_NOMOVE
  auto shown = Read(window);
  ASSERT_EQ(shown.width, 9);
  ASSERT_EQ(shown.height, 3);
  EXPECT_EQ(shown.At(5, 2), PaletteColour(50));
  EXPECT_EQ(shown.At(6, 0), 0xFF000000u);
  kwz_test::Fill(window, 9, 3, 60);
  EXPECT_EQ(Read(window).At(8, 2), PaletteColour(60));
  DestroyWindow(window);
}

// A DC got before a resize paints at its own size, clipped to the window when released.
TEST_F(GdiWindowTest, DcGotBeforeAResizeOrDestructionIsHarmless) {
  auto dib = MakeDib(8, 8, 32, true, [](int x, int y) { return x + 8 * y; });
  HWND window = MakeWindow(8, 8);
  HDC dc = GetDC(window);
  SetWindowPos(window, nullptr, 0, 0, 4, 4, SWP_NOMOVE | SWP_NOZORDER);
  SetDIBitsToDevice(dc, 0, 0, 8, 8, 0, 0, 0, 8, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS);
  EXPECT_EQ(ReleaseDC(window, dc), 1);
  auto shown = Read(window);
  ASSERT_EQ(shown.width, 4);
  EXPECT_EQ(shown.At(3, 3), dib.Colour(3, 3));
  dc = GetDC(window);
  EXPECT_TRUE(DestroyWindow(window));
  EXPECT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 8, 8, 0, 0, 0, 8, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS), 8);
  EXPECT_EQ(ReleaseDC(window, dc), 1);
  EXPECT_EQ(GetDC(window), nullptr);
}

TEST_F(GdiWindowTest, BadHandlesAreAnsweredWithZero) {
  HWND window = MakeWindow(4, 4);
  HWND other = MakeWindow(4, 4);
  HDC dc = GetDC(window);
  const auto bogusWindow = reinterpret_cast<HWND>(0x7777);
  const auto bogusDc = reinterpret_cast<HDC>(0x7778);
  // A window handle is no DC, and a DC no window.
  const auto windowAsDc = reinterpret_cast<HDC>(window);
  const auto dcAsWindow = reinterpret_cast<HWND>(dc);
  auto dib = MakeDib(4, 4, 32, true, [](int, int) { return 9; });
  RECT r{};
  EXPECT_EQ(GetDC(bogusWindow), nullptr);
  EXPECT_EQ(GetDC(dcAsWindow), nullptr);
  EXPECT_FALSE(GetClientRect(bogusWindow, &r));
  EXPECT_FALSE(GetWindowRect(dcAsWindow, &r));
  EXPECT_FALSE(SetWindowPos(bogusWindow, nullptr, 0, 0, 1, 1, 0));
  EXPECT_FALSE(InvalidateRect(bogusWindow, nullptr, TRUE));
  EXPECT_FALSE(IsWindow(nullptr));
  for (HDC bad : {bogusDc, windowAsDc, static_cast<HDC>(nullptr)}) {
    EXPECT_EQ(
        SetDIBitsToDevice(bad, 0, 0, 4, 4, 0, 0, 0, 4, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS),
        0);
    EXPECT_EQ(StretchDIBits(bad, 0, 0, 4, 4, 0, 0, 4, 4, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS,
                            SRCCOPY),
              0);
    EXPECT_EQ(SetStretchBltMode(bad, HALFTONE), 0);
    EXPECT_FALSE(DrawIcon(bad, 0, 0, LoadCursorW(nullptr, IDC_ARROW)));
    EXPECT_EQ(GetDeviceCaps(bad, HORZRES), 0);
    EXPECT_FALSE(DeleteDC(bad));
  }
  EXPECT_FALSE(DrawIcon(dc, 0, 0, reinterpret_cast<HICON>(window)));
  EXPECT_FALSE(DeleteDC(dc));  // a window's DC is released, not deleted
  EXPECT_EQ(ReleaseDC(other, dc), 0);
  EXPECT_EQ(ReleaseDC(window, dc), 1);
  EXPECT_EQ(ReleaseDC(window, dc), 0);
  EXPECT_EQ(
      SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 0, 4, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS), 0);
  EXPECT_FALSE(DeleteObject(nullptr));
  DestroyWindow(window);
  DestroyWindow(other);
}

TEST_F(GdiWindowTest, DisplaysAreTheConfiguredVirtualOnes) {
  HDC display = CreateDCW(u"DISPLAY", nullptr, nullptr, nullptr);
  ASSERT_NE(display, nullptr);
  EXPECT_EQ(GetDeviceCaps(display, HORZRES), 1920);
  EXPECT_EQ(GetDeviceCaps(display, VERTRES), 1080);
  kwz_platform::SetHeadlessDisplays({SIZE{1280, 720}, SIZE{2560, 1440}});
  EXPECT_EQ(GetDeviceCaps(display, HORZRES), 1280);
  EXPECT_TRUE(DeleteDC(display));
  EXPECT_FALSE(DeleteDC(display));
  EXPECT_EQ(CreateDCW(u"PRINTER", nullptr, nullptr, nullptr), nullptr);

  const SIZE expected[] = {{1280, 720}, {2560, 1440}};
  DISPLAY_DEVICEW device{};
  device.cb = sizeof(device);
  DWORD index = 0;
  for (; EnumDisplayDevicesW(nullptr, index, &device, 0); ++index) {
    ASSERT_LT(index, 2u);
    EXPECT_EQ(std::u16string(device.DeviceName),
              u"\\\\.\\DISPLAY" + std::u16string(1, static_cast<char16_t>(u'1' + index)));
    EXPECT_EQ((device.StateFlags & DISPLAY_DEVICE_PRIMARY_DEVICE) != 0, index == 0);
    DEVMODEW mode{};
    mode.dmSize = sizeof(mode);
    ASSERT_TRUE(EnumDisplaySettingsW(device.DeviceName, ENUM_CURRENT_SETTINGS, &mode));
    EXPECT_EQ(mode.dmPelsWidth, static_cast<DWORD>(expected[index].cx));
    EXPECT_EQ(mode.dmPelsHeight, static_cast<DWORD>(expected[index].cy));
    EXPECT_EQ(mode.dmBitsPerPel, 32u);
  }
  EXPECT_EQ(index, 2u);
  DEVMODEW mode{};
  EXPECT_FALSE(EnumDisplaySettingsW(u"\\\\.\\DISPLAY3", ENUM_CURRENT_SETTINGS, &mode));
  EXPECT_FALSE(EnumDisplaySettingsW(nullptr, 7, &mode));
  device.cb = 4;
  EXPECT_FALSE(EnumDisplayDevicesW(nullptr, 0, &device, 0));
}

TEST_F(GdiWindowTest, WindowPngHoldsWhatTheWindowShows) {
  HWND window = MakeWindow(5, 3);
  auto dib = MakeDib(5, 3, 24, true, [](int x, int y) { return x * 40 + y; });
  HDC dc = GetDC(window);
  SetDIBitsToDevice(dc, 0, 0, 5, 3, 0, 0, 0, 3, dib.bits.data(), dib.bmi(), DIB_RGB_COLORS);
  ReleaseDC(window, dc);
  kwz_test::TempDir dir;
  const std::string path = std::string(dir.path()) + "/window.png";
  ASSERT_TRUE(kwz_platform::WriteWindowPng(window, path.c_str()));
  EXPECT_FALSE(kwz_platform::WriteWindowPng(window, "/nonexistent-dir/x.png"));
  EXPECT_FALSE(kwz_platform::WriteWindowPng(nullptr, path.c_str()));

  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  ASSERT_TRUE(png_image_begin_read_from_file(&image, path.c_str()));
  image.format = PNG_FORMAT_BGRA;
  std::vector<std::uint32_t> read(static_cast<size_t>(image.width) * image.height);
  ASSERT_TRUE(png_image_finish_read(&image, nullptr, read.data(), 0, nullptr));
  ASSERT_EQ(image.width, 5u);
  ASSERT_EQ(image.height, 3u);
  for (int y = 0; y < 3; ++y) {
    for (int x = 0; x < 5; ++x) EXPECT_EQ(read[static_cast<size_t>(y) * 5 + x], dib.Colour(x, y));
  }
  DestroyWindow(window);
}

}  // namespace
