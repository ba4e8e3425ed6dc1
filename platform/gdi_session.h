// What a program decides about its windows as a whole: where they appear (an X server or the
// headless virtual display) and saving what a window shows as a PNG file.
//
// The backend is chosen at the first call that needs one: KWZ_GDI_BACKEND=headless or x11;
// without it x11 when DISPLAY names a reachable server, else headless. An explicit x11 that
// cannot connect falls back to headless (with a debug-output message).
#pragma once

#include <cstdint>
#include <vector>

#include "platform/winuser.h"

#pragma GCC visibility push(default)

namespace kwz_platform {

enum class GdiBackendKind { kHeadless, kX11 };

// Chooses the backend for windows created from now on (windows made before keep theirs).
// displayName is the X display to connect to (null: $DISPLAY). Returns false, changing nothing,
// when the X server cannot be reached or offers no 24-bit TrueColor visual.
bool SelectGdiBackend(GdiBackendKind kind, const char* displayName = nullptr);
GdiBackendKind CurrentGdiBackend();

// A window handle for another program's window (an X window id on the backend's display), so
// that windows of ours can be created as its children, as a player embeds its picture in a
// page's window. The handle is a child window of no one, owned by the calling thread; its
// procedure (the default one when null) gets WM_SIZE when the other program resizes the window,
// and no input, which stays that program's. GetWindowRect answers where it is on the screen.
// DestroyWindow destroys our children of it and the handle, never the foreign window. Null with
// ERROR_INVALID_WINDOW_HANDLE when id names no window there, or with ERROR_NOT_SUPPORTED on a
// backend without foreign windows (headless).
HWND AttachForeignWindow(std::uint64_t id, WNDPROC proc = nullptr);

// What the window shows now, top row first, one 0xFFRRGGBB value per pixel, including every
// ReleaseDC that returned before the call on any thread. False for a bad handle or a window
// whose contents cannot be read.
bool ReadWindowPixels(HWND window, std::vector<std::uint32_t>* pixels, int* width, int* height);
// Writes pixels (0x..RRGGBB, top row first) as an 8-bit RGB PNG file.
bool WritePixelsPng(const char* path, const std::uint32_t* pixels, int width, int height);
bool WriteWindowPng(HWND window, const char* path);

}  // namespace kwz_platform

#pragma GCC visibility pop
