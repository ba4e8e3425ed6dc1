// Seams of the GDI subset for tests: the headless virtual displays and the X11 paint path. The
// choice of backend and the window read-back are in platform/gdi_session.h.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/gdi_session.h"
#include "platform/winuser.h"

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

// How the calling thread's last ReleaseDC reached its window.
enum class GdiPresentPath { kNone, kMemory, kSharedMemory, kPutImage };
GdiPresentPath LastPresentPathForTesting();
// Display connections opened from now on skip MIT-SHM and put images with XPutImage.
void ForceXPutImageForTesting(bool force);

}  // namespace kwz_platform
