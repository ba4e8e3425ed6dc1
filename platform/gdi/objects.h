// Internal to platform/: the records behind HWND, HDC, HCURSOR and HBITMAP values. Each kind has
// its own table and its own range of values (windows from 0x10000, DCs, cursors and bitmaps
// from 4, 8 and 12 GiB), never reused, so a stale or foreign handle is simply not found.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/winuser.h"

#include "gdi/backend.h"

namespace kwz_platform {

template <typename T>
class ObjectTable {
 public:
  explicit ObjectTable(std::uintptr_t base) : next_(base) {}

  std::uintptr_t Insert(std::shared_ptr<T> object) {
    std::lock_guard<std::mutex> guard(lock_);
    const std::uintptr_t value = next_;
    next_ += 4;
    objects_.emplace(value, std::move(object));
    return value;
  }
  std::shared_ptr<T> Find(const void* handle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    return it == objects_.end() ? nullptr : it->second;
  }
  std::vector<std::shared_ptr<T>> All() {
    std::lock_guard<std::mutex> guard(lock_);
    std::vector<std::shared_ptr<T>> all;
    all.reserve(objects_.size());
    for (const auto& [value, object] : objects_) all.push_back(object);
    return all;
  }
  // The removed object is handed back so that it dies outside the table lock.
  std::shared_ptr<T> Remove(const void* handle) {
    std::lock_guard<std::mutex> guard(lock_);
    auto it = objects_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (it == objects_.end()) return nullptr;
    std::shared_ptr<T> object = std::move(it->second);
    objects_.erase(it);
    return object;
  }

 private:
  std::mutex lock_;
  std::unordered_map<std::uintptr_t, std::shared_ptr<T>> objects_;  // guarded by lock_
  std::uintptr_t next_;                                             // guarded by lock_
};

class ThreadQueue;

struct WindowRecord {
  HWND handle = nullptr;
  WNDPROC proc = nullptr;
  // The creating thread's queue: its messages are run there.
  std::shared_ptr<ThreadQueue> queue;
  GdiBackend* backend = nullptr;
  DWORD style = 0;
  UINT classStyle = 0;  // CS_DBLCLKS decides whether second presses are double-clicks
  // The class brush that WM_ERASEBKGND fills with: a system colour index plus one, or null.
  HBRUSH classBackground = nullptr;
  HWND parent = nullptr;
  std::mutex lock;  // guards the fields below
  std::vector<HWND> children;
  int x = 0;  // relative to the parent's client area, or the screen
  int y = 0;
  int width = 0;
  int height = 0;
  bool visible = false;  // WS_VISIBLE now: ShowWindow and SetWindowPos change it
  std::u16string title;
  // The part waiting for WM_PAINT, and whether BeginPaint erases it first.
  bool updatePending = false;
  bool updateErase = false;
  RECT update{};
  bool destroyed = false;
  bool destroying = false;
  std::shared_ptr<NativeWindow> native;  // DCs keep it alive past DestroyWindow
};

struct BitmapObject;

struct DeviceContext {
  HWND window = nullptr;       // null for the display, screen and memory DCs
  bool screen = false;         // GetDC(NULL): BitBlt reads the display through it
  bool memory = false;         // CreateCompatibleDC: BitBlt writes into its selected DIB section
  HGDIOBJ selected = nullptr;  // memory DCs: the bitmap selected
  std::shared_ptr<BitmapObject> selectedBitmap;  // keeps it alive while selected
  std::shared_ptr<NativeWindow> native;
  std::unique_ptr<PaintTarget> target;  // null for the display DC: it paints nowhere
  int stretchMode = BLACKONWHITE;
  // The painted parts of the back image, shown at ReleaseDC. Only these hold the window's
  // picture: the rest of a recycled image is stale.
  std::vector<RECT> dirty;
  bool shownInPlace = false;  // a DIB went to the window directly, not through the image
};

// The colour of a class brush (a system colour index plus one), or none for brushes that are
// not system colours.
std::optional<std::uint32_t> ClassBrushColour(HBRUSH brush);
// Fills r of a window DC with a colour (0xRRGGBB); for WM_ERASEBKGND.
bool FillDc(HDC dc, const RECT& r, std::uint32_t colour);

// Records a painted rectangle. Past a handful the ones so far are shown at once, to keep the
// list short: GDI paints immediately anyway.
void AddDirty(DeviceContext& context, const RECT& painted);
// Whether every pixel of r is painted in this DC already.
bool CoveredByDirty(const DeviceContext& context, const RECT& r);

struct CursorImage {
  int width = 0;
  int height = 0;
  DWORD hotX = 0;
  DWORD hotY = 0;
  std::vector<std::uint32_t> argb;  // alpha 0 where the mask is transparent
};

struct BitmapObject {
  int width = 0;
  int height = 0;
  int bitCount = 0;
  // DIB sections only: 32-bit rows, top row first when topDown, else bottom row first.
  bool topDown = false;
  std::vector<std::uint8_t> bits;
};

ObjectTable<WindowRecord>& Windows();
ObjectTable<DeviceContext>& DeviceContexts();
ObjectTable<CursorImage>& Cursors();
ObjectTable<BitmapObject>& Bitmaps();

}  // namespace kwz_platform
