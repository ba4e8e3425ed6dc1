#include "presenter/RemoteInputReplay.h"

#include <algorithm>

namespace presenter {
namespace {

constexpr WORD kVkBack = 0x08;
constexpr WORD kVkTab = 0x09;
constexpr WORD kVkReturn = 0x0D;
constexpr WORD kVkControl = 0x11;
constexpr WORD kVkMenu = 0x12;
constexpr WORD kVkEscape = 0x1B;
constexpr WORD kVkOem4 = 0xDB;  // [ on a US keyboard
constexpr WORD kVkOem5 = 0xDC;  // backslash
constexpr WORD kVkOem6 = 0xDD;  // ]

INPUT Key(WORD vk, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = vk;
  input.ki.dwFlags = flags;
  return input;
}

INPUT Character(WORD unit, DWORD flags) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wScan = unit;
  input.ki.dwFlags = KEYEVENTF_UNICODE | flags;
  return input;
}

void Tap(const INPUT& down, std::vector<INPUT>* out) {
  out->push_back(down);
  INPUT up = down;
  up.ki.dwFlags |= KEYEVENTF_KEYUP;
  out->push_back(up);
}

// The key that types a control character without Ctrl, or 0.
WORD KeyOfControlCharacter(DWORD unit) {
  switch (unit) {
    case 0x08:
      return kVkBack;
    case 0x09:
      return kVkTab;
    case 0x0D:
      return kVkReturn;
    case 0x1B:
      return kVkEscape;
    default:
      return 0;
  }
}

// The key that gives a character together with Ctrl (Windows' Ctrl table read backwards), or 0.
WORD KeyUnderCtrl(DWORD unit) {
  if (unit >= 1 && unit <= 26) return static_cast<WORD>('A' + unit - 1);
  switch (unit) {
    case 0x1B:
      return kVkOem4;
    case 0x1C:
      return kVkOem5;
    case 0x1D:
      return kVkOem6;
    case 0x0A:
      return kVkReturn;
    case 0x7F:
      return kVkBack;
    default:
      return 0;
  }
}

// Normalised absolute coordinate of pixel p on an axis of size pixels: the smallest step that
// SendInput maps back to p.
LONG Normalise(LONG p, int size) {
  if (size <= 0) return 0;
  const long long clamped = std::clamp<long long>(p, 0, size - 1);
  return static_cast<LONG>((clamped * 65536 + size - 1) / size);
}

}  // namespace

RemoteInputReplay::RemoteInputReplay(int screenWidth, int screenHeight)
    : m_screenWidth(screenWidth), m_screenHeight(screenHeight) {}

std::vector<INPUT> RemoteInputReplay::Translate(const InputRecord& record) {
  std::vector<INPUT> out;
  if (record.type == kInputRecordMouse) {
    TranslateMouse(record, &out);
  } else if (record.type == kInputRecordKeyboard) {
    TranslateKey(record, &out);
  }
  return out;
}

void RemoteInputReplay::TranslateMouse(const InputRecord& record, std::vector<INPUT>* out) {
  INPUT move{};
  move.type = INPUT_MOUSE;
  move.mi.dx = Normalise(record.x, m_screenWidth);
  move.mi.dy = Normalise(record.y, m_screenHeight);
  move.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
  out->push_back(move);

  struct Button {
    DWORD pressedBits;
    DWORD releasedBit;
    DWORD downFlag;
    DWORD upFlag;
    bool* down;
  };
  const Button buttons[] = {
      {kButtonLeftDown | kButtonLeftDouble, kButtonLeftUp, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP,
       &m_leftDown},
      {kButtonRightDown | kButtonRightDouble, kButtonRightUp, MOUSEEVENTF_RIGHTDOWN,
       MOUSEEVENTF_RIGHTUP, &m_rightDown},
      {kButtonMiddleDown | kButtonMiddleDouble, kButtonMiddleUp, MOUSEEVENTF_MIDDLEDOWN,
       MOUSEEVENTF_MIDDLEUP, &m_middleDown},
  };
  for (const Button& b : buttons) {
    DWORD flag = 0;
    if ((record.buttons & b.pressedBits) != 0 && !*b.down) {
      flag = b.downFlag;
      *b.down = true;
    } else if ((record.buttons & b.releasedBit) != 0 && *b.down) {
      flag = b.upFlag;
      *b.down = false;
    }
    if (flag == 0) continue;
    INPUT click{};
    click.type = INPUT_MOUSE;
    click.mi.dwFlags = flag;
    out->push_back(click);
  }
}

void RemoteInputReplay::TranslateKey(const InputRecord& record, std::vector<INPUT>* out) {
  const DWORD unit = record.wParam & 0xFFFF;
  const bool ctrl = (record.lParam & kKeyFlagCtrl) != 0;
  const bool alt = (record.lParam & kKeyFlagContext) != 0;
  // Windows holds Ctrl and Alt for AltGr, so a printable character that came with both is what
  // AltGr gave at the viewer: it is typed as that character, which this machine's layout may
  // place on another level or key, and Ctrl and Alt around it would make it a shortcut.
  if (record.message == kInputMessageCharacter && ctrl && alt && unit >= 0x20 && unit != 0x7F) {
    Tap(Character(static_cast<WORD>(unit), 0), out);
    return;
  }
  std::vector<INPUT> keys;
  if (record.message == kInputMessageCharacter) {
    const WORD underCtrl = ctrl ? KeyUnderCtrl(unit) : 0;
    if (underCtrl != 0) {
      keys.push_back(Key(kVkControl, 0));
      Tap(Key(underCtrl, 0), &keys);
      keys.push_back(Key(kVkControl, KEYEVENTF_KEYUP));
    } else if (WORD vk = KeyOfControlCharacter(unit)) {
      Tap(Key(vk, 0), &keys);
    } else if (ctrl) {
      keys.push_back(Key(kVkControl, 0));
      Tap(Character(static_cast<WORD>(unit), 0), &keys);
      keys.push_back(Key(kVkControl, KEYEVENTF_KEYUP));
    } else {
      Tap(Character(static_cast<WORD>(unit), 0), &keys);
    }
  } else if (record.message == kInputMessageKeyDown) {
    const WORD vk = static_cast<WORD>(record.wParam);
    const DWORD extended = (record.lParam & kKeyFlagExtended) != 0 ? KEYEVENTF_EXTENDEDKEY : 0;
    if ((record.lParam & kKeyFlagReleased) != 0) {
      keys.push_back(Key(vk, extended | KEYEVENTF_KEYUP));
    } else if (extended != 0 && !alt) {
      keys.push_back(Key(vk, extended));
    } else {
      // No release follows: non-extended keys are never released by the viewer, and the
      // release of a key pressed with Alt is a system key-up, which it does not send.
      Tap(Key(vk, extended), &keys);
    }
  } else {
    return;
  }
  const bool altItself =
      record.message == kInputMessageKeyDown && static_cast<WORD>(record.wParam) == kVkMenu;
  if (alt && !altItself) out->push_back(Key(kVkMenu, 0));
  out->insert(out->end(), keys.begin(), keys.end());
  if (alt && !altItself) out->push_back(Key(kVkMenu, KEYEVENTF_KEYUP));
}

}  // namespace presenter
