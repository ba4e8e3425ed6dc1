// The replay of viewers' records as input events: button bits that change state press or
// release once, keys tapped or held as the viewer's sending rules require. (Moves, clicks and a
// held key replayed into a live display are kwz-present's remote-control test.)
#include "presenter/RemoteInputReplay.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace presenter {
namespace {

InputRecord Mouse(LONG x, LONG y, DWORD buttons) {
  return InputRecord{x, y, buttons, kInputRecordMouse, 0, 0, 0xFFFFFFFF, 0xFFFFFFFF};
}

InputRecord Keyboard(WORD message, DWORD wParam, DWORD lParam) {
  return InputRecord{0, 0, 0, kInputRecordKeyboard, 0, message, wParam, lParam};
}

// An input event as a short text, so that a sequence compares and prints as one string.
std::string Describe(const INPUT& in) {
  char text[64];
  const bool up = in.type == INPUT_KEYBOARD && (in.ki.dwFlags & KEYEVENTF_KEYUP) != 0;
  if (in.type == INPUT_MOUSE && (in.mi.dwFlags & MOUSEEVENTF_MOVE) != 0) {
    std::snprintf(text, sizeof text, "move(%ld,%ld)", long{in.mi.dx}, long{in.mi.dy});
  } else if (in.type == INPUT_MOUSE) {
    std::snprintf(text, sizeof text, "button(0x%X)", unsigned{in.mi.dwFlags});
  } else if ((in.ki.dwFlags & KEYEVENTF_UNICODE) != 0) {
    std::snprintf(text, sizeof text, "char%s(0x%X)", up ? "Up" : "Down", unsigned{in.ki.wScan});
  } else {
    std::snprintf(text, sizeof text, "key%s%s(0x%X)", up ? "Up" : "Down",
                  (in.ki.dwFlags & KEYEVENTF_EXTENDEDKEY) != 0 ? "Ext" : "", unsigned{in.ki.wVk});
  }
  return text;
}

std::string Replay(RemoteInputReplay& replay, const std::vector<InputRecord>& records) {
  std::string out;
  for (const InputRecord& record : records) {
    for (const INPUT& in : replay.Translate(record)) out += Describe(in) + " ";
    out += "| ";
  }
  return out;
}

struct ReplayCase {
  const char* name;
  std::vector<InputRecord> records;
  const char* events;  // per record, separated by "| "
};

TEST(ReplayRecords, GiveTheseEvents) {
  const ReplayCase cases[] = {
      // A left double-click: press, release, the double-click bit presses again, release.
      ReplayCase{"double click",
                 {Mouse(1, 1, 0x2), Mouse(1, 1, 0x1), Mouse(1, 1, 0x4), Mouse(1, 1, 0x1)},
                 "move(64,86) button(0x2) | move(64,86) button(0x4) | move(64,86) button(0x2) | "
                 "move(64,86) button(0x4) | "},
      // Right and middle buttons held together, released in turn; a position off the
      // display is clamped to its edge.
      ReplayCase{"right and middle",
                 {Mouse(-5, 5000, 0x220), Mouse(1023, 767, 0x120), Mouse(1023, 767, 0x110)},
                 "move(0,65451) button(0x8) button(0x20) | move(65472,65451) button(0x40) | "
                 "move(65472,65451) button(0x10) | "},
      // Characters are typed as one stroke each.
      ReplayCase{"character",
                 {Keyboard(0x0102, 0x61, 0x001E0001), Keyboard(0x0102, 0xE9, 0x00030001)},
                 "charDown(0x61) charUp(0x61) | charDown(0xE9) charUp(0xE9) | "},
      // Ctrl+a arrives as character 1 with bit 25: Ctrl held around the A key, and Alt
      // around both when the context bit says Alt was held too.
      ReplayCase{"ctrl letter",
                 {Keyboard(0x0102, 0x01, 0x021E0001), Keyboard(0x0102, 0x01, 0x221E0001)},
                 "keyDown(0x11) keyDown(0x41) keyUp(0x41) keyUp(0x11) | keyDown(0x12) "
                 "keyDown(0x11) keyDown(0x41) keyUp(0x41) keyUp(0x11) keyUp(0x12) | "},
      // AltGr comes as Ctrl and Alt: '@' (AltGr+Q on a German keyboard) is the character
      // alone, with neither held.
      ReplayCase{"altgr character",
                 {Keyboard(0x0102, 0x40, 0x22100001)},
                 "charDown(0x40) charUp(0x40) | "},
      // Enter, Tab, Backspace and Escape come as control characters without Ctrl; a key that
      // is not extended is tapped.
      ReplayCase{"keys",
                 {Keyboard(0x0102, 0x0D, 0x001C0001), Keyboard(0x0100, 0x70, 0x003B0001)},
                 "keyDown(0xD) keyUp(0xD) | keyDown(0x70) keyUp(0x70) | "},
      // With Alt held at the viewer (context bit): Alt around the key, which is tapped since
      // its system key-up is never sent. Alt alone is tapped as it is.
      ReplayCase{"alt",
                 {Keyboard(0x0100, 0x12, 0x20380001), Keyboard(0x0100, 0x73, 0x203E0001),
                  Keyboard(0x0100, 0x25, 0x214B0001)},
                 "keyDown(0x12) keyUp(0x12) | keyDown(0x12) keyDown(0x73) keyUp(0x73) "
                 "keyUp(0x12) | keyDown(0x12) keyDownExt(0x25) keyUpExt(0x25) keyUp(0x12) | "},
      // Keyboard records with another message give nothing.
      ReplayCase{"other messages", {Keyboard(0x0104, 0x41, 0)}, "| "}};
  for (const ReplayCase& c : cases) {
    // A 1024 x 768 display: pixel p maps to the normalised step ceil(p * 65536 / size).
    RemoteInputReplay replay(1024, 768);
    EXPECT_EQ(Replay(replay, c.records), c.events) << c.name;
  }
}

}  // namespace
}  // namespace presenter
