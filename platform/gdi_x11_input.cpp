// Input of the X11 backend's windows as window messages: each thread that owns windows reads
// their events on a display connection of its own, which its message loop polls beside its
// queue.
#include <X11/keysym.h>

#include <unordered_map>

#include "platform/gdi_objects.h"
#include "platform/gdi_x11.h"

namespace kwz_platform {
namespace {

constexpr long kInputMask =
    ButtonPressMask | ButtonReleaseMask | PointerMotionMask | KeyPressMask | KeyReleaseMask;
constexpr int kWheelDelta = 120;

WPARAM MouseKeys(unsigned state) {
  WPARAM keys = 0;
  if ((state & Button1Mask) != 0) keys |= MK_LBUTTON;
  if ((state & Button2Mask) != 0) keys |= MK_MBUTTON;
  if ((state & Button3Mask) != 0) keys |= MK_RBUTTON;
  if ((state & ShiftMask) != 0) keys |= MK_SHIFT;
  if ((state & ControlMask) != 0) keys |= MK_CONTROL;
  return keys;
}

// The virtual-key code of a key symbol; 0 for keys without one here.
WPARAM VirtualKey(KeySym sym) {
  if (sym >= XK_a && sym <= XK_z) return 'A' + (sym - XK_a);
  if (sym >= XK_A && sym <= XK_Z) return 'A' + (sym - XK_A);
  if (sym >= XK_0 && sym <= XK_9) return '0' + (sym - XK_0);
  if (sym >= XK_F1 && sym <= XK_F24) return VK_F1 + (sym - XK_F1);
  switch (sym) {
    case XK_BackSpace:
      return VK_BACK;
    case XK_Tab:
    case XK_ISO_Left_Tab:
      return VK_TAB;
    case XK_Return:
    case XK_KP_Enter:
      return VK_RETURN;
    case XK_Escape:
      return VK_ESCAPE;
    case XK_space:
      return VK_SPACE;
    case XK_Shift_L:
    case XK_Shift_R:
      return VK_SHIFT;
    case XK_Control_L:
    case XK_Control_R:
      return VK_CONTROL;
    case XK_Alt_L:
    case XK_Alt_R:
      return VK_MENU;
    case XK_Prior:
      return 0x21;
    case XK_Next:
      return 0x22;
    case XK_End:
      return 0x23;
    case XK_Home:
      return 0x24;
    case XK_Left:
      return VK_LEFT;
    case XK_Up:
      return VK_UP;
    case XK_Right:
      return VK_RIGHT;
    case XK_Down:
      return VK_DOWN;
    case XK_Insert:
      return 0x2D;
    case XK_Delete:
      return 0x2E;
    default:
      return 0;
  }
}

class X11EventSource final : public NativeEventSource {
 public:
  explicit X11EventSource(Display* display) : display_(display) {}
  ~X11EventSource() override { CloseOurDisplay(display_); }

  int PollDescriptor() const override { return ConnectionNumber(display_); }

  void Watch(NativeWindow& window, HWND handle) override {
    const Window xid = static_cast<X11Window&>(window).Xid();
    XSelectInput(display_, xid, kInputMask);
    // Events sent from now on must find the selection in place.
    XSync(display_, False);
    TakeXErrors();
    windows_[xid] = handle;
  }

  void Unwatch(HWND handle) override {
    for (auto it = windows_.begin(); it != windows_.end();) {
      it = it->second == handle ? windows_.erase(it) : std::next(it);
    }
  }

  void Drain(std::vector<MSG>* messages) override {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      auto it = windows_.find(event.xany.window);
      if (it == windows_.end()) continue;
      MSG message{it->second, 0, 0, 0, 0, POINT{0, 0}};
      if (Translate(event, &message)) messages->push_back(message);
    }
    TakeXErrors();
  }

 private:
  static bool Translate(XEvent& event, MSG* message) {
    switch (event.type) {
      case ButtonPress:
      case ButtonRelease: {
        const XButtonEvent& b = event.xbutton;
        const bool down = event.type == ButtonPress;
        message->pt = POINT{b.x_root, b.y_root};
        message->time = static_cast<DWORD>(b.time);
        if (b.button == Button4 || b.button == Button5) {
          if (!down) return false;
          // Wheel messages carry screen coordinates.
          const int delta = b.button == Button4 ? kWheelDelta : -kWheelDelta;
          message->message = WM_MOUSEWHEEL;
          message->wParam = MouseKeys(b.state) | static_cast<WPARAM>(static_cast<WORD>(delta))
                                                     << 16;
          message->lParam = MAKELPARAM(b.x_root, b.y_root);
          return true;
        }
        static const UINT kDown[] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
        static const UINT kUp[] = {WM_LBUTTONUP, WM_MBUTTONUP, WM_RBUTTONUP};
        if (b.button < Button1 || b.button > Button3) return false;
        message->message = (down ? kDown : kUp)[b.button - Button1];
        message->wParam = MouseKeys(b.state);
        message->lParam = MAKELPARAM(b.x, b.y);
        return true;
      }
      case MotionNotify: {
        const XMotionEvent& m = event.xmotion;
        message->message = WM_MOUSEMOVE;
        message->wParam = MouseKeys(m.state);
        message->lParam = MAKELPARAM(m.x, m.y);
        message->pt = POINT{m.x_root, m.y_root};
        message->time = static_cast<DWORD>(m.time);
        return true;
      }
      case KeyPress:
      case KeyRelease: {
        XKeyEvent& k = event.xkey;
        const WPARAM vk = VirtualKey(XLookupKeysym(&k, 0));
        if (vk == 0) return false;
        const bool down = event.type == KeyPress;
        // Alt held, or F10 alone, makes a system key as on Windows.
        const bool system = (k.state & Mod1Mask) != 0 || vk == VK_MENU || vk == VK_F1 + 9;
        message->message =
            down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
        message->wParam = vk;
        // Repeat count 1, the scan code, and for a release the previous-state and
        // transition bits.
        const LPARAM scan = static_cast<LPARAM>((k.keycode - 8) & 0xFF) << 16;
        message->lParam = 1 | scan | (down ? 0 : static_cast<LPARAM>(0xC0000000u));
        message->time = static_cast<DWORD>(k.time);
        return true;
      }
      default:
        return false;
    }
  }

  Display* const display_;
  std::unordered_map<Window, HWND> windows_;
};

}  // namespace

std::unique_ptr<NativeEventSource> X11Backend::CreateEventSource() {
  Display* display = OpenOurDisplay(name_.c_str());
  if (display == nullptr) return nullptr;
  return std::make_unique<X11EventSource>(display);
}

unsigned long X11WindowForTesting(HWND window) {
  auto record = Windows().Find(window);
  if (!record) return 0;
  auto* x11 = dynamic_cast<X11Window*>(record->native.get());
  return x11 != nullptr ? x11->Xid() : 0;
}

}  // namespace kwz_platform
