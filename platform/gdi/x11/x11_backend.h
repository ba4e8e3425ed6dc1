// Internal to the X11 backend's sources (never included elsewhere: it brings in Xlib).
//
// Windows are created, moved and read through one owner connection behind a lock; each thread
// that paints has a display connection of its own (PaintConnection), so the engine's thread
// never waits for the window thread's requests. Our connections' errors are expected (a window
// destroyed while a paint is in flight, an MIT-SHM attach the server refuses) and are counted,
// not fatal; errors on other connections of the process go to the handler installed before ours.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XShm.h>
#include <X11/extensions/Xrender.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "gdi/backend.h"

namespace kwz_platform {

class X11Backend;
class X11Window;

// Errors raised on the calling thread's X requests since the count was last taken.
int TakeXErrors();
// Opens a display connection whose errors our handler absorbs; null when unreachable.
Display* OpenOurDisplay(const char* name);
void CloseOurDisplay(Display* display);

// Whether an image is laid out as our BGRX back images are.
bool IsBgrxImage(const XImage* image);
// Copies r of a ZPixmap image of any 24-bit TrueColor layout into BGRX pixels (0xFFRRGGBB).
void ImageToBgrx(XImage* image, int left, int top, int width, int height, std::uint8_t* dst,
                 std::ptrdiff_t dstStride);

// One thread's connection and the images it keeps per window between frames.
class PaintConnection {
 public:
  PaintConnection(X11Backend* backend, Display* display, Visual* visual);
  ~PaintConnection();

  // The calling thread's connection to the backend's display, opened on first use.
  static PaintConnection* ForThisThread(X11Backend* backend);

  std::unique_ptr<PaintTarget> BeginPaint(const X11Window& window, int width, int height);
  void Recycle(std::unique_ptr<PaintTarget> target);
  // Waits until the server has processed every request sent so far.
  void Sync();
  // Events read but not taken, after a round trip.
  int PendingEvents();

  struct Slot;
  struct Entry;
  void Put(Entry& entry, Slot& slot, const RECT& r);
  void ReadUnder(Entry& entry, Slot& slot, const RECT& r);
  bool ShowDib(Entry& entry, Slot& slot, const DibView& dib, const DibPlacement& placement,
               std::vector<RECT>* pending);
  // Copies into the window what was composited into its memory since the last copy.
  void CopyOwed(Entry& entry);

 private:
  struct SharedSource;
  // A picture over the DIB's rows where they lie, its segment attached on first use; None when
  // the DIB is not in a segment of ours or the server refuses it.
  SharedSource* SourceOf(const DibView& dib);
  void DropSources(bool all);
  Picture MemoryPicture(Entry& entry);
  void DrainCompletions();
  void WaitIdle(Slot& slot);
  bool MakeImage(Slot& slot, int width, int height);
  void FreeImage(Slot& slot);
  void FreeEntry(Entry& entry);
  // Whether a new memory was made (and made the background).
  bool SizeMemory(Entry& entry, int width, int height);
  void PurgeDeadWindows();

  X11Backend* backend_;
  Display* display_;
  Visual* visual_;
  bool shmAvailable_;
  // The server can composite from pixmaps over our segments into a window's memory.
  bool directAvailable_ = false;
  XRenderPictFormat* sourceFormat_ = nullptr;
  XRenderPictFormat* memoryFormat_ = nullptr;
  std::vector<std::unique_ptr<SharedSource>> sources_;
  // SharedSegmentsFreed() when sources_ was last swept for freed segments.
  std::uint64_t sweptAtFreed_ = 0;
  int completionType_ = -1;
  std::unordered_map<Window, std::unique_ptr<Entry>> entries_;  // this thread only
};

class X11Backend : public GdiBackend {
 public:
  X11Backend(std::string name, Display* owner, const XVisualInfo& visual, Colormap colormap);

  GdiBackendKind Kind() const override { return GdiBackendKind::kX11; }
  std::unique_ptr<NativeWindow> CreateNativeWindow(const NativeWindowSpec& spec) override;
  std::unique_ptr<NativeWindow> WrapForeignWindow(std::uint64_t id, RECT* bounds) override;
  std::vector<SIZE> Displays() override;
  bool ReadScreen(int x, int y, PixelImage& image) override;
  bool CursorPosition(POINT* where) override;
  std::unique_ptr<NativeEventSource> CreateEventSource() override;

