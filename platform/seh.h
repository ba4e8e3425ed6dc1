// The one use the system makes of structured exception handling: a handler that accepts every
// exception around a thread body.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

// The exception code under which Windows raises a C++ exception.
#define EXCEPTION_CPP 0xE06D7363u
// Windows' codes for the hardware faults a body can raise.
#define EXCEPTION_ACCESS_VIOLATION 0xC0000005u
#define EXCEPTION_IN_PAGE_ERROR 0xC0000006u
#define EXCEPTION_ILLEGAL_INSTRUCTION 0xC000001Du
#define EXCEPTION_FLT_DIVIDE_BY_ZERO 0xC000008Eu
#define EXCEPTION_FLT_INVALID_OPERATION 0xC0000090u
#define EXCEPTION_FLT_OVERFLOW 0xC0000091u
#define EXCEPTION_FLT_UNDERFLOW 0xC0000093u
#define EXCEPTION_INT_DIVIDE_BY_ZERO 0xC0000094u
#define EXCEPTION_INT_OVERFLOW 0xC0000095u

// Runs body(context). When an exception escapes it, the exception is contained, *code receives
// its exception code and TRUE is returned; otherwise FALSE. Thread exit and cancellation pass
// through untouched, as they must.
//
// A C++ exception unwinds to here and reports EXCEPTION_CPP. A hardware fault (SIGSEGV, SIGBUS,
// SIGFPE, SIGILL) raised on the calling thread while body runs jumps back here from the fault,
// on an alternate signal stack so that a stack overflow is caught too, and reports Windows'
// code for it. The frames between the fault and here are abandoned without unwinding: what
// they held (locks, memory) stays held, as after a structured exception on Windows. Faults on
// other threads, or outside body, keep their default action (or the handler installed before).
//
// In sanitizer builds hardware faults are left to the sanitizer, which reports them and ends
// the process: containing them would hide exactly what those builds are for.
BOOL CallWithExceptionHandler(void (*body)(void*), void* context, DWORD* code);

#pragma GCC visibility pop
