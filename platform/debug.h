// The debugger-output channel. Silent unless the environment variable KWZ_DEBUG_OUTPUT is set
// to a value other than "0", in which case each text goes to stderr as UTF-8. Tests capture the
// channel with a sink.
#pragma once

#include <functional>

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

void OutputDebugStringW(LPCWSTR text);
void OutputDebugStringA(LPCSTR text);

// Every text also goes to the sink, on the calling thread, while one is installed. Passing an
// empty function removes it. Returns the previous sink.
using DebugOutputSink = std::function<void(const WCHAR* text)>;
DebugOutputSink SetDebugOutputSink(DebugOutputSink sink);

#pragma GCC visibility pop