  const std::string& Name() const { return name_; }
  // The pixel value of 0xRRGGBB in our windows' visual.
  unsigned long PixelOf(std::uint32_t rgb) const;
  VisualID VisualId() const { return visualId_; }

  // Runs f with the owner connection, under its lock.
  template <typename F>
  auto WithOwner(F f) {
    std::lock_guard<std::mutex> guard(ownerLock_);
    // Errors this thread's earlier calls left uncounted must not fail the calls made here.
    TakeXErrors();
    return f(owner_);
  }

  // The owner connection's socket: the window manager's requests (WM_PROTOCOLS client messages,
  // sent to the window's creator) arrive there.
  int OwnerDescriptor() const { return ownerDescriptor_; }
  // Takes the owner connection's pending "delete window" requests for the given windows.
  void TakeDeleteRequests(const std::unordered_map<Window, HWND>& windows,
                          std::vector<HWND>* closing);
  // Drops a destroyed window's unread requests: its id may be given to a new window.
  void ForgetDeleteRequests(Window xid);

  // WM_NAME, _NET_WM_NAME and the icon names, on the owner connection.
  void SetTitle(Display* owner, Window xid, const std::u16string& title);

  void AddPaintConnection(PaintConnection* connection);
  void RemovePaintConnection(PaintConnection* connection);
  // Brings every thread's paints so far to the server, for reads from another connection.
  void SyncPaintConnections();

 private:
  const std::string name_;
  const VisualID visualId_;
  std::mutex ownerLock_;
  Display* owner_;  // guarded by ownerLock_
  const int ownerDescriptor_;
  // Names the desktop reads a top-level window by.
  void SetIdentity(Display* owner, Window xid, const NativeWindowSpec& spec);

  const Atom protocolsAtom_;
  const Atom deleteWindowAtom_;
  const Atom utf8Atom_;
  // Delete requests read by a thread that does not own the window; bounded, oldest dropped.
  std::vector<Window> pendingDeletes_;  // guarded by ownerLock_
  Visual* visual_;
  Colormap colormap_;
  std::mutex connectionsLock_;
  std::unordered_set<PaintConnection*> connections_;  // guarded by connectionsLock_
};

class X11Window : public NativeWindow {
 public:
  X11Window(X11Backend* backend, Window xid, bool topLevel = false)
      : backend_(backend), xid_(xid), topLevel_(topLevel) {}

  void Destroy() override;
  void Move(int x, int y) override;
  void Resize(int width, int height) override;
  void Show(bool visible) override;
  std::unique_ptr<PaintTarget> BeginPaint(int width, int height) override;
  void Recycle(std::unique_ptr<PaintTarget> target) override;
  bool ReadPixels(std::vector<std::uint32_t>* pixels, int* width, int* height) override;
  void TakeFocus() override;
  void SetTitle(const std::u16string& title) override;
  bool ScreenOrigin(POINT* origin) override;

  Window Xid() const { return xid_; }
  // A window manager may resize it: its size is read back from the display.
  bool TopLevel() const { return topLevel_; }
  // What a new memory of the window starts as: the class background, or black.
  unsigned long Fill() const { return fill_; }
  void SetFill(unsigned long pixel) { fill_ = pixel; }
  // Each painting thread keeps a memory of the window that is also its background; the last
  // one to paint must be the background, or uncovering would bring back another thread's
  // older picture. Answers whether the background was another memory's (or none).
  bool ClaimBackground(std::uint64_t memoryId) const {
    return backgroundOwner_.exchange(memoryId, std::memory_order_relaxed) != memoryId;
  }
  // Expires with the window object: a paint connection drops the window's images then.
  std::weak_ptr<void> AliveToken() const { return alive_; }

 private:
  X11Backend* backend_;
  const Window xid_;
  const bool topLevel_;
  unsigned long fill_ = 0;
  mutable std::atomic<std::uint64_t> backgroundOwner_{0};
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

// Another client's window that ours are embedded in: it belongs to that client, so only our
// children are created, moved and destroyed through it; its size is read back as it changes.
class ForeignX11Window final : public X11Window {
 public:
  ForeignX11Window(X11Backend* backend, Window xid) : X11Window(backend, xid, true) {}

  void Destroy() override {}
  void Move(int, int) override {}
  void Resize(int, int) override {}
  void Show(bool) override {}
  void TakeFocus() override {}
  void SetTitle(const std::u16string&) override {}
};

}  // namespace kwz_platform
