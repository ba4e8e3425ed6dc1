// The thread's keyboard state.
#include "user/keyboard_state.h"

#include "user/key_table.h"

namespace kwz_platform {
namespace {

constexpr BYTE kDown = 0x80;
constexpr BYTE kToggled = 0x01;

// The left or right key behind a VK_SHIFT, VK_CONTROL or VK_MENU message.
BYTE Sided(BYTE vk, LPARAM lParam) {
  return SidedModifierVk(vk, static_cast<BYTE>((lParam >> 16) & 0xFF), ((lParam >> 24) & 1) != 0);
}

}  // namespace

void KeyboardState::Press(BYTE vk, bool down, bool repeat) {
  if (down) {
    if (!repeat) keys_[vk] ^= kToggled;
    keys_[vk] |= kDown;
  } else {
    keys_[vk] &= static_cast<BYTE>(~kDown);
  }
}

void KeyboardState::Take(const MSG& message) {
  switch (message.message) {
    case WM_KEYDOWN:
    case WM_SYSKEYDOWN:
    case WM_KEYUP:
    case WM_SYSKEYUP: {
      const bool down = message.message == WM_KEYDOWN || message.message == WM_SYSKEYDOWN;
      const bool repeat = (message.lParam & 0x40000000) != 0;
      const BYTE vk = static_cast<BYTE>(message.wParam);
      const BYTE sided = Sided(vk, message.lParam);
      if (sided == 0) {
        Press(vk, down, repeat);
        return;
      }
      Press(sided, down, repeat);
      // The generic key is down while either side is.
      const BYTE left = sided == VK_LSHIFT || sided == VK_RSHIFT       ? VK_LSHIFT
                        : sided == VK_LCONTROL || sided == VK_RCONTROL ? VK_LCONTROL
                                                                       : VK_LMENU;
      const bool either = ((keys_[left] | keys_[left + 1]) & kDown) != 0;
      if (down && !repeat) keys_[vk] ^= kToggled;
      keys_[vk] = static_cast<BYTE>((keys_[vk] & kToggled) | (either ? kDown : 0));
      return;
    }
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
      return Press(VK_LBUTTON, true, false);
    case WM_LBUTTONUP:
      return Press(VK_LBUTTON, false, false);
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      return Press(VK_RBUTTON, true, false);
    case WM_RBUTTONUP:
      return Press(VK_RBUTTON, false, false);
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      return Press(VK_MBUTTON, true, false);
    case WM_MBUTTONUP:
      return Press(VK_MBUTTON, false, false);
    default:
      return;
  }
}

void KeyboardState::SetToggled(BYTE vk, bool on) {
  keys_[vk] = static_cast<BYTE>((keys_[vk] & kDown) | (on ? kToggled : 0));
}

void KeyboardState::ReleaseAll() {
  for (BYTE& key : keys_) key &= static_cast<BYTE>(~kDown);
}

KeyboardState& ThreadKeyboardState() {
  thread_local KeyboardState state;
  return state;
}

}  // namespace kwz_platform
