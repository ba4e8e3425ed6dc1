#include "apps/kwz-viewer/ControlSite.h"

#include "platform/winerror.h"

namespace kwz_viewer {

bool ControlSite::Activate(IUnknown*, HWND, const RECT&, CallError* error) {
  *error = {E_NOTIMPL, "in-place activation is not available in this build"};
  return false;
}

void ControlSite::Resize(const RECT&) {}

void ControlSite::Deactivate() {
  if (control_ != nullptr) control_->Release();
  control_ = nullptr;
  window_ = nullptr;
}

}  // namespace kwz_viewer
