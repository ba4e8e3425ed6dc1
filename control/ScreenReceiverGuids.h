// The COM identities of the control: its class, its interfaces and its type library, and the
// ProgID under which the class is registered.
#pragma once

#include "platform/com.h"

extern const CLSID CLSID_KWZ_ScreenReceiver;
extern const IID IID_IKWZ_ScreenReceiver;
extern const IID DIID__IKWZ_ScreenReceiverEvents;
extern const GUID LIBID_KWZ_ScreenReceiverLib;
// The module's application identity, registered under HKCR\AppID.
extern const GUID APPID_KWZ_ScreenReceiver;

// The versioned ProgID: the source of the error information that the control sets; and the
// version-independent one, which containers create the control by.
inline constexpr const char16_t* kScreenReceiverProgId = u"KWZ_ScreenReceiver.KWZ_ScreenReceiver.1";
inline constexpr const char16_t* kScreenReceiverIndependentProgId =
    u"KWZ_ScreenReceiver.KWZ_ScreenReceiver";
