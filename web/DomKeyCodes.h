// KeyboardEvent.code names of a PC keyboard's keys against the set-1 scan codes the keys send,
// the codes that MapVirtualKeyW takes: 0xE0 in the high byte for a key sent with the E0 prefix.
#pragma once

#include <optional>
#include <string_view>

#include "platform/wintypes.h"

namespace kwz_web {

struct DomKey {
  UINT scanCode = 0;  // 0x4B the keypad's 4, 0xE04B the Left arrow
  // Keypad keys that type a digit or the decimal point while NumLock is on: their virtual key
  // then (VK_NUMPAD7 rather than VK_HOME). 0 for every other key.
  BYTE numLockVk = 0;
};

// nullopt for a name that is not one of these keys (media keys of other devices, "Unidentified").
std::optional<DomKey> LookupDomKey(std::string_view code);

}  // namespace kwz_web
