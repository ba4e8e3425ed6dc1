#include "control/ScreenReceiverTypeLib.h"

#include "control/CKWZ_ScreenReceiver.h"
#include "control/IKWZ_ScreenReceiver.h"
#include "control/ScreenReceiverGuids.h"
#include "platform/dispatch_table.h"

namespace {

// The events are called on the container's sink, never on the control: no member function.
kwz_platform::DispatchTypeInfo* EventsInfo() {
  static kwz_platform::DispatchTypeInfo info(DIID__IKWZ_ScreenReceiverEvents,
                                             u"_IKWZ_ScreenReceiverEvents",
                                             u"_IScreenReceiverEvents Interface",
                                             {kwz_platform::DispatchMember{u"SizeUpdated",
                                                                           kDispSizeUpdated,
                                                                           INVOKE_FUNC,
                                                                           u"method SizeUpdated",
                                                                           {VT_UI4, VT_UI4},
                                                                           {u"dx", u"dy"},
                                                                           VT_EMPTY,
                                                                           nullptr}});
  return &info;
}

}  // namespace

ITypeLib* ScreenReceiverTypeLib() {
  // Static objects, so that unloading the module takes them along.
  static kwz_platform::DispatchTypeLib lib(
      LIBID_KWZ_ScreenReceiverLib, u"KWZ_ScreenReceiverLib", u"KWZ_ScreenReceiver 1.0 Type Library",
      {const_cast<kwz_platform::DispatchTypeInfo*>(&CKWZ_ScreenReceiver::DispatchInfo()),
       EventsInfo()},
      kScreenReceiverLibMajor, kScreenReceiverLibMinor, kScreenReceiverLibLocale, LIBFLAG_FCONTROL);
  return &lib;
}
