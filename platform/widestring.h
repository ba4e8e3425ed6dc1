// The C run-time's wide-character text helpers as the system uses them, over UTF-16 (WCHAR).
// The locale's multibyte text is UTF-8.
#pragma once

#include <cstdarg>
#include <string>

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

// Truncation marker for the count argument of the _s formatting functions.
#define _TRUNCATE (static_cast<size_t>(-1))

// Formatting takes the directives %d, %u, %x, %X and %s, each with an optional '0' flag, a width
// and an 'h' (short) or 'l' (32-bit LONG or DWORD) length. %s and %ls take a string of the
// format's own width (WCHAR in a wide format, char in a narrow one); a null string prints
// "(null)". Any other directive makes the call fail as a malformed format does.

// Formats into buffer[0..sizeInWords). With count == _TRUNCATE as much as fits is written,
// always NUL-terminated, and -1 is returned when the output was cut; otherwise at most count
// characters are written (plus NUL) and the result is the number written, or -1 when they do not
// fit. A null buffer, a zero size or a null format returns -1 and writes nothing; a malformed
// format returns -1 with the buffer emptied.
int _snwprintf_s(WCHAR* buffer, size_t sizeInWords, size_t count, const WCHAR* format, ...);
int _snprintf_s(char* buffer, size_t sizeInBytes, size_t count, const char* format, ...);

// Formats the whole result into a growing string (no truncation); empty for a malformed format.
std::u16string FormatWide(const WCHAR* format, ...);
std::u16string VFormatWide(const WCHAR* format, va_list args);

// Reads input as swscanf_s does, for the directives %d (int*), %x (unsigned*) and %s (WCHAR*,
// then the buffer size in WCHARs as unsigned). White space in the format matches any run of
// white space, including none; any other character matches itself. A %s word that does not fit
// its buffer stores an empty string and ends the scan as a matching failure, as does any other
// directive. Returns the number of fields assigned, or EOF (-1) when the input ends before the
// first. Numbers outside the target's range saturate.
int swscanf_s(const WCHAR* input, const WCHAR* format, ...);

// Code pages of the conversions below: CP_ACP (the system code page) and CP_UTF8 are both
// UTF-8 here.
#define CP_ACP 0u
#define CP_UTF8 65001u

// As on Windows: with cchWideChar (or cbMultiByte) 0 the required size is returned; a length of
// -1 means a NUL-terminated source whose NUL is converted too. Invalid input is replaced with
// U+FFFD (or '?' on the way back). 0 with GetLastError() ERROR_INSUFFICIENT_BUFFER when the
// output does not fit.
int MultiByteToWideChar(UINT codePage, DWORD flags, const char* multiByte, int cbMultiByte,
                        WCHAR* wideChar, int cchWideChar);
int WideCharToMultiByte(UINT codePage, DWORD flags, const WCHAR* wideChar, int cchWideChar,
                        char* multiByte, int cbMultiByte, const char* defaultChar,
                        BOOL* usedDefaultChar);

// Convenience forms used by the system's own code and its tests.
std::u16string Widen(const char* utf8);
std::string Narrow(const WCHAR* utf16);
size_t WideLength(const WCHAR* text);

#pragma GCC visibility pop
