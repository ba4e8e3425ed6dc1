// The thread locale (GetThreadLocale / SetThreadLocale). Each thread starts with the user's
// default locale, US English (0x0409) here; LOCALE_SYSTEM_DEFAULT and LOCALE_USER_DEFAULT
// (platform/oleauto.h) are accepted as they are, as Windows accepts them.
//
// Threads: each call concerns the calling thread only.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

using LCID = DWORD;

LCID GetThreadLocale();
// FALSE (ERROR_INVALID_PARAMETER) for 0.
BOOL SetThreadLocale(LCID locale);

#pragma GCC visibility pop
