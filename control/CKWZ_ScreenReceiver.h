// The screen receiver control: the object a container creates, configures through
// IKWZ_ScreenReceiver and listens to through _IKWZ_ScreenReceiverEvents. It owns the
// screen-sharing engine from Init to DeInit and hands the engine the window it paints into.
//
// Ownership: reference counted; the last Release runs DeInit and destroys the window if the
// container left it alive. Inside an aggregate (created with an outer unknown) the control's
// IUnknown delegates to the outer object, which holds the control through its inner unknown.
// Each live control holds one lock of the module. The engine is owned (m_pEngine); the engine holds
// this object's IScreenSharing without a reference, which is why DeInit always ends the engine
// first.
// Remote control: from StartRemoteControl to EndRemoteControl the control owns a UDP socket (or
// a sending instance of the tunnel) and the re-send thread; the window's mouse and keyboard
// messages keep the two input records up to date and send them.
// Threads: every automation call, the window's creation, messages and destruction come from the
// container's thread (a single-threaded apartment). OnScreenSizeChanged comes from the engine's
// thread and reaches the container's sinks through the Global Interface Table. The re-send
// thread sends the mouse record. Locks, when both are held: m_csEngine, then m_csRemote.
#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "control/CKWZ_ScreenReceiverModule.h"
#include "control/IKWZ_ScreenReceiver.h"
#include "control/KWZ_Properties.h"
#include "control/ScreenReceiverGuids.h"
#include "engine/CScreenSharing.h"
#include "engine/IScreenSharing.h"
#include "network/ITunnel.h"
#include "network/InputRecord.h"
#include "platform/com_ptr.h"
#include "platform/connection_point.h"
#include "platform/dispatch_table.h"
#include "platform/ocidl.h"
#include "platform/winsock.h"
#include "platform/winuser.h"
#include "runtime/CCriticalSection.h"

class RemoteControlThread;

// The event source for _IKWZ_ScreenReceiverEvents: sinks are kept as Global Interface Table
// cookies so that the engine's thread can raise the event into the container's apartment.
class CProxy_IKWZ_ScreenReceiverEvents : public kwz_platform::DispatchConnectionPoint {
 public:
  explicit CProxy_IKWZ_ScreenReceiverEvents(IConnectionPointContainer* owner)
      : DispatchConnectionPoint(owner, DIID__IKWZ_ScreenReceiverEvents,
                                ScreenReceiverModule().GetGIT()) {}
  // Any thread initialised for COM; returns when every sink has run its handler.
  HRESULT Fire_SizeUpdated(ULONG dx, ULONG dy);
};

