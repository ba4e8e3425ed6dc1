// The diagnostic log: one text file, "kwz_debug.txt" in "Orvana/Client/Log/" below the
// machine-wide application-data folder. Entries are appended; nothing is written when the
// folder does not exist, and nothing ever creates it.
#pragma once

#include <string>

#include "platform/wintypes.h"
#include "runtime/base_exception.h"

// Room for the log path, in bytes.
constexpr size_t kLogPathSize = 1000;

// Builds the log path into path[kLogPathSize]; false when the folder is unknown or the path
// does not fit.
bool BuildLogPath(char* path);

// The entry text of a caught exception: four lines, each ended by a line feed: the message; the
// source; the file with the line in parentheses; "0x", the code in eight upper-case hex digits,
// a blank and the code's symbolic name (empty for code 0). At most 1023 characters.
std::u16string FormatExceptionEntry(const base_exception& error);

// Appends the time-stamped entry (a header line "<time stamp> [Exception]", the entry text, an
// empty line) under the process-wide log lock.
void AppendExceptionEntry(const WCHAR* entryText);

// What the control's boundary does with a caught exception before it sets the COM error
// information: formats the entry, sends it to the debugger output and appends it to the log.
// Returns the entry text.
std::u16string ReportException(const base_exception& error);

// Appends the line of a thread body fault: "<time stamp> [CMediaThread] -> Exception code:
// 0x<code>". Not under the log lock.
void AppendThreadFaultEntry(DWORD exceptionCode);
