// The common part of the Win32 subset, as <windows.h> gives it.
#pragma once

#include "platform/clock.h"
#include "platform/debug.h"
#include "platform/kernel.h"
#include "platform/winerror.h"
#include "platform/wingdi.h"
#include "platform/wintypes.h"
