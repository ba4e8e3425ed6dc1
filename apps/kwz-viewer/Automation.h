// The viewer's side of the control's automation: members called by name through IDispatch, as
// a script would, and the sink that prints each SizeUpdated event.
//
// Threads: the viewer's main thread (a single-threaded apartment); the sink is called there.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "platform/ocidl.h"
#include "platform/oleauto.h"
#include "platform/winerror.h"

namespace kwz_viewer {

// A failed call: its result and the best description that could be had.
struct CallError {
  HRESULT hr = S_OK;
  std::string description;
};

class DispatchCaller {
 public:
  explicit DispatchCaller(IDispatch* target) : target_(target) {}

  // Each returns false and fills *error (naming the member) when the member fails or is
  // unknown. BSTR arguments in declaration order.
  bool Call(const char16_t* name, const std::vector<std::u16string>& args, CallError* error,
            std::u16string* result = nullptr);
  bool PutText(const char16_t* name, const std::u16string& text, CallError* error);
  bool PutNumber(const char16_t* name, LONG number, CallError* error);

 private:
  bool Invoke(const char16_t* name, WORD flags, DISPPARAMS* params, VARIANT* result,
              CallError* error);

  IDispatch* target_;
};

// Called with each new size of the shared screen, on the viewer's main thread.
using SizeListener = std::function<void(unsigned width, unsigned height)>;

// Answers the control's event dispinterface (whatever its IID: the one the connection point
// names), prints "SizeUpdated <dx> <dy>" for DISPID 1 and tells the listener.
class SizeUpdatedSink final : public IDispatch {
 public:
  SizeUpdatedSink(const IID& events, SizeListener listener)
      : events_(events), listener_(std::move(listener)) {}

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override { return ++refs_; }
  ULONG Release() override;
  HRESULT GetTypeInfoCount(UINT* count) override;
  HRESULT GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
  HRESULT GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override;
  HRESULT Invoke(DISPID member, REFIID iid, LCID locale, WORD flags, DISPPARAMS* params,
                 VARIANT* result, EXCEPINFO* exception, UINT* argError) override;

 private:
  const IID events_;
  const SizeListener listener_;
  std::atomic<ULONG> refs_{1};
};

// Advises a SizeUpdatedSink on the control's first outgoing dispinterface; Unadvise undoes it.
class EventConnection {
 public:
  bool Advise(IUnknown* control, SizeListener listener, CallError* error);
  void Unadvise();

 private:
  IConnectionPoint* point_ = nullptr;  // owned
  DWORD cookie_ = 0;
};

}  // namespace kwz_viewer
