// Clocks and calendar time as the system reads them.
#pragma once

#include <ctime>

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

// Milliseconds since an arbitrary start (the boot), wrapping at 2^32 like the multimedia timer.
DWORD timeGetTime();

void GetLocalTime(SYSTEMTIME* time);
void GetSystemTime(SYSTEMTIME* time);

// The C run-time's time with milliseconds.
struct _timeb {
  std::time_t time;
  unsigned short millitm;
  short timezone;
  short dstflag;
};
void _ftime(_timeb* time);

using errno_t = int;
// Windows' argument order: destination first. Returns 0 or EINVAL.
errno_t localtime_s(std::tm* result, const std::time_t* time);

#pragma GCC visibility pop
