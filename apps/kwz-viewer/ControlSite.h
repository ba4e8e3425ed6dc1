// The viewer's site for the control: activates it in place inside a window of the viewer's (or
// of another program's) and deactivates it again.
//
// Threads: the viewer's main thread.
#pragma once

#include "apps/kwz-viewer/Automation.h"
#include "platform/winuser.h"

namespace kwz_viewer {

class ControlSite {
 public:
  ControlSite() = default;
  ~ControlSite() { Deactivate(); }
  ControlSite(const ControlSite&) = delete;
  ControlSite& operator=(const ControlSite&) = delete;

  // Activates control in place as a child of parent covering rect. False with *error when the
  // control cannot be activated.
  bool Activate(IUnknown* control, HWND parent, const RECT& rect, CallError* error);
  // The control's window while active, else null.
  HWND ControlWindow() const { return window_; }
  void Resize(const RECT& rect);
  void Deactivate();

 private:
  IUnknown* control_ = nullptr;  // held while active
  HWND window_ = nullptr;
};

}  // namespace kwz_viewer
