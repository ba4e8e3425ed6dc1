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

#pragma GCC visibility push(default)

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
#define WM_ERASEBKGND 0x0014u
#define WM_QUIT 0x0012u
#define WM_MOUSEACTIVATE 0x0021u
#define WM_NCCREATE 0x0081u
#define WM_NCDESTROY 0x0082u
#define WM_GETDLGCODE 0x0087u
#define WM_KEYDOWN 0x0100u
#define WM_KEYUP 0x0101u
#define WM_CHAR 0x0102u
#define WM_DEADCHAR 0x0103u
#define WM_SYSKEYDOWN 0x0104u
#define WM_SYSKEYUP 0x0105u
#define WM_SYSCHAR 0x0106u
#define WM_SYSDEADCHAR 0x0107u
#define WM_KEYFIRST 0x0100u
#define WM_KEYLAST 0x0109u
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
#define WM_MOUSEFIRST 0x0200u
#define WM_MOUSELAST 0x020Du
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

// WM_MOUSEACTIVATE answers.
#define MA_ACTIVATE 1
#define MA_ACTIVATEANDEAT 2
#define MA_NOACTIVATE 3
#define MA_NOACTIVATEANDEAT 4
// Where in a window a press landed (WM_MOUSEACTIVATE's low word of lParam).
#define HTCLIENT 1

// WM_GETDLGCODE answers: the keys a control wants from a dialog's navigation.
#define DLGC_WANTARROWS 0x0001
#define DLGC_WANTTAB 0x0002
#define DLGC_WANTALLKEYS 0x0004
#define DLGC_WANTMESSAGE 0x0004
#define DLGC_HASSETSEL 0x0008
#define DLGC_DEFPUSHBUTTON 0x0010
#define DLGC_UNDEFPUSHBUTTON 0x0020
#define DLGC_RADIOBUTTON 0x0040
#define DLGC_WANTCHARS 0x0080
#define DLGC_STATIC 0x0100
#define DLGC_BUTTON 0x2000

// Keystroke flags in the lParam of the key messages, above the repeat count (bits 0-15) and
// the scan code (bits 16-23).
#define KF_EXTENDED 0x0100
#define KF_DLGMODE 0x0800
#define KF_MENUMODE 0x1000
#define KF_ALTDOWN 0x2000
#define KF_REPEAT 0x4000
#define KF_UP 0x8000

