// Keyboard and mouse input of headless windows, injected as the backend delivers it: the
// messages a window procedure sees, the keyboard state while it runs, characters and the focus.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <map>
#include <thread>
#include <tuple>
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
  bool shiftDown;  // GetKeyState(VK_SHIFT) while the message ran
  HWND focus;      // GetFocus() while the message ran
};

std::vector<Seen>& Log() {
  static std::vector<Seen> log;
  return log;
}

// What the windows listed answer to WM_MOUSEACTIVATE (0: the default procedure's answer); only
// their WM_MOUSEACTIVATE messages are recorded.
std::map<HWND, LRESULT>& ActivationAnswers() {
  static std::map<HWND, LRESULT> answers;
  return answers;
}

bool Recorded(HWND window, UINT message) {
  if (message == WM_MOUSEACTIVATE) return ActivationAnswers().count(window) != 0;
  return message == WM_SETFOCUS || message == WM_KILLFOCUS ||
         (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
         (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

LRESULT RecordingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (Recorded(window, message)) {
    Log().push_back(Seen{window, message, wParam, lParam, GetKeyState(VK_SHIFT) < 0, GetFocus()});
  }
  if (message == WM_MOUSEACTIVATE) {
    const auto answer = ActivationAnswers().find(window);
    if (answer != ActivationAnswers().end() && answer->second != 0) return answer->second;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

class InputTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless);
    // Once for every suite built on this fixture.
    static const bool registered = [] {
      WNDCLASSEXW wc{};
      wc.cbSize = sizeof wc;
      wc.lpfnWndProc = RecordingProc;
      wc.lpszClassName = u"KwzInputTestPlain";
      const bool plain = RegisterClassExW(&wc) != 0;
      wc.style = CS_DBLCLKS;
      wc.lpszClassName = u"KwzInputTestDouble";
      return plain && RegisterClassExW(&wc) != 0;
    }();
    ASSERT_TRUE(registered);
  }
  void SetUp() override {
    window_ = CreateWindowExW(0, u"KwzInputTestDouble", u"", WS_VISIBLE, 100, 50, 320, 240, nullptr,
                              nullptr, nullptr, nullptr);
    ASSERT_NE(window_, nullptr);
    Pump();
    Log().clear();
  }
  void TearDown() override {
    ActivationAnswers().clear();
    DestroyWindow(window_);
    Pump();
  }

  // Runs the loop as an application does until nothing is left.
  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  void Key(unsigned code, bool down) {
    ASSERT_TRUE(kwz_platform::InjectKeyForTesting(window_, code, down));
  }
  void Tap(unsigned code) {
    Key(code, true);
    Key(code, false);
  }
  static std::vector<UINT> Messages() {
    std::vector<UINT> messages;
    for (const Seen& s : Log()) messages.push_back(s.message);
    return messages;
  }

  HWND window_ = nullptr;
};

// A press into a window other than the active one (the top-level window holding the focus)
// first asks the window; a child's default answer is its parent's.
struct ActivationCase {
  const char* name;
  bool intoChild;        // the press lands in a child of the test's window
  bool focused;          // the test's window holds the focus
  LRESULT answer;        // of the window pressed; 0: the default procedure's
  LRESULT parentAnswer;  // of the test's window when asked by its child
  std::vector<UINT> seen;
};

class MouseActivation : public InputTest, public ::testing::WithParamInterface<ActivationCase> {};

TEST_P(MouseActivation, IsAskedBeforeThePressWhichItsAnswerMayEat) {
  const ActivationCase& c = GetParam();
  HWND child = CreateWindowExW(0, u"KwzInputTestPlain", u"", WS_CHILD | WS_VISIBLE, 5, 5, 50, 50,
                               window_, nullptr, nullptr, nullptr);
  ASSERT_NE(child, nullptr);
  const HWND pressed = c.intoChild ? child : window_;
  ActivationAnswers()[pressed] = c.answer;
  if (c.intoChild) ActivationAnswers()[window_] = c.parentAnswer;
  if (c.focused) SetFocus(window_);
  Pump();
  Log().clear();
  // Far apart in time from any other case's presses: none of them is a double-click.
  static DWORD time = 1000000;
  time += 100000;
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(pressed, 1, true, POINT{2, 3}, time));
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(pressed, 1, false, POINT{2, 3}, time + 10));
  Pump();
  EXPECT_EQ(Messages(), c.seen);
  if (!c.seen.empty() && c.seen[0] == WM_MOUSEACTIVATE) {
    EXPECT_EQ(Log()[0].window, pressed);
    EXPECT_EQ(Log()[0].wParam, reinterpret_cast<WPARAM>(window_)) << "the top-level window";
    EXPECT_EQ(Log()[0].lParam, MAKELPARAM(HTCLIENT, WM_LBUTTONDOWN));
  }
  DestroyWindow(child);
}

