// Internal to platform/: the characters keys give, for ToUnicode and TranslateMessage.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <memory>
#include <string>

#include "platform/winuser.h"

namespace kwz_platform {

struct TypedKey {
  std::u32string chars;  // empty: the key gives nothing
  bool dead = false;     // a dead key waiting for the next: chars holds its spacing form
};

// A keyboard layout. Used on one thread at a time.
class KeyboardLayout {
 public:
  virtual ~KeyboardLayout() = default;
  // What the key gives under state's Shift, Caps Lock, NumLock and AltGr (Ctrl and Alt both
  // down); Ctrl alone is the caller's. compose: pending dead keys combine with this key and a
  // dead key stays pending; otherwise the key is typed alone and nothing changes.
  virtual TypedKey Type(unsigned evdev, BYTE vk, const BYTE* state, bool compose) = 0;
};

// US English, with no dead keys.
std::unique_ptr<KeyboardLayout> MakeUsKeyboardLayout();

// The layout that ToUnicode uses on the calling thread (US English until a backend sets one).
KeyboardLayout& ThreadKeyboardLayout();
void SetThreadKeyboardLayout(std::shared_ptr<KeyboardLayout> layout);

// The character Windows gives for a key typed with Ctrl and without Alt, from its virtual key and
// what it would give without Ctrl; -1 for none (Ctrl+3).
int ControlCharacter(BYTE vk, char32_t plain);

// ToUnicode's work: the characters of the key under state, UTF-16, written to buffer.
int TypeKey(KeyboardLayout& layout, UINT vk, UINT scanCode, const BYTE* state, WCHAR* buffer,
            int bufferSize, UINT flags);

}  // namespace kwz_platform
