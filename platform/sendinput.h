// SendInput: mouse and keyboard input synthesised into the desktop, as if a user had moved,
// clicked or typed. On the X11 backend the events go into that backend's display through the
// XTEST extension; the headless backend has no desktop to take them.
//
// Threads: any thread; calls are serialised on one display connection of their own.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

#define INPUT_MOUSE 0u
#define INPUT_KEYBOARD 1u

#define MOUSEEVENTF_MOVE 0x0001u
#define MOUSEEVENTF_LEFTDOWN 0x0002u
#define MOUSEEVENTF_LEFTUP 0x0004u
#define MOUSEEVENTF_RIGHTDOWN 0x0008u
#define MOUSEEVENTF_RIGHTUP 0x0010u
#define MOUSEEVENTF_MIDDLEDOWN 0x0020u
#define MOUSEEVENTF_MIDDLEUP 0x0040u
#define MOUSEEVENTF_ABSOLUTE 0x8000u

#define KEYEVENTF_EXTENDEDKEY 0x0001u
#define KEYEVENTF_KEYUP 0x0002u
#define KEYEVENTF_UNICODE 0x0004u

struct MOUSEINPUT {
  LONG dx;
  LONG dy;
  DWORD mouseData;
  DWORD dwFlags;
  DWORD time;
  ULONG_PTR dwExtraInfo;
};

struct KEYBDINPUT {
  WORD wVk;
  WORD wScan;
  DWORD dwFlags;
  DWORD time;
  ULONG_PTR dwExtraInfo;
};

struct HARDWAREINPUT {
  DWORD uMsg;
  WORD wParamL;
  WORD wParamH;
};

struct INPUT {
  DWORD type;
  union {
    MOUSEINPUT mi;
    KEYBDINPUT ki;
    HARDWAREINPUT hi;
  };
};

// Injects the inputs in order and returns how many were injected; 0 with the last error set
// when none could be (ERROR_INVALID_PARAMETER for a bad size or array, ERROR_ACCESS_DENIED
// where no desktop takes input). Mouse: MOUSEEVENTF_ABSOLUTE moves to dx, dy normalised to
// 0..65535 over the primary display, otherwise by dx, dy pixels; button flags press or release.
// Keyboard: wVk names the key (US layout positions; KEYEVENTF_EXTENDEDKEY picks the right-hand
// Ctrl and Alt, and the navigation block over the keypad), or with KEYEVENTF_UNICODE wScan is a
// character typed through whichever key of the display's layout gives it, at the level and in
// the group that give it, whatever the locks; a character no key gives is typed through a
// keycode lent for the stroke. The whole stroke goes with the press; its release types nothing.
// An input the display has no key for is skipped and not counted.
UINT SendInput(UINT count, INPUT* inputs, int size);

#pragma GCC visibility pop
