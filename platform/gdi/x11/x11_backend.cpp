// The X11 backend: the error handler, the owner connection and the windows.
#include <X11/Xatom.h>
#include <X11/cursorfont.h>
#include <errno.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "platform/widestring.h"

#include "gdi/x11/x11_backend.h"

namespace kwz_platform {
namespace {

struct ErrorRouting {
  std::mutex lock;
  std::unordered_set<Display*> ours;     // guarded by lock
  XErrorHandler previous = nullptr;      // guarded by lock
  XIOErrorHandler previousIo = nullptr;  // guarded by lock
  bool installed = false;                // guarded by lock
};

ErrorRouting& Routing() {
  static auto* routing = new ErrorRouting;  // never destroyed: handlers may run at exit
  return *routing;
}

thread_local int xErrors = 0;
constexpr std::size_t kMaxPendingDeletes = 64;

// Xlib calls this on the thread whose request failed, for every connection of the process.
int OnXError(Display* display, XErrorEvent* event) {
  XErrorHandler previous;
  {
    ErrorRouting& routing = Routing();
    std::lock_guard<std::mutex> guard(routing.lock);
    if (routing.ours.count(display) != 0) {
      ++xErrors;
      return 0;
    }
    previous = routing.previous;
  }
  return previous != nullptr ? previous(display, event) : 0;
}

std::uint32_t ChannelOf(unsigned long pixel, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  const unsigned long bits = mask >> shift;
  const unsigned long value = (pixel & mask) >> shift;
  return static_cast<std::uint32_t>(value * 255 / bits);
}

unsigned long PlaceChannel(std::uint32_t value, unsigned long mask) {
  if (mask == 0) return 0;
  const int shift = __builtin_ctzl(mask);
  const unsigned long bits = mask >> shift;
  return ((value * bits + 127) / 255) << shift & mask;
}

// Xlib ends the process when a connection breaks; a lost X server must not take the
// container's process with it. The connection stays dead and our calls on it do nothing.
void OnConnectionLost(Display*, void*) {}

int OnXIoError(Display* display) {
  XIOErrorHandler previous;
  {
    ErrorRouting& routing = Routing();
    std::lock_guard<std::mutex> guard(routing.lock);
    if (routing.ours.count(display) != 0) return 0;  // OnConnectionLost follows
    previous = routing.previousIo;
  }
  return previous != nullptr ? previous(display) : 0;
}

}  // namespace

int TakeXErrors() {
  const int errors = xErrors;
  xErrors = 0;
  return errors;
}

Display* OpenOurDisplay(const char* name) {
  static std::once_flag threads;
  // Connections are used from more than one thread (reads sync the painters' connections).
  std::call_once(threads, [] { XInitThreads(); });
  Display* display = XOpenDisplay(name);
  if (display == nullptr) return nullptr;
  XSetIOErrorExitHandler(display, OnConnectionLost, nullptr);
  ErrorRouting& routing = Routing();
  std::lock_guard<std::mutex> guard(routing.lock);
  routing.ours.insert(display);
  if (!routing.installed) {
    routing.previous = XSetErrorHandler(OnXError);
    routing.previousIo = XSetIOErrorHandler(OnXIoError);
    routing.installed = true;
  }
  return display;
}

void CloseOurDisplay(Display* display) {
  XCloseDisplay(display);
  ErrorRouting& routing = Routing();
  std::lock_guard<std::mutex> guard(routing.lock);
  routing.ours.erase(display);
}

bool IsBgrxImage(const XImage* image) {
  return image->bits_per_pixel == 32 && image->byte_order == LSBFirst &&
         image->red_mask == 0xFF0000 && image->green_mask == 0xFF00 && image->blue_mask == 0xFF;
}

void ImageToBgrx(XImage* image, int left, int top, int width, int height, std::uint8_t* dst,
                 std::ptrdiff_t dstStride) {
  for (int y = 0; y < height; ++y) {
    auto* out = reinterpret_cast<std::uint32_t*>(dst + y * dstStride);
    if (IsBgrxImage(image)) {
      const auto* in = reinterpret_cast<const std::uint32_t*>(
          image->data + static_cast<std::ptrdiff_t>(top + y) * image->bytes_per_line);
      for (int x = 0; x < width; ++x) out[x] = in[left + x] | 0xFF000000u;
      continue;
    }
    for (int x = 0; x < width; ++x) {
      const unsigned long pixel = XGetPixel(image, left + x, top + y);
      out[x] = 0xFF000000u | ChannelOf(pixel, image->red_mask) << 16 |
               ChannelOf(pixel, image->green_mask) << 8 | ChannelOf(pixel, image->blue_mask);
    }
  }
}

X11Backend::X11Backend(std::string name, Display* owner, const XVisualInfo& visual,
                       Colormap colormap)
    : name_(std::move(name)),
      visualId_(visual.visualid),
      owner_(owner),
      ownerDescriptor_(ConnectionNumber(owner)),
      protocolsAtom_(XInternAtom(owner, "WM_PROTOCOLS", False)),
      deleteWindowAtom_(XInternAtom(owner, "WM_DELETE_WINDOW", False)),
      utf8Atom_(XInternAtom(owner, "UTF8_STRING", False)),
      visual_(visual.visual),
      colormap_(colormap) {}

unsigned long X11Backend::PixelOf(std::uint32_t rgb) const {
  return PlaceChannel(rgb >> 16 & 0xFF, visual_->red_mask) |
         PlaceChannel(rgb >> 8 & 0xFF, visual_->green_mask) |
         PlaceChannel(rgb & 0xFF, visual_->blue_mask);
}

std::unique_ptr<NativeWindow> X11Backend::CreateNativeWindow(const NativeWindowSpec& spec) {
  // The class background fills what the server uncovers until the first paint gives the window
  // its memory (see the paint connection); without one the server leaves such parts alone.
  // NorthWest bit gravity keeps the picture in place when the window grows or shrinks.
  XSetWindowAttributes attributes{};
  attributes.background_pixmap = None;
  attributes.border_pixel = 0;
  attributes.colormap = colormap_;
  attributes.bit_gravity = NorthWestGravity;
  unsigned long mask = CWBorderPixel | CWColormap | CWBitGravity;
  if (spec.background) {
    attributes.background_pixel = PixelOf(*spec.background);
    mask |= CWBackPixel;
  } else {
    mask |= CWBackPixmap;
  }
  return WithOwner([&](Display* owner) -> std::unique_ptr<NativeWindow> {
    const Window parentXid = spec.parent != nullptr ? static_cast<X11Window*>(spec.parent)->Xid()
                                                    : DefaultRootWindow(owner);
    // X windows cannot be empty; the records keep the size the caller asked for.
    const Window xid = XCreateWindow(owner, parentXid, spec.x, spec.y,
                                     static_cast<unsigned>(std::max(spec.width, 1)),
                                     static_cast<unsigned>(std::max(spec.height, 1)), 0, 24,
                                     InputOutput, visual_, mask, &attributes);
    if (spec.cursor != NativeCursor::kDefault) {
      const Cursor cursor =
          XCreateFontCursor(owner, spec.cursor == NativeCursor::kHand ? XC_hand2 : XC_left_ptr);
      XDefineCursor(owner, xid, cursor);
      XFreeCursor(owner, cursor);  // the window keeps it
    }
    if (spec.parent == nullptr) SetIdentity(owner, xid, spec);
    if (spec.visible) XMapWindow(owner, xid);
    XSync(owner, False);
    if (TakeXErrors() != 0) return nullptr;
    auto window = std::make_unique<X11Window>(this, xid, spec.parent == nullptr);
    window->SetFill(attributes.background_pixel);
    return window;
  });
}

void X11Backend::SetIdentity(Display* owner, Window xid, const NativeWindowSpec& spec) {
  // The instance name is the program's, as Xlib programs take it from argv[0]; the class is
  // the window class the program registered.
  std::string className = Narrow(spec.className.c_str());
  XClassHint classHint{program_invocation_short_name, className.data()};
  XSizeHints sizeHints{};
  sizeHints.flags = PMinSize;
  sizeHints.min_width = 1;
  sizeHints.min_height = 1;
  XWMHints wmHints{};
  wmHints.flags = InputHint | StateHint;
  wmHints.input = True;
  wmHints.initial_state = NormalState;
  // Also WM_CLIENT_MACHINE, which tells the desktop whose process _NET_WM_PID counts on.
  XSetWMProperties(owner, xid, nullptr, nullptr, nullptr, 0, &sizeHints, &wmHints, &classHint);
  const long pid = static_cast<long>(getpid());
  XChangeProperty(owner, xid, XInternAtom(owner, "_NET_WM_PID", False), XA_CARDINAL, 32,
                  PropModeReplace, reinterpret_cast<const unsigned char*>(&pid), 1);
  if (!spec.iconArgb.empty()) {
    // Format 32 properties travel as longs, whatever their width.
    std::vector<long> icon{spec.iconWidth, spec.iconHeight};
    icon.insert(icon.end(), spec.iconArgb.begin(), spec.iconArgb.end());
    XChangeProperty(owner, xid, XInternAtom(owner, "_NET_WM_ICON", False), XA_CARDINAL, 32,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(icon.data()),
                    static_cast<int>(icon.size()));
  }
  SetTitle(owner, xid, spec.title);
  // A top-level window asks the window manager to request its closing rather than kill the
  // connection, so the close button becomes WM_CLOSE as on Windows.
  Atom deleteWindow = deleteWindowAtom_;
  XSetWMProtocols(owner, xid, &deleteWindow, 1);
}

void X11Backend::SetTitle(Display* owner, Window xid, const std::u16string& title) {
  const std::string utf8 = Narrow(title.c_str());
  const auto* text = reinterpret_cast<const unsigned char*>(utf8.data());
  const int length = static_cast<int>(utf8.size());
  for (const char* name : {"WM_NAME", "_NET_WM_NAME", "WM_ICON_NAME", "_NET_WM_ICON_NAME"}) {
    XChangeProperty(owner, xid, XInternAtom(owner, name, False), utf8Atom_, 8, PropModeReplace,
                    text, length);
  }
}

std::unique_ptr<NativeWindow> X11Backend::WrapForeignWindow(std::uint64_t id, RECT* bounds) {
  // XIDs are 29 bits; anything wider is not a window, whatever the server would make of it.
  if (id == 0 || id > 0x1FFFFFFFu) return nullptr;
  return WithOwner([&](Display* owner) -> std::unique_ptr<NativeWindow> {
    Window root = 0;
    int x = 0, y = 0;
    unsigned width = 0, height = 0, border = 0, depth = 0;
    // A bad id (or a pixmap's) raises an error that our handler counts.
    const Status got = XGetGeometry(owner, static_cast<Window>(id), &root, &x, &y, &width, &height,
                                    &border, &depth);
    XWindowAttributes attributes{};
    const Status isWindow =
        got != 0 ? XGetWindowAttributes(owner, static_cast<Window>(id), &attributes) : 0;
    if (TakeXErrors() != 0 || got == 0 || isWindow == 0) return nullptr;
    *bounds = RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    return std::make_unique<ForeignX11Window>(this, static_cast<Window>(id));
  });
}

std::vector<SIZE> X11Backend::Displays() {
  return WithOwner([](Display* owner) {
    std::vector<SIZE> sizes;
    for (int screen = 0; screen < ScreenCount(owner); ++screen) {
      sizes.push_back(SIZE{DisplayWidth(owner, screen), DisplayHeight(owner, screen)});
    }
    // The default screen is the primary one.
    std::rotate(sizes.begin(), sizes.begin() + DefaultScreen(owner),
                sizes.begin() + DefaultScreen(owner) + 1);
    return sizes;
  });
}

bool X11Backend::ReadScreen(int x, int y, PixelImage& image) {
  // Paints other threads have queued on their own connections must reach the screen first.
  SyncPaintConnections();
  return WithOwner([&](Display* owner) {
    const int screen = DefaultScreen(owner);
    // XGetImage fails for any part outside the root window: read only what lies on it.
    const int left = std::max(x, 0);
    const int top = std::max(y, 0);
    const int right = std::min(x + image.width, DisplayWidth(owner, screen));
    const int bottom = std::min(y + image.height, DisplayHeight(owner, screen));
    if (right <= left || bottom <= top) return true;
    XImage* got =
        XGetImage(owner, RootWindow(owner, screen), left, top, static_cast<unsigned>(right - left),
                  static_cast<unsigned>(bottom - top), AllPlanes, ZPixmap);
    if (TakeXErrors() != 0 || got == nullptr) {
      if (got != nullptr) XDestroyImage(got);
      return false;
    }
    ImageToBgrx(got, 0, 0, right - left, bottom - top,
                image.bits + (top - y) * image.stride + (left - x) * 4, image.stride);
    XDestroyImage(got);
    return true;
  });
}

bool X11Backend::CursorPosition(POINT* where) {
  return WithOwner([&](Display* owner) {
    Window root = 0, child = 0;
    int rootX = 0, rootY = 0, childX = 0, childY = 0;
    unsigned mask = 0;
    // False when the pointer is on another X screen: it is not on the primary display then.
    if (!XQueryPointer(owner, DefaultRootWindow(owner), &root, &child, &rootX, &rootY, &childX,
                       &childY, &mask)) {
      return false;
    }
    *where = POINT{rootX, rootY};
    return true;
  });
}

void X11Backend::TakeDeleteRequests(const std::unordered_map<Window, HWND>& windows,
                                    std::vector<HWND>* closing) {
  WithOwner([&](Display* owner) {
    // Nothing else is selected on the owner connection; other client messages are dropped so
    // that the queue cannot grow.
    while (XPending(owner) > 0) {
      XEvent event;
      XNextEvent(owner, &event);
      if (event.type != ClientMessage) continue;
      const XClientMessageEvent& message = event.xclient;
      if (message.message_type != protocolsAtom_ || message.format != 32 ||
          static_cast<Atom>(message.data.l[0]) != deleteWindowAtom_) {
        continue;
      }
      auto it = windows.find(message.window);
      if (it != windows.end()) {
        closing->push_back(it->second);
      } else {
        if (pendingDeletes_.size() >= kMaxPendingDeletes)
          pendingDeletes_.erase(pendingDeletes_.begin());
        pendingDeletes_.push_back(message.window);
      }
    }
    // Requests for windows of other threads wait for their thread's turn.
    for (auto it = pendingDeletes_.begin(); it != pendingDeletes_.end();) {
      auto found = windows.find(*it);
      if (found == windows.end()) {
        ++it;
        continue;
      }
      closing->push_back(found->second);
      it = pendingDeletes_.erase(it);
    }
    TakeXErrors();
    return 0;
  });
}

void X11Backend::ForgetDeleteRequests(Window xid) {
  std::lock_guard<std::mutex> guard(ownerLock_);
  pendingDeletes_.erase(std::remove(pendingDeletes_.begin(), pendingDeletes_.end(), xid),
                        pendingDeletes_.end());
}

void X11Backend::AddPaintConnection(PaintConnection* connection) {
  std::lock_guard<std::mutex> guard(connectionsLock_);
  connections_.insert(connection);
}

void X11Backend::RemovePaintConnection(PaintConnection* connection) {
  std::lock_guard<std::mutex> guard(connectionsLock_);
  connections_.erase(connection);
}

void X11Backend::SyncPaintConnections() {
  std::lock_guard<std::mutex> guard(connectionsLock_);
  for (PaintConnection* connection : connections_) connection->Sync();
}

void X11Window::Destroy() {
  backend_->WithOwner([this](Display* owner) {
    XDestroyWindow(owner, xid_);
    XSync(owner, False);
    TakeXErrors();
    return 0;
  });
  backend_->ForgetDeleteRequests(xid_);
}

void X11Window::SetTitle(const std::u16string& title) {
  if (!topLevel_) return;
  backend_->WithOwner([&](Display* owner) {
    backend_->SetTitle(owner, xid_, title);
    XFlush(owner);
    return 0;
  });
}

bool X11Window::ScreenOrigin(POINT* origin) {
  return backend_->WithOwner([&](Display* owner) {
    int x = 0, y = 0;
    Window child = 0;
    const Bool same =
        XTranslateCoordinates(owner, xid_, DefaultRootWindow(owner), 0, 0, &x, &y, &child);
    if (TakeXErrors() != 0 || !same) return false;
    *origin = POINT{x, y};
    return true;
  });
}

void X11Window::Move(int x, int y) {
  backend_->WithOwner([&](Display* owner) {
    XMoveWindow(owner, xid_, x, y);
    XSync(owner, False);
    return TakeXErrors();
  });
}

void X11Window::Resize(int width, int height) {
  backend_->WithOwner([&](Display* owner) {
    XResizeWindow(owner, xid_, static_cast<unsigned>(std::max(width, 1)),
                  static_cast<unsigned>(std::max(height, 1)));
    XSync(owner, False);
    return TakeXErrors();
  });
}

void X11Window::Show(bool visible) {
  backend_->WithOwner([&](Display* owner) {
    if (visible) {
      XMapWindow(owner, xid_);
    } else {
      XUnmapWindow(owner, xid_);
    }
    XSync(owner, False);
    return TakeXErrors();
  });
}

std::unique_ptr<PaintTarget> X11Window::BeginPaint(int width, int height) {
  PaintConnection* connection = PaintConnection::ForThisThread(backend_);
  return connection != nullptr ? connection->BeginPaint(*this, width, height) : nullptr;
}

void X11Window::Recycle(std::unique_ptr<PaintTarget> target) {
  if (PaintConnection* connection = PaintConnection::ForThisThread(backend_)) {
    connection->Recycle(std::move(target));
  }
}

bool X11Window::ReadPixels(std::vector<std::uint32_t>* pixels, int* width, int* height) {
  backend_->SyncPaintConnections();
  return backend_->WithOwner([&](Display* owner) {
    Window root;
    int x, y;
    unsigned w = 0, h = 0, border, depth;
    XImage* image = nullptr;
    if (XGetGeometry(owner, xid_, &root, &x, &y, &w, &h, &border, &depth)) {
      image = XGetImage(owner, xid_, 0, 0, w, h, AllPlanes, ZPixmap);
    }
    TakeXErrors();
    if (image == nullptr) return false;
    pixels->resize(static_cast<size_t>(w) * h);
    ImageToBgrx(image, 0, 0, static_cast<int>(w), static_cast<int>(h),
                reinterpret_cast<std::uint8_t*>(pixels->data()),
                static_cast<std::ptrdiff_t>(w) * 4);
    XDestroyImage(image);
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return true;
  });
}

std::unique_ptr<GdiBackend> MakeX11Backend(const char* displayName) {
  Display* owner = OpenOurDisplay(displayName);
  if (owner == nullptr) return nullptr;
  XVisualInfo visual{};
  const int screen = DefaultScreen(owner);
  if (!XMatchVisualInfo(owner, screen, 24, TrueColor, &visual)) {
    CloseOurDisplay(owner);
    return nullptr;
  }
  // A visual other than the root's needs a colormap of its own.
  const Colormap colormap =
      visual.visual == DefaultVisual(owner, screen)
          ? DefaultColormap(owner, screen)
          : XCreateColormap(owner, RootWindow(owner, screen), visual.visual, AllocNone);
  return std::make_unique<X11Backend>(DisplayString(owner), owner, visual, colormap);
}

}  // namespace kwz_platform
