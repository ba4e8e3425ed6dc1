#include "apps/kwz-viewer/ControlSite.h"

#include "platform/com_object.h"
#include "platform/ocidl.h"
#include "platform/winerror.h"

namespace kwz_viewer {

// The container's side of in-place activation: hands the control its parent window and
// rectangle, and keeps what the control says of its UI activation and focus; everything a
// document container would add (menus, borders, undo, property frames, extended controls) is
// declined.
class ControlSite::Site final
    : public kwz_platform::ComObject<Site, IOleClientSite, IOleInPlaceSite, IOleControlSite> {
 public:
  using Interfaces = kwz_platform::ComInterfaces<
      kwz_platform::ComEntry<IOleClientSite, IID_IOleClientSite>,
      kwz_platform::ComEntry<IOleInPlaceSite, IID_IOleInPlaceSite, IID_IOleWindow>,
      kwz_platform::ComEntry<IOleControlSite, IID_IOleControlSite>>;

  Site(HWND parent, const RECT& rect) : parent_(parent), rect_(rect) {}

  void SetRect(const RECT& rect) { rect_ = rect; }
  bool UIActive() const { return uiActive_; }
  bool Focused() const { return focused_; }

  // IOleClientSite
  HRESULT SaveObject() override { return E_NOTIMPL; }
  HRESULT GetMoniker(DWORD, DWORD, IMoniker** moniker) override {
    if (moniker != nullptr) *moniker = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetContainer(IOleContainer** container) override {
    if (container != nullptr) *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT ShowObject() override { return S_OK; }
  HRESULT OnShowWindow(BOOL) override { return S_OK; }
  HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT GetWindow(HWND* window) override {
    if (window == nullptr) return E_POINTER;
    *window = parent_;
    return S_OK;
  }
  HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT CanInPlaceActivate() override { return S_OK; }
  HRESULT OnInPlaceActivate() override { return S_OK; }
  HRESULT OnUIActivate() override {
    uiActive_ = true;
    return S_OK;
  }
  HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                           LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
        info == nullptr) {
      return E_POINTER;
    }
    *frame = nullptr;
    *document = nullptr;
    *position = rect_;
    *clip = rect_;
    info->fMDIApp = FALSE;
    info->hwndFrame = parent_;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
  }
  HRESULT Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT OnUIDeactivate(BOOL) override {
    uiActive_ = false;
    return S_OK;
  }
  HRESULT OnInPlaceDeactivate() override { return S_OK; }
  HRESULT DiscardUndoState() override { return E_NOTIMPL; }
  HRESULT DeactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

  // IOleControlSite. The viewer has no keyboard interface of its own: it has no mnemonics to
  // reread, takes no accelerators, and deactivates the control only when it ends.
  HRESULT OnControlInfoChanged() override { return S_OK; }
  HRESULT LockInPlaceActive(BOOL) override { return E_NOTIMPL; }
  HRESULT GetExtendedControl(IDispatch** extended) override {
    if (extended == nullptr) return E_POINTER;
    *extended = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  HRESULT OnFocus(BOOL gotFocus) override {
    focused_ = gotFocus != FALSE;
    return S_OK;
  }
  HRESULT ShowPropertyFrame() override { return E_NOTIMPL; }

 private:
  ~Site() override = default;

  const HWND parent_;
  RECT rect_;
  bool uiActive_ = false;
  bool focused_ = false;
};

bool ControlSite::Activate(IUnknown* control, HWND parent, const RECT& rect, CallError* error) {
  Deactivate();
  HRESULT hr = control->QueryInterface(IID_IOleObject, reinterpret_cast<void**>(&object_));
  if (FAILED(hr)) {
    *error = {hr, "the control cannot be embedded (no IOleObject)"};
    return false;
  }
  site_ = new Site(parent, rect);
  // A control that asks for its site first gets it before anything else, as it reads the
  // container's ambient state at that point.
  DWORD misc = 0;
  object_->GetMiscStatus(DVASPECT_CONTENT, &misc);
  if ((misc & OLEMISC_SETCLIENTSITEFIRST) != 0) object_->SetClientSite(site_);
  RECT position = rect;
  hr = object_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_, 0, parent, &position);
  if (SUCCEEDED(hr)) {
    hr = object_->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&inPlace_));
  }
  if (SUCCEEDED(hr)) hr = inPlace_->GetWindow(&window_);
  if (FAILED(hr)) {
    Deactivate();
    *error = {hr, "the control cannot be activated in place"};
    return false;
  }
  return true;
}

bool ControlSite::ControlUIActive() const {
  return site_ != nullptr && site_->UIActive();
}

bool ControlSite::ControlHasFocus() const {
  return site_ != nullptr && site_->Focused();
}

void ControlSite::Resize(const RECT& rect) {
  if (site_ != nullptr) site_->SetRect(rect);
  if (inPlace_ != nullptr) inPlace_->SetObjectRects(&rect, &rect);
}

void ControlSite::Deactivate() {
  if (inPlace_ != nullptr) {
    inPlace_->InPlaceDeactivate();
    inPlace_->Release();
    inPlace_ = nullptr;
  }
  if (object_ != nullptr) {
    object_->Close(OLECLOSE_NOSAVE);
    object_->SetClientSite(nullptr);
    object_->Release();
    object_ = nullptr;
  }
  if (site_ != nullptr) {
    site_->Release();
    site_ = nullptr;
  }
  window_ = nullptr;
}

}  // namespace kwz_viewer
