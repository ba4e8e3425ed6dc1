// Key events as Windows' key messages.
#include "user/key_translator.h"

namespace kwz_platform {

LPARAM KeyLParam(const PhysicalKey& key, bool down, bool wasDown, bool altDown) {
  DWORD flags = 1u | static_cast<DWORD>(key.scan) << 16;
  if (key.extended) flags |= static_cast<DWORD>(KF_EXTENDED) << 16;
  if (altDown) flags |= static_cast<DWORD>(KF_ALTDOWN) << 16;
  if (wasDown || !down) flags |= static_cast<DWORD>(KF_REPEAT) << 16;
  if (!down) flags |= static_cast<DWORD>(KF_UP) << 16;
  // Bit 31 must not sign-extend into a 64-bit LPARAM, as it does not on Windows.
  return static_cast<LPARAM>(flags);
}

bool KeyStrokeTranslator::AltDown() const {
  return (down_[kEvdevLeftAlt] && !altGr_[kEvdevLeftAlt]) ||
         (down_[kEvdevRightAlt] && !altGr_[kEvdevRightAlt]) || altGr_.any();
}

bool KeyStrokeTranslator::CtrlDown() const {
  return down_[kEvdevLeftCtrl] || down_[kEvdevRightCtrl] || altGr_.any();
}

bool KeyStrokeTranslator::ShiftDown() const {
  return down_[kEvdevLeftShift] || down_[kEvdevRightShift];
}

void KeyStrokeTranslator::ReleaseAll() {
  down_.reset();
  altGr_.reset();
}

void KeyStrokeTranslator::Translate(unsigned code, bool down, const KeyContext& context,
                                    std::vector<KeyMessage>* out) {
  PhysicalKey key = LookupEvdevKey(code);
  if (key.scan == 0) return;
  const bool wasDown = down_[code];
  // A release of a key we never saw go down (pressed before the focus came) still reports it.
  const bool altBefore = AltDown() || context.altHeld;
  const bool shift = ShiftDown() || context.shiftHeld;
  const bool wasAltGr = altGr_[code];
  const bool altGr = down ? context.altGr : wasAltGr;
  down_[code] = down;
  altGr_[code] = down && altGr;

  if (context.letterVk != 0) key.vk = context.letterVk;
  if (key.numLockVk != 0 && context.numLock && !shift) key.vk = key.numLockVk;

  if (altGr) {
    // Windows' AltGr: a left Ctrl goes down before the right Alt and up after it; with Ctrl held
    // neither is a system key.
    const PhysicalKey leftCtrl = LookupEvdevKey(kEvdevLeftCtrl);
    const PhysicalKey rightAlt = LookupEvdevKey(kEvdevRightAlt);
    const UINT message = down ? WM_KEYDOWN : WM_KEYUP;
    if (down) {
      out->push_back({message, VK_CONTROL, KeyLParam(leftCtrl, true, wasDown, altBefore)});
      out->push_back({message, VK_MENU, KeyLParam(rightAlt, true, wasDown, true)});
    } else {
      const bool altAfter = AltDown() || context.altHeld;
      out->push_back({message, VK_MENU, KeyLParam(rightAlt, false, true, altAfter)});
      out->push_back({message, VK_CONTROL, KeyLParam(leftCtrl, false, true, altAfter)});
    }
    return;
  }

  const bool isAlt = key.vk == VK_MENU;
  const bool isCtrl = key.vk == VK_CONTROL;
  // The server's state is from before the event: a released Alt or Ctrl is up after it.
  const bool altAfter = AltDown() || (context.altHeld && !(isAlt && !down));
  const bool ctrlAfter = CtrlDown() || (context.ctrlHeld && !(isCtrl && !down));
  // Alt without Ctrl makes system keys, Alt's own release included; so does F10.
  const bool system = ((altBefore || altAfter) || key.vk == VK_F10) && !ctrlAfter;
  UINT message;
  if (down) {
    message = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
  } else {
    message = system ? WM_SYSKEYUP : WM_KEYUP;
  }
  out->push_back({message, key.vk, KeyLParam(key, down, wasDown, altAfter)});
}

}  // namespace kwz_platform
