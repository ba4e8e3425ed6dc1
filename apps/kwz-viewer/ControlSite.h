// The viewer's site for the control: the client site and in-place site through which the
// control is activated in place inside a window of the viewer's (or of another program's), and
// deactivated again.
//
// Lifetime: the viewer's ControlSite owns one reference to its site object; the control holds
// others while it is sited. Threads: the viewer's main thread.
#pragma once

#include "apps/kwz-viewer/Automation.h"
#include "platform/oleidl.h"
#include "platform/winuser.h"

namespace kwz_viewer {

class ControlSite {
 public:
  ControlSite() = default;
  ~ControlSite() { Deactivate(); }
  ControlSite(const ControlSite&) = delete;
  ControlSite& operator=(const ControlSite&) = delete;

  // Sites control and activates it in place as a child of parent covering rect (DoVerb with
  // OLEIVERB_INPLACEACTIVATE). False with *error when the control cannot be activated.
  bool Activate(IUnknown* control, HWND parent, const RECT& rect, CallError* error);
  // The control's window while active, else null.
  HWND ControlWindow() const { return window_; }
  // What the control last told the site: that it is UI-active (a click or the focus makes it
  // so), and that it holds the keyboard focus.
  bool ControlUIActive() const;
  bool ControlHasFocus() const;
  // Moves the active control to rect (IOleInPlaceObject::SetObjectRects).
  void Resize(const RECT& rect);
  // InPlaceDeactivate, Close and unsiting; nothing when not active.
  void Deactivate();

 private:
  class Site;

  Site* site_ = nullptr;                  // owned reference
  IOleObject* object_ = nullptr;          // owned reference while sited
  IOleInPlaceObject* inPlace_ = nullptr;  // owned reference while active
  HWND window_ = nullptr;
};

}  // namespace kwz_viewer
