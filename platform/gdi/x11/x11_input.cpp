// Input of the X11 backend's windows as window messages: each thread that owns windows reads
// their events on a display connection of its own, which its message loop polls beside its
// queue. Keys are read with the server's keymap (evdev keycodes), characters with xkbcommon.
#include <X11/XKBlib.h>
#include <X11/Xlib-xcb.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon-x11.h>

#include <unordered_map>
#include <unordered_set>

#include "platform/debug.h"

#include "gdi/objects.h"
#include "gdi/x11/keyboard_layout_xkb.h"
#include "gdi/x11/x11_backend.h"
#include "user/input_translator.h"
#include "user/keyboard_state.h"

namespace kwz_platform {
namespace {

constexpr long kInputMask = ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask |
                            KeyReleaseMask | FocusChangeMask | ExposureMask | StructureNotifyMask;
// Another program's window: only its size is followed. Its input is that program's (and the
// server lets only one client select button presses on a window).
constexpr long kForeignMask = StructureNotifyMask;
constexpr unsigned kEvdevOffset = 8;

WPARAM MouseKeys(unsigned state) {
  WPARAM keys = 0;
  if ((state & Button1Mask) != 0) keys |= MK_LBUTTON;
  if ((state & Button2Mask) != 0) keys |= MK_MBUTTON;
  if ((state & Button3Mask) != 0) keys |= MK_RBUTTON;
  if ((state & ShiftMask) != 0) keys |= MK_SHIFT;
  if ((state & ControlMask) != 0) keys |= MK_CONTROL;
  return keys;
}

// Focus moves that Windows would report: into or out of the window itself from another window.
// Pointer, PointerRoot and None details and the grab modes are the server's bookkeeping.
bool ReportedFocusChange(const XFocusChangeEvent& focus) {
  if (focus.mode != NotifyNormal && focus.mode != NotifyWhileGrabbed) return false;
  return focus.detail == NotifyAncestor || focus.detail == NotifyInferior ||
         focus.detail == NotifyNonlinear;
}

class X11EventSource final : public NativeEventSource {
 public:
  X11EventSource(X11Backend* backend, Display* display) : backend_(backend), display_(display) {
    // Held keys then repeat as presses alone, so the key-down bitmap tells repeats apart.
    Bool supported = False;
    XkbSetDetectableAutoRepeat(display_, True, &supported);
    numLockMask_ = XkbKeysymToModifiers(display_, XK_Num_Lock);
    LoadKeymap();
  }
  // The thread keeps the layout: it holds no part of the connection.
  ~X11EventSource() override { CloseOurDisplay(display_); }

  int PollDescriptor() const override { return ConnectionNumber(display_); }
  int ManagerPollDescriptor() const override { return backend_->OwnerDescriptor(); }

  void Watch(NativeWindow& window, HWND handle) override {
    auto& x11 = static_cast<X11Window&>(window);
    const Window xid = x11.Xid();
    XSelectInput(display_, xid,
                 dynamic_cast<ForeignX11Window*>(&window) != nullptr ? kForeignMask : kInputMask);
    if (x11.TopLevel()) topLevels_.insert(xid);
    // Events sent from now on must find the selection in place.
    XSync(display_, False);
    TakeXErrors();
    windows_[xid] = handle;
  }

  void Unwatch(HWND handle) override {
    for (auto it = windows_.begin(); it != windows_.end();) {
      if (it->second == handle) {
        topLevels_.erase(it->first);
        it = windows_.erase(it);
      } else {
        ++it;
      }
    }
  }

  void Drain(std::vector<MSG>* messages) override {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MappingNotify) {
        XRefreshKeyboardMapping(&event.xmapping);
        if (event.xmapping.request != MappingPointer) LoadKeymap();
        continue;
      }
      auto it = windows_.find(event.xany.window);
      if (it != windows_.end()) Translate(it->second, event, messages);
    }
    TakeXErrors();
    std::vector<HWND> closing;
    backend_->TakeDeleteRequests(windows_, &closing);
    for (HWND window : closing) {
      messages->push_back(MSG{window, WM_CLOSE, 0, 0, 0, POINT{0, 0}});
    }
  }

 private:
  // The server's keymap for characters; US English when it cannot be read.
  void LoadKeymap() {
    std::shared_ptr<XkbKeyboardLayout> layout;
    xcb_connection_t* xcb = XGetXCBConnection(display_);
    if (xkb_x11_setup_xkb_extension(
            xcb, XKB_X11_MIN_MAJOR_XKB_VERSION, XKB_X11_MIN_MINOR_XKB_VERSION,
            XKB_X11_SETUP_XKB_EXTENSION_NO_FLAGS, nullptr, nullptr, nullptr, nullptr) != 0) {
      const int32_t device = xkb_x11_get_core_keyboard_device_id(xcb);
      xkb_context* context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
      if (context != nullptr && device >= 0) {
        if (xkb_keymap* keymap =
                xkb_x11_keymap_new_from_device(context, xcb, device, XKB_KEYMAP_COMPILE_NO_FLAGS)) {
          layout = std::make_shared<XkbKeyboardLayout>(context, keymap);
        }
      }
      if (context != nullptr) xkb_context_unref(context);
    }
    if (!layout) {
      OutputDebugStringA(
          "kwz: the X server's keymap cannot be read; keys are typed as US English\n");
      layout = XkbKeyboardLayout::FromNames("us", nullptr);
    }
    layout_ = layout;
    SetThreadKeyboardLayout(layout);
  }

