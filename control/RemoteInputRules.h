// How the control window's mouse and keyboard messages become remote-control records: the
// button bits and the keyboard rules, kept apart from the window and the transport so that
// each rule can be checked on its own.
//
// Pure functions; any thread.
#pragma once

#include "network/InputRecord.h"
#include "platform/winuser.h"

// The button bits after a button message: the message's bit is set and the other two bits of
// its button are cleared. Right and middle double-clicks count as presses. Other messages leave
// the bits as they are.
DWORD UpdateButtonBits(DWORD buttons, UINT message);
// A press or double-click of any button: these give the window the keyboard focus.
bool IsButtonPress(UINT message);
bool IsButtonMessage(UINT message);

// What a keyboard message asks of the control.
struct KeyOutcome {
  bool send = false;  // a keyboard record with message, wParam and lParam goes out
  LRESULT result = 1;
  WORD message = 0;
  DWORD wParam = 0;
  DWORD lParam = 0;
};

// Whether the key message is first translated into characters (ToUnicode with the current
// layout); the Alt key itself and key-ups are not.
bool KeyNeedsCharacters(UINT message, WPARAM vk);

// The record for a key message (WM_KEYDOWN, WM_KEYUP, WM_SYSKEYDOWN or WM_SYSKEYUP). ctrlState is
// the keyboard state's byte for VK_CONTROL (0x80 down, 0x01 toggled); characters is what the
// translation returned (negative for a dead key, which gives none) and character the first one.
KeyOutcome ComposeKeyRecord(UINT message, WPARAM vk, LPARAM lParam, BYTE ctrlState, int characters,
                            WCHAR character);
