#include "web/BrowserRemoteControl.h"

#include <utility>

#include "control/RemoteInputRules.h"
#include "platform/winuser.h"
#include "web/DomKeyCodes.h"

namespace kwz_web {
namespace {

// ToUnicode's room, as the control gives it.
constexpr int kCharacterRoom = 10;
constexpr UINT kKeepDeadKeys = 0x4;
constexpr UINT kExtendedPrefix = 0xE000;
constexpr BYTE kDown = 0x80;

// The window message for a button action; 0 for a move.
UINT ButtonMessage(PointerAction action, PointerButton button) {
  static constexpr UINT kMessages[3][3] = {
      // down, up, double-click
      {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK},
      {WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK},
      {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK},
  };
  if (action == PointerAction::kMove) return 0;
  return kMessages[static_cast<int>(button)][static_cast<int>(action) - 1];
}

DWORD KeyLParam(UINT scanCode, bool down, bool repeat, bool altHeld) {
  DWORD flags = 1u | (scanCode & 0xFF) << 16;
  if ((scanCode & kExtendedPrefix) != 0) flags |= kKeyFlagExtended;
  if (altHeld) flags |= kKeyFlagContext;
  if (repeat || !down) flags |= 1u << 30;
  if (!down) flags |= kKeyFlagReleased;
  return flags;
}

UINT VirtualKey(const DomKey& dom, const BrowserKey& key) {
  // Typing a digit or the point tells that NumLock is on for a keypad key.
  if (dom.numLockVk != 0 && key.unitCount > 0) return dom.numLockVk;
  // A key that types a Latin letter has that letter's virtual key wherever the page's layout
  // puts it (AZERTY's A is where QWERTY has Q), as the window backends give it: Ctrl+A must
  // stay Ctrl+A.
  if (key.unitCount == 1) {
    const char16_t c = key.units[0];
    if (c >= u'a' && c <= u'z') return c - u'a' + 'A';
    if (c >= u'A' && c <= u'Z') return c;
  }
  return MapVirtualKeyW(dom.scanCode, MAPVK_VSC_TO_VK);
}

// What ToUnicode would answer for the key: the page's character or dead key, unless Ctrl makes
// Windows' control characters; for keys the page names rather than types, the platform's.
int Characters(const DomKey& dom, UINT vk, const BrowserKey& key, const BYTE* state,
               bool ctrlCharacter, WCHAR (&out)[kCharacterRoom]) {
  if (!ctrlCharacter) {
    if (key.dead) return -1;
    if (key.unitCount > 0) {
      out[0] = key.units[0];
      out[1] = key.units[1];
      return key.unitCount;
    }
  }
  const UINT scan = (dom.scanCode & 0xFF) |
                    ((dom.scanCode & kExtendedPrefix) != 0 ? static_cast<UINT>(KF_EXTENDED) : 0u);
  return ToUnicode(vk, scan, state, out, kCharacterRoom, kKeepDeadKeys);
}

}  // namespace

BrowserRemoteControl::BrowserRemoteControl(Sink sink) : m_sink(std::move(sink)) {
  m_keyRecord.type = kInputRecordKeyboard;
}

void BrowserRemoteControl::Start() {
  // The page taking control may be another keyboard: no AltGr of the last one is held.
  m_altGrDown = false;
  m_mouseRecord = InputRecord{};
  m_mouseRecord.type = kInputRecordMouse;
  m_mouseRecord.message = 0;
}

void BrowserRemoteControl::SetScreenSize(int width, int height) {
  m_width = width;
  m_height = height;
}

void BrowserRemoteControl::Resend() {
  Send(m_mouseRecord);
}

void BrowserRemoteControl::Send(const InputRecord& record) {
  // Whichever record goes out, the mouse record first follows the pointer while it is over the
  // screen, as the control's follows the cursor over its window.
  if (m_pointerKnown && m_pointerX >= 0 && m_pointerX <= m_width && m_pointerY >= 0 &&
      m_pointerY <= m_height) {
    m_mouseRecord.x = m_pointerX;
    m_mouseRecord.y = m_pointerY;
  }
  m_sink(record);
}

void BrowserRemoteControl::OnPointer(const BrowserPointer& pointer) {
  m_pointerKnown = true;
  m_pointerX = pointer.x;
  m_pointerY = pointer.y;
  const UINT message = ButtonMessage(pointer.action, pointer.button);
  if (message == 0) return;
  m_mouseRecord.buttons = UpdateButtonBits(m_mouseRecord.buttons, message);
  Send(m_mouseRecord);
}

void BrowserRemoteControl::OnKey(const BrowserKey& key) {
  const std::optional<DomKey> dom = LookupDomKey(key.code);
  if (!dom) return;
  const UINT vk = VirtualKey(*dom, key);
  if (vk == 0) return;

  // Windows' AltGr holds a left Ctrl and the right Alt.
  bool altGr = (key.modifiers & kModifierAltGraph) != 0;
  if (vk == VK_MENU && (dom->scanCode & kExtendedPrefix) != 0) {
    if (key.down) {
      m_altGrDown = altGr;
    } else {
      altGr = altGr || m_altGrDown;
      m_altGrDown = false;
    }
  }
  const bool ctrl = (key.modifiers & kModifierCtrl) != 0 || altGr;
  const bool alt = (key.modifiers & kModifierAlt) != 0;
  // The modifiers are as they are after the event: an Alt released now was held before it.
  const bool altReleased = !key.down && vk == VK_MENU;
  const bool system = (alt || altReleased || vk == VK_F10) && !ctrl;
  UINT message;
  if (key.down) {
    message = system ? WM_SYSKEYDOWN : WM_KEYDOWN;
  } else {
    message = system ? WM_SYSKEYUP : WM_KEYUP;
  }
  const bool altAfter = (key.modifiers & (kModifierAlt | kModifierAltGraph)) != 0;
  const DWORD lParam =
      KeyLParam(dom->scanCode, key.down, (key.modifiers & kModifierRepeat) != 0, altAfter);

  BYTE state[256] = {};
  if (ctrl) state[VK_CONTROL] = kDown;
  if (alt || altGr) state[VK_MENU] = kDown;
  if ((key.modifiers & kModifierShift) != 0) state[VK_SHIFT] = kDown;
  WCHAR characters[kCharacterRoom] = {};
  int count = 0;
  if (KeyNeedsCharacters(message, vk)) {
    count = Characters(*dom, vk, key, state, ctrl && !altGr, characters);
  }
  const KeyOutcome outcome =
      ComposeKeyRecord(message, vk, lParam, state[VK_CONTROL], count, characters[0]);
  if (!outcome.send) return;
  m_keyRecord.message = outcome.message;
  m_keyRecord.wParam = outcome.wParam;
  m_keyRecord.lParam = outcome.lParam;
  Send(m_keyRecord);
}

}  // namespace kwz_web
