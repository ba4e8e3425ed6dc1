// Real input under a private Xvfb: xdotool moves the pointer, clicks and types through the
// XTEST extension, and a window of the X11 backend records the messages it gets, as an
// application's loop would dispatch them.
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/kernel.h"
#include "platform/winuser.h"
#include "tests/support/XvfbServer.h"

// Last: Xlib defines macros (None, Bool) that other headers use as names.
#include <X11/Xlib.h>

extern char** environ;

namespace {

struct Seen {
  HWND window;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

std::vector<Seen>& Log() {
  static std::vector<Seen> log;
  return log;
}

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_SETFOCUS || message == WM_KILLFOCUS ||
      (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
      (message >= WM_LBUTTONDOWN && message <= WM_MOUSELAST)) {
    Log().push_back(Seen{window, message, wParam, lParam});
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class X11InputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    static kwz_test::XvfbServer server;
    server_ = &server;
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.style = CS_DBLCLKS;
    wc.lpfnWndProc = RecordingProc;
    wc.lpszClassName = u"KwzX11InputTest";
    RegisterClassExW(&wc);
  }
  void SetUp() override {
    if (!server_->Running()) GTEST_SKIP() << "X11 suite skipped: " << server_->Error();
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kX11,
                                               server_->Display().c_str()));
    window_ = CreateWindowExW(0, u"KwzX11InputTest", u"", WS_POPUP | WS_VISIBLE, 40, 30, 200, 100,
                              nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    xid_ = kwz_platform::X11WindowForTesting(window_);
    SetFocus(window_);
    // Let the server's own FocusIn come in (and be found a duplicate) before the test starts.
    PumpUntil([] { return false; }, 150);
    Log().clear();
  }
  void TearDown() override {
    if (window_ != nullptr) DestroyWindow(window_);
    PumpUntil([] { return false; }, 0);
  }

  // Runs xdotool against the private server and waits for it.
  static void Xdotool(std::vector<std::string> args) {
    args.insert(args.begin(), "xdotool");
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> env{"DISPLAY=" + server_->Display()};
    std::vector<char*> envp{env[0].data(), nullptr};
    pid_t pid = -1;
    ASSERT_EQ(posix_spawnp(&pid, "xdotool", nullptr, nullptr, argv.data(), envp.data()), 0)
        << "is xdotool installed?";
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << args[1];
  }

  // Dispatches (with TranslateMessage) until done() or timeoutMs have passed.
  static void PumpUntil(const std::function<bool()>& done, int timeoutMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
      }
      if (done() || std::chrono::steady_clock::now() >= end) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
  }

  static std::vector<Seen> Only(std::initializer_list<UINT> kinds) {
    std::vector<Seen> kept;
    for (const Seen& s : Log()) {
      for (UINT k : kinds) {
        if (s.message == k) kept.push_back(s);
      }
    }
    return kept;
  }

  // A mapped window of another client on the test server, to take the focus away from ours.
  class ForeignWindow {
   public:
    ForeignWindow() : display_(XOpenDisplay(server_->Display().c_str())) {
      if (display_ == nullptr) return;
      window_ =
          XCreateSimpleWindow(display_, DefaultRootWindow(display_), 300, 300, 50, 50, 0, 0, 0);
      XMapWindow(display_, window_);
      XSync(display_, False);
    }
    ~ForeignWindow() {
      if (display_ == nullptr) return;
      XDestroyWindow(display_, window_);
      XCloseDisplay(display_);
    }
    ForeignWindow(const ForeignWindow&) = delete;
    ForeignWindow& operator=(const ForeignWindow&) = delete;

    bool ok() const { return display_ != nullptr; }
    std::string id() const { return std::to_string(window_); }

   private:
    Display* display_;
    Window window_ = 0;
  };

  static kwz_test::XvfbServer* server_;
  HWND window_ = nullptr;
  unsigned long xid_ = 0;
};

kwz_test::XvfbServer* X11InputTest::server_ = nullptr;

