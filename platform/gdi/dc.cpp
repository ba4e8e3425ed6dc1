// Device contexts and the DIB painting calls (platform/gdi.h).
#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "gdi/blit.h"
#include "gdi/objects.h"

namespace kwz_platform {

ObjectTable<DeviceContext>& DeviceContexts() {
  static auto* table = new ObjectTable<DeviceContext>(0x100000000);  // never destroyed
  return *table;
}

namespace {

std::shared_ptr<DeviceContext> FindDc(HDC dc) {
  auto context = DeviceContexts().Find(dc);
  if (!context) SetLastError(ERROR_INVALID_HANDLE);
  return context;
}

SIZE PrimaryDisplay() {
  const std::vector<SIZE> displays = ActiveGdiBackend().Displays();
  return displays.empty() ? SIZE{0, 0} : displays.front();
}

bool Contains(const RECT& outer, const RECT& inner) {
  return outer.left <= inner.left && outer.top <= inner.top && outer.right >= inner.right &&
         outer.bottom >= inner.bottom;
}

constexpr size_t kMaxDirtyRects = 16;

struct PaintObserverSlot {
  std::mutex lock;
  std::shared_ptr<const PaintObserver> observer;  // guarded by lock
};

PaintObserverSlot& ObserverSlot() {
  static auto* slot = new PaintObserverSlot;  // never destroyed: painting threads may outlive exit
  return *slot;
}

// The observer runs outside the slot's lock, so it may paint or install another one.
void NotifyPaintObserver(HWND window, bool painted) {
  std::shared_ptr<const PaintObserver> observer;
  {
    PaintObserverSlot& slot = ObserverSlot();
    std::lock_guard<std::mutex> guard(slot.lock);
    observer = slot.observer;
  }
  if (observer && *observer) (*observer)(window, painted);
}

}  // namespace

PaintObserver SetPaintObserverForTesting(PaintObserver observer) {
  PaintObserverSlot& slot = ObserverSlot();
  auto next = std::make_shared<const PaintObserver>(std::move(observer));
  std::lock_guard<std::mutex> guard(slot.lock);
  std::shared_ptr<const PaintObserver> previous = std::exchange(slot.observer, std::move(next));
  return previous ? *previous : PaintObserver();
}

void AddDirty(DeviceContext& context, const RECT& painted) {
  if (IsRectEmpty(&painted)) return;
  auto& dirty = context.dirty;
  for (const RECT& r : dirty) {
    if (Contains(r, painted)) return;
  }
  dirty.erase(std::remove_if(dirty.begin(), dirty.end(),
                             [&](const RECT& r) { return Contains(painted, r); }),
              dirty.end());
  if (dirty.size() == kMaxDirtyRects) {
    context.target->Present(dirty);
    dirty.clear();
  }
  dirty.push_back(painted);
}

bool CoveredByDirty(const DeviceContext& context, const RECT& r) {
  for (const RECT& d : context.dirty) {
    if (Contains(d, r)) return true;
  }
  return false;
}

std::optional<std::uint32_t> ClassBrushColour(HBRUSH brush) {
  // The system colours that window classes use as backgrounds, as a default desktop has them.
  static constexpr struct {
    int index;
    std::uint32_t rgb;
  } kSystemColours[] = {
      {1, 0x000000},   // COLOR_BACKGROUND
      {5, 0xFFFFFF},   // COLOR_WINDOW
      {8, 0x000000},   // COLOR_WINDOWTEXT
      {12, 0xABABAB},  // COLOR_APPWORKSPACE
      {15, 0xF0F0F0},  // COLOR_BTNFACE
  };
  const auto value = reinterpret_cast<std::uintptr_t>(brush);
  for (const auto& colour : kSystemColours) {
    if (value == static_cast<std::uintptr_t>(colour.index) + 1) return colour.rgb;
  }
  return std::nullopt;
}

bool FillDc(HDC dc, const RECT& r, std::uint32_t colour) {
  auto context = FindDc(dc);
  if (!context || !context->target) return false;
  PixelImage& image = context->target->Image();
  const RECT clipped{std::max<LONG>(r.left, 0), std::max<LONG>(r.top, 0),
                     std::min<LONG>(r.right, image.width), std::min<LONG>(r.bottom, image.height)};
  if (IsRectEmpty(&clipped)) return true;
  for (LONG y = clipped.top; y < clipped.bottom; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(image.bits + y * image.stride);
    std::fill(row + clipped.left, row + clipped.right, 0xFF000000u | colour);
  }
  AddDirty(*context, clipped);
  return true;
}

}  // namespace kwz_platform

using namespace kwz_platform;

