// The container's side of in-place activation: a site that hands the control its window and
// rectangle and records what the control tells it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com_object.h"
#include "platform/ocidl.h"
#include "platform/winerror.h"
#include "tests/platform/ComTestObjects.h"

namespace kwz_test {

// One thing the control told its site, and what the test's probe answered just then.
struct SiteEvent {
  std::string what;
  bool probe = false;
  bool operator==(const SiteEvent&) const = default;
};

// A client site that is also a control site; with inPlace it is also the in-place site, whose
// window is window and whose rectangle for the control is position. Container's thread only.
class TestContainerSite final : public kwz_platform::ComObject<TestContainerSite, IOleClientSite,
                                                               IOleInPlaceSite, IOleControlSite> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IOleClientSite, IID_IOleClientSite>,
                                  kwz_platform::ComEntry<IOleControlSite, IID_IOleControlSite>>;

  TestContainerSite(HWND window, RECT position, bool inPlace = true)
      : window_(window), position_(position), inPlace_(inPlace) {
    ++LiveComObjects();
  }

  void* FindInterface(REFIID iid) {
    if (!inPlace_) return nullptr;
    const bool site = IsEqualIID(iid, IID_IOleInPlaceSite) || IsEqualIID(iid, IID_IOleWindow);
    return site ? static_cast<IOleInPlaceSite*>(this) : nullptr;
  }

  // What CanInPlaceActivate answers.
  HRESULT allowActivation = S_OK;
  int activations = 0;
  int deactivations = 0;
  int shown = 0;
  // UI activation, focus and in-place deactivation, in the order told.
  std::vector<SiteEvent> events;
  std::function<bool()> probe = [] { return false; };

  // IOleClientSite
  HRESULT SaveObject() override { return E_NOTIMPL; }
  HRESULT GetMoniker(DWORD, DWORD, IMoniker**) override { return E_NOTIMPL; }
  HRESULT GetContainer(IOleContainer** container) override {
    *container = nullptr;
    return E_NOINTERFACE;
  }
  HRESULT ShowObject() override {
    ++shown;
    return S_OK;
  }
  HRESULT OnShowWindow(BOOL) override { return S_OK; }
  HRESULT RequestNewObjectLayout() override { return E_NOTIMPL; }

  // IOleInPlaceSite
  HRESULT GetWindow(HWND* window) override {
    *window = window_;
    return S_OK;
  }
  HRESULT ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
  HRESULT CanInPlaceActivate() override { return allowActivation; }
  HRESULT OnInPlaceActivate() override {
    ++activations;
    return S_OK;
  }
  HRESULT OnUIActivate() override { return Record("OnUIActivate"); }
  HRESULT GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                           LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) override {
    if (frame == nullptr || document == nullptr || position == nullptr || clip == nullptr ||
        info == nullptr || info->cb != sizeof(OLEINPLACEFRAMEINFO)) {
      return E_INVALIDARG;
    }
    *frame = nullptr;
    *document = nullptr;
    *position = position_;
    *clip = position_;
    info->hwndFrame = window_;
    return S_OK;
  }
  HRESULT Scroll(SIZE) override { return E_NOTIMPL; }
  HRESULT OnUIDeactivate(BOOL undoable) override {
    return Record(undoable ? "OnUIDeactivate(TRUE)" : "OnUIDeactivate(FALSE)");
  }
  HRESULT OnInPlaceDeactivate() override {
    ++deactivations;
    return Record("OnInPlaceDeactivate");
  }
  HRESULT DiscardUndoState() override { return E_NOTIMPL; }
  HRESULT DeactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

  // IOleControlSite
  HRESULT OnControlInfoChanged() override { return S_OK; }
  HRESULT LockInPlaceActive(BOOL) override { return E_NOTIMPL; }
  HRESULT GetExtendedControl(IDispatch** extended) override {
    *extended = nullptr;
    return E_NOTIMPL;
  }
  HRESULT TransformCoords(POINTL*, POINTF*, DWORD) override { return E_NOTIMPL; }
  HRESULT TranslateAccelerator(MSG*, DWORD) override { return S_FALSE; }
  HRESULT OnFocus(BOOL gotFocus) override {
    return Record(gotFocus ? "OnFocus(TRUE)" : "OnFocus(FALSE)");
  }
  HRESULT ShowPropertyFrame() override { return E_NOTIMPL; }

 private:
  ~TestContainerSite() override { --LiveComObjects(); }

  HRESULT Record(const char* what) {
    events.push_back({what, probe()});
    return S_OK;
  }

  const HWND window_;
  const RECT position_;
  const bool inPlace_;
};

}  // namespace kwz_test
