// Characters of keys (ToUnicode's work): Windows' Ctrl characters, Shift and Caps Lock, AltGr,
// letters placed by the layout, and dead keys, on the US table and on xkbcommon layouts.
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>

#include <initializer_list>
#include <memory>
#include <string>

#include "gdi/x11/keyboard_layout_xkb.h"
#include "user/keyboard_layout.h"

namespace {

using kwz_platform::KeyboardLayout;

std::array<BYTE, 256> State(std::initializer_list<UINT> down, bool caps = false) {
  std::array<BYTE, 256> state{};
  for (UINT vk : down) state[vk] = 0x80;
  if (caps) state[VK_CAPITAL] = 0x01;
  return state;
}

struct Typed {
  int result;
  std::u16string chars;
};

Typed Type(KeyboardLayout& layout, UINT vk, UINT scan, const std::array<BYTE, 256>& state,
           UINT flags = 0) {
  WCHAR buffer[8] = {};
  const int result = kwz_platform::TypeKey(layout, vk, scan, state.data(), buffer, 8, flags);
  const int count = result < 0 ? 1 : result;
  return Typed{result, std::u16string(buffer, buffer + count)};
}

struct CharCase {
  const char* name;
  UINT vk;
  UINT scan;
  std::initializer_list<UINT> down;
  bool caps;
  int result;
  std::u16string chars;
};

const CharCase kCharCases[] = {
    {"CapsAndShiftCancel", 'A', 0x1E, {VK_SHIFT}, true, 1, u"a"},
    {"CapsLeavesDigitsAlone", '1', 0x02, {}, true, 1, u"1"},
    {"KeypadEnterByItsExtendedScan", VK_RETURN, 0x1C | KF_EXTENDED, {}, false, 1, u"\r"},
    {"ArrowGivesNothing", VK_LEFT, 0x4B | KF_EXTENDED, {}, false, 0, u""},
    {"ReleaseGivesNothing", 'A', 0x1E | 0x8000, {}, false, 0, u""},
    // Windows' Ctrl characters: letters, the punctuation that has one, and none for digits.
    {"CtrlShiftLetter", 'Z', 0x2C, {VK_CONTROL, VK_SHIFT}, false, 1, u"\x1a"},
    {"CtrlBackslash", VK_OEM_5, 0x2B, {VK_CONTROL}, false, 1, u"\x1c"},
    {"CtrlAt", '2', 0x03, {VK_CONTROL, VK_SHIFT}, false, 1, std::u16string(1, u'\0')},
    {"CtrlDigitGivesNothing", '3', 0x04, {VK_CONTROL}, false, 0, u""},
    {"CtrlReturn", VK_RETURN, 0x1C, {VK_CONTROL}, false, 1, u"\n"},
    {"CtrlAltIsAltGrAndUsHasNone", 'Q', 0x10, {VK_CONTROL, VK_MENU}, false, 0, u""},
};

auto Load(const char* name) {
  return kwz_platform::XkbKeyboardLayout::FromNames(name, nullptr);
}

// On the US table (headless) and xkbcommon's US layout (X11).
TEST(CharacterTest, MatchesWindowsOnBothUsLayouts) {
  const std::shared_ptr<KeyboardLayout> layouts[] = {kwz_platform::MakeUsKeyboardLayout(),
                                                     Load("us")};
  if (!layouts[1]) GTEST_SKIP() << "xkbcommon has no layout data (xkb-data)";
  for (const auto& layout : layouts) {
    for (const CharCase& c : kCharCases) {
      SCOPED_TRACE(c.name);
      const Typed typed = Type(*layout, c.vk, c.scan, State(c.down, c.caps));
      EXPECT_EQ(typed.result, c.result);
      EXPECT_EQ(typed.chars.substr(0, std::max(typed.result, 0)), c.chars);
    }
  }
}

TEST(KeyboardLayout, BadArgumentsGiveNothing) {
  auto layout = kwz_platform::MakeUsKeyboardLayout();
  WCHAR buffer[2];
  const auto state = State({});
  EXPECT_EQ(kwz_platform::TypeKey(*layout, 'A', 0x1E, nullptr, buffer, 2, 0), 0);
  EXPECT_EQ(kwz_platform::TypeKey(*layout, 0x1234, 0x1E, state.data(), buffer, 2, 0), 0);
  EXPECT_EQ(kwz_platform::TypeKey(*layout, 'A', 0x1E, state.data(), nullptr, 5, 0), 0);
  EXPECT_EQ(kwz_platform::TypeKey(*layout, 'A', 0x1E, state.data(), buffer, 0, 0), 0);
}

TEST(XkbLayoutTest, GermanDeadKeysCombineOrGiveBothCharacters) {
  auto de = Load("de");
  if (!de) GTEST_SKIP() << "xkbcommon has no layout data (xkb-data)";
  const auto none = State({});
  // ^ is a dead key on the German layout's key left of 1 (VK_OEM_3 by position).
  Typed dead = Type(*de, VK_OEM_3, 0x29, none);
  EXPECT_EQ(dead.result, -1);
  EXPECT_EQ(dead.chars, u"^");
  Typed combined = Type(*de, 'A', 0x1E, none);
  EXPECT_EQ(combined.result, 1);
  EXPECT_EQ(combined.chars, u"\u00e2");

  // A key the dead key cannot go with: both characters, and the next key stands alone.
  Type(*de, VK_OEM_3, 0x29, none);
  Typed both = Type(*de, 'X', 0x2D, none);
  EXPECT_EQ(both.result, 2);
  EXPECT_EQ(both.chars, u"^x");
  EXPECT_EQ(Type(*de, 'A', 0x1E, none).chars, u"a");

  // Shift between the dead key and its letter does not break the sequence.
  EXPECT_EQ(Type(*de, VK_OEM_PLUS, 0x0D, none).result, -1);  // dead acute
  EXPECT_EQ(Type(*de, VK_SHIFT, 0x2A, State({VK_SHIFT})).result, 0);
  EXPECT_EQ(Type(*de, 'E', 0x12, State({VK_SHIFT})).chars, u"\u00c9");

  // Flag 0x4 looks at the key without leaving a dead key pending.
  EXPECT_EQ(Type(*de, VK_OEM_3, 0x29, none, 0x4).result, -1);
  EXPECT_EQ(Type(*de, 'A', 0x1E, none).chars, u"a");
}

TEST(XkbLayoutTest, AltGrGivesTheThirdLevelOrNothing) {
  auto de = Load("de");
  if (!de) GTEST_SKIP() << "xkbcommon has no layout data (xkb-data)";
  const auto altGr = State({VK_CONTROL, VK_MENU, VK_LCONTROL, VK_RMENU});
  EXPECT_EQ(Type(*de, 'Q', 0x10, altGr).chars, u"@");
  EXPECT_EQ(Type(*de, VK_SPACE, 0x39, altGr).result, 0) << "a key with no AltGr character";
  EXPECT_TRUE(de->IsAltGr(KEY_RIGHTALT));
  EXPECT_FALSE(de->IsAltGr(KEY_LEFTALT));
  auto us = Load("us");
  ASSERT_NE(us, nullptr);
  EXPECT_FALSE(us->IsAltGr(KEY_RIGHTALT));
}

TEST(XkbLayoutTest, LettersAreWhereTheLayoutPutsThem) {
  auto fr = Load("fr");
  auto de = Load("de");
  if (!fr || !de) GTEST_SKIP() << "xkbcommon has no layout data (xkb-data)";
  EXPECT_EQ(fr->LetterVk(KEY_Q), 'A');
  EXPECT_EQ(fr->LetterVk(KEY_SEMICOLON), 'M');
  EXPECT_EQ(fr->LetterVk(KEY_1), 0) << "not a letter: the position decides";
  const auto none = State({});
  EXPECT_EQ(Type(*fr, '1', 0x02, none).chars, u"&");
  EXPECT_EQ(Type(*fr, '1', 0x02, State({VK_SHIFT})).chars, u"1");
  // Ctrl goes by the virtual key, wherever the letter is; without a scan code the letter is
  // found by its virtual key.
  EXPECT_EQ(Type(*fr, 'A', 0x10, State({VK_CONTROL})).chars, u"\x01");
  EXPECT_EQ(Type(*fr, 'Q', 0, none).chars, u"q");
}

}  // namespace
