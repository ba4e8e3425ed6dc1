// Input events as window messages.
#include "user/input_translator.h"

#include "gdi/objects.h"

namespace kwz_platform {
namespace {

constexpr int kWheelDelta = 120;

bool IsButtonPress(UINT message) {
  for (unsigned button = 1; button <= 3; ++button) {
    if (message == ButtonMessage(button, true, false) ||
        message == ButtonMessage(button, true, true)) {
      return true;
    }
  }
  return false;
}

HWND TopLevelOf(HWND window) {
  for (HWND parent = GetParent(window); parent != nullptr; parent = GetParent(window)) {
    window = parent;
  }
  return window;
}

}  // namespace

bool WantsDoubleClicks(HWND window) {
  auto record = Windows().Find(window);
  return record && (record->classStyle & CS_DBLCLKS) != 0;
}

bool PressGoesOn(const MSG& input) {
  if (!IsButtonPress(input.message)) return true;
  const HWND top = TopLevelOf(input.hwnd);
  const HWND focus = GetFocus();
  if (input.hwnd == top && focus != nullptr && TopLevelOf(focus) == top) return true;
  const LRESULT answer = SendMessageW(input.hwnd, WM_MOUSEACTIVATE, reinterpret_cast<WPARAM>(top),
                                      MAKELPARAM(HTCLIENT, input.message));
  return answer != MA_ACTIVATEANDEAT && answer != MA_NOACTIVATEANDEAT;
}

void InputTranslator::Key(HWND window, unsigned evdev, bool down, const KeyContext& context,
                          DWORD time, POINT cursor, std::vector<MSG>* out) {
  std::vector<KeyMessage> messages;
  keys_.Translate(evdev, down, context, &messages);
  for (const KeyMessage& m : messages) {
    out->push_back(MSG{window, m.message, m.wParam, m.lParam, time, cursor});
  }
}

void InputTranslator::Button(HWND window, unsigned button, bool down, POINT client, POINT screen,
                             WPARAM keys, DWORD time, std::vector<MSG>* out) {
  if (button == 4 || button == 5) {
    // The wheel clicks once per press; its messages carry screen coordinates.
    if (!down) return;
    const int delta = button == 4 ? kWheelDelta : -kWheelDelta;
    const WPARAM wParam = keys | static_cast<WPARAM>(static_cast<WORD>(delta)) << 16;
    out->push_back(
        MSG{window, WM_MOUSEWHEEL, wParam, MAKELPARAM(screen.x, screen.y), time, screen});
    return;
  }
  if (ButtonMessage(button, down, false) == 0) return;
  bool doubleClick = false;
  if (down) {
    // The tracker runs for every window; only classes that ask get the double-click message.
    doubleClick = clicks_.Press(window, button, screen, time) && WantsDoubleClicks(window);
    keys |= ButtonFlag(button);
  } else {
    keys &= ~ButtonFlag(button);
  }
  out->push_back(MSG{window, ButtonMessage(button, down, doubleClick), keys,
                     MAKELPARAM(client.x, client.y), time, screen});
}

void InputTranslator::Motion(HWND window, POINT client, POINT screen, WPARAM keys, DWORD time,
                             std::vector<MSG>* out) {
  out->push_back(MSG{window, WM_MOUSEMOVE, keys, MAKELPARAM(client.x, client.y), time, screen});
}

void InputTranslator::Focus(HWND window, bool gained, std::vector<MSG>* out) {
  if (!gained) {
    // Keys released elsewhere would otherwise stay down here, and repeat flags would lie.
    keys_.ReleaseAll();
    clicks_.Reset();
  }
  out->push_back(MSG{window, gained ? WM_SETFOCUS : WM_KILLFOCUS, 0, 0, 0, POINT{0, 0}});
}

}  // namespace kwz_platform
