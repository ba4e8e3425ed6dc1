// Internal to platform/: the input events of one thread's windows as window messages, the part
// that the X11 and headless backends share (key messages, double-clicks, mouse-key flags, focus).
// Each backend reads its events, says what it knows of them, and queues what comes out.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <vector>

#include "platform/winuser.h"

#include "user/double_click_tracker.h"
#include "user/key_translator.h"

namespace kwz_platform {

// Owner thread only.
class InputTranslator {
 public:
  // A key pressed or released while window has the focus; cursor: the pointer on the screen.
  void Key(HWND window, unsigned evdev, bool down, const KeyContext& context, DWORD time,
           POINT cursor, std::vector<MSG>* out);
  // X button 1-5 (4 and 5: the wheel) at client (window) and screen coordinates. keys: the MK_
  // flags held before the event; the button itself is added or removed here, as Windows
  // reports it.
  void Button(HWND window, unsigned button, bool down, POINT client, POINT screen, WPARAM keys,
              DWORD time, std::vector<MSG>* out);
  void Motion(HWND window, POINT client, POINT screen, WPARAM keys, DWORD time,
              std::vector<MSG>* out);
  // Gained or lost; the queue turns it into the focus change. Losing it releases the keys held.
  void Focus(HWND window, bool gained, std::vector<MSG>* out);

  bool KeyDown(unsigned evdev) const { return keys_.IsDown(evdev); }

 private:
  KeyStrokeTranslator keys_;
  DoubleClickTracker clicks_;
};

// Whether the window's class asked for double-clicks (CS_DBLCLKS).
bool WantsDoubleClicks(HWND window);

// As a button press from the input queue is handed out: a window other than the active one
// (here, the top-level window that holds the focus) is first asked with WM_MOUSEACTIVATE, and
// false means its answer eats the press. Activation itself is the display's: a MA_ACTIVATE
// answer changes nothing here. Other input always goes on. The window's thread only.
bool PressGoesOn(const MSG& input);

}  // namespace kwz_platform
