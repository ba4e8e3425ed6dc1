// Controls: connection points (how a container attaches event sinks to an object), and the
// interfaces of a control that a container asks for when it sites, draws and activates one.
// Containers call them by vtable slot: members keep the Windows order.
#pragma once

#include "platform/com.h"
#include "platform/oleauto.h"
#include "platform/oleidl.h"

#pragma GCC visibility push(default)

class IConnectionPointContainer;

struct CONNECTDATA {
  IUnknown* pUnk;
  DWORD dwCookie;
};

// Enumerators hand out AddRef'ed entries; Next gives S_FALSE when fewer than asked remain.
class IEnumConnections : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, CONNECTDATA* items, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnections** copy) = 0;

 protected:
  ~IEnumConnections() = default;
};
extern const IID IID_IEnumConnections;

class IConnectionPoint : public IUnknown {
 public:
  virtual HRESULT GetConnectionInterface(IID* iid) = 0;
  virtual HRESULT GetConnectionPointContainer(IConnectionPointContainer** container) = 0;
  virtual HRESULT Advise(IUnknown* sink, DWORD* cookie) = 0;
  virtual HRESULT Unadvise(DWORD cookie) = 0;
  virtual HRESULT EnumConnections(IEnumConnections** connections) = 0;

 protected:
  ~IConnectionPoint() = default;
};
extern const IID IID_IConnectionPoint;

class IEnumConnectionPoints : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, IConnectionPoint** items, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumConnectionPoints** copy) = 0;

 protected:
  ~IEnumConnectionPoints() = default;
};
extern const IID IID_IEnumConnectionPoints;

class IConnectionPointContainer : public IUnknown {
 public:
  virtual HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) = 0;
  // CONNECT_E_NOCONNECTION when the object raises no such events.
  virtual HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) = 0;

 protected:
  ~IConnectionPointContainer() = default;
};
extern const IID IID_IConnectionPointContainer;

class IAdviseSinkEx;
class IPropertyNotifySink;
class IFont;
class IOleUndoManager;
class IBindHost;
class IOleControlSite;
class IServiceProvider;
struct ULARGE_INTEGER {
  unsigned long long QuadPart;
};
struct LARGE_INTEGER {
  long long QuadPart;
};
struct STATSTG;

class ISequentialStream : public IUnknown {
 public:
  virtual HRESULT Read(void* data, ULONG size, ULONG* read) = 0;
  virtual HRESULT Write(const void* data, ULONG size, ULONG* written) = 0;

 protected:
  ~ISequentialStream() = default;
};
extern const IID IID_ISequentialStream;

class IStream : public ISequentialStream {
 public:
  virtual HRESULT Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER* position) = 0;
  virtual HRESULT SetSize(ULARGE_INTEGER size) = 0;
  virtual HRESULT CopyTo(IStream* target, ULARGE_INTEGER size, ULARGE_INTEGER* read,
                         ULARGE_INTEGER* written) = 0;
  virtual HRESULT Commit(DWORD flags) = 0;
  virtual HRESULT Revert() = 0;
  virtual HRESULT LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) = 0;
  virtual HRESULT UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) = 0;
  virtual HRESULT Stat(STATSTG* stat, DWORD flags) = 0;
  virtual HRESULT Clone(IStream** clone) = 0;

 protected:
  ~IStream() = default;
};
extern const IID IID_IStream;
using OLE_COLOR = DWORD;
using HPALETTE = struct HPALETTE__*;

// IViewObjectEx::GetViewStatus.
#define VIEWSTATUS_OPAQUE 0x1u
#define VIEWSTATUS_SOLIDBKGND 0x2u
#define VIEWSTATUS_DVASPECTOPAQUE 0x4u
#define VIEWSTATUS_DVASPECTTRANSPARENT 0x8u

struct DVEXTENTINFO {
  ULONG cb;
  DWORD dwExtentMode;
  SIZEL sizelProposed;
};

class IViewObjectEx : public IViewObject2 {
 public:
  virtual HRESULT GetRect(DWORD aspect, LPRECTL rect) = 0;
  virtual HRESULT GetViewStatus(DWORD* status) = 0;
  virtual HRESULT QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                                DWORD* hit) = 0;
  virtual HRESULT QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                               DWORD* hit) = 0;
  virtual HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, HDC targetInfo,
                                   DVEXTENTINFO* info, LPSIZEL size) = 0;

 protected:
  ~IViewObjectEx() = default;
};
extern const IID IID_IViewObjectEx;

class IPersistStreamInit : public IPersist {
 public:
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT Load(IStream* stream) = 0;
  virtual HRESULT Save(IStream* stream, BOOL clearDirty) = 0;
  virtual HRESULT GetSizeMax(ULARGE_INTEGER* size) = 0;
  virtual HRESULT InitNew() = 0;

 protected:
  ~IPersistStreamInit() = default;
};
extern const IID IID_IPersistStreamInit;

