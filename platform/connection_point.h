// Connection points for outgoing dispinterfaces, and the enumerators that containers walk
// (connections, connection points and an object's advise sinks).
//
// DispatchConnectionPoint keeps every advised sink as a cookie of the Global Interface Table,
// so an event may be fired from any thread initialised for COM: each sink is then called in its
// own apartment while the firing thread waits.
#pragma once

#include <mutex>
#include <vector>

#include "platform/com_object.h"
#include "platform/com_ptr.h"
#include "platform/ocidl.h"
#include "platform/oleauto.h"

#pragma GCC visibility push(default)

namespace kwz_platform {

// Part of the object that raises the events (a member or base): its reference counting and
// container are the owner's. Advise, Unadvise and EnumConnections come from the owner's
// apartment; Fire from any thread.
class DispatchConnectionPoint : public IConnectionPoint {
 public:
  // table: the Global Interface Table that the sinks are kept in (the module's), AddRef'd
  // here; null takes the process's own.
  DispatchConnectionPoint(IConnectionPointContainer* owner, const IID& eventIid,
                          IGlobalInterfaceTable* table = nullptr);
  // Revokes the sinks still advised. On the owner's thread.
  ~DispatchConnectionPoint();
  DispatchConnectionPoint(const DispatchConnectionPoint&) = delete;
  DispatchConnectionPoint& operator=(const DispatchConnectionPoint&) = delete;

  using Interfaces = ComInterfaces<ComEntry<IConnectionPoint, IID_IConnectionPoint>>;

  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override { return owner_->AddRef(); }
  ULONG Release() override { return owner_->Release(); }

  HRESULT GetConnectionInterface(IID* iid) override;
  HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) override;
  // E_POINTER for null arguments; CONNECT_E_CANNOTCONNECT for a sink without the event
  // interface (other failures of that query as they are); CONNECT_E_ADVISELIMIT when no slot
  // can be had. The cookie is the slot's index plus 1, the first free slot taken; 0 on failure.
  HRESULT Advise(IUnknown* sink, DWORD* cookie) override;
  // CONNECT_E_NOCONNECTION for 0, a cookie beyond the slots, or an empty slot.
  HRESULT Unadvise(DWORD cookie) override;
  HRESULT EnumConnections(IEnumConnections** connections) override;

  // Calls Invoke(dispid, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD) on each sink with args
  // given in declaration order (reversed into DISPPARAMS), without the lock held. Returns the
  // last call's result; S_OK when no sink is advised.
  HRESULT Fire(DISPID dispid, const VARIANT* args, UINT count);

 private:
  IConnectionPointContainer* const owner_;
  const IID eventIid_;
  CComPtr<IGlobalInterfaceTable> table_;
  std::mutex lock_;
  std::vector<DWORD> slots_;  // table cookies, 0 when free; guarded by lock_
};

// For an object's IConnectionPointContainer over its own points.
HRESULT FindConnectionPointAmong(const std::vector<IConnectionPoint*>& points, REFIID iid,
                                 IConnectionPoint** found);
HRESULT EnumerateConnectionPoints(const std::vector<IConnectionPoint*>& points,
                                  IEnumConnectionPoints** points_out);
// For IOleObject::EnumAdvise: an enumerator over a copy of the entries, holding its own
// reference to each sink, so the object may unadvise while a container walks the list.
HRESULT EnumerateAdvises(const std::vector<STATDATA>& advises, IEnumSTATDATA** out);

}  // namespace kwz_platform

#pragma GCC visibility pop
