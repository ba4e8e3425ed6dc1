// Internal to platform/: what a GDI backend supplies. The GDI calls keep the window and DC
// records and do all pixel work themselves on 32-bit BGRX images; a backend only gives each
// window its native form, the back image a DC paints into, and a way to show it.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/wintypes.h"

namespace kwz_platform {

// 32-bit BGRX pixels, top row first; stride in bytes.
struct PixelImage {
  std::uint8_t* bits = nullptr;
  int width = 0;
  int height = 0;
  std::ptrdiff_t stride = 0;
};

struct DibView;

// Where a 1:1 paint puts a DIB's rows: the image's rectangle dest shows on its top row the DIB's
// memory row rowAtTop (counted from the start of the view's bits), on each row below the next
// (rowStep 1, a top-down DIB) or the previous one (rowStep -1, bottom-up), from column srcLeft.
struct DibPlacement {
  RECT dest{0, 0, 0, 0};
  int srcLeft = 0;
  int rowAtTop = 0;
  int rowStep = 1;
};

// The back image of one DC. Got and presented on the thread that called GetDC.
class PaintTarget {
 public:
  virtual ~PaintTarget() = default;
  virtual PixelImage& Image() = 0;
  // Shows the painted parts of the image (each already clipped to it) in the window. Afterwards
  // the image may hold anything.
  virtual void Present(const std::vector<RECT>& dirty) = 0;
  // Reads what the window shows in r (clipped to the image) into the same place of the image:
  // DrawIcon needs what lies under a cursor that nothing in this DC painted yet.
  virtual void Underlay(const RECT& r) = 0;
  // Shows a 1:1 paint of a 32-bit DIB in the window with the display reading the DIB's own
  // memory, when the backend can; it presents *pending (what this DC painted before, which lies
  // under the DIB) first and clears it. The DIB is read before this returns, and the image is
  // left as it was. False, with nothing done: paint through the image.
  virtual bool ShowDib(const DibView&, const DibPlacement&, std::vector<RECT>*) { return false; }
};

// The pointer shapes a window class can name.
enum class NativeCursor { kDefault, kArrow, kHand };

// What a new native window looks like. The title, class name and icon concern top-level
// windows only: they are how the desktop names and groups the program's windows.
struct NativeWindowSpec {
  class NativeWindow* parent = nullptr;  // null for a top-level window
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  bool visible = false;
  std::u16string title;
  std::u16string className;
  // 0xRRGGBB that uncovered or newly grown parts show before anything is painted there: the
  // class background. None: they keep whatever was there, as with a class without a brush.
  std::optional<std::uint32_t> background;
  NativeCursor cursor = NativeCursor::kDefault;
  int iconWidth = 0;
  int iconHeight = 0;
  std::vector<std::uint32_t> iconArgb;  // top row first
};

// The native side of one window. Lives as long as the window's record, which DCs may keep past
// DestroyWindow; Destroy is called once, under the record's lock, as are Resize, Move and Show.
class NativeWindow {
 public:
  virtual ~NativeWindow() = default;
  virtual void Destroy() = 0;
  virtual void Move(int x, int y) = 0;
  virtual void Resize(int width, int height) = 0;
  virtual void Show(bool visible) = 0;
  // A back image of width x height for a GetDC on the calling thread; null when none can be had.
  virtual std::unique_ptr<PaintTarget> BeginPaint(int width, int height) = 0;
  // Takes back a target after ReleaseDC so its memory serves the next frame.
  virtual void Recycle(std::unique_ptr<PaintTarget> target) = 0;
  virtual bool ReadPixels(std::vector<std::uint32_t>* pixels, int* width, int* height) = 0;
  // Gives the window the display's keyboard focus if it is shown; on the window's thread.
  virtual void TakeFocus() {}
  virtual void SetTitle(const std::u16string&) {}
  // Where the window's top-left corner is on the screen as the display shows it (after a window
  // manager framed or moved it, inside another program's window). False when the backend has
  // no such knowledge: the positions the program asked for tell then.
  virtual bool ScreenOrigin(POINT*) { return false; }
};

// The input of the windows that one thread owns, read on that thread as messages.
class NativeEventSource {
 public:
  virtual ~NativeEventSource() = default;
  // Readable when events may be waiting.
  virtual int PollDescriptor() const = 0;
  // A second descriptor to wait on, or -1: where the window manager's requests arrive.
  virtual int ManagerPollDescriptor() const { return -1; }
  virtual void Watch(NativeWindow& window, HWND handle) = 0;
  virtual void Unwatch(HWND handle) = 0;
  // Appends what has arrived, translated into window messages, in order. Besides input, a
  // source reports the display's own changes as messages the queue acts on: WM_SETFOCUS and
  // WM_KILLFOCUS, WM_SIZE (the display resized a top-level or foreign window: lParam the new
  // client size) and WM_PAINT (a part was uncovered: wParam MAKELONG(left, top), lParam
  // MAKELONG(width, height)).
  virtual void Drain(std::vector<MSG>* messages) = 0;
};

class GdiBackend {
 public:
  virtual ~GdiBackend() = default;
  virtual GdiBackendKind Kind() const = 0;
  virtual std::unique_ptr<NativeWindow> CreateNativeWindow(const NativeWindowSpec& spec) = 0;
  // The native side of another program's window, which ours may be made children of; null
  // when id names no window there (or the backend has no foreign windows). bounds gets its
  // size. The foreign window itself is never moved, shown or destroyed through it.
  virtual std::unique_ptr<NativeWindow> WrapForeignWindow(std::uint64_t, RECT*) { return nullptr; }
  // The current size of each display, primary first.
  virtual std::vector<SIZE> Displays() = 0;
  // Copies what the primary display shows from (x, y) on into image; the parts of image that lie
  // beyond the display keep what they held. False when the display cannot be read.
  virtual bool ReadScreen(int x, int y, PixelImage& image) = 0;
  // Where the pointer is on the primary display; false when it cannot be told.
  virtual bool CursorPosition(POINT* where) = 0;
  // A source for the calling thread, or null when the backend's windows get no native input.
  virtual std::unique_ptr<NativeEventSource> CreateEventSource() { return nullptr; }
};

// The backend that new windows get (chosen on first use).
GdiBackend& ActiveGdiBackend();

std::unique_ptr<GdiBackend> MakeHeadlessBackend();
// The headless windows' input: what tests inject for them.
std::unique_ptr<NativeEventSource> MakeHeadlessEventSource();
// Null when the display cannot be opened or offers no 24-bit TrueColor visual.
std::unique_ptr<GdiBackend> MakeX11Backend(const char* displayName);

void SetLastPresentPath(GdiPresentPath path);
// The same within one DC, except that a picture shown from the bitmap in place stays what the DC
// reports when the cursor over it goes another way.
void NotePresentPath(GdiPresentPath path);

}  // namespace kwz_platform
