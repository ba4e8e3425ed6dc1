// The page's messages read back at their edges, and one table of what must be refused as junk;
// each kind's ordinary reading, an empty message, an unknown kind, a pointer message a byte short
// and a key message too short for a code are driven from a real page and a hostile peer in the
// browser tests. Then browser keys and clicks as records where the browser's path has rules of
// its own: keys the page reports in its own way (other layouts, AltGr, the keypad, dead keys),
// repeats, and the mouse record's position. What both paths share is compared with the control's
// own records in BrowserRemoteControl_control_test, and named keys such as Enter are the browser
// tests'.
#include "web/BrowserRemoteControl.h"

#include <gtest/gtest.h>

#include <vector>

#include "platform/winuser.h"
#include "tests/web/BrowserKeyEvents.h"

namespace kwz_web {
namespace {

using kwz_test::BrowserKeyEvent;

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
  std::vector<InputRecord> sent;
  BrowserRemoteControl remote([&](const InputRecord& r) { sent.push_back(r); });
  auto pointer = [&](PointerAction action, int x, int y) {
    remote.OnPointer(BrowserPointer{action, PointerButton::kLeft, x, y});
  };
  remote.SetScreenSize(640, 480);
  remote.Start();
  pointer(PointerAction::kMove, 5, 6);
  pointer(PointerAction::kMove, 640, 480);
  remote.Resend();
  pointer(PointerAction::kDown, 30, 40);
  pointer(PointerAction::kUp, 641, 10);
  pointer(PointerAction::kMove, -1, 10);
  pointer(PointerAction::kMove, 10, 481);
  remote.Resend();
  pointer(PointerAction::kDown, 7, 8);
  pointer(PointerAction::kMove, 9, 10);
  remote.OnKey(BrowserKeyEvent("KeyA", true, 0, u"a"));
  remote.Resend();
  remote.Start();
  pointer(PointerAction::kMove, 5000, 5000);
  remote.Resend();
  const std::vector<InputRecord> expected = {
      Mouse(640, 480, 0), Mouse(30, 40, 0x2),
      Mouse(30, 40, 0x1), Mouse(30, 40, 0x1),
      Mouse(7, 8, 0x2),   InputRecord{0, 0, 0, kInputRecordKeyboard, 0, 0x0102, 0x61, 0x001E0001},
      Mouse(9, 10, 0x2),  // the move after the press, in the next re-send
      Mouse(0, 0, 0)};
  EXPECT_EQ(sent, expected);
}

using Bytes = std::vector<std::uint8_t>;

std::optional<BrowserInputMessage> Parse(const Bytes& bytes) {
  return ParseBrowserInputMessage(bytes.data(), bytes.size());
}

TEST(BrowserInputMessage, ReadsSignedPositionsSurrogatePairsAndDeadKeys) {
  // A right-button double-click at (-2, 0x01020304).
  const auto pointer = Parse({3, 3, 2, 0, 0xFE, 0xFF, 0xFF, 0xFF, 4, 3, 2, 1});
  ASSERT_TRUE(pointer && std::holds_alternative<BrowserPointer>(*pointer));
  EXPECT_EQ(std::get<BrowserPointer>(*pointer).x, -2);
  EXPECT_EQ(std::get<BrowserPointer>(*pointer).y, 0x01020304);

  // Key-up of KeyA with Shift and repeat, typing U+1F600 as a surrogate pair.
  const auto key = Parse({4, 1, 12, 4, 'K', 'e', 'y', 'A', 2, 0x3D, 0xD8, 0x00, 0xDE});
  ASSERT_TRUE(key && std::holds_alternative<BrowserKey>(*key));
  const BrowserKey& k = std::get<BrowserKey>(*key);
  EXPECT_FALSE(k.down);
  EXPECT_EQ(k.modifiers, kModifierShift | kModifierRepeat);
  EXPECT_EQ(k.code, "KeyA");
  EXPECT_FALSE(k.dead);
  EXPECT_EQ(k.unitCount, 2);
  EXPECT_EQ(k.units[0], 0xD83D);
  EXPECT_EQ(k.units[1], 0xDE00);

  const auto dead = Parse({4, 0, 16, 5, 'Q', 'u', 'o', 't', 'e', 0xFF});
  ASSERT_TRUE(dead && std::holds_alternative<BrowserKey>(*dead));
  EXPECT_TRUE(std::get<BrowserKey>(*dead).dead);
  EXPECT_EQ(std::get<BrowserKey>(*dead).unitCount, 0);
}

struct JunkCase {
  const char* name;
  Bytes bytes;
};

class BrowserInputJunk : public ::testing::TestWithParam<JunkCase> {};

TEST_P(BrowserInputJunk, IsRefused) {
  EXPECT_FALSE(Parse(GetParam().bytes).has_value());
}

Bytes KeyWithCodeOf(std::size_t length) {
  Bytes b{4, 0, 0, static_cast<std::uint8_t>(length)};
  b.insert(b.end(), length, 'A');
  b.push_back(0);
  return b;
}

INSTANTIATE_TEST_SUITE_P(
    Messages, BrowserInputJunk,
    ::testing::Values(JunkCase{"CapsLong", {1, 1, 0}}, JunkCase{"CapsUnknownCodec", {1, 8}},
                      JunkCase{"ControlTwo", {2, 2}},
                      JunkCase{"PointerLong", {3, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0}},
                      JunkCase{"PointerAction4", {3, 4, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
                      JunkCase{"PointerButton3", {3, 1, 3, 0, 1, 0, 0, 0, 1, 0, 0, 0}},
                      JunkCase{"PointerPadding", {3, 1, 0, 1, 1, 0, 0, 0, 1, 0, 0, 0}},
                      JunkCase{"KeyPhase2", {4, 2, 0, 1, 'A', 0}},
                      JunkCase{"KeyUnknownModifier", {4, 0, 32, 1, 'A', 0}},
                      JunkCase{"KeyEmptyCode", {4, 0, 0, 0, 0, 0}},
                      JunkCase{"KeyCodeTooLong", KeyWithCodeOf(33)},
                      JunkCase{"KeyCodeControlByte", {4, 0, 0, 1, '\n', 0}},
                      JunkCase{"KeyCodeHighByte", {4, 0, 0, 1, 0x80, 0}},
                      JunkCase{"KeyCodeCutShort", {4, 0, 0, 4, 'K', 'e', 'y'}},
                      JunkCase{"KeyThreeUnits", {4, 0, 0, 1, 'A', 3, 'a', 0, 'a', 0, 'a', 0}},
                      JunkCase{"KeyTrailingByte", {4, 0, 0, 1, 'A', 1, 'a', 0, 0}},
                      JunkCase{"KeyLoneSurrogate", {4, 0, 0, 1, 'A', 1, 0x3D, 0xD8}},
                      JunkCase{"KeyPairReversed", {4, 0, 0, 1, 'A', 2, 0x00, 0xDE, 0x3D, 0xD8}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace kwz_web
