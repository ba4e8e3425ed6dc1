// The translators behind the input messages, as pure functions: key events to key messages with
// their keystroke flags, Windows' double-click rule, and the keyboard state that the messages
// leave behind. Plain letters, arrows, the keypad and Alt alone are compared with the browser's
// records in BrowserRemoteControl_control_test.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <tuple>
#include <vector>

#include "platform/winuser.h"
#include "user/double_click_tracker.h"
#include "user/key_table.h"
#include "user/key_translator.h"
#include "user/keyboard_state.h"

namespace {

using kwz_platform::KeyContext;
using kwz_platform::KeyMessage;

struct Stroke {
  unsigned code;
  bool down;
  KeyContext context;
};

struct KeyCase {
  const char* name;
  std::vector<Stroke> strokes;
  std::vector<KeyMessage> expected;
};

constexpr KeyContext kPlain{};
constexpr KeyContext kNumLock{0, false, false, false, false, true};
constexpr KeyContext kAltGr{0, true, false, false, false, false};
constexpr KeyContext kServerAlt{0, false, true, false, false, false};
constexpr KeyContext kAzertyA{'A', false, false, false, false, false};

// lParam as Windows documents it: repeat 1, scan code, then the flag bits.
constexpr LPARAM L(unsigned scan, unsigned flags = 0) {
  return static_cast<LPARAM>(1u | scan << 16 | flags);
}
constexpr unsigned kExt = 1u << 24;
constexpr unsigned kAlt = 1u << 29;
constexpr unsigned kPrev = 1u << 30;
constexpr unsigned kUp = 1u << 31 | kPrev;

const KeyCase kKeyCases[] = {
    {"AutoRepeatSetsThePreviousStateBit",
     {{KEY_A, true, kPlain}, {KEY_A, true, kPlain}, {KEY_A, false, kPlain}},
     {{WM_KEYDOWN, 'A', L(0x1E)},
      {WM_KEYDOWN, 'A', L(0x1E, kPrev)},
      {WM_KEYUP, 'A', L(0x1E, kUp)}}},
    {"KeypadDigitsNeedNumLockAndNoShift",
     {{KEY_KP4, true, kNumLock},
      {KEY_LEFTSHIFT, true, kNumLock},
      {KEY_KP8, true, kNumLock},
      {KEY_KPDOT, true, kPlain}},
     {{WM_KEYDOWN, VK_NUMPAD4, L(0x4B)},
      {WM_KEYDOWN, VK_SHIFT, L(0x2A)},
      {WM_KEYDOWN, VK_UP, L(0x48)},
      {WM_KEYDOWN, VK_DELETE, L(0x53)}}},
    {"KeysWithAltHeldAreSystemKeysWithTheContextBit",
     {{KEY_RIGHTALT, true, kPlain},
      {KEY_F, true, kPlain},
      {KEY_F, false, kPlain},
      {KEY_RIGHTALT, false, kPlain},
      {KEY_F, true, kPlain}},
     {{WM_SYSKEYDOWN, VK_MENU, L(0x38, kExt | kAlt)},
      {WM_SYSKEYDOWN, 'F', L(0x21, kAlt)},
      {WM_SYSKEYUP, 'F', L(0x21, kAlt | kUp)},
      {WM_SYSKEYUP, VK_MENU, L(0x38, kExt | kUp)},
      {WM_KEYDOWN, 'F', L(0x21)}}},
    {"AltHeldBeforeTheFocusCameCounts",
     {{KEY_F, true, kServerAlt}},
     {{WM_SYSKEYDOWN, 'F', L(0x21, kAlt)}}},
    {"CtrlWithAltMakesOrdinaryKeys",
     {{KEY_LEFTCTRL, true, kPlain}, {KEY_LEFTALT, true, kPlain}, {KEY_Q, true, kPlain}},
     {{WM_KEYDOWN, VK_CONTROL, L(0x1D)},
      {WM_KEYDOWN, VK_MENU, L(0x38, kAlt)},
      {WM_KEYDOWN, 'Q', L(0x10, kAlt)}}},
    {"F10IsASystemKeyUnlessCtrlIsHeld",
     {{KEY_F10, true, kPlain},
      {KEY_F10, false, kPlain},
      {KEY_RIGHTCTRL, true, kPlain},
      {KEY_F10, true, kPlain}},
     {{WM_SYSKEYDOWN, VK_F10, L(0x44)},
      {WM_SYSKEYUP, VK_F10, L(0x44, kUp)},
      {WM_KEYDOWN, VK_CONTROL, L(0x1D, kExt)},
      {WM_KEYDOWN, VK_F10, L(0x44)}}},
    {"AltGrIsALeftCtrlAndARightAlt",
     {{KEY_RIGHTALT, true, kAltGr}, {KEY_Q, true, kPlain}, {KEY_RIGHTALT, false, kPlain}},
     {{WM_KEYDOWN, VK_CONTROL, L(0x1D)},
      {WM_KEYDOWN, VK_MENU, L(0x38, kExt | kAlt)},
      {WM_KEYDOWN, 'Q', L(0x10, kAlt)},
      {WM_KEYUP, VK_MENU, L(0x38, kExt | kUp)},
      {WM_KEYUP, VK_CONTROL, L(0x1D, kUp)}}},
    {"LettersFollowTheLayoutOtherKeysTheirPosition",
     {{KEY_Q, true, kAzertyA}, {KEY_SEMICOLON, true, KeyContext{'M'}}, {KEY_1, true, kPlain}},
     {{WM_KEYDOWN, 'A', L(0x10)}, {WM_KEYDOWN, 'M', L(0x27)}, {WM_KEYDOWN, '1', L(0x02)}}},
    {"PauseAndNumLockShareAScanCode",
     {{KEY_PAUSE, true, kPlain}, {KEY_NUMLOCK, true, kPlain}, {KEY_SYSRQ, true, kPlain}},
     {{WM_KEYDOWN, VK_PAUSE, L(0x45)},
      {WM_KEYDOWN, VK_NUMLOCK, L(0x45, kExt)},
      {WM_KEYDOWN, VK_SNAPSHOT, L(0x37, kExt)}}},
    {"KeysOutsideTheTableAreDropped",
     {{0, true, kPlain}, {KEY_MAX, true, kPlain}, {255, true, kPlain}, {1000, true, kPlain}},
     {}},
};

class KeyTranslatorTest : public ::testing::TestWithParam<KeyCase> {};

TEST_P(KeyTranslatorTest, GivesWindowsMessages) {
  kwz_platform::KeyStrokeTranslator translator;
  std::vector<KeyMessage> got;
  for (const Stroke& s : GetParam().strokes) translator.Translate(s.code, s.down, s.context, &got);
  ASSERT_EQ(got.size(), GetParam().expected.size());
  for (size_t i = 0; i < got.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(got[i].message, GetParam().expected[i].message);
    EXPECT_EQ(got[i].wParam, GetParam().expected[i].wParam);
    EXPECT_EQ(got[i].lParam, GetParam().expected[i].lParam) << std::hex << got[i].lParam;
  }
}

INSTANTIATE_TEST_SUITE_P(Keys, KeyTranslatorTest, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(KeyTranslator, ReleasingEverythingEndsRepeatsAndAlt) {
  kwz_platform::KeyStrokeTranslator translator;
  std::vector<KeyMessage> got;
  translator.Translate(KEY_LEFTALT, true, kPlain, &got);
  translator.Translate(KEY_A, true, kPlain, &got);
  translator.ReleaseAll();
  translator.Translate(KEY_A, true, kPlain, &got);
  ASSERT_EQ(got.size(), 3u);
  EXPECT_EQ(got[2].message, WM_KEYDOWN);
  EXPECT_EQ(got[2].lParam, L(0x1E)) << "neither a repeat nor with Alt";
}

TEST(KeyTable, ScanCodesLeadBackToTheirKeysAndVirtualKeys) {
  // Every key of the table is found again from its scan code and extended flag.
  for (unsigned code = 1; code < kwz_platform::kEvdevKeys; ++code) {
    const auto key = kwz_platform::LookupEvdevKey(code);
    if (key.scan == 0) continue;
    SCOPED_TRACE(code);
    EXPECT_NE(key.vk, 0);
    const unsigned back = kwz_platform::EvdevKeyForScan(key.scan, key.extended);
    // Media keys share scan codes with letters only through the extended flag.
    EXPECT_EQ(kwz_platform::LookupEvdevKey(back).scan, key.scan);
    EXPECT_EQ(kwz_platform::LookupEvdevKey(back).extended, key.extended);
  }
  EXPECT_EQ(kwz_platform::EvdevKeyForScan(0x4B, false), static_cast<unsigned>(KEY_KP4));
  EXPECT_EQ(kwz_platform::EvdevKeyForScan(0x4B, true), static_cast<unsigned>(KEY_LEFT));
  EXPECT_EQ(kwz_platform::EvdevKeyForScan(0, false), 0u);
  EXPECT_EQ(kwz_platform::LookupEvdevKey(100000).scan, 0);
  // MapVirtualKeyW: the E0 prefix tells the navigation block from the keypad, the _EX form
  // gives the sided modifiers, and codes that no key sends give nothing.
  for (auto [code, vk, vkEx] :
       {std::tuple{0x4BU, VK_LEFT, VK_LEFT}, std::tuple{0xE035U, VK_DIVIDE, VK_DIVIDE},
        std::tuple{0x36U, VK_SHIFT, VK_RSHIFT}, std::tuple{0xE01DU, VK_CONTROL, VK_RCONTROL},
        std::tuple{0xE045U, VK_NUMLOCK, VK_NUMLOCK}, std::tuple{0xE01EU, 0U, 0U},
        std::tuple{0xE11EU, 0U, 0U}}) {
    EXPECT_EQ(MapVirtualKeyW(code, MAPVK_VSC_TO_VK), vk) << std::hex << code;
    EXPECT_EQ(MapVirtualKeyW(code, MAPVK_VSC_TO_VK_EX), vkEx) << code;
  }
}

// --- Double-clicks -------------------------------------------------------------------------

struct Press {
  int window;  // 1 or 2
  unsigned button;
  POINT where;
  DWORD time;
  bool doubleClick;
};

struct ClickCase {
  const char* name;
  std::vector<Press> presses;
};

const ClickCase kClickCases[] = {
    {"InTimeThenTooLate",
     {{1, 1, {100, 100}, 1000, false},
      {1, 1, {100, 100}, 1499, true},
      {1, 1, {100, 100}, 3000, false},
      {1, 1, {100, 100}, 3500, false}}},
    {"ThirdPressStartsAfresh",
     {{1, 1, {5, 5}, 0, false},
      {1, 1, {5, 5}, 100, true},
      {1, 1, {5, 5}, 200, false},
      {1, 1, {5, 5}, 300, true}}},
    {"TheRectangleIsFourPixelsAroundTheFirstPress",
     {{1, 1, {10, 10}, 0, false},
      {1, 1, {8, 11}, 10, true},
      {1, 1, {10, 10}, 20, false},
      {1, 1, {12, 10}, 30, false},
      {1, 1, {12, 7}, 40, false},
      {1, 1, {13, 8}, 50, true}}},
    {"OtherButtonOrWindowBreaksIt",
     {{1, 1, {0, 0}, 0, false},
      {1, 3, {0, 0}, 10, false},
      {1, 3, {0, 0}, 20, true},
      {1, 2, {0, 0}, 30, false},
      {2, 2, {0, 0}, 40, false}}},
    {"TheClockMayWrap", {{1, 1, {0, 0}, 0xFFFFFF00u, false}, {1, 1, {0, 0}, 0x50, true}}},
};

class DoubleClickTest : public ::testing::TestWithParam<ClickCase> {};

TEST_P(DoubleClickTest, FollowsWindowsRule) {
  kwz_platform::DoubleClickTracker tracker;
  for (size_t i = 0; i < GetParam().presses.size(); ++i) {
    const Press& p = GetParam().presses[i];
    SCOPED_TRACE(i);
    EXPECT_EQ(tracker.Press(reinterpret_cast<HWND>(static_cast<uintptr_t>(p.window)), p.button,
                            p.where, p.time),
              p.doubleClick);
  }
}

INSTANTIATE_TEST_SUITE_P(Clicks, DoubleClickTest, ::testing::ValuesIn(kClickCases),
                         [](const auto& info) { return std::string(info.param.name); });

// --- Keyboard state ------------------------------------------------------------------------

TEST(KeyboardState, SidesMakeTheGenericKeyAndLocksToggleOncePerPress) {
  kwz_platform::KeyboardState state;
  const std::tuple<UINT, WPARAM, LPARAM> messages[] = {
      {WM_KEYDOWN, VK_SHIFT, L(0x2A)},
      {WM_KEYDOWN, VK_SHIFT, L(0x36)},
      {WM_KEYUP, VK_SHIFT, L(0x2A, kUp)},
      {WM_SYSKEYDOWN, VK_MENU, L(0x38, kExt | kAlt)},
      {WM_KEYDOWN, VK_CAPITAL, L(0x3A)},
      {WM_KEYDOWN, VK_CAPITAL, L(0x3A, kPrev)},  // auto-repeat
      {WM_KEYUP, VK_CAPITAL, L(0x3A, kUp)},
      {WM_LBUTTONDBLCLK, MK_LBUTTON, 0},
      {WM_CHAR, 'a', 0}};  // not a key event
  auto take = [&](UINT message, WPARAM vk, LPARAM lParam) {
    state.Take(MSG{nullptr, message, vk, lParam, 0, POINT{0, 0}});
  };
  for (const auto& [message, vk, lParam] : messages) take(message, vk, lParam);
  const auto& keys = state.Keys();
  EXPECT_EQ(keys[VK_LSHIFT] & 0x80, 0);
  EXPECT_EQ(keys[VK_RSHIFT] & 0x80, 0x80);
  EXPECT_EQ(keys[VK_SHIFT] & 0x80, 0x80) << "the right Shift is still down";
  EXPECT_EQ(keys[VK_RMENU] & 0x80, 0x80);
  EXPECT_EQ(keys[VK_LMENU] & 0x80, 0);
  EXPECT_EQ(keys[VK_MENU] & 0x80, 0x80);
  EXPECT_EQ(keys[VK_CAPITAL], 0x01);
  EXPECT_EQ(keys[VK_LBUTTON] & 0x80, 0x80);
  take(WM_KEYUP, VK_SHIFT, L(0x36, kUp));
  EXPECT_EQ(keys[VK_SHIFT] & 0x80, 0);
  state.ReleaseAll();
  EXPECT_EQ(keys[VK_MENU], 0x01) << "toggles survive; the press toggled it";
  EXPECT_EQ(keys[VK_LBUTTON] & 0x80, 0);
  EXPECT_EQ(keys[VK_CAPITAL], 0x01);
}

}  // namespace
