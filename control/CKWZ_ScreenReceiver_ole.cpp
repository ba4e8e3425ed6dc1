// How a container sites, activates, places and deactivates the control, and what it learns of
// the control's class and drawing. The window itself is the lifecycle's: activation creates it
// through CreateControlWindow, whose creation runs a held-back Init and Start, and deactivation
// destroys it through DestroyControlWindow, whose destruction runs DeInit.
#include <cstddef>
#include <vector>

#include "control/CKWZ_ScreenReceiver.h"
#include "control/ScreenReceiverTypeLib.h"
#include "platform/winerror.h"

namespace {

bool ActivatesInPlace(LONG verb) {
  return verb == OLEIVERB_PRIMARY || verb == OLEIVERB_SHOW || verb == OLEIVERB_UIACTIVATE ||
         verb == OLEIVERB_INPLACEACTIVATE;
}

// Older containers hand a shorter QACONTAINER; the control reads no further than the event sink.
constexpr ULONG kQaContainerKnown = offsetof(QACONTAINER, pUnkEventSink) + sizeof(IUnknown*);

}  // namespace

const kwz_platform::DispatchTypeInfo& CKWZ_ScreenReceiver::EventsInfo() {
  using kwz_platform::DispatchMember;
  // Static objects, as DispatchInfo's: they go with the module when it is unloaded.
  static kwz_platform::DispatchTypeInfo info(DIID__IKWZ_ScreenReceiverEvents,
                                             u"_IKWZ_ScreenReceiverEvents",
                                             u"_IScreenReceiverEvents Interface",
                                             {DispatchMember{u"SizeUpdated",
                                                             kDispSizeUpdated,
                                                             INVOKE_FUNC,
                                                             u"method SizeUpdated",
                                                             {VT_UI4, VT_UI4},
                                                             {u"dx", u"dy"},
                                                             VT_EMPTY,
                                                             nullptr}});
  return info;
}

HRESULT CKWZ_ScreenReceiver::GetTypeInfo(UINT index, LCID, ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  if (index != 0) return DISP_E_BADINDEX;
  ITypeLib* lib = ScreenReceiverTypeLib();
  return lib != nullptr ? lib->GetTypeInfoOfGuid(IID_IKWZ_ScreenReceiver, info) : E_OUTOFMEMORY;
}

// IOleObject

