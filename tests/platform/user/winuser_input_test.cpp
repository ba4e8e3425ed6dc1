// The focus of headless windows where the control's tests do not reach: between two windows, with
// keys held, from another thread and through destruction; and bad handles. Keys, characters and
// clicks are compared with the browser's records in BrowserRemoteControl_control_test, the
// control's own focus and activation in its tests.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <thread>
#include <tuple>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winuser.h"

namespace {

// The focus messages, with GetFocus() while they ran.
std::vector<std::tuple<UINT, HWND, HWND>>& Log() {
  static std::vector<std::tuple<UINT, HWND, HWND>> log;
  return log;
}

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS)
    Log().emplace_back(message, window, GetFocus());
  return DefWindowProcW(window, message, wParam, lParam);
}

class InputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = u"KwzInputTest";
    RegisterClassExW(&wc);
  }
  static HWND Make() {
    return CreateWindowExW(0, u"KwzInputTest", u"", WS_VISIBLE, 5, 5, 50, 50, nullptr, nullptr,
                           nullptr, nullptr);
  }
  // Runs the loop as an application does until nothing is left.
  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
};

TEST_F(InputTest, FocusMessagesComeOncePerChange) {
  HWND window = Make(), other = Make();
  ASSERT_NE(other, nullptr);
  Pump();
  Log().clear();
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(window, true));
  Pump();
  EXPECT_EQ(GetFocus(), window);
  // The display confirming a focus SetFocus already gave sends nothing.
  EXPECT_EQ(SetFocus(other), window);
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(other, true));
  Pump();
  EXPECT_EQ(SetFocus(other), other) << "no change, no messages";
  ASSERT_TRUE(kwz_platform::InjectKeyForTesting(window, KEY_LEFTSHIFT, true));
  Pump();
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(window, false)) << "not the focus: ignored";
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(other, false));
  Pump();
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_GE(GetKeyState(VK_SHIFT), 0) << "keys held are released with the focus";
  // One message per change; GetFocus answers the new window inside WM_SETFOCUS.
  EXPECT_EQ(Log(), (std::vector<std::tuple<UINT, HWND, HWND>>{{WM_SETFOCUS, window, window},
                                                              {WM_KILLFOCUS, window, other},
                                                              {WM_SETFOCUS, other, other},
                                                              {WM_KILLFOCUS, other, nullptr}}));

  // Another thread may neither take nor see this thread's focus.
  SetFocus(window);
  HWND fromThere = window;
  DWORD error = 0;
  std::jthread([&] {
    fromThere = SetFocus(window);
    error = GetLastError();
    if (GetFocus() != nullptr) fromThere = window;
  }).join();
  EXPECT_EQ(fromThere, nullptr);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  DestroyWindow(other);
  EXPECT_EQ(GetFocus(), window);
  DestroyWindow(window);
  EXPECT_EQ(GetFocus(), nullptr) << "a destroyed window does not keep the focus";
}

TEST_F(InputTest, BadHandlesAndRegionsAreRefused) {
  HWND window = Make();
  const HWND bogus = reinterpret_cast<HWND>(0x1234);
  EXPECT_FALSE(kwz_platform::InjectKeyForTesting(bogus, KEY_A, true));
  EXPECT_EQ(SetFocus(bogus), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_NE(SetWindowRgn(window, nullptr, TRUE), 0);
  EXPECT_EQ(SetWindowRgn(window, reinterpret_cast<HRGN>(0x10), TRUE), 0);
  EXPECT_EQ(SetWindowRgn(bogus, nullptr, TRUE), 0);
  EXPECT_FALSE(GetKeyboardState(nullptr));
  EXPECT_EQ(GetKeyState(-1), 0);
  EXPECT_EQ(GetKeyState(0x1000), 0);
  DestroyWindow(window);
}

}  // namespace
