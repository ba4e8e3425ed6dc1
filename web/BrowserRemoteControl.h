// Remote control from a browser page: pointer and key messages become the 24-byte input records
// that the control sends for the same clicks and keys, so the presenter's side cannot tell a
// browser from the control.
//
// The page reports keys by position (KeyboardEvent.code) and by what they typed (key). Each key
// is turned into the key message Windows would post for it (WM_KEYDOWN, WM_SYSKEYDOWN with Alt
// held and Ctrl not, or for F10, and their key-ups; lParam with the scan code, the E0 flag, Alt
// held, previous state and release), and that message into a record by the control's own rules.
// The characters are the browser's while Ctrl is not held, since the page's layout is the one
// the user types on; with Ctrl, and for keys the browser names instead of typing (Enter, Tab,
// Backspace, Escape), they are what ToUnicode gives.
//
// Not thread-safe: the gateway calls it from one strand.
#pragma once

#include <functional>

#include "network/InputRecord.h"
#include "web/BrowserInputMessage.h"

namespace kwz_web {

class BrowserRemoteControl {
 public:
  using Sink = std::function<void(const InputRecord&)>;

  explicit BrowserRemoteControl(Sink sink);

  // A browser takes control: the mouse record starts afresh, as the control's does when remote
  // control starts. The keyboard record keeps what it last carried.
  void Start();
  // The shared screen's size: pointer positions within 0..width and 0..height, edges included,
  // move the mouse record; others leave it where it was.
  void SetScreenSize(int width, int height);

  void OnPointer(const BrowserPointer& pointer);
  void OnKey(const BrowserKey& key);
  // The mouse record again, so that the presenter sees the cursor follow moves, which send
  // nothing of their own.
  void Resend();

 private:
  void Send(const InputRecord& record);

  Sink m_sink;
  InputRecord m_keyRecord;
  InputRecord m_mouseRecord;
  int m_width = 0;
  int m_height = 0;
  bool m_pointerKnown = false;
  LONG m_pointerX = 0;
  LONG m_pointerY = 0;
  // The right Alt key went down as AltGr: its release is AltGr's too, though the browser no
  // longer reports AltGraph then.
  bool m_altGrDown = false;
};

}  // namespace kwz_web