// Virtual keys. Letters and digits are their upper-case ASCII codes ('A', '0').
#define VK_LBUTTON 0x01u
#define VK_RBUTTON 0x02u
#define VK_CANCEL 0x03u
#define VK_MBUTTON 0x04u
#define VK_BACK 0x08u
#define VK_TAB 0x09u
#define VK_CLEAR 0x0Cu
#define VK_RETURN 0x0Du
#define VK_SHIFT 0x10u
#define VK_CONTROL 0x11u
#define VK_MENU 0x12u
#define VK_PAUSE 0x13u
#define VK_CAPITAL 0x14u
#define VK_ESCAPE 0x1Bu
#define VK_SPACE 0x20u
#define VK_PRIOR 0x21u
#define VK_NEXT 0x22u
#define VK_END 0x23u
#define VK_HOME 0x24u
#define VK_LEFT 0x25u
#define VK_UP 0x26u
#define VK_RIGHT 0x27u
#define VK_DOWN 0x28u
#define VK_SELECT 0x29u
#define VK_PRINT 0x2Au
#define VK_EXECUTE 0x2Bu
#define VK_SNAPSHOT 0x2Cu
#define VK_INSERT 0x2Du
#define VK_DELETE 0x2Eu
#define VK_HELP 0x2Fu
#define VK_LWIN 0x5Bu
#define VK_RWIN 0x5Cu
#define VK_APPS 0x5Du
#define VK_SLEEP 0x5Fu
#define VK_NUMPAD0 0x60u
#define VK_NUMPAD1 0x61u
#define VK_NUMPAD2 0x62u
#define VK_NUMPAD3 0x63u
#define VK_NUMPAD4 0x64u
#define VK_NUMPAD5 0x65u
#define VK_NUMPAD6 0x66u
#define VK_NUMPAD7 0x67u
#define VK_NUMPAD8 0x68u
#define VK_NUMPAD9 0x69u
#define VK_MULTIPLY 0x6Au
#define VK_ADD 0x6Bu
#define VK_SEPARATOR 0x6Cu
#define VK_SUBTRACT 0x6Du
#define VK_DECIMAL 0x6Eu
#define VK_DIVIDE 0x6Fu
#define VK_F1 0x70u
#define VK_F2 0x71u
#define VK_F3 0x72u
#define VK_F4 0x73u
#define VK_F5 0x74u
#define VK_F6 0x75u
#define VK_F7 0x76u
#define VK_F8 0x77u
#define VK_F9 0x78u
#define VK_F10 0x79u
#define VK_F11 0x7Au
#define VK_F12 0x7Bu
#define VK_F13 0x7Cu
#define VK_F24 0x87u
#define VK_NUMLOCK 0x90u
#define VK_SCROLL 0x91u
#define VK_LSHIFT 0xA0u
#define VK_RSHIFT 0xA1u
#define VK_LCONTROL 0xA2u
#define VK_RCONTROL 0xA3u
#define VK_LMENU 0xA4u
#define VK_RMENU 0xA5u
#define VK_OEM_1 0xBAu
#define VK_OEM_PLUS 0xBBu
#define VK_OEM_COMMA 0xBCu
#define VK_OEM_MINUS 0xBDu
#define VK_OEM_PERIOD 0xBEu
#define VK_OEM_2 0xBFu
#define VK_OEM_3 0xC0u
#define VK_OEM_4 0xDBu
#define VK_OEM_5 0xDCu
#define VK_OEM_6 0xDDu
#define VK_OEM_7 0xDEu
#define VK_OEM_102 0xE2u

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
// Screen coordinates as the display shows the window: after a window manager framed or moved a
// top-level window, and inside another program's window, the display is asked; windows have no
// frame of their own, so the client area's corner is the window's.
BOOL GetWindowRect(HWND window, RECT* rect);
BOOL ClientToScreen(HWND window, POINT* point);
BOOL ScreenToClient(HWND window, POINT* point);
// The deepest visible window of this process at a screen point (the newest among siblings), or
// null; other programs' windows that cover it are not considered.
HWND WindowFromPoint(POINT point);
// The title that the desktop shows for a top-level window (a child keeps it as text).
BOOL SetWindowTextW(HWND window, LPCWSTR text);
// Copies at most capacity - 1 units and a terminator; returns the units copied.
int GetWindowTextW(HWND window, LPWSTR text, int capacity);
// Adds rect (null: the client area) to the window's update region; erase asks BeginPaint to send
// WM_ERASEBKGND first. WM_PAINT comes from GetMessageW and PeekMessageW when nothing else passes
// the filter, once per invalidation (a procedure that never validates is not asked again). A
// new window starts invalid, with erase; a resize does so too for classes with CS_HREDRAW or
// CS_VREDRAW; parts that the display uncovers are invalidated without erase, because the
// display restores the last picture there itself.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);
BOOL ValidateRect(HWND window, const RECT* rect);
// Whether rect has no area: its right edge not right of its left or its bottom not below its
// top. A null rect counts as empty.
BOOL IsRectEmpty(const RECT* rect);

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
// Posts what ToUnicode gives for a WM_KEYDOWN (WM_SYSKEYDOWN) under the thread's keyboard state:
// one WM_CHAR (WM_SYSCHAR) per character, or WM_DEADCHAR (WM_SYSDEADCHAR) for a dead key. TRUE
// for any key message.
BOOL TranslateMessage(const MSG* message);
// Runs the window's procedure; 0 for a message without a live window.
LRESULT DispatchMessageW(const MSG* message);

