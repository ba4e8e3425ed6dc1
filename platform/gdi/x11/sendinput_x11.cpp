// SendInput through the XTEST extension of the X11 backend's display.
#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <mutex>
#include <string>

#include "platform/kernel.h"
#include "platform/sendinput.h"
#include "platform/winerror.h"

#include "gdi/backend.h"
#include "gdi/x11/character_stroke.h"
#include "gdi/x11/x11_backend.h"

namespace kwz_platform {
namespace {

struct VirtualKeySym {
  WORD vk;
  KeySym plain;
  KeySym extended;  // with KEYEVENTF_EXTENDEDKEY; NoSymbol: the same key
};

// Virtual keys that are not letters, digits or function keys, with the X key symbols of the
// keys in the same place on a US keyboard.
constexpr VirtualKeySym kVirtualKeys[] = {
    {0x08, XK_BackSpace, NoSymbol},     {0x09, XK_Tab, NoSymbol},
    {0x0D, XK_Return, XK_KP_Enter},     {0x10, XK_Shift_L, XK_Shift_R},
    {0x11, XK_Control_L, XK_Control_R}, {0x12, XK_Alt_L, XK_Alt_R},
    {0x13, XK_Pause, NoSymbol},         {0x14, XK_Caps_Lock, NoSymbol},
    {0x1B, XK_Escape, NoSymbol},        {0x20, XK_space, NoSymbol},
    {0x21, XK_KP_Prior, XK_Prior},      {0x22, XK_KP_Next, XK_Next},
    {0x23, XK_KP_End, XK_End},          {0x24, XK_KP_Home, XK_Home},
    {0x25, XK_KP_Left, XK_Left},        {0x26, XK_KP_Up, XK_Up},
    {0x27, XK_KP_Right, XK_Right},      {0x28, XK_KP_Down, XK_Down},
    {0x2C, XK_Print, XK_Print},         {0x2D, XK_KP_Insert, XK_Insert},
    {0x2E, XK_KP_Delete, XK_Delete},    {0x5B, XK_Super_L, XK_Super_L},
    {0x5C, XK_Super_R, XK_Super_R},     {0x5D, XK_Menu, XK_Menu},
    {0x6A, XK_KP_Multiply, NoSymbol},   {0x6B, XK_KP_Add, NoSymbol},
    {0x6D, XK_KP_Subtract, NoSymbol},   {0x6E, XK_KP_Decimal, NoSymbol},
    {0x6F, XK_KP_Divide, XK_KP_Divide}, {0x90, XK_Num_Lock, XK_Num_Lock},
    {0x91, XK_Scroll_Lock, NoSymbol},   {0xA0, XK_Shift_L, NoSymbol},
    {0xA1, XK_Shift_R, NoSymbol},       {0xA2, XK_Control_L, NoSymbol},
    {0xA3, XK_Control_R, NoSymbol},     {0xA4, XK_Alt_L, NoSymbol},
    {0xA5, XK_Alt_R, NoSymbol},         {0xBA, XK_semicolon, NoSymbol},
    {0xBB, XK_equal, NoSymbol},         {0xBC, XK_comma, NoSymbol},
    {0xBD, XK_minus, NoSymbol},         {0xBE, XK_period, NoSymbol},
    {0xBF, XK_slash, NoSymbol},         {0xC0, XK_grave, NoSymbol},
    {0xDB, XK_bracketleft, NoSymbol},   {0xDC, XK_backslash, NoSymbol},
    {0xDD, XK_bracketright, NoSymbol},  {0xDE, XK_apostrophe, NoSymbol},
};

KeySym SymOfVirtualKey(WORD vk, bool extended) {
  if (vk >= 'A' && vk <= 'Z') return XK_a + (vk - 'A');
  if (vk >= '0' && vk <= '9') return XK_0 + (vk - '0');
  if (vk >= 0x60 && vk <= 0x69) return XK_KP_0 + (vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return XK_F1 + (vk - 0x70);
  for (const VirtualKeySym& entry : kVirtualKeys) {
    if (entry.vk != vk) continue;
    return extended && entry.extended != NoSymbol ? entry.extended : entry.plain;
  }
  return NoSymbol;
}

// The X key symbol of a UTF-16 unit: Latin-1 symbols are their code points, the rest of the
// basic plane is offset by 0x01000000; control characters name their keys.
KeySym SymOfCharacter(WORD unit) {
  switch (unit) {
    case 0x08:
      return XK_BackSpace;
    case 0x09:
      return XK_Tab;
    case 0x0A:
    case 0x0D:
      return XK_Return;
    case 0x1B:
      return XK_Escape;
    default:
      break;
  }
  if (unit < 0x20 || (unit >= 0x7F && unit < 0xA0) || (unit >= 0xD800 && unit < 0xE000)) {
    return NoSymbol;
  }
  return unit < 0x100 ? static_cast<KeySym>(unit) : static_cast<KeySym>(0x01000000u | unit);
}

class InputConnection {
 public:
  // Injects one input; false when it names no key of the display.
  bool Inject(const INPUT& input, const std::string& displayName) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!Open(displayName)) return false;
    const bool injected =
        input.type == INPUT_MOUSE ? Mouse(input.mi) : input.type == INPUT_KEYBOARD && Key(input.ki);
    DrainEvents();
    return injected;
  }

