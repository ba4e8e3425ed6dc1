// The control's type library, KWZ_ScreenReceiverLib 1.0 (locale 1033): IKWZ_ScreenReceiver and
// the event dispinterface _IKWZ_ScreenReceiverEvents. Registration records it; containers
// read member names and help strings from it.
//
// Lifetime: built on first use and kept until the module is unloaded (reference counting does
// not free it).
// Threads: any.
#pragma once

#include "platform/oleauto.h"

ITypeLib* ScreenReceiverTypeLib();

inline constexpr WORD kScreenReceiverLibMajor = 1;
inline constexpr WORD kScreenReceiverLibMinor = 0;
inline constexpr LCID kScreenReceiverLibLocale = 1033;
