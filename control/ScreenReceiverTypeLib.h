// The control's type library, KWZ_ScreenReceiverLib 1.0 (locale 1033): the dual interface
// IKWZ_ScreenReceiver, the event dispinterface _IKWZ_ScreenReceiverEvents and the coclass that
// implements the one and raises the other. The module carries it as its TYPELIB resource,
// written at build time from the same description, so that registration and tools can read it
// from the file.
//
// Threads: any.
#pragma once

#include "platform/oleauto.h"
#include "platform/typelib_image.h"

kwz_platform::TypeLibData ScreenReceiverTypeLibData();

// Built on first use and kept until the module is unloaded.
ITypeLib* ScreenReceiverTypeLib();

inline constexpr WORD kScreenReceiverLibMajor = 1;
inline constexpr WORD kScreenReceiverLibMinor = 0;
inline constexpr LCID kScreenReceiverLibLocale = 1033;
