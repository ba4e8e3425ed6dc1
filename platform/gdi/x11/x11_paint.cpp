// The X11 backend's painting: per-thread connections and the back images they put, through
// MIT-SHM where the server takes our segments, else with XPutImage. A 32-bit bitmap that lies in
// one of our segments is not copied at all: the server composites it from where it lies.
#include <sys/ipc.h>
#include <sys/shm.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "gdi/blit.h"
#include "gdi/x11/x11_backend.h"
#include "ipp/shared_segments.h"

namespace kwz_platform {
namespace {

std::atomic<bool> forcePutImage{false};
thread_local double compositeWaitMs = 0;

// Connections of this thread, one per backend; closed when the thread ends.
struct ThreadConnections {
  std::unordered_map<X11Backend*, std::unique_ptr<PaintConnection>> byBackend;
};
thread_local ThreadConnections threadConnections;

}  // namespace

void ForceXPutImageForTesting(bool force) {
  forcePutImage = force;
}

double CompositeWaitMsForTesting() {
  return compositeWaitMs;
}

int PendingPaintEventsForTesting() {
  int pending = 0;
  for (auto& [backend, connection] : threadConnections.byBackend) {
    if (connection) pending += connection->PendingEvents();
  }
  return pending;
}

// One back image. Two per window alternate, so the server may still be reading the last
// frame's segment while the next one is painted into the other.
struct PaintConnection::Slot {
  XImage* image = nullptr;
  XShmSegmentInfo shm{};
  bool shared = false;
  int pendingPuts = 0;              // MIT-SHM puts whose completion has not arrived
  std::vector<std::uint32_t> bgrx;  // the painted image, when the visual's layout differs
  PixelImage view;
};

// Frames go into the window's memory, a pixmap that is also the window's background, and are
// copied from there into the window. The server thus restores whatever it exposes (another
// window moved away, the window shown again after being hidden or minimised) by itself, as a
// composited Windows desktop does: nothing else would repaint a still screen.
struct PaintConnection::Entry {
  Window xid = None;
  std::uint64_t id = 0;  // never reused, unlike the entry's address
  unsigned long fill = 0;
  std::weak_ptr<void> alive;
  GC gc = nullptr;
  Slot slots[2];
  int next = 0;
  Pixmap memory = None;
  Picture memoryPicture = None;  // RENDER's view of memory, made on the first composite
  RECT owed{0, 0, 0, 0};         // composited into memory, not yet copied into the window
  int memoryWidth = 0;
  int memoryHeight = 0;
};

// A pixmap over rows of a bitmap in one of our segments, and RENDER's picture of it.
struct PaintConnection::SharedSource {
  std::uint64_t serial = 0;
  XShmSegmentInfo shm{};
  const std::uint8_t* bits = nullptr;
  int width = 0;
  int rows = 0;
  Pixmap pixmap = None;
  Picture picture = None;
  bool transformed = false;  // the picture has a flip transform, with these constants:
  long long transformX = 0;
  long long transformY = 0;
};

namespace {

class X11Target : public PaintTarget {
 public:
  X11Target(PaintConnection* connection, PaintConnection::Entry* entry, PaintConnection::Slot* slot)
      : connection_(connection), entry_(entry), slot_(slot) {}
  PixelImage& Image() override { return slot_->view; }
  void Present(const std::vector<RECT>& dirty) override {
    for (const RECT& r : dirty) connection_->Put(*entry_, *slot_, r);
    connection_->CopyOwed(*entry_);
  }
  void Underlay(const RECT& r) override { connection_->ReadUnder(*entry_, *slot_, r); }
  bool ShowDib(const DibView& dib, const DibPlacement& placement,
               std::vector<RECT>* pending) override {
    return connection_->ShowDib(*entry_, *slot_, dib, placement, pending);
  }

