// The rules that turn the control window's button and key messages into remote-control
// records, and the order in which the window's handlers claim messages.
#include "control/RemoteInputRules.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "control/ControlMessageRoutes.h"

namespace {

// Button messages in a row, from no bits: the bits after each.
struct ButtonCase {
  const char* name;
  std::vector<UINT> messages;
  std::vector<DWORD> bits;
};

class ButtonBits : public ::testing::TestWithParam<ButtonCase> {};

TEST_P(ButtonBits, FollowTheMessages) {
  DWORD buttons = 0;
  std::vector<DWORD> seen;
  for (UINT message : GetParam().messages) {
    buttons = UpdateButtonBits(buttons, message);
    seen.push_back(buttons);
  }
  EXPECT_EQ(seen, GetParam().bits);
}

INSTANTIATE_TEST_SUITE_P(
    Control, ButtonBits,
    ::testing::Values(ButtonCase{"LeftClick", {WM_LBUTTONDOWN, WM_LBUTTONUP}, {0x2, 0x1}},
                      // The left double-click has a bit of its own.
                      ButtonCase{"LeftDoubleClick",
                                 {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP},
                                 {0x2, 0x1, 0x4, 0x1}},
                      // Right and middle double-clicks are sent as a second press.
                      ButtonCase{"RightDoubleClick",
                                 {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_RBUTTONUP},
                                 {0x20, 0x10, 0x20, 0x10}},
                      ButtonCase{"MiddleDoubleClick",
                                 {WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK},
                                 {0x200, 0x100, 0x200}},
                      // Each button keeps its own bits; other messages change none.
                      ButtonCase{"ButtonsTogether",
                                 {WM_LBUTTONDOWN, WM_RBUTTONDOWN, WM_MOUSEMOVE, WM_MBUTTONDOWN,
                                  WM_LBUTTONUP, WM_RBUTTONUP, WM_KEYDOWN, WM_MBUTTONUP},
                                 {0x2, 0x22, 0x22, 0x222, 0x221, 0x211, 0x211, 0x111}}),
    [](const ::testing::TestParamInfo<ButtonCase>& info) { return info.param.name; });

TEST(ButtonMessages, PressesAndDoubleClicksTakeTheFocusReleasesDoNot) {
  for (UINT press : {WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK,
                     WM_MBUTTONDOWN, WM_MBUTTONDBLCLK}) {
    EXPECT_TRUE(IsButtonPress(press)) << press;
    EXPECT_TRUE(IsButtonMessage(press)) << press;
  }
  for (UINT other : {WM_LBUTTONUP, WM_RBUTTONUP, WM_MBUTTONUP}) {
    EXPECT_FALSE(IsButtonPress(other)) << other;
    EXPECT_TRUE(IsButtonMessage(other)) << other;
  }
  for (UINT other : {WM_MOUSEMOVE, WM_MOUSEWHEEL, WM_KEYDOWN}) {
    EXPECT_FALSE(IsButtonPress(other)) << other;
    EXPECT_FALSE(IsButtonMessage(other)) << other;
  }
}

// One key message with what the keyboard state and the layout gave for it.
struct KeyCase {
  const char* name;
  UINT message;
  WPARAM vk;
  DWORD lParam;
  BYTE ctrlState;
  int characters;
  WCHAR character;
  // What must come of it.
  bool translated;
  bool sent;
  LRESULT result;
  WORD recordMessage;
  DWORD recordWParam;
  DWORD recordLParam;
};

class KeyRules : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyRules, ComposeTheRecord) {
  const KeyCase& k = GetParam();
  EXPECT_EQ(KeyNeedsCharacters(k.message, k.vk), k.translated);
  const KeyOutcome out = ComposeKeyRecord(k.message, k.vk, static_cast<LPARAM>(k.lParam),
                                          k.ctrlState, k.characters, k.character);
  EXPECT_EQ(out.send, k.sent);
  EXPECT_EQ(out.result, k.result);
  if (k.sent) {
    EXPECT_EQ(out.message, k.recordMessage);
    EXPECT_EQ(out.wParam, k.recordWParam);
    EXPECT_EQ(out.lParam, k.recordLParam);
  }
}

constexpr DWORD kA = 0x001E0001;       // the A key pressed: scan code 0x1E, count 1
constexpr DWORD kAUp = 0xC01E0001;     // its release
constexpr DWORD kLeft = 0x014B0001;    // Left arrow of the arrow block: extended
constexpr DWORD kLeftUp = 0xC14B0001;  // its release
constexpr DWORD kAlt = 0x20380001;     // Alt as a system key: context bit
constexpr DWORD kCtrl = 0x001D0001;    // left Ctrl
constexpr DWORD kAltF = 0x20210001;    // F with Alt held
constexpr DWORD kF10 = 0x00440001;     // F10, a system key without Alt

