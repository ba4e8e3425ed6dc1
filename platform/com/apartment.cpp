// Apartments: COM initialisation per thread, and carrying calls into another apartment.
#include "platform/com_ptr.h"
#include "platform/oleauto.h"
#include "platform/winerror.h"

#include "com/apartment.h"

namespace kwz_platform {
namespace {

struct ApartmentState {
  int count = 0;
  DWORD model = COINIT_APARTMENTTHREADED;
  std::shared_ptr<ThreadQueue> queue;  // single-threaded apartments only
};

thread_local ApartmentState t_apartment;

}  // namespace

std::shared_ptr<ThreadQueue> CurrentApartment() {
  return t_apartment.count > 0 ? t_apartment.queue : nullptr;
}

bool ComInitializedHere() {
  return t_apartment.count > 0;
}

HRESULT CallInApartment(const std::shared_ptr<ThreadQueue>& home,
                        const std::function<HRESULT()>& call) {
  if (!home || home.get() == ThreadQueue::Existing()) return call();
  struct Outcome {
    HRESULT hr = RPC_E_DISCONNECTED;
    CComPtr<IErrorInfo> error;
  };
  auto done = EventObject::Create(true, false);
  if (!done) return E_OUTOFMEMORY;
  auto outcome = std::make_shared<Outcome>();
  // call refers to the caller's arguments; the caller waits below until it has run.
  const bool handed = home->Hand(
      [&call, done, outcome](bool run) {
        if (run) {
          outcome->hr = call();
          GetErrorInfo(0, &outcome->error);
        }
        done->Set();
      },
      true);
  if (!handed) return RPC_E_DISCONNECTED;
  WaitRunningHanded(*done);
  if (outcome->error) SetErrorInfo(0, outcome->error);
  return outcome->hr;
}

void ReleaseInApartment(const std::shared_ptr<ThreadQueue>& home, IUnknown* object) {
  if (object == nullptr) return;
  if (!home || home.get() == ThreadQueue::Existing()) {
    object->Release();
    return;
  }
  // Not an apartment call: a release must happen even after the apartment has closed.
  if (!home->Hand([object](bool) { object->Release(); }, false)) object->Release();
}

}  // namespace kwz_platform

using namespace kwz_platform;

HRESULT CoInitialize(void* reserved) {
  return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

HRESULT CoInitializeEx(void*, DWORD coInit) {
  const DWORD model =
      (coInit & COINIT_APARTMENTTHREADED) != 0 ? COINIT_APARTMENTTHREADED : COINIT_MULTITHREADED;
  ApartmentState& state = t_apartment;
  if (state.count > 0) {
    if (state.model != model) return RPC_E_CHANGED_MODE;
    ++state.count;
    return S_FALSE;
  }
  if (model == COINIT_APARTMENTTHREADED) {
    state.queue = ThreadQueue::ForThisThread();
    if (!state.queue) return E_OUTOFMEMORY;
    state.queue->OpenApartment();
  }
  state.model = model;
  state.count = 1;
  return S_OK;
}

void CoUninitialize() {
  ApartmentState& state = t_apartment;
  if (state.count == 0 || --state.count > 0) return;
  if (state.queue) {
    state.queue->CloseApartment();
    RevokeApartmentInterfaces(state.queue.get());
    state.queue.reset();
  }
}