 private:
  PaintConnection* connection_;
  PaintConnection::Entry* entry_;  // kept while the window lives, and a DC keeps it alive
  PaintConnection::Slot* slot_;
};

}  // namespace

PaintConnection::PaintConnection(X11Backend* backend, Display* display, Visual* visual)
    : backend_(backend), display_(display), visual_(visual) {
  int major, minor;
  Bool pixmaps;
  shmAvailable_ = XShmQueryVersion(display_, &major, &minor, &pixmaps) == True;
  if (shmAvailable_) completionType_ = XShmGetEventBase(display_) + ShmCompletion;
  // Composites read our segments as pixmaps, whose rows must be laid out as a 32-bit DIB's:
  // four bytes a pixel, blue first, no padding.
  int renderEvents, renderErrors, formats = 0;
  bool dibLayout = false;
  if (XPixmapFormatValues* list = XListPixmapFormats(display_, &formats)) {
    for (int i = 0; i < formats; ++i) {
      if (list[i].depth == 24) dibLayout = list[i].bits_per_pixel == 32;
    }
    XFree(list);
  }
  if (shmAvailable_ && pixmaps == True && XShmPixmapFormat(display_) == ZPixmap && dibLayout &&
      ImageByteOrder(display_) == LSBFirst &&
      XRenderQueryExtension(display_, &renderEvents, &renderErrors) == True) {
    sourceFormat_ = XRenderFindStandardFormat(display_, PictStandardRGB24);
    memoryFormat_ = XRenderFindVisualFormat(display_, visual_);
    directAvailable_ = sourceFormat_ != nullptr && memoryFormat_ != nullptr;
  }
  backend_->AddPaintConnection(this);
}

PaintConnection::~PaintConnection() {
  backend_->RemovePaintConnection(this);
  for (auto& [xid, entry] : entries_) FreeEntry(*entry);
  DropSources(true);
  CloseOurDisplay(display_);
}

void PaintConnection::FreeEntry(Entry& entry) {
  for (Slot& slot : entry.slots) FreeImage(slot);
  if (entry.memoryPicture != None) XRenderFreePicture(display_, entry.memoryPicture);
  // A window keeps its background after the pixmap's id is freed.
  if (entry.memory != None) XFreePixmap(display_, entry.memory);
  XFreeGC(display_, entry.gc);
}

// Sized to what is painted. A new memory starts as the class background, with the old one's
// picture at its top left as the window's bit gravity keeps it; the first one with what the
// window shows (a painting thread that ended, or another thread, may have left a picture there).
bool PaintConnection::SizeMemory(Entry& entry, int width, int height) {
  if (entry.memory != None && entry.memoryWidth == width && entry.memoryHeight == height) {
    return false;
  }
  const Pixmap memory = XCreatePixmap(display_, entry.xid, static_cast<unsigned>(width),
                                      static_cast<unsigned>(height), 24);
  XSetForeground(display_, entry.gc, entry.fill);
  XFillRectangle(display_, memory, entry.gc, 0, 0, static_cast<unsigned>(width),
                 static_cast<unsigned>(height));
  if (entry.memory == None) {
    XCopyArea(display_, entry.xid, memory, entry.gc, 0, 0, static_cast<unsigned>(width),
              static_cast<unsigned>(height), 0, 0);
  } else {
    XCopyArea(display_, entry.memory, memory, entry.gc, 0, 0,
              static_cast<unsigned>(std::min(width, entry.memoryWidth)),
              static_cast<unsigned>(std::min(height, entry.memoryHeight)), 0, 0);
    if (entry.memoryPicture != None) XRenderFreePicture(display_, entry.memoryPicture);
    entry.memoryPicture = None;
    XFreePixmap(display_, entry.memory);
  }
  XSetWindowBackgroundPixmap(display_, entry.xid, memory);
  entry.memory = memory;
  entry.memoryWidth = width;
  entry.memoryHeight = height;
  return true;
}

PaintConnection* PaintConnection::ForThisThread(X11Backend* backend) {
  auto& slot = threadConnections.byBackend[backend];
  if (!slot) {
    Display* display = OpenOurDisplay(backend->Name().c_str());
    if (display == nullptr) return nullptr;
    XVisualInfo wanted{};
    wanted.visualid = backend->VisualId();
    int count = 0;
    XVisualInfo* found = XGetVisualInfo(display, VisualIDMask, &wanted, &count);
    if (found == nullptr) {
      CloseOurDisplay(display);
      return nullptr;
    }
    Visual* visual = found->visual;
    XFree(found);
    slot = std::make_unique<PaintConnection>(backend, display, visual);
  }
  return slot.get();
}

void PaintConnection::Sync() {
  XSync(display_, False);
}

int PaintConnection::PendingEvents() {
  XSync(display_, False);
  return XEventsQueued(display_, QueuedAlready);
}

void PaintConnection::DrainCompletions() {
  while (XPending(display_) > 0) {
    XEvent event;
    XNextEvent(display_, &event);
    if (event.type != completionType_) continue;
    const auto& done = reinterpret_cast<const XShmCompletionEvent&>(event);
    for (auto& [xid, entry] : entries_) {
      for (Slot& slot : entry->slots) {
        if (slot.shared && slot.shm.shmseg == done.shmseg && slot.pendingPuts > 0) {
          --slot.pendingPuts;
        }
      }
    }
  }
}

// The server must be done reading a segment before we write it again.
void PaintConnection::WaitIdle(Slot& slot) {
  if (slot.pendingPuts == 0) return;
  DrainCompletions();
  if (slot.pendingPuts == 0) return;
  // After a round trip the server has handled the puts; a put that failed (its window was
  // destroyed) sends no completion, so the count is cleared rather than waited out.
  XSync(display_, False);
  TakeXErrors();
  DrainCompletions();
  slot.pendingPuts = 0;
}

bool PaintConnection::MakeImage(Slot& slot, int width, int height) {
  FreeImage(slot);
  const int w = std::max(width, 1), h = std::max(height, 1);
  if (shmAvailable_ && !forcePutImage) {
    slot.image = XShmCreateImage(display_, visual_, 24, ZPixmap, nullptr, &slot.shm,
                                 static_cast<unsigned>(w), static_cast<unsigned>(h));
    if (slot.image != nullptr) {
      const size_t bytes = static_cast<size_t>(slot.image->bytes_per_line) * h;
      slot.shm.shmid = shmget(IPC_PRIVATE, bytes, IPC_CREAT | 0600);
      void* address = slot.shm.shmid >= 0 ? shmat(slot.shm.shmid, nullptr, 0) : nullptr;
      bool attached = false;
      if (address != nullptr && address != reinterpret_cast<void*>(-1)) {
        slot.shm.shmaddr = slot.image->data = static_cast<char*>(address);
        slot.shm.readOnly = False;
        // A server in another IPC namespace (remote X, sandboxes) refuses the segment
        // asynchronously: only the round trip shows the error.
        TakeXErrors();
        XShmAttach(display_, &slot.shm);
        XSync(display_, False);
        attached = TakeXErrors() == 0;
        if (!attached) shmdt(address);
      }
      // Marked for removal now, so it goes away with its last attachment even if we crash.
      if (slot.shm.shmid >= 0) shmctl(slot.shm.shmid, IPC_RMID, nullptr);
      if (attached) {
        slot.shared = true;
      } else {
        slot.image->data = nullptr;
        XDestroyImage(slot.image);
        slot.image = nullptr;
        shmAvailable_ = false;  // this connection puts plain images from now on
      }
    }
  }
  if (slot.image == nullptr) {
    slot.image = XCreateImage(display_, visual_, 24, ZPixmap, 0, nullptr, static_cast<unsigned>(w),
                              static_cast<unsigned>(h), 32, 0);
    if (slot.image == nullptr) return false;
    slot.image->data =
        static_cast<char*>(std::malloc(static_cast<size_t>(slot.image->bytes_per_line) * h));
    if (slot.image->data == nullptr) {
      XDestroyImage(slot.image);
      slot.image = nullptr;
      return false;
    }
  }
  if (IsBgrxImage(slot.image)) {
    slot.view = PixelImage{reinterpret_cast<std::uint8_t*>(slot.image->data), width, height,
                           slot.image->bytes_per_line};
  } else {
    // Another layout (byte order, masks): paint in BGRX and convert at the put.
    slot.bgrx.assign(static_cast<size_t>(w) * h, 0);
    slot.view = PixelImage{reinterpret_cast<std::uint8_t*>(slot.bgrx.data()), width, height,
                           static_cast<std::ptrdiff_t>(w) * 4};
  }
  return true;
}

void PaintConnection::FreeImage(Slot& slot) {
  if (slot.image == nullptr) return;
  WaitIdle(slot);
  if (slot.shared) {
    XShmDetach(display_, &slot.shm);
    slot.image->data = nullptr;
    XDestroyImage(slot.image);
    shmdt(slot.shm.shmaddr);
  } else {
    XDestroyImage(slot.image);  // frees the malloc'ed data
  }
  slot.image = nullptr;
  slot.shared = false;
  slot.bgrx.clear();
  slot.view = PixelImage{};
}

void PaintConnection::PurgeDeadWindows() {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (it->second->alive.expired()) {
      FreeEntry(*it->second);
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
}

std::unique_ptr<PaintTarget> PaintConnection::BeginPaint(const X11Window& window, int width,
                                                         int height) {
  PurgeDeadWindows();
  static std::atomic<std::uint64_t> nextEntryId{1};
  auto& entry = entries_[window.Xid()];
  if (!entry) {
    entry = std::make_unique<Entry>();
    entry->xid = window.Xid();
    entry->id = nextEntryId.fetch_add(1, std::memory_order_relaxed);
    entry->fill = window.Fill();
    entry->alive = window.AliveToken();
    // No GraphicsExpose or NoExpose events for our copies: nothing reads them, and without a
    // completion to wait for (plain XPutImage) they would pile up in the connection's queue.
    XGCValues values{};
    values.graphics_exposures = False;
    entry->gc = XCreateGC(display_, window.Xid(), GCGraphicsExposures, &values);
  }
  Slot& slot = entry->slots[entry->next];
  entry->next ^= 1;
  WaitIdle(slot);
  if (slot.image == nullptr || slot.view.width != width || slot.view.height != height) {
    if (!MakeImage(slot, width, height)) return nullptr;
  }
  // X drawables cannot be empty; an empty window's memory is one pixel, as its image is.
  const bool fresh = SizeMemory(*entry, std::max(width, 1), std::max(height, 1));
  if (window.ClaimBackground(entry->id) && !fresh) {
    // Another thread painted the window since this memory was last the background.
    XCopyArea(display_, entry->xid, entry->memory, entry->gc, 0, 0,
              static_cast<unsigned>(entry->memoryWidth), static_cast<unsigned>(entry->memoryHeight),
              0, 0);
    XSetWindowBackgroundPixmap(display_, entry->xid, entry->memory);
  }
  return std::make_unique<X11Target>(this, entry.get(), &slot);
}

void PaintConnection::Recycle(std::unique_ptr<PaintTarget>) {
  // The images stay with their window's entry; nothing else to keep.
}

void PaintConnection::Put(Entry& entry, Slot& slot, const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  if (!slot.bgrx.empty()) {
    for (int y = r.top; y < r.bottom; ++y) {
      for (int x = r.left; x < r.right; ++x) {
        XPutPixel(slot.image, x, y, slot.bgrx[static_cast<size_t>(y) * slot.view.width + x]);
      }
    }
  }
  if (slot.shared) {
    XShmPutImage(display_, entry.memory, entry.gc, slot.image, r.left, r.top, r.left, r.top,
                 static_cast<unsigned>(w), static_cast<unsigned>(h), True);
    ++slot.pendingPuts;
    NotePresentPath(GdiPresentPath::kSharedMemory);
  } else {
    XPutImage(display_, entry.memory, entry.gc, slot.image, r.left, r.top, r.left, r.top,
              static_cast<unsigned>(w), static_cast<unsigned>(h));
    NotePresentPath(GdiPresentPath::kPutImage);
  }
  XCopyArea(display_, entry.memory, entry.xid, entry.gc, r.left, r.top, static_cast<unsigned>(w),
            static_cast<unsigned>(h), r.left, r.top);
  XFlush(display_);
}

Picture PaintConnection::MemoryPicture(Entry& entry) {
  if (entry.memoryPicture == None) {
    entry.memoryPicture = XRenderCreatePicture(display_, entry.memory, memoryFormat_, 0, nullptr);
  }
  return entry.memoryPicture;
}

// Sources whose buffer was freed (all: every source) are let go; the server's attachment is
// what keeps a freed segment's memory alive.
void PaintConnection::DropSources(bool all) {
  for (auto it = sources_.begin(); it != sources_.end();) {
    SharedSource& source = **it;
    if (!all && SharedSegmentAlive(source.serial)) {
      ++it;
      continue;
    }
    if (source.picture != None) XRenderFreePicture(display_, source.picture);
    if (source.pixmap != None) XFreePixmap(display_, source.pixmap);
    XShmDetach(display_, &source.shm);
    it = sources_.erase(it);
  }
}

PaintConnection::SharedSource* PaintConnection::SourceOf(const DibView& dib) {
  const std::size_t bytes = static_cast<std::size_t>(dib.stride) * dib.scanCount;
  const std::optional<SharedSegment> segment = FindSharedSegment(dib.bits, bytes);
  if (!segment) return nullptr;
  // Let go of the sources of freed segments, only when some were freed since the last sweep.
  const std::uint64_t freed = SharedSegmentsFreed();
  if (freed != sweptAtFreed_) {
    sweptAtFreed_ = freed;
    DropSources(false);
  }
  for (auto& source : sources_) {
    if (source->serial == segment->serial && source->bits == dib.bits &&
        source->width == dib.width && source->rows == dib.scanCount) {
      return source.get();
    }
  }
  auto source = std::make_unique<SharedSource>();
  source->serial = segment->serial;
  source->bits = dib.bits;
  source->width = dib.width;
  source->rows = dib.scanCount;
  source->shm.shmid = segment->shmid;
  source->shm.shmaddr = const_cast<char*>(reinterpret_cast<const char*>(segment->base));
  // Pixmaps over a segment need it attached for writing, though nothing writes through them.
  source->shm.readOnly = False;
  TakeXErrors();
  XShmAttach(display_, &source->shm);
  source->pixmap =
      XShmCreatePixmap(display_, DefaultRootWindow(display_),
                       const_cast<char*>(reinterpret_cast<const char*>(dib.bits)), &source->shm,
                       static_cast<unsigned>(dib.width), static_cast<unsigned>(dib.scanCount), 24);
  source->picture = XRenderCreatePicture(display_, source->pixmap, sourceFormat_, 0, nullptr);
  // Refused (another IPC namespace, limits): only the round trip tells.
  XSync(display_, False);
  const bool refused = TakeXErrors() != 0;
  SharedSource* made = source.get();
  sources_.push_back(std::move(source));
  if (refused) {
    DropSources(true);
    // The detach of what never attached fails too; its error must not count against a later
    // request.
    XSync(display_, False);
    TakeXErrors();
    directAvailable_ = false;  // this connection copies from now on
    return nullptr;
  }
  return made;
}

bool PaintConnection::ShowDib(Entry& entry, Slot& slot, const DibView& dib,
                              const DibPlacement& placement, std::vector<RECT>* pending) {
  if (!directAvailable_ || forcePutImage || dib.bitCount != 32) return false;
  const int w = placement.dest.right - placement.dest.left;
  const int h = placement.dest.bottom - placement.dest.top;
  // Coordinates travel as 16-bit integers and the transform in 16.16 fixed point.
  constexpr long long kLimit = 0x7FFF;
  const long long flipOrigin = static_cast<long long>(placement.rowAtTop) + placement.dest.top + 1;
  if (dib.width > kLimit || dib.scanCount > kLimit || flipOrigin > kLimit ||
      placement.dest.right > kLimit || placement.dest.bottom > kLimit) {
    return false;
  }
  SharedSource* source = SourceOf(dib);
  if (source == nullptr) return false;
  const Picture memory = MemoryPicture(entry);
  for (const RECT& r : *pending) Put(entry, slot, r);
  pending->clear();

  // The transform maps a window pixel's centre to the bitmap: a bottom-up bitmap's rows run
  // upwards, so window row y shows memory row (rowAtTop + top - y).
  const bool flip = placement.rowStep < 0;
  const long long transformX = flip ? placement.srcLeft - placement.dest.left : 0;
  const long long transformY = flip ? flipOrigin : 0;
  if (source->transformed != flip || source->transformX != transformX ||
      source->transformY != transformY) {
    XTransform transform{};
    transform.matrix[0][0] = XDoubleToFixed(1);
    transform.matrix[0][2] = XDoubleToFixed(static_cast<double>(transformX));
    transform.matrix[1][1] = XDoubleToFixed(flip ? -1 : 1);
    transform.matrix[1][2] = XDoubleToFixed(static_cast<double>(transformY));
    transform.matrix[2][2] = XDoubleToFixed(1);
    XRenderSetPictureTransform(display_, source->picture, &transform);
    source->transformed = flip;
    source->transformX = transformX;
    source->transformY = transformY;
  }
  const int srcX = flip ? placement.dest.left : placement.srcLeft;
  const int srcY = flip ? placement.dest.top : placement.rowAtTop;
  XRenderComposite(display_, PictOpSrc, source->picture, None, memory, srcX, srcY, 0, 0,
                   placement.dest.left, placement.dest.top, static_cast<unsigned>(w),
                   static_cast<unsigned>(h));
  // The caller may write the bitmap as soon as this returns: the server must have read it. The
  // copy into the window reads only the memory; it waits for the DC's release, so that reading
  // back what lies under a cursor does not wait for it too.
  const auto waitFrom = std::chrono::steady_clock::now();
  XSync(display_, False);
  compositeWaitMs +=
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - waitFrom)
          .count();
  TakeXErrors();
  UniteDirty(&entry.owed, placement.dest);
  NotePresentPath(GdiPresentPath::kSharedPixmap);
  return true;
}

void PaintConnection::CopyOwed(Entry& entry) {
  const RECT r = entry.owed;
  if (IsRectEmpty(&r)) return;
  entry.owed = RECT{0, 0, 0, 0};
  XCopyArea(display_, entry.memory, entry.xid, entry.gc, r.left, r.top,
            static_cast<unsigned>(r.right - r.left), static_cast<unsigned>(r.bottom - r.top),
            r.left, r.top);
  XFlush(display_);
}

void PaintConnection::ReadUnder(Entry& entry, Slot& slot, const RECT& r) {
  const int w = r.right - r.left, h = r.bottom - r.top;
  if (w <= 0 || h <= 0) return;
  // The memory holds what was painted even where the window is covered or hidden.
  XImage* under = XGetImage(display_, entry.memory, r.left, r.top, static_cast<unsigned>(w),
                            static_cast<unsigned>(h), AllPlanes, ZPixmap);
  TakeXErrors();
  if (under == nullptr) return;
  // A pixmap has no visual, so the image comes without the colour masks that say its layout.
  under->red_mask = visual_->red_mask;
  under->green_mask = visual_->green_mask;
  under->blue_mask = visual_->blue_mask;
  ImageToBgrx(under, 0, 0, w, h, slot.view.bits + r.top * slot.view.stride + r.left * 4,
              slot.view.stride);
  XDestroyImage(under);
}

}  // namespace kwz_platform