 private:
  bool Open(const std::string& name) {
    if (display_ != nullptr && name == name_) return true;
    if (display_ != nullptr) CloseOurDisplay(display_);
    name_ = name;
    display_ = OpenOurDisplay(name.c_str());
    if (display_ == nullptr) return false;
    int event = 0, error = 0, major = 0, minor = 0;
    if (!XTestQueryExtension(display_, &event, &error, &major, &minor)) {
      CloseOurDisplay(display_);
      display_ = nullptr;
      return false;
    }
    return true;
  }

  bool Mouse(const MOUSEINPUT& mi) {
    if ((mi.dwFlags & MOUSEEVENTF_MOVE) != 0) {
      if ((mi.dwFlags & MOUSEEVENTF_ABSOLUTE) != 0) {
        const int screen = DefaultScreen(display_);
        // Normalised coordinates cover the primary display: 65536 steps across its width.
        const long long width = DisplayWidth(display_, screen);
        const long long height = DisplayHeight(display_, screen);
        const int x = static_cast<int>(static_cast<long long>(mi.dx) * width / 65536);
        const int y = static_cast<int>(static_cast<long long>(mi.dy) * height / 65536);
        XTestFakeMotionEvent(display_, screen, x, y, CurrentTime);
      } else {
        XTestFakeRelativeMotionEvent(display_, mi.dx, mi.dy, CurrentTime);
      }
    }
    static constexpr struct {
      DWORD flag;
      unsigned button;
      Bool press;
    } kButtons[] = {
        {MOUSEEVENTF_LEFTDOWN, Button1, True},   {MOUSEEVENTF_LEFTUP, Button1, False},
        {MOUSEEVENTF_RIGHTDOWN, Button3, True},  {MOUSEEVENTF_RIGHTUP, Button3, False},
        {MOUSEEVENTF_MIDDLEDOWN, Button2, True}, {MOUSEEVENTF_MIDDLEUP, Button2, False},
    };
    for (const auto& b : kButtons) {
      if ((mi.dwFlags & b.flag) != 0)
        XTestFakeButtonEvent(display_, b.button, b.press, CurrentTime);
    }
    return true;
  }

  bool Key(const KEYBDINPUT& ki) {
    const bool release = (ki.dwFlags & KEYEVENTF_KEYUP) != 0;
    if ((ki.dwFlags & KEYEVENTF_UNICODE) != 0) {
      // The whole stroke goes with the press: the level's modifiers, a switched group or a lent
      // keycode must not outlast the call, and a release comes in a call of its own at times.
      const KeySym sym = SymOfCharacter(ki.wScan);
      return sym != NoSymbol && TypeCharacter(display_, sym, !release);
    }
    const KeySym sym = SymOfVirtualKey(ki.wVk, (ki.dwFlags & KEYEVENTF_EXTENDEDKEY) != 0);
    if (sym == NoSymbol) return false;
    const KeyCode code = XKeysymToKeycode(display_, sym);
    if (code == 0) return false;
    XTestFakeKeyEvent(display_, code, release ? False : True, CurrentTime);
    return true;
  }

  // Nothing here asks for events, but every client gets the keymap's changes; they are read so
  // that they do not pile up and so that key lookups follow the new keymap.
  void DrainEvents() {
    while (XPending(display_) > 0) {
      XEvent event;
      XNextEvent(display_, &event);
      if (event.type == MappingNotify) XRefreshKeyboardMapping(&event.xmapping);
    }
  }

  std::mutex lock_;
  std::string name_;            // guarded by lock_
  Display* display_ = nullptr;  // guarded by lock_
};

InputConnection& TheInputConnection() {
  static auto* connection = new InputConnection;  // never closed: injections may come at exit
  return *connection;
}

}  // namespace
}  // namespace kwz_platform

UINT SendInput(UINT count, INPUT* inputs, int size) {
  using namespace kwz_platform;
  if (inputs == nullptr || size != static_cast<int>(sizeof(INPUT))) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  GdiBackend& backend = ActiveGdiBackend();
  if (backend.Kind() != GdiBackendKind::kX11) {
    SetLastError(ERROR_ACCESS_DENIED);
    return 0;
  }
  const std::string& name = static_cast<X11Backend&>(backend).Name();
  UINT injected = 0;
  for (UINT i = 0; i < count; ++i) {
    if (TheInputConnection().Inject(inputs[i], name)) ++injected;
  }
  if (injected == 0 && count != 0) SetLastError(ERROR_ACCESS_DENIED);
  return injected;
}
