// The class object of CKWZ_ScreenReceiver: what DllGetClassObject hands out.
//
// Lifetime: one static object for the module; its reference count does not keep it alive (it
// never dies before the module), but LockServer holds module locks.
// Threads: any.
#pragma once

#include "platform/com_activation.h"

class CKWZ_ScreenReceiverFactory final : public IClassFactory {
 public:
  static CKWZ_ScreenReceiverFactory& Instance();

  HRESULT QueryInterface(REFIID iid, void** object) override;
  // Counting the factory's references would not change its lifetime; a container keeps the
  // module through LockServer.
  ULONG AddRef() override { return 2; }
  ULONG Release() override { return 1; }

  // With outer, the control is created as part of that aggregate and iid must be IID_IUnknown
  // (CLASS_E_NOAGGREGATION otherwise); the object handed out is then the control's inner,
  // non-delegating unknown.
  HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object) override;
  HRESULT LockServer(BOOL lock) override;
};
