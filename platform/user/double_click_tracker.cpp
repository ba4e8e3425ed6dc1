// Windows' double-click rule.
#include "user/double_click_tracker.h"

namespace kwz_platform {

bool DoubleClickTracker::Press(HWND window, unsigned button, POINT screen, DWORD time) {
  // The rectangle is centred on the first press: two pixels left and up, one right and down.
  const bool inside =
      screen.x >= where_.x - kDoubleClickWidth / 2 && screen.x < where_.x + kDoubleClickWidth / 2 &&
      screen.y >= where_.y - kDoubleClickHeight / 2 && screen.y < where_.y + kDoubleClickHeight / 2;
  const bool doubleClick = armed_ && window == window_ && button == button_ && inside &&
                           static_cast<DWORD>(time - time_) < kDoubleClickTime;
  armed_ = !doubleClick;
  window_ = window;
  button_ = button;
  where_ = screen;
  time_ = time;
  return doubleClick;
}

UINT ButtonMessage(unsigned button, bool down, bool doubleClick) {
  static const UINT kDown[] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
  static const UINT kDouble[] = {WM_LBUTTONDBLCLK, WM_MBUTTONDBLCLK, WM_RBUTTONDBLCLK};
  static const UINT kUp[] = {WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
  if (button < 1 || button > 3) return 0;
  if (!down) return kUp[button - 1];
  return (doubleClick ? kDouble : kDown)[button - 1];
}

WPARAM ButtonFlag(unsigned button) {
  static const WPARAM kFlags[] = {MK_LBUTTON, MK_MBUTTON, MK_RBUTTON};
  return button >= 1 && button <= 3 ? kFlags[button - 1] : 0;
}

}  // namespace kwz_platform
