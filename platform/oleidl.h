// OLE embedding: the interfaces through which a container places an object in its window and
// the object talks back to its site. Containers call these by vtable slot, so every interface
// keeps the Windows member order; members that nothing here uses are still declared, in place,
// with opaque argument types.
#pragma once

#include "platform/com.h"
#include "platform/gdi.h"
#include "platform/winuser.h"

#pragma GCC visibility push(default)

class IMoniker;
class IDataObject;
class IAdviseSink;
class IOleInPlaceActiveObject;
class IEnumOLEVERB;
class IEnumSTATDATA;
class IOleContainer;
struct DVTARGETDEVICE;
struct LOGPALETTE;

using SIZEL = SIZE;
using LPSIZEL = SIZEL*;
using LPRECT = RECT*;
using LPCRECT = const RECT*;
struct RECTL {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
using LPRECTL = RECTL*;
using LPCRECTL = const RECTL*;
using LPMSG = MSG*;
using HACCEL = struct HACCEL__*;
using HOLEMENU = struct HOLEMENU__*;
using BORDERWIDTHS = RECT;
using LPCBORDERWIDTHS = const BORDERWIDTHS*;

// Verbs of IOleObject::DoVerb.
#define OLEIVERB_PRIMARY 0L
#define OLEIVERB_SHOW (-1L)
#define OLEIVERB_OPEN (-2L)
#define OLEIVERB_HIDE (-3L)
#define OLEIVERB_UIACTIVATE (-4L)
#define OLEIVERB_INPLACEACTIVATE (-5L)
#define OLEIVERB_DISCARDUNDOSTATE (-6L)
#define OLEIVERB_PROPERTIES (-7L)

// Miscellaneous status bits of IOleObject::GetMiscStatus.
#define OLEMISC_RECOMPOSEONRESIZE 0x1u
#define OLEMISC_ONLYICONIC 0x2u
#define OLEMISC_INSERTNOTREPLACE 0x4u
#define OLEMISC_STATIC 0x8u
#define OLEMISC_CANTLINKINSIDE 0x10u
#define OLEMISC_CANLINKBYOLE1 0x20u
#define OLEMISC_ISLINKOBJECT 0x40u
#define OLEMISC_INSIDEOUT 0x80u
#define OLEMISC_ACTIVATEWHENVISIBLE 0x100u
#define OLEMISC_RENDERINGISDEVICEINDEPENDENT 0x200u
#define OLEMISC_INVISIBLEATRUNTIME 0x400u
#define OLEMISC_ALWAYSRUN 0x800u
#define OLEMISC_ACTSLIKEBUTTON 0x1000u
#define OLEMISC_ACTSLIKELABEL 0x2000u
#define OLEMISC_NOUIACTIVATE 0x4000u
#define OLEMISC_ALIGNABLE 0x8000u
#define OLEMISC_SIMPLEFRAME 0x10000u
#define OLEMISC_SETCLIENTSITEFIRST 0x20000u

// Aspects of an object's presentation.
#define DVASPECT_CONTENT 1u
#define DVASPECT_THUMBNAIL 2u
#define DVASPECT_ICON 4u
#define DVASPECT_DOCPRINT 8u

// IOleObject::Close.
#define OLECLOSE_SAVEIFDIRTY 0u
#define OLECLOSE_NOSAVE 1u
#define OLECLOSE_PROMPTSAVE 2u

struct OLEINPLACEFRAMEINFO {
  UINT cb;
  BOOL fMDIApp;
  HWND hwndFrame;
  HACCEL haccel;
  UINT cAccelEntries;
};
using LPOLEINPLACEFRAMEINFO = OLEINPLACEFRAMEINFO*;

struct OLEMENUGROUPWIDTHS {
  LONG width[6];
};
using LPOLEMENUGROUPWIDTHS = OLEMENUGROUPWIDTHS*;

class IOleWindow : public IUnknown {
 public:
  virtual HRESULT GetWindow(HWND* window) = 0;
  virtual HRESULT ContextSensitiveHelp(BOOL enterMode) = 0;

 protected:
  ~IOleWindow() = default;
};
extern const IID IID_IOleWindow;

class IOleInPlaceUIWindow : public IOleWindow {
 public:
  virtual HRESULT GetBorder(LPRECT border) = 0;
  virtual HRESULT RequestBorderSpace(LPCBORDERWIDTHS widths) = 0;
  virtual HRESULT SetBorderSpace(LPCBORDERWIDTHS widths) = 0;
  virtual HRESULT SetActiveObject(IOleInPlaceActiveObject* object, LPCOLESTR name) = 0;

