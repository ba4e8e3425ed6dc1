// Browser keys and clicks as records, where the browser's path has rules of its own: keys the
// page reports in its own way (other layouts, AltGr, the keypad, named keys, dead keys), repeats,
// and the mouse record's position. What both paths share is compared with the control's own
// records in BrowserRemoteControl_control_test; named keys such as Enter are the browser tests'.
#include "web/BrowserRemoteControl.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/winuser.h"
#include "tests/web/BrowserKeyEvents.h"

namespace kwz_web {
namespace {

using kwz_test::BrowserKeyEvent;
using kwz_test::BrowserPointerEvent;

constexpr std::uint8_t kCtrl = kModifierCtrl;
constexpr std::uint8_t kAlt = kModifierAlt;
constexpr std::uint8_t kRepeat = kModifierRepeat;
constexpr std::uint8_t kAltGraph = kModifierAltGraph;

struct Sent {
  WORD message;
  DWORD wParam;
  DWORD lParam;
  bool operator==(const Sent&) const = default;
};

struct KeyCase {
  const char* name;
  std::vector<BrowserKey> keys;
  std::vector<Sent> sent;
};

class BrowserKeys : public ::testing::TestWithParam<KeyCase> {};

TEST_P(BrowserKeys, BecomeTheControlsRecords) {
  std::vector<Sent> sent;
  BrowserRemoteControl remote([&](const InputRecord& r) {
    EXPECT_EQ(r.type, kInputRecordKeyboard);
    EXPECT_EQ(r.x, 0);
    EXPECT_EQ(r.buttons, 0u);
    sent.push_back({r.message, r.wParam, r.lParam});
  });
  remote.Start();
  for (const BrowserKey& key : GetParam().keys) remote.OnKey(key);
  EXPECT_EQ(sent, GetParam().sent);
}

const KeyCase kKeyCases[] = {
    // AZERTY's A key, where QWERTY has Q: Ctrl+A all the same.
    {"CtrlLetterElsewhere",
     {BrowserKeyEvent("KeyQ", true, kCtrl, u"a")},
     {{0x0102, 0x01, 0x02100001}}},
    // AltGr as Linux browsers report it: the key's AltGr character with Ctrl and Alt held as
    // Windows holds them, and the right Alt's release as an extended key-up.
    {"AltGrCharacter",
     {BrowserKeyEvent("AltRight", true, kAltGraph), BrowserKeyEvent("KeyQ", true, kAltGraph, u"@"),
      BrowserKeyEvent("KeyQ", false, kAltGraph), BrowserKeyEvent("AltRight", false)},
     {{0x0102, '@', 0x22100001}, {0x0100, VK_MENU, 0xC1380001}}},
    // As Windows browsers report it: the same.
    {"AltGrAsCtrlAlt",
     {BrowserKeyEvent("ControlLeft", true, kCtrl),
      BrowserKeyEvent("AltRight", true, kCtrl | kAlt | kAltGraph),
      BrowserKeyEvent("KeyQ", true, kCtrl | kAlt | kAltGraph, u"@"),
      BrowserKeyEvent("AltRight", false, kCtrl), BrowserKeyEvent("ControlLeft", false)},
     {{0x0102, '@', 0x22100001}, {0x0100, VK_MENU, 0xC1380001}}},
    // A repeat has the previous-state bit; the press and the release are compared with the
    // control's own records.
    {"ArrowRepeat", {BrowserKeyEvent("ArrowLeft", true, kRepeat)}, {{0x0100, VK_LEFT, 0x414B0001}}},
    // The keypad's 7 types a digit with NumLock on; with Ctrl it gives no character and its
    // NumLock key goes instead. Without NumLock (Home) it is compared with the control's records.
    {"KeypadDigit",
     {BrowserKeyEvent("Numpad7", true, 0, u"7"), BrowserKeyEvent("Numpad7", true, kCtrl, u"7")},
     {{0x0102, '7', 0x00470001}, {0x0100, VK_NUMPAD7, 0x00470001}}},
    // A dead key alone is sent as the key; the browser's composed character follows.
    {"DeadKeyThenLetter",
     {BrowserKeyEvent("Quote", true, 0, u"", true), BrowserKeyEvent("KeyE", true, 0, u"\u00E9")},
     {{0x0100, VK_OEM_7, 0x00280001}, {0x0102, 0xE9, 0x00120001}}},
    // Two UTF-16 units are two characters to the control, which sends neither.
    {"NonBmpCharacter", {BrowserKeyEvent("KeyA", true, 0, u"\U0001F600")}, {}},
    {"UnknownCode", {BrowserKeyEvent("Fn", true), BrowserKeyEvent("Lang1", true)}, {}},
};

INSTANTIATE_TEST_SUITE_P(Keys, BrowserKeys, ::testing::ValuesIn(kKeyCases),
                         [](const auto& info) { return std::string(info.param.name); });

InputRecord Mouse(LONG x, LONG y, DWORD buttons) {
  return InputRecord{x, y, buttons, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF};
}

// Moves send nothing; the next record carries the position, the far edges included, and a
// position outside the screen is not taken. A key does not hide the moves before it; Start
// resets the record.
TEST(BrowserRemoteControl, TheMouseRecordKeepsTheLastPositionOnTheScreen) {
  constexpr auto kMove = PointerAction::kMove;
  constexpr auto kDown = PointerAction::kDown;
  constexpr auto kUp = PointerAction::kUp;
  constexpr auto kLeft = PointerButton::kLeft;
  std::vector<InputRecord> sent;
  BrowserRemoteControl remote([&](const InputRecord& r) { sent.push_back(r); });
  remote.SetScreenSize(640, 480);
  remote.Start();
  remote.OnPointer(BrowserPointerEvent(kMove, kLeft, 5, 6));
  remote.OnPointer(BrowserPointerEvent(kMove, kLeft, 640, 480));
  remote.Resend();
  remote.OnPointer(BrowserPointerEvent(kDown, kLeft, 30, 40));
  remote.OnPointer(BrowserPointerEvent(kUp, kLeft, 641, 10));
  remote.OnPointer(BrowserPointerEvent(kMove, kLeft, -1, 10));
  remote.OnPointer(BrowserPointerEvent(kMove, kLeft, 10, 481));
  remote.Resend();
  remote.OnPointer(BrowserPointerEvent(kDown, kLeft, 7, 8));
  remote.OnPointer(BrowserPointerEvent(kMove, kLeft, 9, 10));
  remote.OnKey(BrowserKeyEvent("KeyA", true, 0, u"a"));
  remote.Resend();
  remote.Start();
  remote.OnPointer(BrowserPointerEvent(kMove, kLeft, 5000, 5000));
  remote.Resend();
  const std::vector<InputRecord> expected = {
      Mouse(640, 480, 0), Mouse(30, 40, 0x2),
      Mouse(30, 40, 0x1), Mouse(30, 40, 0x1),
      Mouse(7, 8, 0x2),   InputRecord{0, 0, 0, kInputRecordKeyboard, 0, 0x0102, 0x61, 0x001E0001},
      Mouse(9, 10, 0x2),  // the move after the press, in the next re-send
      Mouse(0, 0, 0)};
  EXPECT_EQ(sent, expected);
}

}  // namespace
}  // namespace kwz_web