INSTANTIATE_TEST_SUITE_P(
    Presses, MouseActivation,
    // clang-format off
    ::testing::Values(
        ActivationCase{"DefaultLetsThePressThrough", false, false, 0, 0,
                       {WM_MOUSEACTIVATE, WM_LBUTTONDOWN, WM_LBUTTONUP}},
        ActivationCase{"EatDropsThePressOnly", false, false, MA_ACTIVATEANDEAT, 0,
                       {WM_MOUSEACTIVATE, WM_LBUTTONUP}},
        ActivationCase{"TheActiveWindowIsNotAsked", false, true, MA_NOACTIVATEANDEAT, 0,
                       {WM_LBUTTONDOWN, WM_LBUTTONUP}},
        ActivationCase{"AChildIsAskedAndItsParentDecides", true, true, 0, MA_NOACTIVATEANDEAT,
                       {WM_MOUSEACTIVATE, WM_MOUSEACTIVATE, WM_LBUTTONUP}}),
    // clang-format on
    [](const ::testing::TestParamInfo<ActivationCase>& info) { return info.param.name; });

TEST_F(InputTest, ModifierFlagsAndTheWheelCarryWhatIsHeld) {
  Key(KEY_LEFTSHIFT, true);
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, 3, true, POINT{1, 2}, 5000));
  ASSERT_TRUE(kwz_platform::InjectMotionForTesting(window_, POINT{3, 4}, 5010));
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, 5, true, POINT{3, 4}, 5020));
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, 5, false, POINT{3, 4}, 5030));
  ASSERT_TRUE(kwz_platform::InjectButtonForTesting(window_, 3, false, POINT{3, 4}, 5040));
  Key(KEY_LEFTSHIFT, false);
  Pump();
  const std::vector<UINT> expected = {WM_KEYDOWN,    WM_RBUTTONDOWN, WM_MOUSEMOVE,
                                      WM_MOUSEWHEEL, WM_RBUTTONUP,   WM_KEYUP};
  ASSERT_EQ(Messages(), expected);
  EXPECT_EQ(Log()[1].wParam, static_cast<WPARAM>(MK_RBUTTON | MK_SHIFT));
  EXPECT_EQ(Log()[2].wParam, static_cast<WPARAM>(MK_RBUTTON | MK_SHIFT));
  EXPECT_EQ(Log()[2].lParam, MAKELPARAM(3, 4));
  // The wheel: a negative delta in the high word and the pointer in screen coordinates.
  EXPECT_EQ(static_cast<SHORT>(HIWORD(Log()[3].wParam)), -120);
  EXPECT_EQ(LOWORD(Log()[3].wParam), MK_RBUTTON | MK_SHIFT);
  EXPECT_EQ(Log()[3].lParam, MAKELPARAM(103, 54));
  EXPECT_EQ(Log()[4].wParam, static_cast<WPARAM>(MK_SHIFT));
}

TEST_F(InputTest, CharactersFollowTheStateOfTheKeyBeingHandled) {
  // Everything is queued before the loop runs: the state must be that of each message as it is
  // taken, not of the last event.
  Key(KEY_LEFTSHIFT, true);
  Tap(KEY_A);
  Key(KEY_LEFTSHIFT, false);
  Tap(KEY_A);
  Tap(KEY_CAPSLOCK);
  Tap(KEY_B);
  Key(KEY_RIGHTSHIFT, true);
  Tap(KEY_B);
  Tap(KEY_1);
  Key(KEY_RIGHTSHIFT, false);
  Tap(KEY_CAPSLOCK);
  Key(KEY_LEFTALT, true);  // a system key's character, with its key's flags
  Tap(KEY_F);
  Key(KEY_LEFTALT, false);
  Pump();
  std::u16string typed;
  const Seen* system = nullptr;
  for (const Seen& s : Log()) {
    if (s.message == WM_CHAR) typed.push_back(static_cast<char16_t>(s.wParam));
    if (s.message == WM_SYSCHAR) system = &s;
  }
  EXPECT_EQ(typed, u"AaBb!");
  ASSERT_NE(system, nullptr);
  EXPECT_EQ(system->wParam, static_cast<WPARAM>('f'));
  EXPECT_EQ(system->lParam, (system - 1)->lParam) << "the character carries its key's flags";
  EXPECT_EQ((system - 1)->message, static_cast<UINT>(WM_SYSKEYDOWN));
  EXPECT_TRUE(Log()[1].shiftDown) << "Shift is down while its A is handled";
  BYTE state[256];
  ASSERT_TRUE(GetKeyboardState(state));
  EXPECT_EQ(state[VK_CAPITAL], 0) << "Caps Lock pressed twice is off and up";
  EXPECT_EQ(state[VK_SHIFT] & 0x80, 0);
}

