// Seams of the GDI subset for tests: the headless virtual displays and the X11 paint path. The
// choice of backend and the window read-back are in platform/gdi_session.h.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/gdi_session.h"
#include "platform/winuser.h"

#pragma GCC visibility push(default)

namespace kwz_platform {

// The virtual displays of the headless backend, primary first (default: one 1920 x 1080).
void SetHeadlessDisplays(const std::vector<SIZE>& sizes);
// What the headless primary display shows to a screen capture (0xRRGGBB, top row first; black
// beyond width x height, and everywhere when pixels do not hold width x height values) and where
// its pointer is.
void SetHeadlessScreen(const std::vector<std::uint32_t>& pixels, int width, int height,
                       POINT cursor);

// The X window behind a window of the X11 backend; 0 for other windows.
unsigned long X11WindowForTesting(HWND window);

// The window procedure kept for the window's class, or null.
WNDPROC GetWindowProcForTesting(HWND window);

// Called on the painting thread after each ReleaseDC of a window's DC, with the window and
// whether the DC showed anything in it (a DC released without painting reports false).
// Installed process-wide until replaced; an empty function removes it. Returns the previous one.
using PaintObserver = std::function<void(HWND window, bool painted)>;
PaintObserver SetPaintObserverForTesting(PaintObserver observer);

// How the calling thread's last window DC reached its window; kSharedPixmap: its picture was
// composited by the server from the bitmap's own memory.
enum class GdiPresentPath { kNone, kMemory, kSharedMemory, kPutImage, kSharedPixmap };
GdiPresentPath LastPresentPathForTesting();
// Display connections opened from now on skip MIT-SHM and put images with XPutImage.
void ForceXPutImageForTesting(bool force);
// Events queued, after a round trip, on the calling thread's painting connections (X11). The
// painting side reads only MIT-SHM completions, so anything else would pile up as it paints.
int PendingPaintEventsForTesting();
// Milliseconds the calling thread has waited, in all, for the X server to read bitmaps that it
// composites from where they lie.
double CompositeWaitMsForTesting();

// Input for windows of the headless backend, delivered as the X11 backend delivers the server's
// events: through the same translation (virtual keys, keystroke flags, double-clicks for
// CS_DBLCLKS classes, mouse-key flags, focus changes) and the same keyboard-state bookkeeping.
// The messages reach the window's thread at its next GetMessageW or PeekMessageW (a focus change
// is sent there and then). Any thread; false for a bad handle or a window of another backend.
//
// A key is named by its Linux evdev code (KEY_A from linux/input-event-codes.h), the layout is US
// English, and the modifiers are the keys injected as held.
bool InjectKeyForTesting(HWND window, unsigned evdevKey, bool down);
// button: 1 left, 2 middle, 3 right, 4 and 5 the wheel up and down (X's numbering). client: the
// pointer in the window's client coordinates. time: the event's millisecond clock, which the
// double-click rule reads.
bool InjectButtonForTesting(HWND window, unsigned button, bool down, POINT client, DWORD time);
bool InjectMotionForTesting(HWND window, POINT client, DWORD time);
// The focus arriving from, or leaving for, a window outside the process.
bool InjectFocusForTesting(HWND window, bool gained);

}  // namespace kwz_platform

#pragma GCC visibility pop