// Keyboard input. The keyboard state is the calling thread's: it changes as the thread takes
// key and button messages out of its queue (GetMessageW, PeekMessageW with PM_REMOVE), so that
// it matches the message being handled, as Windows keeps it. Per virtual key: 0x80 while down,
// 0x01 toggled (kept for every key; meaningful for VK_CAPITAL, VK_NUMLOCK and VK_SCROLL, which
// the X11 backend also takes from the server's lock state). VK_SHIFT, VK_CONTROL and VK_MENU
// follow their left and right keys. AltGr arrives as VK_LCONTROL plus VK_RMENU.
BOOL GetKeyboardState(PBYTE keyState);
// Negative (bit 15) while down, bit 0 set when toggled.
SHORT GetKeyState(int virtualKey);
// The characters that key vk (scanCode: its set-1 scan code, bit 15 for a release) gives under
// keyState (256 bytes as GetKeyboardState gives), written to buffer: the count written; 0 for
// none (key-ups, keys without a character); -1 for a dead key, whose spacing form is written;
// 2 or more when a pending dead key does not combine with this key (both characters). Ctrl
// combinations give Windows' control characters; Ctrl+Alt counts as AltGr. The dead-key state
// is the calling thread's; flags bit 2 (0x4) leaves it alone. The layout is the X server's on
// a thread that has X11 windows, otherwise US English.
int ToUnicode(UINT vk, UINT scanCode, const BYTE* keyState, LPWSTR buffer, int bufferSize,
              UINT flags);

// MapVirtualKeyW's translations from a scan code (set 1, as key messages carry it; 0xE0 in the
// high byte for a key sent with the E0 prefix, so 0xE04B is the Left arrow and 0x4B the keypad's
// 4) to a virtual key: VK_SHIFT, VK_CONTROL and VK_MENU for either side, or with _EX the sided
// VK_LSHIFT to VK_RMENU. Keypad keys give their virtual key without NumLock (VK_HOME for 0x47),
// whatever the lock's state. 0 for a code no key sends and for the other map types.
#define MAPVK_VSC_TO_VK 1u
#define MAPVK_VSC_TO_VK_EX 3u
UINT MapVirtualKeyW(UINT code, UINT mapType);

// The keyboard focus. SetFocus sends WM_KILLFOCUS (wParam: the window that gets the focus) to
// the window that had it and WM_SETFOCUS (wParam: the one that lost it) to window before it
// returns, and on X11 gives the window the server's input focus when it is viewable. Returns the
// window that had the focus (null when none of the calling thread's windows had it). Null window:
// the calling thread's windows lose the focus. Fails (null, ERROR_INVALID_WINDOW_HANDLE) for a
// bad handle, (ERROR_ACCESS_DENIED) for another thread's window. Setting the focus to the window
// that has it sends nothing. The window also gets and loses the focus as the X server moves it.
HWND SetFocus(HWND window);
// The window that has the keyboard focus if it belongs to the calling thread, else null.
HWND GetFocus();

// Only a null region (the window is its whole rectangle) is supported: non-zero for it, 0 with
// ERROR_INVALID_PARAMETER for a region. redraw is accepted.
int SetWindowRgn(HWND window, HRGN region, BOOL redraw);

// Notifications that a control window's parent reflects back to it.
#define WM_DRAWITEM 0x002Bu
#define WM_MEASUREITEM 0x002Cu
#define WM_DELETEITEM 0x002Du
#define WM_VKEYTOITEM 0x002Eu
#define WM_CHARTOITEM 0x002Fu
#define WM_COMPAREITEM 0x0039u
#define WM_NOTIFY 0x004Eu
#define WM_COMMAND 0x0111u
#define WM_HSCROLL 0x0114u
#define WM_VSCROLL 0x0115u
#define WM_CTLCOLORMSGBOX 0x0132u
#define WM_CTLCOLOREDIT 0x0133u
#define WM_CTLCOLORLISTBOX 0x0134u
#define WM_CTLCOLORBTN 0x0135u
#define WM_CTLCOLORDLG 0x0136u
#define WM_CTLCOLORSCROLLBAR 0x0137u
#define WM_CTLCOLORSTATIC 0x0138u
#define WM_PARENTNOTIFY 0x0210u

// Painting in answer to WM_PAINT. BeginPaint takes the window's update region (rcPaint: its
// bounding rectangle, empty when nothing was invalid) and gives a DC of the window, as GetDC
// does. When the update asked for erasing it sends WM_ERASEBKGND with the DC first; fErase is
// TRUE when that message answered 0 (nothing erased). DefWindowProcW erases with the class
// brush, which may be a system colour index plus one (COLOR_WINDOW + 1: white). EndPaint
// releases the DC; what was painted shows then.
struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;
  RECT rcPaint;
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);

#pragma GCC visibility pop
