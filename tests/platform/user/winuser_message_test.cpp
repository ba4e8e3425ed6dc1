// Window messages on the headless backend where the control's and the viewer's tests do not
// reach: the queue's order with WM_PAINT, and handles that take no messages. Sent messages
// across threads, the windows' lifecycle and WM_QUIT are theirs.
#include <gtest/gtest.h>

#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winuser.h"

namespace {

LRESULT TestProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  return message == WM_APP + 1 ? 1 : DefWindowProcW(window, message, wParam, lParam);
}

class MessageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = TestProc;
    wc.lpszClassName = u"KwzMessageTestClass";
    ASSERT_NE(RegisterClassExW(&wc), 0);
  }
  static HWND Make() {
    return CreateWindowExW(0, u"KwzMessageTestClass", u"", 0, 5, 6, 320, 240, nullptr, nullptr,
                           nullptr, nullptr);
  }
};

// Posted messages in order, to the window and to the thread; a hidden window's update waits;
// then one WM_PAINT for any number of invalidations, with their bounding rectangle.
TEST_F(MessageTest, PaintComesAfterThePostedMessagesOncePerUpdate) {
  HWND window = Make();
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "hidden: no WM_PAINT";
  ShowWindow(window, SW_SHOW);
  PAINTSTRUCT paint;
  BeginPaint(window, &paint);  // the initial update
  EndPaint(window, &paint);
  const RECT a{10, 20, 30, 40}, b{50, 5, 60, 25};
  InvalidateRect(window, &a, FALSE);
  InvalidateRect(window, &b, FALSE);
  ASSERT_TRUE(PostMessageW(window, WM_APP, 1, 0));
  ASSERT_TRUE(PostMessageW(nullptr, WM_APP, 2, 0));
  for (WPARAM posted : {1, 2}) {
    ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(std::pair(message.message, message.wParam), std::pair(UINT{WM_APP}, posted));
  }
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, static_cast<UINT>(WM_PAINT));
  ASSERT_NE(BeginPaint(window, &paint), nullptr);
  EXPECT_EQ(
      std::tuple(paint.rcPaint.left, paint.rcPaint.top, paint.rcPaint.right, paint.rcPaint.bottom),
      std::tuple(10, 5, 60, 40));
  EndPaint(window, &paint);
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));

  DestroyWindow(window);
}

// A destroyed window, and a window whose thread has ended, take no messages.
TEST_F(MessageTest, GoneWindowsAndThreadsTakeNoMessages) {
  HWND window = Make();
  DestroyWindow(window);
  MSG message;
  EXPECT_FALSE(PostMessageW(window, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(GetMessageW(&message, window, 0, 0), -1);
  HWND orphan = nullptr;
  std::jthread([&] { orphan = Make(); }).join();
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(SendMessageW(orphan, WM_APP + 1, 5, 0), 0);
  EXPECT_FALSE(PostMessageW(orphan, WM_APP, 0, 0));
  DestroyWindow(orphan);
}

}  // namespace