HDC GetDC(HWND window) {
  if (window == nullptr) {
    auto context = std::make_shared<DeviceContext>();
    context->screen = true;
    return reinterpret_cast<HDC>(DeviceContexts().Insert(std::move(context)));
  }
  auto record = Windows().Find(window);
  if (!record) {
    SetLastError(ERROR_INVALID_WINDOW_HANDLE);
    return nullptr;
  }
  auto context = std::make_shared<DeviceContext>();
  int width = 0, height = 0;
  {
    std::lock_guard<std::mutex> guard(record->lock);
    if (record->destroyed) return nullptr;
    context->native = record->native;
    width = record->width;
    height = record->height;
  }
  SetLastPresentPath(GdiPresentPath::kNone);
  // The back image is made outside the window's lock: it may wait for the server.
  context->target = context->native->BeginPaint(width, height);
  if (!context->target) return nullptr;
  context->window = window;
  return reinterpret_cast<HDC>(DeviceContexts().Insert(std::move(context)));
}

int ReleaseDC(HWND window, HDC dc) {
  auto context = DeviceContexts().Find(dc);
  if (context && context->screen && window == nullptr) return DeviceContexts().Remove(dc) ? 1 : 0;
  if (!context || context->window == nullptr || context->window != window) return 0;
  context = DeviceContexts().Remove(dc);
  if (!context) return 0;  // released by another thread in between
  const bool painted = !context->dirty.empty() || context->shownInPlace;
  if (painted) context->target->Present(context->dirty);
  context->native->Recycle(std::move(context->target));
  NotifyPaintObserver(window, painted);
  return 1;
}

HDC CreateDCW(LPCWSTR driver, LPCWSTR, LPCWSTR, const void*) {
  static const WCHAR kDisplay[] = u"DISPLAY";
  if (driver == nullptr || std::char_traits<WCHAR>::compare(driver, kDisplay, 8) != 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  return reinterpret_cast<HDC>(DeviceContexts().Insert(std::make_shared<DeviceContext>()));
}

BOOL DeleteDC(HDC dc) {
  auto context = DeviceContexts().Find(dc);
  // DCs from GetDC go back with ReleaseDC.
  if (!context || context->window != nullptr || context->screen) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  return DeviceContexts().Remove(dc) ? TRUE : FALSE;
}

int GetDeviceCaps(HDC dc, int index) {
  if (!FindDc(dc)) return 0;
  switch (index) {
    case HORZRES:
      return PrimaryDisplay().cx;
    case VERTRES:
      return PrimaryDisplay().cy;
    case BITSPIXEL:
      return 32;
    case PLANES:
      return 1;
    default:
      return 0;
  }
}

int SetStretchBltMode(HDC dc, int mode) {
  auto context = FindDc(dc);
  if (!context) return 0;
  if (mode < BLACKONWHITE || mode > HALFTONE) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const int previous = context->stretchMode;
  context->stretchMode = mode;
  return previous;
}

int SetDIBitsToDevice(HDC dc, int xDest, int yDest, DWORD width, DWORD height, int xSrc, int ySrc,
                      UINT startScan, UINT scanLines, const void* bits, const BITMAPINFO* bmi,
                      UINT colorUse) {
  auto context = FindDc(dc);
  if (!context) return 0;
  DibView dib;
  if (scanLines == 0 || !DescribeDib(bmi, bits, colorUse, startScan, scanLines, &dib)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (context->target) {
    DibPlacement placement;
    if (dib.bitCount == 32 &&
        PlaceDib(dib, xDest, yDest, width, height, xSrc, ySrc, context->target->Image(),
                 &placement) &&
        context->target->ShowDib(dib, placement, &context->dirty)) {
      context->shownInPlace = true;
      return dib.scanCount;
    }
    RECT painted{0, 0, 0, 0};
    PaintDib(dib, xDest, yDest, width, height, xSrc, ySrc, context->target->Image(), &painted);
    AddDirty(*context, painted);
  }
  return dib.scanCount;
}

int StretchDIBits(HDC dc, int xDest, int yDest, int destWidth, int destHeight, int xSrc, int ySrc,
                  int srcWidth, int srcHeight, const void* bits, const BITMAPINFO* bmi,
                  UINT colorUse, DWORD rop) {
  auto context = FindDc(dc);
  if (!context) return 0;
  DibView dib;
  if (rop != SRCCOPY || destWidth <= 0 || destHeight <= 0 || srcWidth <= 0 || srcHeight <= 0 ||
      bmi == nullptr || !DescribeDib(bmi, bits, colorUse, 0, ~0u, &dib)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  if (context->target) {
    RECT painted{0, 0, 0, 0};
    StretchDib(dib, xDest, yDest, destWidth, destHeight, xSrc, ySrc, srcWidth, srcHeight,
               context->stretchMode == HALFTONE, context->target->Image(), &painted);
    AddDirty(*context, painted);
  }
  return srcHeight;
}
