// Console control handlers (SetConsoleCtrlHandler): how a console program learns that it is
// being interrupted (SIGINT: CTRL_C_EVENT) or closed (SIGTERM, SIGHUP: CTRL_CLOSE_EVENT).
//
// As on Windows, handlers run on a thread of their own, never inside the signal, so they may
// post messages and set events; the last one added is called first. When none returns TRUE
// the process ends as the signal would have ended it.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

#define CTRL_C_EVENT 0u
#define CTRL_BREAK_EVENT 1u
#define CTRL_CLOSE_EVENT 2u

using PHANDLER_ROUTINE = BOOL (*)(DWORD ctrlType);

// Adds (add TRUE) or removes a handler. A null handler is not supported (FALSE).
BOOL SetConsoleCtrlHandler(PHANDLER_ROUTINE handler, BOOL add);

#pragma GCC visibility pop