class IProvideClassInfo : public IUnknown {
 public:
  // The type information of the object's coclass (AddRef'ed).
  virtual HRESULT GetClassInfo(ITypeInfo** info) = 0;

 protected:
  ~IProvideClassInfo() = default;
};
extern const IID IID_IProvideClassInfo;

#define GUIDKIND_DEFAULT_SOURCE_DISP_IID 1u

class IProvideClassInfo2 : public IProvideClassInfo {
 public:
  // GUIDKIND_DEFAULT_SOURCE_DISP_IID: the IID of the default event dispinterface.
  virtual HRESULT GetGUID(DWORD kind, GUID* guid) = 0;

 protected:
  ~IProvideClassInfo2() = default;
};
extern const IID IID_IProvideClassInfo2;

struct POINTF {
  float x;
  float y;
};

// IOleControlSite::TransformCoords: what is converted, and in which direction.
#define XFORMCOORDS_POSITION 0x1u
#define XFORMCOORDS_SIZE 0x2u
#define XFORMCOORDS_HIMETRICTOCONTAINER 0x4u
#define XFORMCOORDS_CONTAINERTOHIMETRIC 0x8u

// The container's side of a control beyond the client site: chiefly where the control says that
// it took or lost the keyboard focus, so that the container can track which of its controls
// holds it.
class IOleControlSite : public IUnknown {
 public:
  virtual HRESULT OnControlInfoChanged() = 0;
  // While locked, the container keeps the control in-place active.
  virtual HRESULT LockInPlaceActive(BOOL lock) = 0;
  virtual HRESULT GetExtendedControl(IDispatch** extended) = 0;
  virtual HRESULT TransformCoords(POINTL* himetric, POINTF* container, DWORD flags) = 0;
  // S_FALSE: the container did not use the keystroke.
  virtual HRESULT TranslateAccelerator(MSG* message, DWORD modifiers) = 0;
  virtual HRESULT OnFocus(BOOL gotFocus) = 0;
  virtual HRESULT ShowPropertyFrame() = 0;

 protected:
  ~IOleControlSite() = default;
};
extern const IID IID_IOleControlSite;

// What the container hands the control in one call instead of many; cbSize tells how much of
// the structure the container knows.
struct QACONTAINER {
  ULONG cbSize;
  IOleClientSite* pClientSite;
  IAdviseSinkEx* pAdviseSink;
  IPropertyNotifySink* pPropertyNotifySink;
  IUnknown* pUnkEventSink;
  DWORD dwAmbientFlags;
  OLE_COLOR colorFore;
  OLE_COLOR colorBack;
  IFont* pFont;
  IOleUndoManager* pUndoMgr;
  DWORD dwAppearance;
  LONG lcid;
  HPALETTE hpal;
  IBindHost* pBindHost;
  IOleControlSite* pOleControlSite;
  IServiceProvider* pServiceProvider;
};

// What the control answers.
struct QACONTROL {
  ULONG cbSize;
  DWORD dwMiscStatus;
  DWORD dwViewStatus;
  DWORD dwEventCookie;
  DWORD dwPropNotifyCookie;
  DWORD dwPointerActivationPolicy;
};

class IQuickActivate : public IUnknown {
 public:
  virtual HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) = 0;
  // Extents in HIMETRIC units.
  virtual HRESULT SetContentExtent(LPSIZEL size) = 0;
  virtual HRESULT GetContentExtent(LPSIZEL size) = 0;

 protected:
  ~IQuickActivate() = default;
};
extern const IID IID_IQuickActivate;

// What a control tells its container of its keyboard mnemonics.
struct CONTROLINFO {
  ULONG cb;
  HACCEL hAccel;
  USHORT cAccel;
  DWORD dwFlags;
};

class IOleControl : public IUnknown {
 public:
  virtual HRESULT GetControlInfo(CONTROLINFO* info) = 0;
  virtual HRESULT OnMnemonic(MSG* message) = 0;
  virtual HRESULT OnAmbientPropertyChange(DISPID id) = 0;
  // Nested: events stay frozen until each freeze has been thawed.
  virtual HRESULT FreezeEvents(BOOL freeze) = 0;

 protected:
  ~IOleControl() = default;
};
extern const IID IID_IOleControl;

class IOleInPlaceObjectWindowless : public IOleInPlaceObject {
 public:
  virtual HRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) = 0;
  virtual HRESULT GetDropTarget(IDropTarget** target) = 0;

 protected:
  ~IOleInPlaceObjectWindowless() = default;
};
extern const IID IID_IOleInPlaceObjectWindowless;

// A counted array of GUIDs whose elements the receiver frees with CoTaskMemFree.
struct CAUUID {
  ULONG cElems;
  GUID* pElems;
};

class ISpecifyPropertyPages : public IUnknown {
 public:
  virtual HRESULT GetPages(CAUUID* pages) = 0;

 protected:
  ~ISpecifyPropertyPages() = default;
};
extern const IID IID_ISpecifyPropertyPages;

#pragma GCC visibility pop
