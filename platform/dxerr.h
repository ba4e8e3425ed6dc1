// Symbolic names of result codes, as the DirectX SDK's DXGetErrorStringW gives them.
#pragma once

#include "platform/wintypes.h"

#pragma GCC visibility push(default)

// Returns a static string such as u"E_INVALIDARG" for a known HRESULT, Win32 error code or
// Winsock error code, and u"Unknown" for any other value. Never null.
const WCHAR* DXGetErrorStringW(HRESULT hr);

#pragma GCC visibility pop
