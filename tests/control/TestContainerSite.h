// The container's side of in-place activation: a site that hands the control its window and
// rectangle and records what the control tells it.
#pragma once

#include "platform/com_object.h"
#include "platform/ocidl.h"
#include "platform/winerror.h"
#include "tests/platform/ComTestObjects.h"

namespace kwz_test {

// A client site; with inPlace it is also the in-place site, whose window is window and whose
// rectangle for the control is position. Container's thread only.
class TestContainerSite final
    : public kwz_platform::ComObject<TestContainerSite, IOleClientSite, IOleInPlaceSite> {
 public:
  using Interfaces =
      kwz_platform::ComInterfaces<kwz_platform::ComEntry<IOleClientSite, IID_IOleClientSite>>;

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
  HRESULT OnUIActivate() override { return S_OK; }
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
  HRESULT OnUIDeactivate(BOOL) override { return S_OK; }
  HRESULT OnInPlaceDeactivate() override {
    ++deactivations;
    return S_OK;
  }
  HRESULT DiscardUndoState() override { return E_NOTIMPL; }
  HRESULT DeactivateAndUndo() override { return E_NOTIMPL; }
  HRESULT OnPosRectChange(LPCRECT) override { return E_NOTIMPL; }

 private:
  ~TestContainerSite() override { --LiveComObjects(); }

  const HWND window_;
  const RECT position_;
  const bool inPlace_;
};

}  // namespace kwz_test
