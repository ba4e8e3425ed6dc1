// Internal to platform/: the keyboard state of one thread, as GetKeyboardState reports it.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <array>

#include "platform/winuser.h"

namespace kwz_platform {

// Changes as the thread takes key and button messages out of its queue, so that it describes
// the message being handled rather than the newest event. Owner thread only.
class KeyboardState {
 public:
  // Applies a key or mouse-button message; other messages change nothing.
  void Take(const MSG& message);
  void SetToggled(BYTE vk, bool on);
  // Every key and button up; the lock toggles stay.
  void ReleaseAll();
  const std::array<BYTE, 256>& Keys() const { return keys_; }

 private:
  void Press(BYTE vk, bool down, bool repeat);

  std::array<BYTE, 256> keys_{};
};

KeyboardState& ThreadKeyboardState();

}  // namespace kwz_platform