 protected:
  ~IOleInPlaceUIWindow() = default;
};
extern const IID IID_IOleInPlaceUIWindow;

class IOleInPlaceFrame : public IOleInPlaceUIWindow {
 public:
  virtual HRESULT InsertMenus(HMENU shared, LPOLEMENUGROUPWIDTHS widths) = 0;
  virtual HRESULT SetMenu(HMENU shared, HOLEMENU descriptor, HWND activeObject) = 0;
  virtual HRESULT RemoveMenus(HMENU shared) = 0;
  virtual HRESULT SetStatusText(LPCOLESTR text) = 0;
  virtual HRESULT EnableModeless(BOOL enable) = 0;
  virtual HRESULT TranslateAccelerator(LPMSG message, WORD id) = 0;

 protected:
  ~IOleInPlaceFrame() = default;
};
extern const IID IID_IOleInPlaceFrame;

class IOleClientSite : public IUnknown {
 public:
  virtual HRESULT SaveObject() = 0;
  virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT GetContainer(IOleContainer** container) = 0;
  virtual HRESULT ShowObject() = 0;
  virtual HRESULT OnShowWindow(BOOL show) = 0;
  virtual HRESULT RequestNewObjectLayout() = 0;

 protected:
  ~IOleClientSite() = default;
};
extern const IID IID_IOleClientSite;

class IOleInPlaceSite : public IOleWindow {
 public:
  // S_OK when the container lets the object activate in place now.
  virtual HRESULT CanInPlaceActivate() = 0;
  virtual HRESULT OnInPlaceActivate() = 0;
  virtual HRESULT OnUIActivate() = 0;
  // The frame and document windows (AddRef'ed), the object's position and clip rectangles in
  // the site window's client coordinates, and the frame's accelerator information.
  virtual HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                   LPRECT position, LPRECT clip,
                                   LPOLEINPLACEFRAMEINFO frameInfo) = 0;
  virtual HRESULT Scroll(SIZE extent) = 0;
  virtual HRESULT OnUIDeactivate(BOOL undoable) = 0;
  virtual HRESULT OnInPlaceDeactivate() = 0;
  virtual HRESULT DiscardUndoState() = 0;
  virtual HRESULT DeactivateAndUndo() = 0;
  virtual HRESULT OnPosRectChange(LPCRECT position) = 0;

 protected:
  ~IOleInPlaceSite() = default;
};
extern const IID IID_IOleInPlaceSite;

class IOleObject : public IUnknown {
 public:
  virtual HRESULT SetClientSite(IOleClientSite* site) = 0;
  virtual HRESULT GetClientSite(IOleClientSite** site) = 0;
  virtual HRESULT SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) = 0;
  virtual HRESULT Close(DWORD saveOption) = 0;
  virtual HRESULT SetMoniker(DWORD which, IMoniker* moniker) = 0;
  virtual HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) = 0;
  virtual HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) = 0;
  virtual HRESULT GetClipboardData(DWORD reserved, IDataObject** data) = 0;
  virtual HRESULT DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index,
                         HWND parent, LPCRECT position) = 0;
  virtual HRESULT EnumVerbs(IEnumOLEVERB** verbs) = 0;
  virtual HRESULT Update() = 0;
  virtual HRESULT IsUpToDate() = 0;
  virtual HRESULT GetUserClassID(CLSID* clsid) = 0;
  virtual HRESULT GetUserType(DWORD form, LPOLESTR* userType) = 0;
  virtual HRESULT SetExtent(DWORD aspect, SIZEL* size) = 0;
  virtual HRESULT GetExtent(DWORD aspect, SIZEL* size) = 0;
  virtual HRESULT Advise(IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT Unadvise(DWORD connection) = 0;
  virtual HRESULT EnumAdvise(IEnumSTATDATA** advises) = 0;
  virtual HRESULT GetMiscStatus(DWORD aspect, DWORD* status) = 0;
  virtual HRESULT SetColorScheme(LOGPALETTE* palette) = 0;

 protected:
  ~IOleObject() = default;
};
extern const IID IID_IOleObject;

class IOleInPlaceObject : public IOleWindow {
 public:
  virtual HRESULT InPlaceDeactivate() = 0;
  virtual HRESULT UIDeactivate() = 0;
  // Both rectangles in the client coordinates of the container's window.
  virtual HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) = 0;
  virtual HRESULT ReactivateAndUndo() = 0;

 protected:
  ~IOleInPlaceObject() = default;
};
extern const IID IID_IOleInPlaceObject;