TEST_F(X11InputTest, ClicksAndDoubleClicks) {
  Xdotool({"mousemove", "--window", std::to_string(xid_), "20", "30"});
  Xdotool({"click", "1"});
  PumpUntil([] { return Only({WM_LBUTTONUP}).size() == 1; }, 5000);
  std::this_thread::sleep_for(std::chrono::milliseconds(600));  // past the double-click time
  Xdotool({"click", "--repeat", "2", "--delay", "50", "1"});
  Xdotool({"click", "--repeat", "2", "--delay", "50", "3"});
  PumpUntil([] { return Only({WM_RBUTTONUP}).size() == 2; }, 5000);

  const auto buttons = Only({WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                             WM_RBUTTONUP, WM_RBUTTONDBLCLK});
  std::vector<UINT> messages;
  for (const Seen& s : buttons) messages.push_back(s.message);
  const std::vector<UINT> expected = {WM_LBUTTONDOWN,   WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONUP,
                                      WM_LBUTTONDBLCLK, WM_LBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONUP,
                                      WM_RBUTTONDBLCLK, WM_RBUTTONUP};
  ASSERT_EQ(messages, expected);
  EXPECT_EQ(buttons[0].lParam, MAKELPARAM(20, 30)) << "client coordinates";
  EXPECT_EQ(buttons[0].wParam, static_cast<WPARAM>(MK_LBUTTON));
  EXPECT_EQ(buttons[1].wParam, 0u);
  EXPECT_EQ(buttons[8].wParam, static_cast<WPARAM>(MK_RBUTTON));
}

// The server's key events through to the window's messages: a letter, a modifier from the
// server's state, an extended key, a system key with its character. Which message each key makes
// is the translator's rule, tabled in user/key_translator_test.cpp.
// xdotool releases the keys of a combination in the order it pressed them: the modifier first.
struct TypingCase {
  const char* name;
  const char* keys;  // xdotool's key names
  // The messages in order, each with its wParam; lParam bits checked below.
  std::vector<std::pair<UINT, WPARAM>> expected;
  unsigned firstScan;  // scan code of the first message's key
  bool firstExtended;
};

const TypingCase kTyping[] = {
    {"LetterA", "a", {{WM_KEYDOWN, 'A'}, {WM_CHAR, 'a'}, {WM_KEYUP, 'A'}}, 0x1E, false},
    {"ShiftA",
     "shift+a",
     {{WM_KEYDOWN, VK_SHIFT},
      {WM_KEYDOWN, 'A'},
      {WM_CHAR, 'A'},
      {WM_KEYUP, VK_SHIFT},
      {WM_KEYUP, 'A'}},
     0x2A,
     false},
    {"LeftArrow", "Left", {{WM_KEYDOWN, VK_LEFT}, {WM_KEYUP, VK_LEFT}}, 0x4B, true},
    {"AltF",
     "alt+f",
     {{WM_SYSKEYDOWN, VK_MENU},
      {WM_SYSKEYDOWN, 'F'},
      {WM_SYSCHAR, 'f'},
      {WM_SYSKEYUP, VK_MENU},
      {WM_KEYUP, 'F'}},
     0x38,
     false},
};

class X11TypingTest : public X11InputTest, public ::testing::WithParamInterface<TypingCase> {};

TEST_P(X11TypingTest, GivesTheKeyMessagesWindowsGives) {
  const TypingCase& c = GetParam();
  std::vector<std::string> args{"key"};
  for (const char* p = c.keys; *p != '\0';) {
    const char* end = p;
    while (*end != '\0' && *end != ' ') ++end;
    args.emplace_back(p, end);
    p = *end == ' ' ? end + 1 : end;
  }
  Xdotool(args);
  const size_t want = c.expected.size();
  PumpUntil(
      [want] {
        return Only({WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_SYSCHAR})
                   .size() >= want;
      },
      5000);
  PumpUntil([] { return false; }, 50);  // nothing more may follow
  const auto keys = Only({WM_KEYDOWN, WM_KEYUP, WM_CHAR, WM_SYSKEYDOWN, WM_SYSKEYUP, WM_SYSCHAR});
  ASSERT_EQ(keys.size(), want);
  for (size_t i = 0; i < want; ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(keys[i].message, c.expected[i].first);
    EXPECT_EQ(keys[i].wParam, c.expected[i].second);
    const auto flags = static_cast<DWORD>(keys[i].lParam);
    EXPECT_EQ(flags & 0xFFFF, 1u) << "repeat count";
    const bool up = keys[i].message == WM_KEYUP || keys[i].message == WM_SYSKEYUP;
    EXPECT_EQ((flags >> 31) & 1, up ? 1u : 0u) << "transition";
    if (up) {
      EXPECT_EQ((flags >> 30) & 1, 1u) << "previous state";
    }
  }
  const auto first = static_cast<DWORD>(keys[0].lParam);
  EXPECT_EQ((first >> 16) & 0xFF, c.firstScan);
  EXPECT_EQ((first >> 24) & 1, c.firstExtended ? 1u : 0u);
  EXPECT_EQ((first >> 30) & 1, 0u) << "a first press was up before";
}

