// Backend choice and the display enumeration (platform/gdi.h, platform/gdi_testing.h).
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "platform/debug.h"
#include "platform/widestring.h"

#include "gdi/backend.h"

namespace kwz_platform {
namespace {

struct BackendChoice {
  std::mutex lock;
  GdiBackend* active = nullptr;  // guarded by lock
  // Backends are never destroyed: windows made under one keep using it.
  std::vector<std::unique_ptr<GdiBackend>> all;  // guarded by lock
};

BackendChoice& Choice() {
  static auto* choice = new BackendChoice;  // never destroyed
  return *choice;
}

GdiBackend* Adopt(BackendChoice& choice, std::unique_ptr<GdiBackend> backend) {
  choice.all.push_back(std::move(backend));
  choice.active = choice.all.back().get();
  return choice.active;
}

void ChooseFromEnvironment(BackendChoice& choice) {
  const char* wanted = std::getenv("KWZ_GDI_BACKEND");
  const bool headless = wanted != nullptr && std::strcmp(wanted, "headless") == 0;
  const bool x11 = wanted != nullptr && std::strcmp(wanted, "x11") == 0;
  if (!headless && (x11 || std::getenv("DISPLAY") != nullptr)) {
    if (auto backend = MakeX11Backend(nullptr)) {
      Adopt(choice, std::move(backend));
      return;
    }
    if (x11) OutputDebugStringA("KWZ GDI: no usable X display, painting headless\n");
  }
  Adopt(choice, MakeHeadlessBackend());
}

thread_local GdiPresentPath lastPresentPath = GdiPresentPath::kNone;

void CopyName(WCHAR* dst, size_t capacity, const std::u16string& name) {
  const size_t n = std::min(name.size(), capacity - 1);
  std::memcpy(dst, name.data(), n * sizeof(WCHAR));
  dst[n] = 0;
}

std::u16string DeviceName(size_t index) {
  return Widen(("\\\\.\\DISPLAY" + std::to_string(index + 1)).c_str());
}

// The display that a device name names; -1 for none.
int DisplayIndex(LPCWSTR deviceName, size_t count) {
  if (deviceName == nullptr) return count > 0 ? 0 : -1;
  const std::u16string name(deviceName, WideLength(deviceName));
  for (size_t i = 0; i < count; ++i) {
    if (name == DeviceName(i)) return static_cast<int>(i);
  }
  return -1;
}

}  // namespace

GdiBackend& ActiveGdiBackend() {
  BackendChoice& choice = Choice();
  std::lock_guard<std::mutex> guard(choice.lock);
  if (choice.active == nullptr) ChooseFromEnvironment(choice);
  return *choice.active;
}

bool SelectGdiBackend(GdiBackendKind kind, const char* displayName) {
  auto backend = kind == GdiBackendKind::kX11 ? MakeX11Backend(displayName) : MakeHeadlessBackend();
  if (!backend) return false;
  BackendChoice& choice = Choice();
  std::lock_guard<std::mutex> guard(choice.lock);
  Adopt(choice, std::move(backend));
  return true;
}

GdiBackendKind CurrentGdiBackend() {
  return ActiveGdiBackend().Kind();
}

void SetLastPresentPath(GdiPresentPath path) {
  lastPresentPath = path;
}
void NotePresentPath(GdiPresentPath path) {
  if (lastPresentPath != GdiPresentPath::kSharedPixmap) lastPresentPath = path;
}
GdiPresentPath LastPresentPathForTesting() {
  return lastPresentPath;
}

}  // namespace kwz_platform

using namespace kwz_platform;

BOOL EnumDisplayDevicesW(LPCWSTR device, DWORD index, DISPLAY_DEVICEW* displayDevice, DWORD) {
  if (displayDevice == nullptr || displayDevice->cb < sizeof(DISPLAY_DEVICEW) ||
      device != nullptr) {
    return FALSE;
  }
  const std::vector<SIZE> displays = ActiveGdiBackend().Displays();
  if (index >= displays.size()) return FALSE;
  std::memset(reinterpret_cast<char*>(displayDevice) + sizeof(DWORD), 0,
              sizeof(DISPLAY_DEVICEW) - sizeof(DWORD));
  CopyName(displayDevice->DeviceName, 32, DeviceName(index));
  CopyName(displayDevice->DeviceString, 128,
           CurrentGdiBackend() == GdiBackendKind::kX11 ? u"X screen" : u"Virtual display");
  displayDevice->StateFlags =
      DISPLAY_DEVICE_ATTACHED_TO_DESKTOP | (index == 0 ? DISPLAY_DEVICE_PRIMARY_DEVICE : 0u);
  return TRUE;
}

BOOL EnumDisplaySettingsW(LPCWSTR deviceName, DWORD modeNum, DEVMODEW* devMode) {
  if (devMode == nullptr) return FALSE;
  if (modeNum != ENUM_CURRENT_SETTINGS && modeNum != ENUM_REGISTRY_SETTINGS && modeNum != 0) {
    return FALSE;
  }
  const std::vector<SIZE> displays = ActiveGdiBackend().Displays();
  const int index = DisplayIndex(deviceName, displays.size());
  if (index < 0) return FALSE;
  std::memset(devMode, 0, sizeof(DEVMODEW));
  CopyName(devMode->dmDeviceName, 32, DeviceName(static_cast<size_t>(index)));
  devMode->dmSize = sizeof(DEVMODEW);
  devMode->dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT | DM_DISPLAYFREQUENCY;
  devMode->dmBitsPerPel = 32;
  devMode->dmPelsWidth = static_cast<DWORD>(displays[static_cast<size_t>(index)].cx);
  devMode->dmPelsHeight = static_cast<DWORD>(displays[static_cast<size_t>(index)].cy);
  devMode->dmDisplayFrequency = 60;
  return TRUE;
}