HRESULT CKWZ_ScreenReceiver::SetClientSite(IOleClientSite* site) {
  m_spClientSite = site;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::GetClientSite(IOleClientSite** site) {
  if (site == nullptr) return E_POINTER;
  *site = m_spClientSite;
  if (*site != nullptr) (*site)->AddRef();
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::SetHostNames(LPCOLESTR, LPCOLESTR) {
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::Close(DWORD) {
  if (m_spClientSite && Window() != nullptr) m_spClientSite->OnShowWindow(FALSE);
  InPlaceDeactivate();
  // A window made without activation goes too: nothing may paint after Close.
  DestroyControlWindow();
  m_spInPlaceSite.Release();
  // Through a copy: a sink may unadvise while it is told.
  const std::vector<OleAdvise> advises = m_oleAdvises;
  for (const OleAdvise& advise : advises) advise.sink->OnClose();
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::Advise(IAdviseSink* sink, DWORD* connection) {
  if (connection == nullptr) return E_POINTER;
  *connection = 0;
  if (sink == nullptr) return E_INVALIDARG;
  if (m_nLastAdviseCookie == ~DWORD{0}) return E_OUTOFMEMORY;  // no cookie left to hand out
  *connection = ++m_nLastAdviseCookie;
  m_oleAdvises.push_back({*connection, sink});
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::Unadvise(DWORD connection) {
  for (auto it = m_oleAdvises.begin(); it != m_oleAdvises.end(); ++it) {
    if (it->cookie != connection) continue;
    // Released after it has left the list: the sink's release may come back into the control.
    CComPtr<IAdviseSink> sink = it->sink;
    m_oleAdvises.erase(it);
    return S_OK;
  }
  return OLE_E_NOCONNECTION;
}

HRESULT CKWZ_ScreenReceiver::EnumAdvise(IEnumSTATDATA** advises) {
  std::vector<STATDATA> entries;
  entries.reserve(m_oleAdvises.size());
  // IOleObject::Advise takes no format or flags, so the entries carry none.
  for (const OleAdvise& advise : m_oleAdvises) {
    entries.push_back(STATDATA{FORMATETC{}, 0, advise.sink, advise.cookie});
  }
  return kwz_platform::EnumerateAdvises(entries, advises);
}

HRESULT CKWZ_ScreenReceiver::DoVerb(LONG verb, LPMSG, IOleClientSite*, LONG, HWND parent,
                                    LPCRECT position) {
  if (ActivatesInPlace(verb)) {
    const HRESULT hr = ActivateInPlace(parent, position);
    return SUCCEEDED(hr) && verb == OLEIVERB_UIACTIVATE ? ActivateUI() : hr;
  }
  if (verb == OLEIVERB_HIDE) {
    if (const HWND window = Window()) ShowWindow(window, SW_HIDE);
    return S_OK;
  }
  return E_NOTIMPL;
}

HRESULT CKWZ_ScreenReceiver::ActivateInPlace(HWND parent, LPCRECT position) {
  CComPtr<IOleInPlaceSite> site;
  if (m_spClientSite) {
    m_spClientSite->QueryInterface(IID_IOleInPlaceSite, reinterpret_cast<void**>(&site));
  }
  const bool activatedNow = !m_bInPlaceActive && site;
  if (activatedNow) {
    if (site->CanInPlaceActivate() != S_OK) return E_FAIL;
    const HRESULT hr = site->OnInPlaceActivate();
    if (FAILED(hr)) return hr;
    m_spInPlaceSite = site;
    m_bInPlaceActive = true;
  }
  RECT where = position != nullptr ? *position : RECT{};
  bool placed = position != nullptr;
  if (site) {
    CComPtr<IOleInPlaceFrame> frame;
    CComPtr<IOleInPlaceUIWindow> document;
    RECT sitePosition{};
    RECT clip{};
    OLEINPLACEFRAMEINFO frameInfo{};
    frameInfo.cb = sizeof frameInfo;
    if (SUCCEEDED(site->GetWindowContext(&frame, &document, &sitePosition, &clip, &frameInfo)) &&
        !placed) {
      where = sitePosition;
      placed = true;
    }
    if (parent == nullptr) site->GetWindow(&parent);
  }

  HRESULT hr = S_OK;
  if (const HWND window = Window()) {
    ShowWindow(window, SW_SHOW);
    if (placed) SetObjectRects(&where, &where);
  } else if (parent == nullptr) {
    hr = OLE_E_INVALIDHWND;
  } else if (CreateControlWindow(parent, where) == nullptr) {
    hr = E_FAIL;
  }
  if (FAILED(hr)) {
    if (activatedNow) {
      m_bInPlaceActive = false;
      m_spInPlaceSite.Release();
      site->OnInPlaceDeactivate();
    }
    return hr;
  }
  if (m_spClientSite) m_spClientSite->ShowObject();
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::ActivateUI() {
  if (!m_bInPlaceActive || m_bUIActive) return S_OK;
  CComPtr<IOleInPlaceSite> site = m_spInPlaceSite;
  // Set before the site hears of it: taking the focus below comes back through the window's
  // WM_SETFOCUS, which must not activate again.
  m_bUIActive = true;
  const HRESULT hr = site->OnUIActivate();
  if (FAILED(hr)) {
    m_bUIActive = false;
    return hr;
  }
  const HWND window = Window();
  if (window != nullptr && GetFocus() != window) SetFocus(window);
  return S_OK;
}

void CKWZ_ScreenReceiver::OnActivationMessage(UINT message) {
  if (!m_bInPlaceActive) return;
  // A container learns that its control is the active one before it hears of the focus.
  if (message != WM_KILLFOCUS && !m_bUIActive) ActivateUI();
  if (message == WM_MOUSEACTIVATE) return;
  CComPtr<IOleControlSite> site;
  if (m_spClientSite) {
    m_spClientSite->QueryInterface(IID_IOleControlSite, reinterpret_cast<void**>(&site));
  }
  if (site) site->OnFocus(message == WM_SETFOCUS ? TRUE : FALSE);
}

HRESULT CKWZ_ScreenReceiver::GetUserClassID(CLSID* clsid) {
  return GetClassID(clsid);
}

HRESULT CKWZ_ScreenReceiver::SetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return DV_E_DVASPECT;
  if (size == nullptr) return E_POINTER;
  m_sizeExtent = *size;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::GetExtent(DWORD aspect, SIZEL* size) {
  if (aspect != DVASPECT_CONTENT) return E_FAIL;
  if (size == nullptr) return E_POINTER;
  *size = m_sizeExtent;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::GetMiscStatus(DWORD aspect, DWORD* status) {
  if (status == nullptr) return E_POINTER;
  // Registration records the flags for the content aspect only; other aspects read as none.
  *status = aspect == DVASPECT_CONTENT ? kOleMiscStatus : 0;
  return S_OK;
}

// IOleInPlaceObject

HRESULT CKWZ_ScreenReceiver::GetWindow(HWND* window) {
  if (window == nullptr) return E_POINTER;
  *window = Window();
  return *window != nullptr ? S_OK : E_FAIL;
}

HRESULT CKWZ_ScreenReceiver::InPlaceDeactivate() {
  if (!m_bInPlaceActive) return S_OK;
  UIDeactivate();
  m_bInPlaceActive = false;
  DestroyControlWindow();
  // Told last, and through a reference of our own: the site may release us when told.
  CComPtr<IOleInPlaceSite> site = m_spInPlaceSite;
  m_spInPlaceSite.Release();
  if (site) site->OnInPlaceDeactivate();
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::UIDeactivate() {
  if (!m_bUIActive) return S_OK;
  m_bUIActive = false;
  // The focus stays where it is: whatever takes it next is what usually deactivates us.
  CComPtr<IOleInPlaceSite> site = m_spInPlaceSite;
  if (site) site->OnUIDeactivate(FALSE);
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::SetObjectRects(LPCRECT position, LPCRECT clip) {
  if (position == nullptr || clip == nullptr) return E_POINTER;
  if (const HWND window = Window()) {
    SetWindowPos(window, nullptr, position->left, position->top, position->right - position->left,
                 position->bottom - position->top, SWP_NOZORDER | SWP_NOACTIVATE);
  }
  return S_OK;
}

// IViewObjectEx

HRESULT CKWZ_ScreenReceiver::Draw(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, HDC draw,
                                  LPCRECTL bounds, LPCRECTL, BOOL (*)(ULONG_PTR), ULONG_PTR) {
  // The engine paints the window itself; a rendering for the container (printing, a
  // metafile) is an empty picture.
  if (draw == nullptr || bounds == nullptr) return E_INVALIDARG;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::GetExtent(DWORD, LONG, DVTARGETDEVICE*, LPSIZEL size) {
  if (size == nullptr) return E_POINTER;
  *size = m_sizeExtent;
  return S_OK;
}

// One sink at a time: a new one, or none, replaces the last.
HRESULT CKWZ_ScreenReceiver::SetAdvise(DWORD aspects, DWORD flags, IAdviseSink* sink) {
  m_spViewAdviseSink = sink;
  m_nViewAdviseAspects = sink != nullptr ? aspects : 0;
  m_nViewAdviseFlags = sink != nullptr ? flags : 0;
  return S_OK;
}

// Each of the three is optional.
HRESULT CKWZ_ScreenReceiver::GetAdvise(DWORD* aspects, DWORD* flags, IAdviseSink** sink) {
  if (aspects != nullptr) *aspects = m_nViewAdviseAspects;
  if (flags != nullptr) *flags = m_nViewAdviseFlags;
  if (sink != nullptr) {
    *sink = m_spViewAdviseSink;
    if (*sink != nullptr) (*sink)->AddRef();
  }
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::GetViewStatus(DWORD* status) {
  if (status == nullptr) return E_POINTER;
  *status = kViewStatus;
  return S_OK;
}

// IPersistStreamInit and IPersistStorage: the control keeps no persisted properties.

HRESULT CKWZ_ScreenReceiver::GetClassID(CLSID* clsid) {
  if (clsid == nullptr) return E_POINTER;
  *clsid = CLSID_KWZ_ScreenReceiver;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::IsDirty() {
  return S_FALSE;
}

HRESULT CKWZ_ScreenReceiver::InitNew() {
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::Load(IStream* stream) {
  return stream != nullptr ? S_OK : E_POINTER;
}

HRESULT CKWZ_ScreenReceiver::Save(IStream* stream, BOOL) {
  return stream != nullptr ? S_OK : E_POINTER;
}

HRESULT CKWZ_ScreenReceiver::GetSizeMax(ULARGE_INTEGER* size) {
  if (size == nullptr) return E_POINTER;
  size->QuadPart = 0;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::InitNew(IStorage* storage) {
  return storage != nullptr ? S_OK : E_POINTER;
}

HRESULT CKWZ_ScreenReceiver::Load(IStorage* storage) {
  return storage != nullptr ? S_OK : E_POINTER;
}

HRESULT CKWZ_ScreenReceiver::Save(IStorage* storage, BOOL) {
  return storage != nullptr ? S_OK : E_POINTER;
}

// A null storage is the container saying that the one it saved into stays where it is.
HRESULT CKWZ_ScreenReceiver::SaveCompleted(IStorage*) {
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::HandsOffStorage() {
  return S_OK;
}

// IOleControl

HRESULT CKWZ_ScreenReceiver::GetControlInfo(CONTROLINFO* info) {
  if (info == nullptr) return E_POINTER;
  info->cb = sizeof(CONTROLINFO);
  info->hAccel = nullptr;
  info->cAccel = 0;
  info->dwFlags = 0;
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::OnAmbientPropertyChange(DISPID) {
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::FreezeEvents(BOOL freeze) {
  // A thaw without a freeze is the container's mistake; it must not leave the count negative.
  if (freeze) {
    ++m_nFreezeEvents;
  } else if (m_nFreezeEvents > 0) {
    --m_nFreezeEvents;
  }
  return S_OK;
}

// IOleInPlaceActiveObject: the keys that the window wants reach it through its own messages.

HRESULT CKWZ_ScreenReceiver::TranslateAccelerator(LPMSG) {
  return S_FALSE;
}

HRESULT CKWZ_ScreenReceiver::OnFrameWindowActivate(BOOL) {
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::OnDocWindowActivate(BOOL) {
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) {
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::EnableModeless(BOOL) {
  return S_OK;
}

// IOleInPlaceObjectWindowless: the control always has a window, which gets its messages itself.

HRESULT CKWZ_ScreenReceiver::OnWindowMessage(UINT, WPARAM, LPARAM, LRESULT* result) {
  if (result != nullptr) *result = 0;
  return S_FALSE;
}

HRESULT CKWZ_ScreenReceiver::GetDropTarget(IDropTarget** target) {
  if (target == nullptr) return E_POINTER;
  *target = nullptr;
  return E_NOTIMPL;
}

// ISpecifyPropertyPages

HRESULT CKWZ_ScreenReceiver::GetPages(CAUUID* pages) {
  if (pages == nullptr) return E_POINTER;
  *pages = CAUUID{0, nullptr};
  return S_OK;
}

// IDataObject: the control renders no data in any format.

HRESULT CKWZ_ScreenReceiver::GetData(FORMATETC*, STGMEDIUM*) {
  return DV_E_FORMATETC;
}

HRESULT CKWZ_ScreenReceiver::GetDataHere(FORMATETC*, STGMEDIUM*) {
  return DV_E_FORMATETC;
}

HRESULT CKWZ_ScreenReceiver::QueryGetData(FORMATETC*) {
  return DV_E_FORMATETC;
}

HRESULT CKWZ_ScreenReceiver::DAdvise(FORMATETC*, DWORD, IAdviseSink*, DWORD* connection) {
  if (connection != nullptr) *connection = 0;
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT CKWZ_ScreenReceiver::DUnadvise(DWORD) {
  return OLE_E_ADVISENOTSUPPORTED;
}

HRESULT CKWZ_ScreenReceiver::EnumDAdvise(IEnumSTATDATA** advises) {
  if (advises != nullptr) *advises = nullptr;
  return OLE_E_ADVISENOTSUPPORTED;
}

// IQuickActivate

HRESULT CKWZ_ScreenReceiver::QuickActivate(QACONTAINER* container, QACONTROL* control) {
  if (container == nullptr || control == nullptr) return E_POINTER;
  if (container->cbSize < kQaContainerKnown || control->cbSize < sizeof(QACONTROL)) {
    return E_INVALIDARG;
  }
  const ULONG size = control->cbSize;
  *control = QACONTROL{};
  control->cbSize = size;
  SetClientSite(container->pClientSite);
  if (container->pUnkEventSink != nullptr) {
    GUID events{};
    CComPtr<IConnectionPoint> point;
    if (SUCCEEDED(GetGUID(GUIDKIND_DEFAULT_SOURCE_DISP_IID, &events)) &&
        SUCCEEDED(FindConnectionPoint(events, &point))) {
      point->Advise(container->pUnkEventSink, &control->dwEventCookie);
    }
  }
  GetMiscStatus(DVASPECT_CONTENT, &control->dwMiscStatus);
  GetViewStatus(&control->dwViewStatus);
  return S_OK;
}

HRESULT CKWZ_ScreenReceiver::SetContentExtent(LPSIZEL size) {
  return SetExtent(DVASPECT_CONTENT, size);
}

HRESULT CKWZ_ScreenReceiver::GetContentExtent(LPSIZEL size) {
  return GetExtent(DVASPECT_CONTENT, size);
}

// IProvideClassInfo2

HRESULT CKWZ_ScreenReceiver::GetClassInfo(ITypeInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  ITypeLib* lib = ScreenReceiverTypeLib();
  return lib != nullptr ? lib->GetTypeInfoOfGuid(CLSID_KWZ_ScreenReceiver, info) : E_OUTOFMEMORY;
}

HRESULT CKWZ_ScreenReceiver::GetGUID(DWORD kind, GUID* guid) {
  if (guid == nullptr) return E_POINTER;
  if (kind != GUIDKIND_DEFAULT_SOURCE_DISP_IID) {
    *guid = GUID_NULL;
    return E_FAIL;
  }
  *guid = DIID__IKWZ_ScreenReceiverEvents;
  return S_OK;
}

// The members that this control does not support.

HRESULT CKWZ_ScreenReceiver::SetMoniker(DWORD, IMoniker*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::GetMoniker(DWORD, DWORD, IMoniker**) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::InitFromData(IDataObject*, BOOL, DWORD) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::GetClipboardData(DWORD, IDataObject**) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::EnumVerbs(IEnumOLEVERB**) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::Update() {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::IsUpToDate() {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::GetUserType(DWORD, LPOLESTR*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::SetColorScheme(LOGPALETTE*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::GetColorSet(DWORD, LONG, void*, DVTARGETDEVICE*, HDC, LOGPALETTE**) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::Freeze(DWORD, LONG, void*, DWORD*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::Unfreeze(DWORD) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::GetRect(DWORD, LPRECTL) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::QueryHitPoint(DWORD, LPCRECT, POINT, LONG, DWORD*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::QueryHitRect(DWORD, LPCRECT, LPCRECT, LONG, DWORD*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::GetNaturalExtent(DWORD, LONG, DVTARGETDEVICE*, HDC, DVEXTENTINFO*,
                                              LPSIZEL) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::ContextSensitiveHelp(BOOL) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::ReactivateAndUndo() {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::OnMnemonic(MSG*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::GetCanonicalFormatEtc(FORMATETC*, FORMATETC*) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::SetData(FORMATETC*, STGMEDIUM*, BOOL) {
  return E_NOTIMPL;
}
HRESULT CKWZ_ScreenReceiver::EnumFormatEtc(DWORD, IEnumFORMATETC**) {
  return E_NOTIMPL;
}