INSTANTIATE_TEST_SUITE_P(
    Control, KeyRules,
    ::testing::Values(
        // Characters: one gives WM_CHAR with the flags; Ctrl down sets bit 25.
        KeyCase{"Letter", WM_KEYDOWN, 'A', kA, 0, 1, u'a', true, true, 0, 0x0102, 0x61, kA},
        KeyCase{"CtrlLetter", WM_KEYDOWN, 'A', kA, 0x80, 1, 0x01, true, true, 0, 0x0102, 0x01,
                kA | 0x02000000},
        // A toggled Ctrl (low bit) is not a held Ctrl; a stray bit 25 in lParam is cleared.
        KeyCase{"CtrlToggledOnly", WM_KEYDOWN, 'A', kA | 0x02000000, 0x01, 1, u'a', true, true, 0,
                0x0102, 0x61, kA},
        // A dead key that could not combine gives two characters: nothing is sent.
        KeyCase{"TwoCharacters", WM_KEYDOWN, 'E', 0x00120001, 0, 2, u'`', true, false, 1, 0, 0, 0},
        // A dead key alone answers -1: no character, so the key itself goes.
        KeyCase{"DeadKey", WM_KEYDOWN, 0xDE, 0x00280001, 0, -1, 0, true, true, 0, 0x0100, 0xDE,
                0x00280001},
        // Keys without characters go as key-downs with their flags.
        KeyCase{"LeftArrow", WM_KEYDOWN, VK_LEFT, kLeft, 0, 0, 0, true, true, 0, 0x0100, 0x25,
                kLeft},
        KeyCase{"CtrlLeftArrow", WM_KEYDOWN, VK_LEFT, kLeft, 0x80, 0, 0, true, true, 0, 0x0100,
                0x25, kLeft},
        // Alt as a plain key-down is dropped before translation; Ctrl itself when down.
        KeyCase{"AltKeyDown", WM_KEYDOWN, VK_MENU, 0x00380001, 0, 0, 0, false, false, 1, 0, 0, 0},
        KeyCase{"CtrlItself", WM_KEYDOWN, VK_CONTROL, kCtrl, 0x80, 0, 0, true, false, 1, 0, 0, 0},
        KeyCase{"CtrlItselfToggled", WM_KEYDOWN, VK_CONTROL, kCtrl, 0x01, 0, 0, true, false, 1, 0,
                0, 0},
        // Releases: extended keys only, as a key-down record with the release flags.
        KeyCase{"LeftArrowUp", WM_KEYUP, VK_LEFT, kLeftUp, 0, 0, 0, false, true, 0, 0x0100, 0x25,
                kLeftUp},
        KeyCase{"LetterUp", WM_KEYUP, 'A', kAUp, 0, 0, 0, false, false, 1, 0, 0, 0},
        // System keys: Alt alone, Alt with a letter, F10; no Ctrl rules apply.
        KeyCase{"AltAlone", WM_SYSKEYDOWN, VK_MENU, kAlt, 0, 0, 0, true, true, 0, 0x0100, 0x12,
                kAlt},
        KeyCase{"AltLetter", WM_SYSKEYDOWN, 'F', kAltF, 0x80, 1, u'f', true, true, 0, 0x0102, 0x66,
                kAltF},
        KeyCase{"AltTwoCharacters", WM_SYSKEYDOWN, 'E', kAltF, 0, 2, u'`', true, false, 1, 0, 0, 0},
        KeyCase{"F10", WM_SYSKEYDOWN, 0x79, kF10, 0, 0, 0, true, true, 0, 0x0100, 0x79, kF10},
        KeyCase{"SysKeyUp", WM_SYSKEYUP, VK_MENU, 0xE0380001, 0, 0, 0, false, false, 1, 0, 0, 0}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

// The control window's handlers in their order: reflected notifications, then the own map.
TEST(ControlMessageRoutes, ReflectedNotificationsAreExactlyTheListedOnes) {
  const UINT reflected[] = {WM_COMMAND,     WM_NOTIFY,      WM_PARENTNOTIFY, WM_DRAWITEM,
                            WM_MEASUREITEM, WM_COMPAREITEM, WM_DELETEITEM,   WM_VKEYTOITEM,
                            WM_CHARTOITEM,  WM_HSCROLL,     WM_VSCROLL};
  for (UINT message : reflected) {
    EXPECT_TRUE(IsReflectedNotification(0x2000 + message)) << message;
    EXPECT_FALSE(IsReflectedNotification(message)) << message;
  }
  for (UINT message = 0x132; message <= 0x138; ++message) {
    EXPECT_TRUE(IsReflectedNotification(0x2000 + message)) << message;
  }
  for (UINT message : {0x2000u + 0x131, 0x2000u + 0x139, 0x2000u + WM_CLOSE, 0x2000u + WM_KEYDOWN,
                       0x2000u, 0x1FFFu, 0x4111u}) {
    EXPECT_FALSE(IsReflectedNotification(message)) << message;
  }
}

TEST(ControlMessageRoutes, TheOwnMapLeavesMovesWheelSizeAndCharactersToTheDefault) {
  for (UINT message : {WM_GETDLGCODE, WM_KEYUP, WM_KEYDOWN, WM_SYSKEYUP, WM_SYSKEYDOWN,
                       WM_LBUTTONUP, WM_LBUTTONDOWN, WM_LBUTTONDBLCLK, WM_MBUTTONUP, WM_MBUTTONDOWN,
                       WM_MBUTTONDBLCLK, WM_RBUTTONUP, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK,
                       WM_SETFOCUS, WM_KILLFOCUS, WM_CREATE, WM_DESTROY}) {
    EXPECT_TRUE(IsOwnMapMessage(message)) << message;
  }
  for (UINT message : {WM_MOUSEMOVE, WM_MOUSEWHEEL, WM_SIZE, WM_CHAR, WM_SYSCHAR, WM_PAINT,
                       WM_MOUSEACTIVATE, WM_CLOSE, WM_NCDESTROY}) {
    EXPECT_FALSE(IsOwnMapMessage(message)) << message;
  }
}

}  // namespace
