// The message loop over the X11 backend, under a private Xvfb: one wait covers the thread's
// queue and its X connection, so messages sent from other threads wake GetMessageW as X input
// does (x11_input_test.cpp waits for input in GetMessageW), and the
// window manager's close request becomes WM_CLOSE.
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <thread>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/kernel.h"
#include "tests/platform/GdiTestSupport.h"
#include "tests/support/XvfbServer.h"

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/Xlib.h>

namespace {

std::vector<MSG>& Handled() {
  static std::vector<MSG> handled;
  return handled;
}

LRESULT KeepingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SIZE) {
    Handled().push_back(MSG{window, message, wParam, lParam, 0, POINT{0, 0}});
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class X11MessageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static kwz_test::XvfbServer server;
    server_ = &server;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = KeepingProc;
    wc.lpszClassName = u"KwzX11MessageTest";
    RegisterClassExW(&wc);
  }
  void SetUp() override {
    if (!server_->Running()) GTEST_SKIP() << "X11 suite skipped: " << server_->Error();
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11,
                                               server_->Display().c_str()));
    Handled().clear();
    window_ = CreateWindowExW(0, u"KwzX11MessageTest", u"", WS_POPUP | WS_VISIBLE, 10, 10, 200, 100,
                              nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    ASSERT_NE(kwz_platform::X11WindowForTesting(window_), 0u);
    Handled().clear();  // the creation's WM_SIZE
  }
  void TearDown() override {
    if (window_ != nullptr) DestroyWindow(window_);
    MSG stale;
    while (PeekMessageW(&stale, nullptr, 0, 0, PM_REMOVE)) {
    }
  }

  static kwz_test::XvfbServer* server_;
  HWND window_ = nullptr;
};

kwz_test::XvfbServer* X11MessageTest::server_ = nullptr;

// A message sent from another thread wakes GetMessageW, which waits on the server's connection
// too, and runs on the window's thread.
TEST_F(X11MessageTest, OtherThreadsReachTheLoopWhileItWaitsOnTheServer) {
  std::atomic<LRESULT> sent{-1};
  std::jthread other([&] { sent = SendMessageW(window_, WM_SIZE, 0, MAKELPARAM(1, 2)); });
  kwz_test::PumpUntil(window_, [] { return !Handled().empty(); });
  other.join();
  EXPECT_EQ(sent.load(), 0);
  ASSERT_FALSE(Handled().empty());
  EXPECT_EQ(Handled().back().lParam, MAKELPARAM(1, 2));
}

std::vector<UINT>& Lifecycle() {
  static std::vector<UINT> seen;
  return seen;
}

LRESULT LifecycleProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_CLOSE || message == WM_DESTROY) Lifecycle().push_back(message);
  return DefWindowProcW(window, message, wParam, lParam);
}

bool HasDeleteProtocol(Display* display, Window xid) {
  Atom* protocols = nullptr;
  int count = 0;
  if (!XGetWMProtocols(display, xid, &protocols, &count)) return false;
  const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
  bool found = false;
  for (int i = 0; i < count; ++i) found = found || protocols[i] == deleteWindow;
  XFree(protocols);
  return found;
}

// What a window manager does when the user closes a window: a WM_PROTOCOLS client message sent
// with no event mask, which the server delivers to the window's creator.
void SendDeleteRequest(Display* display, Window xid) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = xid;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, xid, False, NoEventMask, &event);
  XSync(display, False);
}

TEST_F(X11MessageTest, TheWindowManagersCloseBecomesWmCloseAndDestroysTheWindow) {
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = LifecycleProc;
  wc.lpszClassName = u"KwzX11LifecycleTest";
  RegisterClassExW(&wc);
  const HWND top = CreateWindowExW(0, u"KwzX11LifecycleTest", u"", WS_OVERLAPPED | WS_VISIBLE, 0, 0,
                                   120, 80, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(top, nullptr);
  const HWND child = CreateWindowExW(0, u"KwzX11LifecycleTest", u"", WS_CHILD | WS_VISIBLE, 0, 0,
                                     40, 40, top, nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  Lifecycle().clear();

  Display* other = XOpenDisplay(server_->Display().c_str());
  ASSERT_NE(other, nullptr);
  const Window xid = kwz_platform::X11WindowForTesting(top);
  EXPECT_TRUE(HasDeleteProtocol(other, xid));
  EXPECT_FALSE(HasDeleteProtocol(other, kwz_platform::X11WindowForTesting(child)))
      << "only top-level windows deal with the window manager";
  // A client message of another kind must be dropped, not taken for a close.
  XEvent unrelated{};
  unrelated.xclient.type = ClientMessage;
  unrelated.xclient.window = xid;
  unrelated.xclient.message_type = XInternAtom(other, "KWZ_UNRELATED", False);
  unrelated.xclient.format = 32;
  XSendEvent(other, xid, False, NoEventMask, &unrelated);
  SendDeleteRequest(other, xid);
  XCloseDisplay(other);

  kwz_test::PumpUntil(top, [&] { return IsWindow(top) == 0; });
  EXPECT_FALSE(IsWindow(top));
  EXPECT_FALSE(IsWindow(child));
  // WM_CLOSE once, to the frame; WM_DESTROY to it and then its child.
  EXPECT_EQ(Lifecycle(), (std::vector<UINT>{WM_CLOSE, WM_DESTROY, WM_DESTROY}));
}

}  // namespace
