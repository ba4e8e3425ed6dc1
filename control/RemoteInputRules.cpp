#include "control/RemoteInputRules.h"

namespace {

struct ButtonRule {
  UINT message;
  DWORD clear;
  DWORD set;
};

// A right or middle double-click is sent as a second press: only the left button's
// double-click has a bit of its own on the presenter's side.
constexpr ButtonRule kButtonRules[] = {
    {WM_LBUTTONUP, kButtonLeftDown | kButtonLeftDouble, kButtonLeftUp},
    {WM_LBUTTONDOWN, kButtonLeftUp | kButtonLeftDouble, kButtonLeftDown},
    {WM_LBUTTONDBLCLK, kButtonLeftUp | kButtonLeftDown, kButtonLeftDouble},
    {WM_RBUTTONUP, kButtonRightDown | kButtonRightDouble, kButtonRightUp},
    {WM_RBUTTONDOWN, kButtonRightUp | kButtonRightDouble, kButtonRightDown},
    {WM_RBUTTONDBLCLK, kButtonRightUp | kButtonRightDouble, kButtonRightDown},
    {WM_MBUTTONUP, kButtonMiddleDown | kButtonMiddleDouble, kButtonMiddleUp},
    {WM_MBUTTONDOWN, kButtonMiddleUp | kButtonMiddleDouble, kButtonMiddleDown},
    {WM_MBUTTONDBLCLK, kButtonMiddleUp | kButtonMiddleDouble, kButtonMiddleDown},
};

const ButtonRule* FindButtonRule(UINT message) {
  for (const ButtonRule& rule : kButtonRules) {
    if (rule.message == message) return &rule;
  }
  return nullptr;
}

KeyOutcome Send(WORD message, DWORD wParam, DWORD lParam) {
  return KeyOutcome{true, 0, message, wParam, lParam};
}

constexpr KeyOutcome kSwallow{};  // handled, nothing sent, result 1

}  // namespace

DWORD UpdateButtonBits(DWORD buttons, UINT message) {
  const ButtonRule* rule = FindButtonRule(message);
  if (rule == nullptr) return buttons;
  return (buttons & ~rule->clear) | rule->set;
}

bool IsButtonMessage(UINT message) {
  return FindButtonRule(message) != nullptr;
}

bool IsButtonPress(UINT message) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      return true;
    default:
      return false;
  }
}

bool KeyNeedsCharacters(UINT message, WPARAM vk) {
  if (message == WM_KEYDOWN) return vk != VK_MENU;
  return message == WM_SYSKEYDOWN;
}

KeyOutcome ComposeKeyRecord(UINT message, WPARAM vk, LPARAM lParam, BYTE ctrlState, int characters,
                            WCHAR character) {
  const DWORD flags = static_cast<DWORD>(lParam);
  const DWORD key = static_cast<DWORD>(vk);
  switch (message) {
    case WM_KEYDOWN:
      // Alt pressed alone arrives as a system key and is sent from there; a plain key-down of
      // Alt comes with Ctrl held (AltGr) and would reach the presenter as a stray Alt.
      if (vk == VK_MENU) return kSwallow;
      // The Ctrl key itself is never sent: the presenter learns of Ctrl through bit 25.
      if (vk == VK_CONTROL && (ctrlState & 0x81) != 0) return kSwallow;
      if (characters == 1) {
        const DWORD ctrl = (ctrlState & 0x80) != 0 ? kKeyFlagCtrl : 0;
        return Send(kInputMessageCharacter, character, (flags & ~kKeyFlagCtrl) | ctrl);
      }
      // Several characters: a dead key that could not combine; the presenter gets neither.
      if (characters > 1) return kSwallow;
      return Send(kInputMessageKeyDown, key, flags);
    case WM_KEYUP:
      // Only the extended keys (arrows, the navigation block, right Ctrl and Alt) are released
      // on the presenter's side; every other key is sent as a press alone.
      if ((flags & kKeyFlagExtended) == 0) return kSwallow;
      return Send(kInputMessageKeyDown, key, flags);
    case WM_SYSKEYDOWN:
      if (characters == 1) return Send(kInputMessageCharacter, character, flags);
      if (characters > 1) return kSwallow;
      return Send(kInputMessageKeyDown, key, flags);
    default:  // WM_SYSKEYUP
      return kSwallow;
  }
}
