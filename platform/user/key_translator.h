// Internal to platform/: key presses and releases of one thread's windows as the key messages
// Windows posts for them. Pure: the backend tells what its layout and server know of the key.
//
// lParam of a key message:
//    31   30   29   28..25  24   23 ........ 16  15 ............ 0
//  +----+----+----+-------+----+--------------+-----------------+
//  | up |prev|alt |   0   |ext |  scan code   |  repeat count 1 |
//  +----+----+----+-------+----+--------------+-----------------+
// up: a release; prev: the key was down before (always for a release); alt: an Alt key is down
// after the event; ext: the key sends an E0 prefix.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <bitset>
#include <vector>

#include "platform/winuser.h"

#include "user/key_table.h"

namespace kwz_platform {

// What the backend knows of a key event besides its evdev code.
struct KeyContext {
  // 'A'..'Z' when the layout's unshifted symbol of the key is that Latin letter, else 0: the
  // letters take their virtual key from the layout (AZERTY's A key is 'A'), the rest from the
  // key's position.
  BYTE letterVk = 0;
  // The layout makes the key AltGr (ISO_Level3_Shift): Windows sees a left Ctrl and a right Alt.
  bool altGr = false;
  // Held according to the server before the event (keys pressed before our window had the
  // focus); our own record of the keys adds to it.
  bool altHeld = false;
  bool ctrlHeld = false;
  bool shiftHeld = false;
  bool numLock = false;
};

struct KeyMessage {
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
};

// One per thread with windows; the owner thread only.
class KeyStrokeTranslator {
 public:
  // Appends the messages for the event (none for keys outside the table; two for AltGr).
  void Translate(unsigned code, bool down, const KeyContext& context, std::vector<KeyMessage>* out);
  // Forgets every key held, as when the focus leaves.
  void ReleaseAll();
  bool IsDown(unsigned code) const { return code < kEvdevKeys && down_[code]; }

 private:
  bool AltDown() const;
  bool CtrlDown() const;
  bool ShiftDown() const;

  std::bitset<kEvdevKeys> down_;
  std::bitset<kEvdevKeys> altGr_;  // the keys held that went down as AltGr
};

// The lParam of a key message.
LPARAM KeyLParam(const PhysicalKey& key, bool down, bool wasDown, bool altDown);

}  // namespace kwz_platform
