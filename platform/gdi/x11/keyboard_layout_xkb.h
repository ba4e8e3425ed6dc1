// Internal to platform/: a keyboard layout read with xkbcommon, from the X server's keymap or
// from layout names. Brings in xkbcommon: included by the X11 backend's sources and tests only.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <bitset>
#include <memory>
#include <vector>

#include "user/key_table.h"
#include "user/keyboard_layout.h"

namespace kwz_platform {

// Keys are evdev codes (the X keycode minus 8). Used on the thread that owns it.
class XkbKeyboardLayout final : public KeyboardLayout {
 public:
  // Null when xkbcommon cannot compile the layout (no xkeyboard-config data, a bad name).
  static std::shared_ptr<XkbKeyboardLayout> FromNames(const char* layout, const char* variant);
  // Takes the keymap's reference.
  XkbKeyboardLayout(xkb_context* context, xkb_keymap* keymap);
  ~XkbKeyboardLayout() override;
  XkbKeyboardLayout(const XkbKeyboardLayout&) = delete;
  XkbKeyboardLayout& operator=(const XkbKeyboardLayout&) = delete;

  TypedKey Type(unsigned evdev, BYTE vk, const BYTE* state, bool compose) override;

  // The group (layout index) that later calls use, as the server's state reports it.
  void SetGroup(unsigned group) { group_ = group; }
  // 'A'..'Z' when the key's unshifted symbol in the current group is that Latin letter, else 0.
  BYTE LetterVk(unsigned evdev) const;
  // Whether the key is the layout's AltGr (ISO_Level3_Shift at its first level).
  bool IsAltGr(unsigned evdev) const;

 private:
  xkb_keysym_t Level0(unsigned evdev) const;
  unsigned FindKey(BYTE vk) const;
  // Feeds the key's symbol to the pending dead keys.
  TypedKey Compose(xkb_keysym_t sym, char32_t plain);

  xkb_context* context_;
  xkb_keymap* keymap_;
  xkb_compose_table* composeTable_ = nullptr;  // null: no dead keys combine
  xkb_compose_state* compose_ = nullptr;
  std::vector<xkb_keysym_t> pending_;  // the dead keys fed so far
  std::bitset<kEvdevKeys> altGrKeys_;  // the keys that are AltGr
  unsigned altGrKey_ = 0;              // the one pressed for AltGr; 0: the layout has none
  unsigned group_ = 0;
};

// The character a dead key shows on its own (dead_acute: U+00B4); 0 for other symbols.
char32_t SpacingFormOfDeadKey(xkb_keysym_t sym);

}  // namespace kwz_platform
