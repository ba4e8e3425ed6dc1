// The least window management that the control window and the tests need: window classes,
// top-level and child windows, their geometry. A window is a drawing target for platform/gdi.h;
// its messages are not dispatched yet: the window procedure is kept with the class for when
// they are.
//
// Threads: windows may be created, resized and destroyed from any thread; a window has no owning
// thread. Windows have no frame, so the window rectangle is the client area in screen
// coordinates.
#pragma once

#include "platform/gdi.h"
#include "platform/wintypes.h"

using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using ATOM = WORD;
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

struct WNDCLASSW {
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
};

#define CS_VREDRAW 0x0001u
#define CS_HREDRAW 0x0002u
#define CS_DBLCLKS 0x0008u
#define COLOR_WINDOW 5

#define WS_OVERLAPPED 0x00000000u
#define WS_POPUP 0x80000000u
#define WS_CHILD 0x40000000u
#define WS_VISIBLE 0x10000000u
#define WS_CLIPSIBLINGS 0x04000000u
#define WS_CLIPCHILDREN 0x02000000u
#define CW_USEDEFAULT (static_cast<int>(0x80000000))

#define SWP_NOSIZE 0x0001u
#define SWP_NOMOVE 0x0002u
#define SWP_NOZORDER 0x0004u
#define SWP_NOACTIVATE 0x0010u
#define SWP_SHOWWINDOW 0x0040u
#define SWP_HIDEWINDOW 0x0080u

#define MAKEINTATOM(a) (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(a))))

// Class names compare without regard to ASCII case; a class is named by its string or by the
// atom that RegisterClassW returned. "STATIC" is predefined. Registering a name twice fails with
// ERROR_CLASS_ALREADY_EXISTS.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);

// A WS_CHILD window needs a parent and is placed relative to its parent's client area; other
// windows are top-level, at screen coordinates. CW_USEDEFAULT gives (0, 0) and 640 x 480.
// Negative sizes count as 0. Fails with ERROR_CANNOT_FIND_WND_CLASS, ERROR_INVALID_WINDOW_HANDLE
// (bad parent) or ERROR_TLW_WITH_WSCHILD. No WM_CREATE is sent.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
// Destroys the window and its children. FALSE with ERROR_INVALID_WINDOW_HANDLE for a bad handle.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// Moves and resizes; SWP_NOMOVE, SWP_NOSIZE, SWP_SHOWWINDOW and SWP_HIDEWINDOW are honoured,
// the z-order is left alone.
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
// Accepted and checked; repainting on request comes with the window's messages.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);

// The pointer's position on the primary display, in screen pixels. FALSE when it cannot be
// told (the pointer is on another screen of the X display).
BOOL GetCursorPos(POINT* point);
