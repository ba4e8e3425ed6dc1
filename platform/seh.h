// The one use the system makes of structured exception handling: a handler that accepts every
// exception around a thread body.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

// The exception code under which Windows raises a C++ exception.
#define EXCEPTION_CPP 0xE06D7363u

// Runs body(context). When a C++ exception escapes it, the exception is contained, *code
// receives its exception code and TRUE is returned; otherwise FALSE. Thread exit and
// cancellation pass through untouched, as they must.
//
// Hardware faults (SIGSEGV, SIGBUS, SIGFPE, SIGILL) are not contained: after one the state of
// the process is unknown, and Linux gives no way to unwind only the faulting thread safely, so
// the process takes the default action and leaves a core dump (or a sanitizer report).
BOOL CallWithExceptionHandler(void (*body)(void*), void* context, DWORD* code);

#pragma GCC visibility pop
