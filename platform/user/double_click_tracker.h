// Internal to platform/: which button presses Windows reports as double-clicks.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include "platform/winuser.h"

namespace kwz_platform {

constexpr DWORD kDoubleClickTime = 500;  // ms, Windows' default
constexpr int kDoubleClickWidth = 4;     // the rectangle around the first press
constexpr int kDoubleClickHeight = 4;

// A press is the second of a double-click when it is in the same window, of the same button,
// less than kDoubleClickTime after the first and inside the kDoubleClickWidth x
// kDoubleClickHeight rectangle centred on it. The press after a double-click starts afresh.
// Owner thread only.
class DoubleClickTracker {
 public:
  // Reports whether this press completes a double-click. screen: the press in screen
  // coordinates; time: the event's millisecond clock, which may wrap.
  bool Press(HWND window, unsigned button, POINT screen, DWORD time);
  void Reset() { armed_ = false; }

 private:
  bool armed_ = false;
  HWND window_ = nullptr;
  unsigned button_ = 0;
  POINT where_{0, 0};
  DWORD time_ = 0;
};

// The mouse message for a press or release of X button 1-3 (left, middle, right); 0 for other
// buttons. doubleClick only matters for a press.
UINT ButtonMessage(unsigned button, bool down, bool doubleClick);
// The MK_ flag of X button 1-3.
WPARAM ButtonFlag(unsigned button);

}  // namespace kwz_platform
