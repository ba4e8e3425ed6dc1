#include "control/ScreenReceiverTypeLib.h"

#include "control/CKWZ_ScreenReceiver.h"
#include "control/IKWZ_ScreenReceiver.h"
#include "control/ScreenReceiverGuids.h"
#include "platform/dispatch_table.h"

ITypeLib* ScreenReceiverTypeLib() {
  // Static objects, so that unloading the module takes them along.
  static kwz_platform::DispatchTypeLib lib(
      LIBID_KWZ_ScreenReceiverLib, u"KWZ_ScreenReceiverLib", u"KWZ_ScreenReceiver 1.0 Type Library",
      {const_cast<kwz_platform::DispatchTypeInfo*>(&CKWZ_ScreenReceiver::DispatchInfo()),
       &CKWZ_ScreenReceiver::EventsInfo()},
      kScreenReceiverLibMajor, kScreenReceiverLibMinor, kScreenReceiverLibLocale, LIBFLAG_FCONTROL);
  return &lib;
}
