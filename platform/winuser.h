// The least window management that the control window and the tests need: window classes,
// top-level and child windows, their geometry and their messages. A window is a drawing target
// for platform/gdi.h.
//
// Threads: a window belongs to the thread that created it; its procedure runs on that thread,
// inside GetMessageW/PeekMessageW/DispatchMessageW, or inside CoWaitForMultipleHandles for
// messages sent from other threads. Geometry calls may come from any thread. Windows have no
// frame, so the window rectangle is the client area in screen coordinates.
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

struct WNDCLASSEXW {
  UINT cbSize;
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
  HICON hIconSm;
};

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

// lParam of WM_NCCREATE and WM_CREATE.
struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};

#define WM_NULL 0x0000u
#define WM_CREATE 0x0001u
#define WM_DESTROY 0x0002u
#define WM_MOVE 0x0003u
#define WM_SIZE 0x0005u
#define WM_SETFOCUS 0x0007u
#define WM_KILLFOCUS 0x0008u
#define WM_PAINT 0x000Fu
#define WM_CLOSE 0x0010u
#define WM_QUIT 0x0012u
#define WM_NCCREATE 0x0081u
#define WM_NCDESTROY 0x0082u
#define WM_GETDLGCODE 0x0087u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_SYSKEYDOWN 0x0104u
#define WM_SYSKEYUP 0x0105u
#define WM_SYSCHAR 0x0106u
#define WM_MOUSEMOVE 0x0200u
#define WM_LBUTTONDOWN 0x0201u
#define WM_LBUTTONUP 0x0202u
#define WM_LBUTTONDBLCLK 0x0203u
#define WM_RBUTTONDOWN 0x0204u
#define WM_RBUTTONUP 0x0205u
#define WM_RBUTTONDBLCLK 0x0206u
#define WM_MBUTTONDOWN 0x0207u
#define WM_MBUTTONUP 0x0208u
#define WM_MBUTTONDBLCLK 0x0209u
#define WM_MOUSEWHEEL 0x020Au
#define WM_USER 0x0400u
#define WM_APP 0x8000u

#define SIZE_RESTORED 0
#define MK_LBUTTON 0x0001u
#define MK_RBUTTON 0x0002u
#define MK_SHIFT 0x0004u
#define MK_CONTROL 0x0008u
#define MK_MBUTTON 0x0010u
#define PM_NOREMOVE 0x0000u
#define PM_REMOVE 0x0001u

#define VK_BACK 0x08u
#define VK_TAB 0x09u
#define VK_RETURN 0x0Du
#define VK_SHIFT 0x10u
#define VK_CONTROL 0x11u
#define VK_MENU 0x12u
#define VK_ESCAPE 0x1Bu
#define VK_SPACE 0x20u
#define VK_LEFT 0x25u
#define VK_UP 0x26u
#define VK_RIGHT 0x27u
#define VK_DOWN 0x28u
#define VK_F1 0x70u

#define MAKELPARAM(low, high)                                        \
  (static_cast<LPARAM>(static_cast<DWORD>((static_cast<WORD>(low)) | \
                                          (static_cast<DWORD>(static_cast<WORD>(high)) << 16))))
#define GET_X_LPARAM(lp) (static_cast<int>(static_cast<SHORT>(LOWORD(lp))))
#define GET_Y_LPARAM(lp) (static_cast<int>(static_cast<SHORT>(HIWORD(lp))))

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
// ShowWindow.
#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5

#define MAKEINTATOM(a) (reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(static_cast<WORD>(a))))

// Class names compare without regard to ASCII case; a class is named by its string or by the
// atom that RegisterClassW returned. "STATIC" is predefined. Registering a name twice fails with
// ERROR_CLASS_ALREADY_EXISTS.
ATOM RegisterClassW(const WNDCLASSW* windowClass);
// As RegisterClassW; cbSize must be sizeof(WNDCLASSEXW) (ERROR_INVALID_PARAMETER).
ATOM RegisterClassExW(const WNDCLASSEXW* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);

// A WS_CHILD window needs a parent and is placed relative to its parent's client area; other
// windows are top-level, at screen coordinates. CW_USEDEFAULT gives (0, 0) and 640 x 480.
// Negative sizes count as 0. Fails with ERROR_CANNOT_FIND_WND_CLASS, ERROR_INVALID_WINDOW_HANDLE
// (bad parent) or ERROR_TLW_WITH_WSCHILD. The procedure receives WM_NCCREATE (FALSE fails the
// creation), WM_CREATE (-1 destroys the window and fails it) and WM_SIZE before the call
// returns; param travels in CREATESTRUCTW::lpCreateParams.
HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x,
                     int y, int width, int height, HWND parent, HMENU menu, HINSTANCE instance,
                     LPVOID param);
// Sends WM_DESTROY to the window, then destroys its children, then sends WM_NCDESTROY; the handle
// is valid during both. FALSE with ERROR_INVALID_WINDOW_HANDLE for a bad handle.
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
// Moves and resizes; SWP_NOMOVE, SWP_NOSIZE, SWP_SHOWWINDOW and SWP_HIDEWINDOW are honoured,
// the z-order is left alone. A change of size sends WM_SIZE (from another thread: waits until
// the window's thread has run it).
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
// Shows or hides the window (SW_HIDE hides, any other command shows); answers whether it was
// visible before.
BOOL ShowWindow(HWND window, int command);
// The window and each of its parents are shown.
BOOL IsWindowVisible(HWND window);
// The parent of a child window; null for a top-level window or a bad handle.
HWND GetParent(HWND window);
BOOL GetClientRect(HWND window, RECT* rect);
BOOL GetWindowRect(HWND window, RECT* rect);
// Accepted and checked; repainting on request comes with the window's messages.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);

// The pointer's position on the primary display, in screen pixels. FALSE when it cannot be
// told (the pointer is on another screen of the X display).
BOOL GetCursorPos(POINT* point);
DWORD GetWindowThreadProcessId(HWND window, DWORD* processId);

// Messages. Posted messages queue on the window's thread (a null window: the calling thread);
// sent messages run the procedure at once on the same thread, and on another thread's window
// wait until that thread takes them in its next GetMessageW, PeekMessageW or modal wait, while
// running the messages sent to the waiting thread. A window whose thread has ended takes none
// (0 for SendMessageW).
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// WM_QUIT is retrieved once no posted message passes the filter.
void PostQuitMessage(int exitCode);
// Blocks until a message passes the filter (window null: any; first = last = 0: any number),
// running sent messages and incoming calls meanwhile. 0 for WM_QUIT, -1 for a bad window.
BOOL GetMessageW(MSG* message, HWND window, UINT first, UINT last);
BOOL PeekMessageW(MSG* message, HWND window, UINT first, UINT last, UINT removal);
// Posts WM_CHAR after the WM_KEYDOWN of a letter (lower case: no keyboard state is kept), digit,
// space, tab, return, backspace or escape; TRUE for any key message.
BOOL TranslateMessage(const MSG* message);
// Runs the window's procedure; 0 for a message without a live window.
LRESULT DispatchMessageW(const MSG* message);
