// Window messages on the headless backend: creation and destruction messages, the posted queue
// and WM_QUIT, filters, sent messages on the same thread and from others.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/winuser.h"

namespace {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD thread;
  bool live;  // IsWindow while the message ran
};

// The messages that the test procedure saw, in order. Tests clear it first.
std::vector<Seen>& Log() {
  static std::vector<Seen> log;
  return log;
}

// lpCreateParams: what WM_CREATE answers.
LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  Log().push_back(
      Seen{window, message, wParam, lParam, GetCurrentThreadId(), IsWindow(window) != 0});
  switch (message) {
    case WM_CREATE: {
      const auto* create = reinterpret_cast<const CREATESTRUCTW*>(lParam);
      return create->lpCreateParams != nullptr ? *static_cast<LRESULT*>(create->lpCreateParams) : 0;
    }
    case WM_APP + 1:
      return static_cast<LRESULT>(wParam * 2);
    default:
      return DefWindowProcW(window, message, wParam, lParam);
  }
}

std::vector<UINT> MessagesOf(HWND window) {
  std::vector<UINT> messages;
  for (const Seen& s : Log()) {
    if (s.window == window) messages.push_back(s.message);
  }
  return messages;
}

class MessageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = u"KwzMessageTestClass";
    ASSERT_NE(RegisterClassExW(&wc), 0);
  }
  void SetUp() override {
    Log().clear();
    MSG stale;
    while (PeekMessageW(&stale, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  static HWND Make(HWND parent = nullptr, LRESULT* createResult = nullptr) {
    return CreateWindowExW(0, u"KwzMessageTestClass", u"", parent ? WS_CHILD : 0, 5, 6, 320, 240,
                           parent, nullptr, nullptr, createResult);
  }
};

TEST_F(MessageTest, CreationAndDestructionMessagesArriveInOrder) {
  HWND parent = Make();
  ASSERT_NE(parent, nullptr);
  EXPECT_EQ(MessagesOf(parent), (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_SIZE}));
  EXPECT_EQ(Log()[2].lParam, MAKELPARAM(320, 240));
  EXPECT_EQ(Log()[2].wParam, static_cast<WPARAM>(SIZE_RESTORED));
  HWND child = Make(parent);
  ASSERT_NE(child, nullptr);

  Log().clear();
  ASSERT_TRUE(DestroyWindow(parent));
  std::vector<std::pair<HWND, UINT>> order;
  for (const Seen& s : Log()) {
    order.emplace_back(s.window, s.message);
    EXPECT_TRUE(s.live) << "the handle is valid while its destruction messages run";
  }
  EXPECT_EQ(order, (std::vector<std::pair<HWND, UINT>>{{parent, WM_DESTROY},
                                                       {child, WM_DESTROY},
                                                       {child, WM_NCDESTROY},
                                                       {parent, WM_NCDESTROY}}));
  EXPECT_FALSE(IsWindow(parent));
  EXPECT_FALSE(IsWindow(child));
}

TEST_F(MessageTest, CreateAnsweringMinusOneFailsTheCreation) {
  LRESULT refuse = -1;
  EXPECT_EQ(Make(nullptr, &refuse), nullptr);
  ASSERT_GE(Log().size(), 2u);
  const HWND attempted = Log()[0].window;
  EXPECT_EQ(MessagesOf(attempted),
            (std::vector<UINT>{WM_NCCREATE, WM_CREATE, WM_DESTROY, WM_NCDESTROY}));
  EXPECT_FALSE(IsWindow(attempted));
}

TEST_F(MessageTest, PostedMessagesComeInOrderAndQuitComesLast) {
  HWND window = Make();
  ASSERT_TRUE(PostMessageW(window, WM_APP, 1, 0));
  ASSERT_TRUE(PostMessageW(nullptr, WM_APP, 2, 0));  // to the thread itself
  PostQuitMessage(7);
  ASSERT_TRUE(PostMessageW(window, WM_APP, 3, 0));

  MSG message;
  std::vector<WPARAM> order;
  BOOL got;
  while ((got = GetMessageW(&message, nullptr, 0, 0)) > 0) {
    order.push_back(message.wParam);
    DispatchMessageW(&message);
  }
  EXPECT_EQ(got, 0);
  EXPECT_EQ(message.message, WM_QUIT);
  EXPECT_EQ(message.wParam, 7u);
  EXPECT_EQ(order, (std::vector<WPARAM>{1, 2, 3}));
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) << "WM_QUIT is taken once";
  DestroyWindow(window);
  EXPECT_FALSE(PostMessageW(window, WM_APP, 0, 0));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_EQ(GetMessageW(&message, window, 0, 0), -1);
}

