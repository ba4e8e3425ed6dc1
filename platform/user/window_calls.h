// Internal to platform/: how the window calls reach a window's procedure.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <memory>

#include "gdi/objects.h"

namespace kwz_platform {

// Runs the procedure on the window's thread (directly when that is the calling thread) and
// returns its result; 0 when the window's thread has ended.
LRESULT SendToWindow(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                     LPARAM lParam);
// As SendToWindow; windows of classes without a procedure answer on the calling thread.
LRESULT NotifyWindow(const std::shared_ptr<WindowRecord>& record, UINT message, WPARAM wParam,
                     LPARAM lParam);

// The display gave the window the keyboard focus or took it away: the messages SetFocus sends,
// without touching the display's focus. Nothing when our record already agrees. Window's thread.
void NativeFocusChanged(HWND window, bool gained);
// The display resized a window (a window manager, or the program a foreign window belongs to):
// the record takes the size and the window gets WM_SIZE, as for SetWindowPos.
void NativeSizeChanged(HWND window, int width, int height);
// Takes the window's pending update (for BeginPaint) and clears it; false when none was pending.
bool TakeUpdate(WindowRecord& record, RECT* update, bool* erase);

// A destroyed window loses the focus without messages.
void ForgetFocus(HWND window);

}  // namespace kwz_platform
