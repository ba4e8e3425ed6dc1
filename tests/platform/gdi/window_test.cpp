// What the headless backend refuses: classes, windows, device contexts and cursors it does not
// have, and bad handles and arguments. Windows, displays and painting as the system uses them
// are the control's and the engine's tests'.
#include <gtest/gtest.h>

#include "platform/kernel.h"
#include "platform/winerror.h"
#include "tests/platform/GdiTestSupport.h"

namespace {

using kwz_test::MakeDib;
using kwz_test::MakeWindow;
using kwz_test::Read;
using kwz_test::TestDib;

class GdiWindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
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
  HWND window = CreateWindowExW(0, u"kwzgditestclass", u"", WS_VISIBLE, 0, 0, 10, 10, nullptr,
                                nullptr, nullptr, nullptr);
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(kwz_platform::GetWindowProcForTesting(window), &TestProc);
  DestroyWindow(window);
  EXPECT_EQ(
      CreateWindowExW(0, u"KwzNoSuchClass", u"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_CANNOT_FIND_WND_CLASS);
  EXPECT_EQ(
      CreateWindowExW(0, u"STATIC", u"", WS_CHILD, 0, 0, 5, 5, nullptr, nullptr, nullptr, nullptr),
      nullptr);
  EXPECT_EQ(GetLastError(), ERROR_TLW_WITH_WSCHILD);
}

// Bad handles, and bitmaps and arguments the painting calls do not take, are answered with zero
// and paint nothing.
TEST_F(GdiWindowTest, BadHandlesAndArgumentsAreAnsweredWithZero) {
  HWND window = MakeWindow(4, 4);
  HWND other = MakeWindow(4, 4);
  HDC dc = GetDC(window);
  const auto bogusWindow = reinterpret_cast<HWND>(0x7777);
  const auto dcAsWindow = reinterpret_cast<HWND>(dc);  // a DC is no window, and a window no DC
  RECT r{};
  EXPECT_EQ(GetDC(bogusWindow), nullptr);
  EXPECT_EQ(GetDC(dcAsWindow), nullptr);
  EXPECT_FALSE(GetWindowRect(dcAsWindow, &r));
  EXPECT_FALSE(SetWindowPos(bogusWindow, nullptr, 0, 0, 1, 1, 0));
  EXPECT_FALSE(InvalidateRect(bogusWindow, nullptr, TRUE));

  TestDib dib = MakeDib(4, 4, 32, true, [](int, int) { return 1; });
  TestDib bitfields = dib, sixteen = dib;
  reinterpret_cast<BITMAPINFOHEADER*>(bitfields.info.data())->biCompression = 3;
  reinterpret_cast<BITMAPINFOHEADER*>(sixteen.info.data())->biBitCount = 16;
  const void* bits = dib.bits.data();
  struct Stretch {
    HDC dc;
    int width, srcHeight;
    const void* bits;
    const TestDib* dib;
    DWORD rop;
  };
  for (const Stretch& c :
       {Stretch{reinterpret_cast<HDC>(0x7778), 4, 4, bits, &dib, SRCCOPY},
        Stretch{reinterpret_cast<HDC>(window), 4, 4, bits, &dib, SRCCOPY},
        Stretch{nullptr, 4, 4, bits, &dib, SRCCOPY}, Stretch{dc, -4, 4, bits, &dib, SRCCOPY},
        Stretch{dc, 4, 0, bits, &dib, SRCCOPY}, Stretch{dc, 4, 4, bits, &dib, 0x00EE0086u},
        Stretch{dc, 4, 4, nullptr, &dib, SRCCOPY}, Stretch{dc, 4, 4, bits, &bitfields, SRCCOPY},
        Stretch{dc, 4, 4, bits, &sixteen, SRCCOPY}}) {
    EXPECT_EQ(StretchDIBits(c.dc, 0, 0, c.width, 4, 0, 0, 4, c.srcHeight, c.bits, c.dib->bmi(),
                            DIB_RGB_COLORS, c.rop),
              0);
  }
  for (HDC bad : {reinterpret_cast<HDC>(0x7778), reinterpret_cast<HDC>(window), HDC{}}) {
    EXPECT_EQ(SetDIBitsToDevice(bad, 0, 0, 4, 4, 0, 0, 0, 4, bits, dib.bmi(), DIB_RGB_COLORS), 0);
    EXPECT_EQ(SetStretchBltMode(bad, HALFTONE), 0);
    EXPECT_FALSE(DrawIcon(bad, 0, 0, LoadCursorW(nullptr, IDC_ARROW)));
    EXPECT_EQ(GetDeviceCaps(bad, HORZRES), 0);
    EXPECT_FALSE(DeleteDC(bad));
  }
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 0, 4, bits, sixteen.bmi(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 0, 4, bits, dib.bmi(), 1 /*DIB_PAL_COLORS*/),
            0);
  EXPECT_EQ(SetStretchBltMode(dc, 0), 0);
  EXPECT_EQ(SetStretchBltMode(dc, 5), 0);
  EXPECT_FALSE(DrawIcon(dc, 0, 0, reinterpret_cast<HICON>(window)));
  EXPECT_FALSE(DeleteDC(dc));  // a window's DC is released, not deleted
  EXPECT_EQ(ReleaseDC(other, dc), 0);
  EXPECT_EQ(ReleaseDC(window, dc), 1);
  EXPECT_EQ(ReleaseDC(window, dc), 0);
  EXPECT_EQ(SetDIBitsToDevice(dc, 0, 0, 4, 4, 0, 0, 0, 4, bits, dib.bmi(), DIB_RGB_COLORS), 0);
  EXPECT_EQ(Read(window).At(0, 0), 0xFF000000u);
  EXPECT_EQ(LoadCursorW(nullptr, MAKEINTRESOURCEW(32513)), nullptr);
  EXPECT_FALSE(GetIconInfo(reinterpret_cast<HICON>(0x1234), nullptr));
  DestroyWindow(window);
  EXPECT_FALSE(ShowWindow(window, SW_SHOW));
  EXPECT_FALSE(DestroyWindow(window));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  DestroyWindow(other);
}

}  // namespace
