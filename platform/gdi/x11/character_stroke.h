// Internal to platform/: typing a character on an X display through XTEST with whichever key
// of the server's keymap gives it, as a user of that keymap would type it.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <X11/Xlib.h>

namespace kwz_platform {

// Types sym as one stroke: the key that gives it, in the group and at the level that give it,
// with the level's modifier keys held around it; locks that would change what the key gives
// are lifted around the stroke. A character no key gives is typed through a spare keycode lent
// for the stroke. Keys, modifiers, locks, group and keymap are as before afterwards.
// With type false nothing is typed. False when the keymap has no way to type sym.
bool TypeCharacter(Display* display, KeySym sym, bool type);

}  // namespace kwz_platform