INSTANTIATE_TEST_SUITE_P(Keys, X11TypingTest, ::testing::ValuesIn(kTyping),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(X11InputTest, FocusFollowsTheServerOncePerChange) {
  // A window of another client takes the focus, then xdotool gives it back to ours.
  const ForeignWindow foreign;
  ASSERT_TRUE(foreign.ok());
  Xdotool({"windowfocus", "--sync", foreign.id()});
  PumpUntil([] { return !Only({WM_KILLFOCUS}).empty(); }, 5000);
  EXPECT_EQ(GetFocus(), nullptr);
  Xdotool({"windowfocus", "--sync", std::to_string(xid_)});
  PumpUntil([] { return !Only({WM_SETFOCUS}).empty(); }, 5000);
  EXPECT_EQ(GetFocus(), window_);
  // SetFocus on the focused window changes nothing; the server's echo is no second message.
  SetFocus(window_);
  PumpUntil([] { return false; }, 150);
  const auto focus = Only({WM_SETFOCUS, WM_KILLFOCUS});
  ASSERT_EQ(focus.size(), 2u);
  EXPECT_EQ(focus[0].message, WM_KILLFOCUS);
  EXPECT_EQ(focus[0].wParam, 0u) << "the focus went outside the process";
  EXPECT_EQ(focus[1].message, WM_SETFOCUS);
}

TEST_F(X11InputTest, KeysHeldWhenTheFocusLeavesAreReleased) {
  Xdotool({"keydown", "shift"});
  PumpUntil([] { return !Only({WM_KEYDOWN}).empty(); }, 5000);
  EXPECT_LT(GetKeyState(VK_SHIFT), 0);
  const ForeignWindow foreign;
  ASSERT_TRUE(foreign.ok());
  Xdotool({"windowfocus", "--sync", foreign.id()});
  PumpUntil([] { return !Only({WM_KILLFOCUS}).empty(); }, 5000);
  EXPECT_EQ(GetKeyState(VK_SHIFT) & 0x8000, 0);
  Xdotool({"keyup", "shift"});
  Xdotool({"windowfocus", "--sync", std::to_string(xid_)});
  PumpUntil([] { return !Only({WM_SETFOCUS}).empty(); }, 5000);
  Log().clear();
  Xdotool({"key", "a"});
  PumpUntil([] { return !Only({WM_CHAR}).empty(); }, 5000);
  const auto chars = Only({WM_CHAR});
  ASSERT_EQ(chars.size(), 1u);
  EXPECT_EQ(chars[0].wParam, static_cast<WPARAM>('a')) << "Shift does not stick";
}

TEST_F(X11InputTest, LocksChangedElsewhereAreKnownWhenTheFocusComesBack) {
  const ForeignWindow foreign;
  ASSERT_TRUE(foreign.ok());
  Xdotool({"windowfocus", "--sync", foreign.id()});
  Xdotool({"key", "Caps_Lock"});
  Xdotool({"windowfocus", "--sync", std::to_string(xid_)});
  PumpUntil([] { return !Only({WM_SETFOCUS}).empty(); }, 5000);
  const SHORT caps = GetKeyState(VK_CAPITAL);
  Xdotool({"key", "a"});
  PumpUntil([] { return !Only({WM_CHAR}).empty(); }, 5000);
  const auto chars = Only({WM_CHAR});
  // Caps Lock off again for the tests after this one on the same server.
  Xdotool({"key", "Caps_Lock"});
  PumpUntil([] { return Only({WM_KEYUP}).size() >= 2; }, 5000);
  EXPECT_EQ(caps, 1) << "toggled, not down";
  ASSERT_EQ(chars.size(), 1u);
  EXPECT_EQ(chars[0].wParam, static_cast<WPARAM>('A'));
  EXPECT_EQ(GetKeyState(VK_CAPITAL) & 1, 0);
}

}  // namespace
