// The COM identities of the control: its class, its interfaces and its type library, and the
// ProgID under which the class is registered.
#pragma once

#include "platform/com.h"

extern const CLSID CLSID_KWZ_ScreenReceiver;
extern const IID IID_IKWZ_ScreenReceiver;
extern const IID DIID__IKWZ_ScreenReceiverEvents;
extern const GUID LIBID_KWZ_ScreenReceiverLib;

// The versioned ProgID: the source of the error information that the control sets.
inline constexpr const char16_t* kScreenReceiverProgId = u"KWZ_ScreenReceiver.KWZ_ScreenReceiver.1";
