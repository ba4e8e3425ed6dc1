// The rules that turn the control window's button and key messages into remote-control records,
// as one table; the window's own messages are driven end to end in
// BrowserRemoteControl_control_test.
#include "control/RemoteInputRules.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

TEST(ButtonBits, FollowTheMessagesEachButtonKeepingItsOwn) {
  // Right and middle double-clicks are sent as a second press; other messages change nothing.
  const UINT messages[] = {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_RBUTTONDOWN,
                           WM_MOUSEMOVE,   WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_MBUTTONDOWN,
                           WM_KEYDOWN,     WM_MBUTTONUP, WM_MBUTTONDBLCLK, WM_LBUTTONUP,
                           WM_RBUTTONUP,   WM_MBUTTONUP};
  const std::vector<DWORD> expected = {0x2,   0x1,   0x4,   0x24,  0x24,  0x14,  0x24,
                                       0x224, 0x224, 0x124, 0x224, 0x221, 0x211, 0x111};
  DWORD buttons = 0;
  std::vector<DWORD> seen;
  for (UINT message : messages) seen.push_back(buttons = UpdateButtonBits(buttons, message));
  EXPECT_EQ(seen, expected);
  // Presses take the focus, releases do not.
  EXPECT_TRUE(IsButtonPress(WM_MBUTTONDBLCLK));
  EXPECT_FALSE(IsButtonPress(WM_LBUTTONUP));
  EXPECT_TRUE(IsButtonMessage(WM_RBUTTONUP));
  EXPECT_FALSE(IsButtonMessage(WM_MOUSEWHEEL));
}

// One key message with what the keyboard state and the layout gave for it, and what must come
// of it: translated (characters asked for), and the record sent or the result when none is.
struct KeyCase {
  const char* name;
  UINT message;
  WPARAM vk;
  DWORD lParam;
  BYTE ctrlState;
  int characters;
  WCHAR character;
  bool translated;
  LRESULT result;  // 0: sent
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
  EXPECT_EQ(out.send, k.result == 0);
  EXPECT_EQ(out.result, k.result);
  if (out.send) {
    EXPECT_EQ(out.message, k.recordMessage);
    EXPECT_EQ(out.wParam, k.recordWParam);
    EXPECT_EQ(out.lParam, k.recordLParam);
  }
}

constexpr DWORD kA = 0x001E0001;     // the A key pressed: scan code 0x1E, count 1
constexpr DWORD kCtrl = 0x001D0001;  // left Ctrl
constexpr DWORD kAltF = 0x20210001;  // F with Alt held
constexpr DWORD kF10 = 0x00440001;   // F10, a system key without Alt

INSTANTIATE_TEST_SUITE_P(
    Control, KeyRules,
    ::testing::Values(
        // One character gives WM_CHAR; a held Ctrl sets bit 25, a toggled one (low bit) does
        // not, and a stray bit 25 in lParam is cleared.
        KeyCase{"Letter", WM_KEYDOWN, 'A', kA, 0, 1, u'a', true, 0, 0x0102, 0x61, kA},
        KeyCase{"CtrlLetter", WM_KEYDOWN, 'A', kA, 0x80, 1, 0x01, true, 0, 0x0102, 0x01,
                kA | 0x02000000},
        KeyCase{"CtrlToggledOnly", WM_KEYDOWN, 'A', kA | 0x02000000, 0x01, 1, u'a', true, 0, 0x0102,
                0x61, kA},
        // A dead key that could not combine gives two characters: nothing is sent. A dead key
        // alone answers -1: no character, so the key itself goes.
        KeyCase{"TwoCharacters", WM_KEYDOWN, 'E', 0x00120001, 0, 2, u'`', true, 1, 0, 0, 0},
        KeyCase{"DeadKey", WM_KEYDOWN, 0xDE, 0x00280001, 0, -1, 0, true, 0, 0x0100, 0xDE,
                0x00280001},
        // Alt as a plain key-down is dropped before translation; Ctrl itself when down.
        KeyCase{"AltKeyDown", WM_KEYDOWN, VK_MENU, 0x00380001, 0, 0, 0, false, 1, 0, 0, 0},
        KeyCase{"CtrlItself", WM_KEYDOWN, VK_CONTROL, kCtrl, 0x80, 0, 0, true, 1, 0, 0, 0},
        // Releases: extended keys only, as a key-down record with the release flags.
        KeyCase{"LeftArrowUp", WM_KEYUP, VK_LEFT, 0xC14B0001, 0, 0, 0, false, 0, 0x0100, 0x25,
                0xC14B0001},
        KeyCase{"LetterUp", WM_KEYUP, 'A', 0xC01E0001, 0, 0, 0, false, 1, 0, 0, 0},
        // System keys: no Ctrl rules apply.
        KeyCase{"AltLetter", WM_SYSKEYDOWN, 'F', kAltF, 0x80, 1, u'f', true, 0, 0x0102, 0x66,
                kAltF},
        KeyCase{"F10", WM_SYSKEYDOWN, 0x79, kF10, 0, 0, 0, true, 0, 0x0100, 0x79, kF10},
        KeyCase{"SysKeyUp", WM_SYSKEYUP, VK_MENU, 0xE0380001, 0, 0, 0, false, 1, 0, 0, 0}),
    [](const ::testing::TestParamInfo<KeyCase>& info) { return info.param.name; });

}  // namespace
