// The evdev codes (linux/input-event-codes.h) against the PS/2 set-1 make codes and the US
// layout's virtual keys. Codes 1 to 88 are the make codes themselves; the keys that a PC
// keyboard sends with an E0 prefix (the navigation block, keypad Enter and divide, right Ctrl
// and Alt, the Windows and menu keys, Print Screen, the media keys) are extended. Pause sends
// E1 1D 45 and reaches Windows as 0x45 without the extended flag; NumLock is 0x45 extended.
#include "user/key_table.h"

#include <array>

#include "platform/winuser.h"

namespace kwz_platform {
namespace {

struct Row {
  unsigned code;
  BYTE scan;
  bool extended;
  BYTE vk;
  BYTE numLockVk;
};

constexpr Row kRows[] = {
    {1, 0x01, false, VK_ESCAPE, 0},
    {2, 0x02, false, '1', 0},
    {3, 0x03, false, '2', 0},
    {4, 0x04, false, '3', 0},
    {5, 0x05, false, '4', 0},
    {6, 0x06, false, '5', 0},
    {7, 0x07, false, '6', 0},
    {8, 0x08, false, '7', 0},
    {9, 0x09, false, '8', 0},
    {10, 0x0A, false, '9', 0},
    {11, 0x0B, false, '0', 0},
    {12, 0x0C, false, VK_OEM_MINUS, 0},
    {13, 0x0D, false, VK_OEM_PLUS, 0},
    {14, 0x0E, false, VK_BACK, 0},
    {15, 0x0F, false, VK_TAB, 0},
    {16, 0x10, false, 'Q', 0},
    {17, 0x11, false, 'W', 0},
    {18, 0x12, false, 'E', 0},
    {19, 0x13, false, 'R', 0},
    {20, 0x14, false, 'T', 0},
    {21, 0x15, false, 'Y', 0},
    {22, 0x16, false, 'U', 0},
    {23, 0x17, false, 'I', 0},
    {24, 0x18, false, 'O', 0},
    {25, 0x19, false, 'P', 0},
    {26, 0x1A, false, VK_OEM_4, 0},
    {27, 0x1B, false, VK_OEM_6, 0},
    {28, 0x1C, false, VK_RETURN, 0},
    {29, 0x1D, false, VK_CONTROL, 0},
    {30, 0x1E, false, 'A', 0},
    {31, 0x1F, false, 'S', 0},
    {32, 0x20, false, 'D', 0},
    {33, 0x21, false, 'F', 0},
    {34, 0x22, false, 'G', 0},
    {35, 0x23, false, 'H', 0},
    {36, 0x24, false, 'J', 0},
    {37, 0x25, false, 'K', 0},
    {38, 0x26, false, 'L', 0},
    {39, 0x27, false, VK_OEM_1, 0},
    {40, 0x28, false, VK_OEM_7, 0},
    {41, 0x29, false, VK_OEM_3, 0},
    {42, 0x2A, false, VK_SHIFT, 0},
    {43, 0x2B, false, VK_OEM_5, 0},
    {44, 0x2C, false, 'Z', 0},
    {45, 0x2D, false, 'X', 0},
    {46, 0x2E, false, 'C', 0},
    {47, 0x2F, false, 'V', 0},
    {48, 0x30, false, 'B', 0},
    {49, 0x31, false, 'N', 0},
    {50, 0x32, false, 'M', 0},
    {51, 0x33, false, VK_OEM_COMMA, 0},
    {52, 0x34, false, VK_OEM_PERIOD, 0},
    {53, 0x35, false, VK_OEM_2, 0},
    {54, 0x36, false, VK_SHIFT, 0},
    {55, 0x37, false, VK_MULTIPLY, 0},
    {56, 0x38, false, VK_MENU, 0},
    {57, 0x39, false, VK_SPACE, 0},
    {58, 0x3A, false, VK_CAPITAL, 0},
    {59, 0x3B, false, VK_F1, 0},
    {60, 0x3C, false, VK_F2, 0},
    {61, 0x3D, false, VK_F3, 0},
    {62, 0x3E, false, VK_F4, 0},
    {63, 0x3F, false, VK_F5, 0},
    {64, 0x40, false, VK_F6, 0},
    {65, 0x41, false, VK_F7, 0},
    {66, 0x42, false, VK_F8, 0},
    {67, 0x43, false, VK_F9, 0},
    {68, 0x44, false, VK_F10, 0},
    {69, 0x45, true, VK_NUMLOCK, 0},
    {70, 0x46, false, VK_SCROLL, 0},
    // The keypad's digits are navigation keys unless NumLock is on.
    {71, 0x47, false, VK_HOME, VK_NUMPAD7},
    {72, 0x48, false, VK_UP, VK_NUMPAD8},
    {73, 0x49, false, VK_PRIOR, VK_NUMPAD9},
    {74, 0x4A, false, VK_SUBTRACT, 0},
    {75, 0x4B, false, VK_LEFT, VK_NUMPAD4},
    {76, 0x4C, false, VK_CLEAR, VK_NUMPAD5},
    {77, 0x4D, false, VK_RIGHT, VK_NUMPAD6},
    {78, 0x4E, false, VK_ADD, 0},
    {79, 0x4F, false, VK_END, VK_NUMPAD1},
    {80, 0x50, false, VK_DOWN, VK_NUMPAD2},
    {81, 0x51, false, VK_NEXT, VK_NUMPAD3},
    {82, 0x52, false, VK_INSERT, VK_NUMPAD0},
    {83, 0x53, false, VK_DELETE, VK_DECIMAL},
    {86, 0x56, false, VK_OEM_102, 0},
    {87, 0x57, false, VK_F11, 0},
    {88, 0x58, false, VK_F12, 0},
    {96, 0x1C, true, VK_RETURN, 0},
    {97, 0x1D, true, VK_CONTROL, 0},
    {98, 0x35, true, VK_DIVIDE, 0},
    {99, 0x37, true, VK_SNAPSHOT, 0},
    {100, 0x38, true, VK_MENU, 0},
    {102, 0x47, true, VK_HOME, 0},
    {103, 0x48, true, VK_UP, 0},
    {104, 0x49, true, VK_PRIOR, 0},
    {105, 0x4B, true, VK_LEFT, 0},
    {106, 0x4D, true, VK_RIGHT, 0},
    {107, 0x4F, true, VK_END, 0},
    {108, 0x50, true, VK_DOWN, 0},
    {109, 0x51, true, VK_NEXT, 0},
    {110, 0x52, true, VK_INSERT, 0},
    {111, 0x53, true, VK_DELETE, 0},
    {113, 0x20, true, 0xAD, 0},  // VK_VOLUME_MUTE
    {114, 0x2E, true, 0xAE, 0},  // VK_VOLUME_DOWN
    {115, 0x30, true, 0xAF, 0},  // VK_VOLUME_UP
    {119, 0x45, false, VK_PAUSE, 0},
    {125, 0x5B, true, VK_LWIN, 0},
    {126, 0x5C, true, VK_RWIN, 0},
    {127, 0x5D, true, VK_APPS, 0},
    {142, 0x5F, true, VK_SLEEP, 0},
    {163, 0x19, true, 0xB0, 0},  // VK_MEDIA_NEXT_TRACK
    {164, 0x22, true, 0xB3, 0},  // VK_MEDIA_PLAY_PAUSE
    {165, 0x10, true, 0xB1, 0},  // VK_MEDIA_PREV_TRACK
    {166, 0x24, true, 0xB2, 0},  // VK_MEDIA_STOP
    {183, 0x64, false, VK_F13, 0},
    {184, 0x65, false, VK_F13 + 1, 0},
    {185, 0x66, false, VK_F13 + 2, 0},
    {186, 0x67, false, VK_F13 + 3, 0},
    {187, 0x68, false, VK_F13 + 4, 0},
    {188, 0x69, false, VK_F13 + 5, 0},
    {189, 0x6A, false, VK_F13 + 6, 0},
    {190, 0x6B, false, VK_F13 + 7, 0},
    {191, 0x6C, false, VK_F13 + 8, 0},
    {192, 0x6D, false, VK_F13 + 9, 0},
    {193, 0x6E, false, VK_F13 + 10, 0},
    {194, 0x76, false, VK_F24, 0},
};

std::array<PhysicalKey, kEvdevKeys> BuildTable() {
  std::array<PhysicalKey, kEvdevKeys> table{};
  for (const Row& row : kRows) {
    table[row.code] = PhysicalKey{row.scan, row.extended, row.vk, row.numLockVk};
  }
  return table;
}

const std::array<PhysicalKey, kEvdevKeys>& Table() {
  static const auto table = BuildTable();
  return table;
}

}  // namespace

PhysicalKey LookupEvdevKey(unsigned code) {
  return code < kEvdevKeys ? Table()[code] : PhysicalKey{};
}

unsigned EvdevKeyForScan(unsigned scan, bool extended) {
  if (scan == 0) return 0;
  for (const Row& row : kRows) {
    // Pause shares 0x45 with NumLock, which is the extended one.
    if (row.scan == scan && row.extended == extended) return row.code;
  }
  return 0;
}

BYTE SidedModifierVk(BYTE vk, BYTE scan, bool extended) {
  switch (vk) {
    case VK_SHIFT:
      return scan == 0x36 ? VK_RSHIFT : VK_LSHIFT;
    case VK_CONTROL:
      return extended ? VK_RCONTROL : VK_LCONTROL;
    case VK_MENU:
      return extended ? VK_RMENU : VK_LMENU;
    default:
      return 0;
  }
}

}  // namespace kwz_platform