TEST_F(InputTest, FocusMessagesComeOncePerChange) {
  HWND other = CreateWindowExW(0, u"KwzInputTestPlain", u"", WS_VISIBLE, 0, 0, 50, 50, nullptr,
                               nullptr, nullptr, nullptr);
  ASSERT_NE(other, nullptr);
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(window_, true));
  Pump();
  EXPECT_EQ(GetFocus(), window_);
  // The display confirming a focus SetFocus already gave sends nothing.
  EXPECT_EQ(SetFocus(other), window_);
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(other, true));
  Pump();
  EXPECT_EQ(SetFocus(other), other) << "no change, no messages";
  Key(KEY_LEFTSHIFT, true);
  Pump();
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(window_, false)) << "not the focus: ignored";
  ASSERT_TRUE(kwz_platform::InjectFocusForTesting(other, false));
  Pump();
  EXPECT_EQ(GetFocus(), nullptr);
  EXPECT_GE(GetKeyState(VK_SHIFT), 0) << "keys held are released with the focus";

  std::vector<Seen> focus;
  for (const Seen& s : Log()) {
    if (s.message == WM_SETFOCUS || s.message == WM_KILLFOCUS) focus.push_back(s);
  }
  ASSERT_EQ(focus.size(), 4u);
  const std::vector<std::tuple<UINT, HWND, WPARAM>> want = {
      {WM_SETFOCUS, window_, 0},
      {WM_KILLFOCUS, window_, reinterpret_cast<WPARAM>(other)},
      {WM_SETFOCUS, other, reinterpret_cast<WPARAM>(window_)},
      {WM_KILLFOCUS, other, 0}};
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(std::tuple(focus[i].message, focus[i].window, focus[i].wParam), want[i]) << i;
  }
  EXPECT_EQ(focus[2].focus, other) << "GetFocus answers the new window inside WM_SETFOCUS";

  // Another thread may neither take nor see this thread's focus.
  SetFocus(window_);
  HWND fromThere = window_;
  DWORD error = 0;
  std::jthread([&] {
    fromThere = SetFocus(window_);
    error = GetLastError();
    if (GetFocus() != nullptr) fromThere = window_;
  }).join();
  EXPECT_EQ(fromThere, nullptr);
  EXPECT_EQ(error, ERROR_ACCESS_DENIED);
  DestroyWindow(other);
  EXPECT_EQ(GetFocus(), window_);
  DestroyWindow(window_);
  EXPECT_EQ(GetFocus(), nullptr) << "a destroyed window does not keep the focus";
  window_ = CreateWindowExW(0, u"KwzInputTestPlain", u"", 0, 0, 0, 5, 5, nullptr, nullptr, nullptr,
                            nullptr);
}

TEST_F(InputTest, BadHandlesAndRegionsAreRefused) {
  const HWND bogus = reinterpret_cast<HWND>(0x1234);
  EXPECT_FALSE(kwz_platform::InjectKeyForTesting(bogus, KEY_A, true));
  EXPECT_EQ(SetFocus(bogus), nullptr);
  EXPECT_EQ(GetLastError(), ERROR_INVALID_WINDOW_HANDLE);
  EXPECT_NE(SetWindowRgn(window_, nullptr, TRUE), 0);
  EXPECT_EQ(SetWindowRgn(window_, reinterpret_cast<HRGN>(0x10), TRUE), 0);
  EXPECT_EQ(SetWindowRgn(bogus, nullptr, TRUE), 0);
  EXPECT_FALSE(GetKeyboardState(nullptr));
  EXPECT_EQ(GetKeyState(-1), 0);
  EXPECT_EQ(GetKeyState(0x1000), 0);
}

}  // namespace
