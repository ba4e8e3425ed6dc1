// Which part of the control window's message handling claims a message, in the order of
// precedence: the control base, then reflected notifications, then the control's own map;
// what none claims goes to the default window procedure.
//
// Pure functions; any thread.
#pragma once

#include "platform/winuser.h"

// A parent reflects its children's notifications back to them at this offset.
constexpr UINT kReflectedMessageBase = 0x2000;

// A notification that a parent reflected back (0x2000 plus WM_COMMAND, WM_NOTIFY, the item and
// scroll messages and the seven WM_CTLCOLOR messages).
bool IsReflectedNotification(UINT message);

// A message that the control's own map claims.
bool IsOwnMapMessage(UINT message);
