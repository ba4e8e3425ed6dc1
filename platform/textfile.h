// C run-time file streams with Windows' text mode: a stream opened without 'b' in its mode
// writes each line feed as carriage return and line feed, as the Windows run-time does.
#pragma once

#include <cstdio>

#include "platform/clock.h"
#include "platform/wintypes.h"

#pragma GCC visibility push(default)

// Opens like fopen. Without 'b' in mode the stream is a text-mode stream (writes only: a
// text-mode stream cannot be opened for reading). Returns 0, or the errno of the failure with
// *file set to null.
errno_t fopen_s(std::FILE** file, const char* name, const char* mode);

// Formats as _snwprintf_s does (platform/widestring.h) and writes the text in the locale's
// multibyte form (UTF-8). Returns the number of wide characters formatted, or -1.
int fwprintf_s(std::FILE* file, const WCHAR* format, ...);

#pragma GCC visibility pop
