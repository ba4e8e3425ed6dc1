#include "control/CKWZ_ScreenReceiverFactory.h"

#include "control/CKWZ_ScreenReceiver.h"
#include "control/CKWZ_ScreenReceiverModule.h"
#include "platform/winerror.h"

CKWZ_ScreenReceiverFactory& CKWZ_ScreenReceiverFactory::Instance() {
  static CKWZ_ScreenReceiverFactory factory;
  return factory;
}

HRESULT CKWZ_ScreenReceiverFactory::QueryInterface(REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
    *object = static_cast<IClassFactory*>(this);
    return S_OK;
  }
  *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT CKWZ_ScreenReceiverFactory::CreateInstance(IUnknown* outer, REFIID iid, void** object) {
  if (object == nullptr) return E_POINTER;
  *object = nullptr;
  if (outer != nullptr && !IsEqualIID(iid, IID_IUnknown)) return CLASS_E_NOAGGREGATION;
  return CKWZ_ScreenReceiver::CreateInstance(outer, iid, object);
}

HRESULT CKWZ_ScreenReceiverFactory::LockServer(BOOL lock) {
  if (lock) {
    ScreenReceiverModule().Lock();
  } else {
    ScreenReceiverModule().Unlock();
  }
  return S_OK;
}
