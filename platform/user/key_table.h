// Internal to platform/: the physical keys of a PC keyboard as Windows names them. A key is
// known by its Linux evdev code, which is what the X server's evdev keycodes carry (keycode
// minus 8) and what the headless backend's tests inject.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include "platform/wintypes.h"

namespace kwz_platform {

struct PhysicalKey {
  BYTE scan = 0;          // PS/2 set-1 make code; 0: not a key we know
  bool extended = false;  // sent with an E0 prefix
  BYTE vk = 0;            // the US layout's virtual key (VK_SHIFT, not VK_LSHIFT)
  BYTE numLockVk = 0;     // keypad keys: their virtual key while NumLock is on and Shift is not
};

// Codes beyond the table (or holes in it) give a key with scan 0.
PhysicalKey LookupEvdevKey(unsigned code);
// The evdev code of the key with this scan code and extended flag; 0 when none.
unsigned EvdevKeyForScan(unsigned scan, bool extended);
// For VK_SHIFT, VK_CONTROL and VK_MENU, the key of the side that sends scan (VK_LSHIFT to
// VK_RMENU); 0 for other virtual keys.
BYTE SidedModifierVk(BYTE vk, BYTE scan, bool extended);

constexpr unsigned kEvdevLeftCtrl = 29;
constexpr unsigned kEvdevLeftShift = 42;
constexpr unsigned kEvdevLeftAlt = 56;
constexpr unsigned kEvdevCapsLock = 58;
constexpr unsigned kEvdevNumLock = 69;
constexpr unsigned kEvdevScrollLock = 70;
constexpr unsigned kEvdevRightShift = 54;
constexpr unsigned kEvdevRightCtrl = 97;
constexpr unsigned kEvdevRightAlt = 100;
constexpr unsigned kEvdevKeys = 256;

}  // namespace kwz_platform