class IViewObject : public IUnknown {
 public:
  virtual HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                       HDC targetInfo, HDC draw, LPCRECTL bounds, LPCRECTL metafileBounds,
                       BOOL (*keepGoing)(ULONG_PTR), ULONG_PTR keepGoingArg) = 0;
  virtual HRESULT GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                              HDC targetInfo, LOGPALETTE** colors) = 0;
  virtual HRESULT Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) = 0;
  virtual HRESULT Unfreeze(DWORD freeze) = 0;
  virtual HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) = 0;
  virtual HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) = 0;

 protected:
  ~IViewObject() = default;
};
extern const IID IID_IViewObject;

class IViewObject2 : public IViewObject {
 public:
  virtual HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) = 0;

 protected:
  ~IViewObject2() = default;
};
extern const IID IID_IViewObject2;

class IPersist : public IUnknown {
 public:
  virtual HRESULT GetClassID(CLSID* clsid) = 0;

 protected:
  ~IPersist() = default;
};
extern const IID IID_IPersist;

class IStorage;
class IEnumFORMATETC;
class IStream;
class IDropTarget;

using CLIPFORMAT = WORD;

// What a data object is asked for: a clipboard format, in one aspect and medium.
struct FORMATETC {
  CLIPFORMAT cfFormat;
  DVTARGETDEVICE* ptd;
  DWORD dwAspect;
  LONG lindex;
  DWORD tymed;
};

// The medium that carries data; tymed says which member is live.
struct STGMEDIUM {
  DWORD tymed;
  union {
    void* hGlobal;
    LPOLESTR lpszFileName;
    IStream* pstm;
    IStorage* pstg;
  };
  IUnknown* pUnkForRelease;
};

// Advise flags of IViewObject::SetAdvise and IDataObject::DAdvise.
#define ADVF_NODATA 0x1u
#define ADVF_PRIMEFIRST 0x2u
#define ADVF_ONLYONCE 0x4u

class IAdviseSink : public IUnknown {
 public:
  virtual void OnDataChange(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual void OnViewChange(DWORD aspect, LONG index) = 0;
  virtual void OnRename(IMoniker* moniker) = 0;
  virtual void OnSave() = 0;
  virtual void OnClose() = 0;

 protected:
  ~IAdviseSink() = default;
};
extern const IID IID_IAdviseSink;

// One advise connection of an object, as IOleObject::EnumAdvise and IDataObject::EnumDAdvise
// list them.
struct STATDATA {
  FORMATETC formatetc;
  DWORD advf;
  IAdviseSink* pAdvSink;
  DWORD dwConnection;
};

// Next hands out AddRef'ed sinks (the caller releases them) and gives S_FALSE when fewer than
// asked remain; Skip gives S_FALSE when it runs past the end.
class IEnumSTATDATA : public IUnknown {
 public:
  virtual HRESULT Next(ULONG count, STATDATA* items, ULONG* fetched) = 0;
  virtual HRESULT Skip(ULONG count) = 0;
  virtual HRESULT Reset() = 0;
  virtual HRESULT Clone(IEnumSTATDATA** copy) = 0;

 protected:
  ~IEnumSTATDATA() = default;
};
extern const IID IID_IEnumSTATDATA;

class IDataObject : public IUnknown {
 public:
  virtual HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) = 0;
  virtual HRESULT QueryGetData(FORMATETC* format) = 0;
  virtual HRESULT GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* canonical) = 0;
  virtual HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) = 0;
  virtual HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) = 0;
  virtual HRESULT DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) = 0;
  virtual HRESULT DUnadvise(DWORD connection) = 0;
  virtual HRESULT EnumDAdvise(IEnumSTATDATA** advises) = 0;

 protected:
  ~IDataObject() = default;
};
extern const IID IID_IDataObject;

class IOleInPlaceActiveObject : public IOleWindow {
 public:
  // S_OK when the object used the keystroke, S_FALSE to let the container have it.
  virtual HRESULT TranslateAccelerator(LPMSG message) = 0;
  virtual HRESULT OnFrameWindowActivate(BOOL activate) = 0;
  virtual HRESULT OnDocWindowActivate(BOOL activate) = 0;
  virtual HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) = 0;
  virtual HRESULT EnableModeless(BOOL enable) = 0;

 protected:
  ~IOleInPlaceActiveObject() = default;
};
extern const IID IID_IOleInPlaceActiveObject;

class IPersistStorage : public IPersist {
 public:
  virtual HRESULT IsDirty() = 0;
  virtual HRESULT InitNew(IStorage* storage) = 0;
  virtual HRESULT Load(IStorage* storage) = 0;
  virtual HRESULT Save(IStorage* storage, BOOL sameAsLoad) = 0;
  virtual HRESULT SaveCompleted(IStorage* storage) = 0;
  virtual HRESULT HandsOffStorage() = 0;

 protected:
  ~IPersistStorage() = default;
};
extern const IID IID_IPersistStorage;

#pragma GCC visibility pop