// In-place activation: the control is window-only. A container sites it (SetClientSite or
// QuickActivate) and activates it with DoVerb; the window then lives until InPlaceDeactivate,
// Close or the last Release. An in-place active control also becomes UI-active, telling its
// in-place site and taking the keyboard focus, when its window gets the focus or a click, and
// tells a client site that is an IOleControlSite when it takes and loses the focus.
// Live members of the container-facing interfaces:
//   IOleObject: SetClientSite, GetClientSite, SetHostNames (ignored), Close, DoVerb (PRIMARY,
//     SHOW, UIACTIVATE and INPLACEACTIVATE activate in place, UIACTIVATE UI-activates too;
//     HIDE hides), GetUserClassID, SetExtent, GetExtent, GetMiscStatus.
//   IOleInPlaceObject: GetWindow, InPlaceDeactivate, UIDeactivate, SetObjectRects.
//   IViewObjectEx: Draw (an empty picture), GetExtent, GetViewStatus.
//   IPersistStreamInit, IPersistStorage: the control keeps no persisted properties, so it is
//     never dirty, and InitNew, Load and Save succeed, reading and writing nothing.
//   IOleControl: no mnemonics; FreezeEvents nests and is counted.
//   IOleInPlaceActiveObject: takes no accelerators (S_FALSE); the window notifications are
//     acknowledged.
//   IOleInPlaceObjectWindowless: the control is windowed, so it handles no message that the
//     container forwards (S_FALSE) and has no drop target.
//   IOleObject, IViewObject: advise sinks are held until Unadvise, or until SetAdvise replaces
//     them; they hear OnClose when the control closes.
//   ISpecifyPropertyPages: no pages. IDataObject: no formats, no data advises.
//   IProvideClassInfo2: GetClassInfo, GetGUID.
//   IQuickActivate: QuickActivate, SetContentExtent, GetContentExtent.
// Every other member of those interfaces answers E_NOTIMPL.
class CKWZ_ScreenReceiver final
    : public kwz_platform::DispatchImpl<CKWZ_ScreenReceiver, IKWZ_ScreenReceiver>,
      public IPersistStreamInit,
      public IOleControl,
      public IOleObject,
      public IOleInPlaceActiveObject,
      public IViewObjectEx,
      public IOleInPlaceObjectWindowless,
      public ISupportErrorInfo,
      public IConnectionPointContainer,
      public IPersistStorage,
      public ISpecifyPropertyPages,
      public IQuickActivate,
      public IDataObject,
      public IProvideClassInfo2,
      public KWZ_Properties,
      public IScreenSharing {
 public:
  // What GetMiscStatus answers for DVASPECT_CONTENT, and what registration records.
  static constexpr DWORD kOleMiscStatus = OLEMISC_RECOMPOSEONRESIZE | OLEMISC_CANTLINKINSIDE |
                                          OLEMISC_INSIDEOUT | OLEMISC_ACTIVATEWHENVISIBLE |
                                          OLEMISC_SETCLIENTSITEFIRST;
  static constexpr DWORD kViewStatus = VIEWSTATUS_SOLIDBKGND | VIEWSTATUS_OPAQUE;

  // A new control with one reference, handed out as iid.
  static HRESULT CreateInstance(REFIID iid, void** object);
  // With outer, a control inside that aggregate: iid must be IID_IUnknown, and the inner
  // unknown is handed out.
  static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object);
  // Controls alive in this process; the module may unload only at zero.
  static LONG ObjectCount();

  static const kwz_platform::DispatchTypeInfo& DispatchInfo();
  // The event dispinterface; the type library lists it with the coclass.
  static const kwz_platform::DispatchTypeInfo& EventsInfo();

  // IUnknown
  HRESULT QueryInterface(REFIID iid, void** object) override;
  ULONG AddRef() override;
  ULONG Release() override;

  // IDispatch: the interface's type information from the control's type library, so that a
  // container can go on from it to the library and the coclass.
  HRESULT GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;

  // IKWZ_ScreenReceiver
  HRESULT Init() override;
  HRESULT DeInit() override;
  HRESULT Start() override;
  HRESULT Stop() override;
  HRESULT get_SourceAddress(BSTR* pVal) override;
  HRESULT put_SourceAddress(BSTR newVal) override;
  HRESULT get_SourcePort(BSTR* pVal) override;
  HRESULT put_SourcePort(BSTR newVal) override;
  HRESULT get_DrawWidth(LONG* pVal) override;
  HRESULT put_DrawWidth(LONG newVal) override;
  HRESULT get_DrawHeight(LONG* pVal) override;
  HRESULT put_DrawHeight(LONG newVal) override;
  HRESULT JoinMulticastGroup(BSTR group) override;
  HRESULT LeaveMulticastGroup(BSTR group) override;
  HRESULT StartRemoteControl() override;
  HRESULT EndRemoteControl() override;
  HRESULT get_ServerAddress(BSTR* pVal) override;
  HRESULT put_ServerAddress(BSTR newVal) override;
  HRESULT get_ServerPort(BSTR* pVal) override;
  HRESULT put_ServerPort(BSTR newVal) override;
  HRESULT get_EnableStretch(LONG* pVal) override;
  HRESULT put_EnableStretch(LONG newVal) override;
  HRESULT get_BlockWidth(LONG* pVal) override;
  HRESULT put_BlockWidth(LONG newVal) override;
  HRESULT get_BlockHeight(LONG* pVal) override;
  HRESULT put_BlockHeight(LONG newVal) override;
  HRESULT SetProperties(BSTR prop, BSTR newVal) override;
  HRESULT GetProperties(BSTR prop, BSTR* pVal) override;

  // ISupportErrorInfo
  HRESULT InterfaceSupportsErrorInfo(REFIID iid) override;

  // IConnectionPointContainer
  HRESULT EnumConnectionPoints(IEnumConnectionPoints** points) override;
  HRESULT FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

  // IPersistStreamInit
  HRESULT GetClassID(CLSID* clsid) override;
  HRESULT IsDirty() override;
  HRESULT Load(IStream* stream) override;
  HRESULT Save(IStream* stream, BOOL clearDirty) override;
  HRESULT GetSizeMax(ULARGE_INTEGER* size) override;
  HRESULT InitNew() override;

  // IPersistStorage; GetClassID and IsDirty are IPersistStreamInit's. The storage is not kept:
  // there is nothing to write into it later.
  HRESULT InitNew(IStorage* storage) override;
  HRESULT Load(IStorage* storage) override;
  HRESULT Save(IStorage* storage, BOOL sameAsLoad) override;
  HRESULT SaveCompleted(IStorage* storage) override;
  HRESULT HandsOffStorage() override;

  // IOleControl
  HRESULT GetControlInfo(CONTROLINFO* info) override;
  HRESULT OnMnemonic(MSG* message) override;
  HRESULT OnAmbientPropertyChange(DISPID id) override;
  HRESULT FreezeEvents(BOOL freeze) override;
  // For diagnostics and tests: how many freezes the container has not yet thawed.
  LONG FrozenEvents() const { return m_nFreezeEvents; }

  // IOleInPlaceActiveObject; GetWindow and ContextSensitiveHelp are IOleInPlaceObject's.
  HRESULT TranslateAccelerator(LPMSG message) override;
  HRESULT OnFrameWindowActivate(BOOL activate) override;
  HRESULT OnDocWindowActivate(BOOL activate) override;
  HRESULT ResizeBorder(LPCRECT border, IOleInPlaceUIWindow* window, BOOL frame) override;
  HRESULT EnableModeless(BOOL enable) override;

  // ISpecifyPropertyPages
  HRESULT GetPages(CAUUID* pages) override;

  // IDataObject
  HRESULT GetData(FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT GetDataHere(FORMATETC* format, STGMEDIUM* medium) override;
  HRESULT QueryGetData(FORMATETC* format) override;
  HRESULT GetCanonicalFormatEtc(FORMATETC* format, FORMATETC* canonical) override;
  HRESULT SetData(FORMATETC* format, STGMEDIUM* medium, BOOL release) override;
  HRESULT EnumFormatEtc(DWORD direction, IEnumFORMATETC** formats) override;
  HRESULT DAdvise(FORMATETC* format, DWORD flags, IAdviseSink* sink, DWORD* connection) override;
  HRESULT DUnadvise(DWORD connection) override;
  HRESULT EnumDAdvise(IEnumSTATDATA** advises) override;

  // IOleObject
  HRESULT SetClientSite(IOleClientSite* site) override;
  HRESULT GetClientSite(IOleClientSite** site) override;
  HRESULT SetHostNames(LPCOLESTR containerApp, LPCOLESTR containerObject) override;
  HRESULT Close(DWORD saveOption) override;
  HRESULT SetMoniker(DWORD which, IMoniker* moniker) override;
  HRESULT GetMoniker(DWORD assign, DWORD which, IMoniker** moniker) override;
  HRESULT InitFromData(IDataObject* data, BOOL creation, DWORD reserved) override;
  HRESULT GetClipboardData(DWORD reserved, IDataObject** data) override;
  // parent: the window to be a child of, or null for the in-place site's window; position:
  // the rectangle in the parent's client area, or null for the site's. OLE_E_INVALIDHWND when
  // neither gives a parent; E_FAIL when the site refuses activation or the window cannot be
  // made.
  HRESULT DoVerb(LONG verb, LPMSG message, IOleClientSite* activeSite, LONG index, HWND parent,
                 LPCRECT position) override;
  HRESULT EnumVerbs(IEnumOLEVERB** verbs) override;
  HRESULT Update() override;
  HRESULT IsUpToDate() override;
  HRESULT GetUserClassID(CLSID* clsid) override;
  HRESULT GetUserType(DWORD form, LPOLESTR* userType) override;
  HRESULT SetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT GetExtent(DWORD aspect, SIZEL* size) override;
  HRESULT Advise(IAdviseSink* sink, DWORD* connection) override;
  HRESULT Unadvise(DWORD connection) override;
  HRESULT EnumAdvise(IEnumSTATDATA** advises) override;
  HRESULT GetMiscStatus(DWORD aspect, DWORD* status) override;
  HRESULT SetColorScheme(LOGPALETTE* palette) override;

  // IViewObjectEx
  HRESULT Draw(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target, HDC targetInfo,
               HDC draw, LPCRECTL bounds, LPCRECTL metafileBounds, BOOL (*keepGoing)(ULONG_PTR),
               ULONG_PTR keepGoingArg) override;
  HRESULT GetColorSet(DWORD aspect, LONG index, void* aspectInfo, DVTARGETDEVICE* target,
                      HDC targetInfo, LOGPALETTE** colors) override;
  HRESULT Freeze(DWORD aspect, LONG index, void* aspectInfo, DWORD* freeze) override;
  HRESULT Unfreeze(DWORD freeze) override;
  HRESULT SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) override;
  HRESULT GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) override;
  HRESULT GetExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, LPSIZEL size) override;
  HRESULT GetRect(DWORD aspect, LPRECTL rect) override;
  HRESULT GetViewStatus(DWORD* status) override;
  HRESULT QueryHitPoint(DWORD aspect, LPCRECT bounds, POINT location, LONG closeHint,
                        DWORD* hit) override;
  HRESULT QueryHitRect(DWORD aspect, LPCRECT bounds, LPCRECT location, LONG closeHint,
                       DWORD* hit) override;
  HRESULT GetNaturalExtent(DWORD aspect, LONG index, DVTARGETDEVICE* target, HDC targetInfo,
                           DVEXTENTINFO* info, LPSIZEL size) override;

  // IOleInPlaceObject
  HRESULT GetWindow(HWND* window) override;
  HRESULT ContextSensitiveHelp(BOOL enterMode) override;
  HRESULT InPlaceDeactivate() override;
  HRESULT UIDeactivate() override;
  HRESULT SetObjectRects(LPCRECT position, LPCRECT clip) override;
  HRESULT ReactivateAndUndo() override;

  // IOleInPlaceObjectWindowless
  HRESULT OnWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
  HRESULT GetDropTarget(IDropTarget** target) override;

  // IQuickActivate. QuickActivate sites the control with pClientSite, advises pUnkEventSink on
  // the event connection point (a sink that is not the event interface is simply not
  // connected: dwEventCookie 0) and answers the misc and view status. The container's
  // structure must reach pUnkEventSink and the control's be whole (E_INVALIDARG otherwise).
  HRESULT QuickActivate(QACONTAINER* container, QACONTROL* control) override;
  HRESULT SetContentExtent(LPSIZEL size) override;
  HRESULT GetContentExtent(LPSIZEL size) override;

  // IProvideClassInfo2
  HRESULT GetClassInfo(ITypeInfo** info) override;
  HRESULT GetGUID(DWORD kind, GUID* guid) override;

  // IScreenSharing: engine thread.
  void OnScreenSizeChanged(std::uint32_t width, std::uint32_t height) override;

  // The control window, a child of parent at rect. Creation runs an Init (and a Start) that
  // arrived before it; destruction runs DeInit. Null on failure or when a window exists.
  HWND CreateControlWindow(HWND parent, const RECT& rect);
  void DestroyControlWindow();
  HWND Window() const { return m_hWnd.load(std::memory_order_relaxed); }

  // For diagnostics and tests: the engine, null outside Init..DeInit.
  CScreenSharing* Engine() const { return m_pEngine; }
  // For diagnostics and tests: whether the re-send thread exists and runs.
  bool RemoteControlRunning() const;
  // For tests: the re-send thread's period from the next StartRemoteControl on (INFINITE: it
  // sends only when told), and a re-send now. Container's thread.
  void SetResendPeriod(DWORD periodMs);
  void ResendNow();
  // For diagnostics and tests: whether the window's focus handler saw it take the focus last.
  bool HasFocus() const;

 private:
  friend class RemoteControlThread;
  CKWZ_ScreenReceiver();
  ~CKWZ_ScreenReceiver();

  HRESULT InitBody();
  HRESULT DeInitBody();
  HRESULT SetPropertiesBody(BSTR prop, BSTR newVal);
  HRESULT GetPropertiesBody(BSTR prop, BSTR* pVal);
  // Stops the engine's thread while the calling (container) thread keeps running the calls
  // that the engine makes into it, then deletes the engine. m_csEngine held.
  void ReleaseEngine();

  // The in-place activation that DoVerb's activating verbs share.
  HRESULT ActivateInPlace(HWND parent, LPCRECT position);
  // Tells the in-place site, then takes the focus; nothing when UI-active already or not
  // in-place active.
  HRESULT ActivateUI();
  // The control base's part in WM_SETFOCUS, WM_KILLFOCUS and WM_MOUSEACTIVATE: UI activation
  // and the container's focus notification, before the message goes on.
  void OnActivationMessage(UINT message);

  static LRESULT WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  // The control's own message map; false for a message it does not claim.
  bool ProcessOwnMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
  // The control base's drawing hook: draws nothing, as the engine paints the window.
  HRESULT OnDraw(HDC dc, const RECT& bounds);
  LRESULT OnCreate();
  LRESULT OnFocus(UINT message);
  LRESULT OnMouseButton(UINT message);
  LRESULT OnKey(UINT message, WPARAM vk, LPARAM lParam);

  // Sends record with the cursor's position brought up to date first. m_csRemote held.
  void SendInputRecord(const InputRecord& record, int length);
  // Re-send thread: the mouse record, under m_csRemote.
  void ResendMouseRecord();
  // Closes the socket or hands the tunnel instance back. m_csRemote held.
  void CloseRemoteTransport();

  // The identity that the outer object of an aggregate holds: it does not delegate.
  class CInnerUnknown final : public IUnknown {
   public:
    explicit CInnerUnknown(CKWZ_ScreenReceiver* owner) : owner_(owner) {}
    HRESULT QueryInterface(REFIID iid, void** object) override;
    ULONG AddRef() override { return ++owner_->m_refs; }
    ULONG Release() override { return owner_->InternalRelease(); }

   private:
    CKWZ_ScreenReceiver* const owner_;
  };
  HRESULT InternalQueryInterface(REFIID iid, void** object);
  ULONG InternalRelease();

  std::atomic<ULONG> m_refs{1};
  // Set at creation inside an aggregate, cleared when the last reference goes.
  IUnknown* m_pOuterUnknown = nullptr;
  CInnerUnknown m_innerUnknown{this};

  std::string m_strSourceAddress;
  LONG m_nSourcePort = 0;
  std::string m_strMulticastGroup;
  LONG m_nDrawWidth = 800;
  LONG m_nDrawHeight = 600;
  LONG m_nBlockWidth = 0;
  LONG m_nBlockHeight = 0;
  // Read by the engine's thread when the shared screen changes size.
  std::atomic<bool> m_bEnableStretch{false};
  bool m_bPacketReordering = true;
  LONG m_nReorderParam = 0;
  DWORD m_nTunnel = 0;  // a tunnel factory's address in this process; 0: none

  // Read by StartRemoteControl only.
  std::string m_strServerAddress;
  LONG m_nServerPort = 0;

  // Remote control. The records, the transport, the focus flag and every send are guarded by
  // m_csRemote; the thread is created and deleted on the container's thread only.
  bool m_bWinsockStarted = false;  // this object's own WSAStartup, balanced at destruction
  SOCKET m_socket = INVALID_SOCKET;
  sockaddr_in m_addrServer{};
  ITunnel* m_pTunnel = nullptr;                    // from m_pRemoteFactory, handed back to it
  ITunnelFactory* m_pRemoteFactory = nullptr;      // not owned
  DWORD m_nTunnelPort = 0;                         // the server port when the tunnel was opened
  RemoteControlThread* m_pRemoteThread = nullptr;  // owned
  DWORD m_nResendPeriodMs = 0;                     // 0: the thread's own period
  InputRecord m_keyRecord;
  InputRecord m_mouseRecord;
  bool m_bHasFocus = false;
  mutable CCriticalSection m_csRemote;

  // Owned, from Init to DeInit. Changed under m_csEngine and m_csRemote both, so that the
  // re-send thread, which holds m_csRemote, reads a live engine or none.
  CScreenSharing* m_pEngine = nullptr;
  bool m_bInitialized = false;
  bool m_bInitPending = false;
  bool m_bStartPending = false;
  // Set while ReleaseEngine waits for the engine's thread; Init and Start that this thread
  // runs meanwhile (from a SizeUpdated handler) are refused.
  bool m_bReleasingEngine = false;
  CCriticalSection m_csEngine;  // serialises Init, DeInit and Start

  std::atomic<HWND> m_hWnd{nullptr};  // read by the engine's thread

  // In-place activation state; the container's thread only.
  CComPtr<IOleClientSite> m_spClientSite;
  CComPtr<IOleInPlaceSite> m_spInPlaceSite;  // held while in-place active
  bool m_bInPlaceActive = false;
  bool m_bUIActive = false;                // only while in-place active
  SIZEL m_sizeExtent{2 * 2540, 2 * 2540};  // HIMETRIC: two inches until the container says

  LONG m_nFreezeEvents = 0;

  // IOleObject::Advise connections, by cookie; cookies are never reused.
  struct OleAdvise {
    DWORD cookie;
    CComPtr<IAdviseSink> sink;
  };
  std::vector<OleAdvise> m_oleAdvises;
  DWORD m_nLastAdviseCookie = 0;
  // IViewObject::SetAdvise: one sink at a time.
  CComPtr<IAdviseSink> m_spViewAdviseSink;
  DWORD m_nViewAdviseAspects = 0;
  DWORD m_nViewAdviseFlags = 0;

  CProxy_IKWZ_ScreenReceiverEvents m_eventPoint{this};
};