  void Translate(HWND window, XEvent& event, std::vector<MSG>* messages) {
    switch (event.type) {
      case ButtonPress:
      case ButtonRelease: {
        const XButtonEvent& b = event.xbutton;
        translator_.Button(window, b.button, event.type == ButtonPress, POINT{b.x, b.y},
                           POINT{b.x_root, b.y_root}, MouseKeys(b.state),
                           static_cast<DWORD>(b.time), messages);
        return;
      }
      case MotionNotify: {
        const XMotionEvent& m = event.xmotion;
        translator_.Motion(window, POINT{m.x, m.y}, POINT{m.x_root, m.y_root}, MouseKeys(m.state),
                           static_cast<DWORD>(m.time), messages);
        return;
      }
      case KeyPress:
      case KeyRelease:
        return Key(window, event.xkey, messages);
      case ConfigureNotify: {
        // Our own children change size only when we ask; a window manager or another program
        // resizes top-level and foreign windows, and only the newest size counts.
        if (topLevels_.count(event.xconfigure.window) == 0) return;
        XEvent newer;
        while (XCheckTypedWindowEvent(display_, event.xconfigure.window, ConfigureNotify, &newer)) {
          event = newer;
        }
        const XConfigureEvent& c = event.xconfigure;
        messages->push_back(MSG{window, WM_SIZE, 0, MAKELPARAM(c.width, c.height), 0, POINT{0, 0}});
        return;
      }
      case Expose: {
        const XExposeEvent& e = event.xexpose;
        messages->push_back(MSG{window, WM_PAINT, static_cast<WPARAM>(MAKELPARAM(e.x, e.y)),
                                MAKELPARAM(e.width, e.height), 0, POINT{0, 0}});
        return;
      }
      case FocusIn:
      case FocusOut: {
        if (!ReportedFocusChange(event.xfocus)) return;
        // A stale event (the focus has moved on since) must not move our record back.
        Window focus = 0;
        int revert = 0;
        XGetInputFocus(display_, &focus, &revert);
        const bool gained = event.type == FocusIn;
        if ((focus == event.xfocus.window) != gained) return;
        if (gained) SyncLocks();
        translator_.Focus(window, gained, messages);
        return;
      }
      default:
        return;
    }
  }

  // The locks may have changed while another window had the keyboard.
  void SyncLocks() {
    XkbStateRec state{};
    if (XkbGetState(display_, XkbUseCoreKbd, &state) != Success) return;
    KeyboardState& keys = ThreadKeyboardState();
    keys.SetToggled(VK_CAPITAL, (state.locked_mods & LockMask) != 0);
    if (numLockMask_ != 0) keys.SetToggled(VK_NUMLOCK, (state.locked_mods & numLockMask_) != 0);
  }

  void Key(HWND window, const XKeyEvent& k, std::vector<MSG>* messages) {
    if (k.keycode < kEvdevOffset) return;
    const unsigned code = k.keycode - kEvdevOffset;
    KeyContext context;
    if (layout_) {
      layout_->SetGroup(XkbGroupForCoreState(k.state));
      context.letterVk = layout_->LetterVk(code);
      context.altGr = layout_->IsAltGr(code);
    }
    context.altHeld = (k.state & Mod1Mask) != 0;
    context.ctrlHeld = (k.state & ControlMask) != 0;
    context.shiftHeld = (k.state & ShiftMask) != 0;
    context.numLock = numLockMask_ != 0 && (k.state & numLockMask_) != 0;
    // The locks as the server has them, unless this key is the one changing them.
    KeyboardState& state = ThreadKeyboardState();
    if (code != kEvdevCapsLock) state.SetToggled(VK_CAPITAL, (k.state & LockMask) != 0);
    if (code != kEvdevNumLock && numLockMask_ != 0) state.SetToggled(VK_NUMLOCK, context.numLock);
    translator_.Key(window, code, k.type == KeyPress, context, static_cast<DWORD>(k.time),
                    POINT{k.x_root, k.y_root}, messages);
  }

  X11Backend* const backend_;
  Display* const display_;
  std::unordered_map<Window, HWND> windows_;
  std::unordered_set<Window> topLevels_;
  InputTranslator translator_;
  std::shared_ptr<XkbKeyboardLayout> layout_;
  unsigned numLockMask_ = 0;
};

}  // namespace

std::unique_ptr<NativeEventSource> X11Backend::CreateEventSource() {
  Display* display = OpenOurDisplay(name_.c_str());
  if (display == nullptr) return nullptr;
  return std::make_unique<X11EventSource>(this, display);
}

void X11Window::TakeFocus() {
  backend_->WithOwner([this](Display* owner) {
    XWindowAttributes attributes{};
    // The server refuses the focus to a window that is not viewable.
    if (XGetWindowAttributes(owner, xid_, &attributes) && attributes.map_state == IsViewable) {
      XSetInputFocus(owner, xid_, RevertToParent, CurrentTime);
    }
    XSync(owner, False);
    return TakeXErrors();
  });
}

unsigned long X11WindowForTesting(HWND window) {
  auto record = Windows().Find(window);
  if (!record) return 0;
  auto* x11 = dynamic_cast<X11Window*>(record->native.get());
  return x11 != nullptr ? x11->Xid() : 0;
}

}  // namespace kwz_platform