// WM_PAINT: after everything else, once for any number of invalidations, with their bounding
// rectangle; hidden windows wait until shown; erasing only when asked, with the class brush.
TEST_F(MessageTest, PaintComesLastOncePerUpdateAndOnlyWhenShown) {
  HWND window = Make();  // hidden: its initial update waits
  MSG message;
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  ShowWindow(window, SW_SHOW);
  PostMessageW(window, WM_APP, 1, 0);
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_APP);
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_PAINT);
  PAINTSTRUCT paint;
  ASSERT_NE(BeginPaint(window, &paint), nullptr);
  EXPECT_EQ(paint.rcPaint.right, 320);
  EXPECT_TRUE(paint.fErase) << "no class brush erased it: the owner must";
  EndPaint(window, &paint);
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));

  const RECT a{10, 20, 30, 40}, b{50, 5, 60, 25};
  InvalidateRect(window, &a, FALSE);
  InvalidateRect(window, &b, FALSE);
  Log().clear();
  ASSERT_TRUE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  EXPECT_EQ(message.message, WM_PAINT);
  ASSERT_NE(BeginPaint(window, &paint), nullptr);
  EXPECT_EQ(paint.rcPaint.left, 10);
  EXPECT_EQ(paint.rcPaint.top, 5);
  EXPECT_EQ(paint.rcPaint.right, 60);
  EXPECT_EQ(paint.rcPaint.bottom, 40);
  EndPaint(window, &paint);
  EXPECT_TRUE(MessagesOf(window).empty()) << "no WM_ERASEBKGND without erase";
  EXPECT_FALSE(PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE));
  DestroyWindow(window);
}

TEST_F(MessageTest, OtherThreadsSendIntoTheOwningThreadsLoop) {
  HWND window = Make();
  std::atomic<LRESULT> sent{0};
  std::atomic<DWORD> sender{0};
  std::jthread other([&] {
    sender = GetCurrentThreadId();
    sent = SendMessageW(window, WM_APP + 1, 50, 0);
    SetWindowPos(window, nullptr, 0, 0, 64, 32, SWP_NOMOVE | SWP_NOZORDER);
    PostMessageW(window, WM_APP, 0, 0);
  });
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0 && message.message != WM_APP) {
    DispatchMessageW(&message);
  }
  other.join();
  EXPECT_EQ(sent.load(), 100);
  std::vector<UINT> ranHere;
  for (const Seen& s : Log()) {
    if (s.message == WM_APP + 1 || s.message == WM_SIZE) {
      EXPECT_EQ(s.thread, GetCurrentThreadId());
      EXPECT_NE(s.thread, sender.load());
      ranHere.push_back(s.message);
    }
  }
  EXPECT_EQ(ranHere, (std::vector<UINT>{WM_SIZE, WM_APP + 1, WM_SIZE}));
  EXPECT_EQ(GetWindowThreadProcessId(window, nullptr), GetCurrentThreadId());
  DestroyWindow(window);
}

TEST_F(MessageTest, WindowsOfAnEndedThreadTakeNoMessages) {
  HWND orphan = nullptr;
  std::jthread([&] { orphan = Make(); }).join();
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(SendMessageW(orphan, WM_APP + 1, 5, 0), 0);
  EXPECT_FALSE(PostMessageW(orphan, WM_APP, 0, 0));
  DestroyWindow(orphan);
}

}  // namespace
