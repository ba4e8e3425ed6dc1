// BSTR: a length-prefixed, NUL-terminated UTF-16 string allocated by the automation library.
#pragma once

#include "platform/wintypes.h"

using OLECHAR = WCHAR;
using BSTR = OLECHAR*;

// Null on allocation failure. SysAllocString(nullptr) gives null.
BSTR SysAllocString(const OLECHAR* text);
// Copies length characters (or leaves them zero when text is null).
BSTR SysAllocStringLen(const OLECHAR* text, UINT length);
void SysFreeString(BSTR text);
UINT SysStringLen(BSTR text);
