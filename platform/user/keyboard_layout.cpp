// The US layout, Windows' Ctrl characters and ToUnicode's output.
#include "user/keyboard_layout.h"

#include "user/key_table.h"

namespace kwz_platform {
namespace {

constexpr BYTE kDown = 0x80;
constexpr BYTE kToggled = 0x01;
constexpr UINT kKeyUp = 0x8000;           // ToUnicode's scan code: a release
constexpr UINT kKeepKeyboardState = 0x4;  // ToUnicode's flags: leave dead keys alone

struct UsKey {
  BYTE vk;
  char plain;
  char shifted;
};

constexpr UsKey kUsKeys[] = {
    {'1', '1', '!'},         {'2', '2', '@'},          {'3', '3', '#'},
    {'4', '4', '$'},         {'5', '5', '%'},          {'6', '6', '^'},
    {'7', '7', '&'},         {'8', '8', '*'},          {'9', '9', '('},
    {'0', '0', ')'},         {VK_OEM_MINUS, '-', '_'}, {VK_OEM_PLUS, '=', '+'},
    {VK_OEM_4, '[', '{'},    {VK_OEM_6, ']', '}'},     {VK_OEM_1, ';', ':'},
    {VK_OEM_7, '\'', '"'},   {VK_OEM_3, '`', '~'},     {VK_OEM_5, '\\', '|'},
    {VK_OEM_102, '\\', '|'}, {VK_OEM_COMMA, ',', '<'}, {VK_OEM_PERIOD, '.', '>'},
    {VK_OEM_2, '/', '?'},    {VK_SPACE, ' ', ' '},     {VK_RETURN, '\r', '\r'},
    {VK_BACK, '\b', '\b'},   {VK_TAB, '\t', '\t'},     {VK_ESCAPE, 0x1B, 0x1B},
    {VK_MULTIPLY, '*', '*'}, {VK_ADD, '+', '+'},       {VK_SUBTRACT, '-', '-'},
    {VK_DECIMAL, '.', '.'},  {VK_DIVIDE, '/', '/'},
};

class UsLayout final : public KeyboardLayout {
 public:
  TypedKey Type(unsigned, BYTE vk, const BYTE* state, bool) override {
    // US English has nothing on AltGr.
    if ((state[VK_CONTROL] & kDown) != 0 && (state[VK_MENU] & kDown) != 0) return {};
    const bool shift = (state[VK_SHIFT] & kDown) != 0;
    if (vk >= 'A' && vk <= 'Z') {
      const bool upper = shift != ((state[VK_CAPITAL] & kToggled) != 0);
      return {std::u32string(1, static_cast<char32_t>(upper ? vk : vk - 'A' + 'a')), false};
    }
    if (vk >= VK_NUMPAD0 && vk <= VK_NUMPAD9) {
      return {std::u32string(1, static_cast<char32_t>('0' + vk - VK_NUMPAD0)), false};
    }
    for (const UsKey& key : kUsKeys) {
      if (key.vk == vk)
        return {std::u32string(1, static_cast<char32_t>(shift ? key.shifted : key.plain)), false};
    }
    return {};
  }
};

std::shared_ptr<KeyboardLayout>& ThreadLayoutSlot() {
  thread_local std::shared_ptr<KeyboardLayout> layout;
  return layout;
}

// Writes c as UTF-16 if it fits; the units it needs.
int PutUtf16(char32_t c, WCHAR* out, int room) {
  if (c < 0x10000) {
    if (room >= 1) out[0] = static_cast<WCHAR>(c);
    return 1;
  }
  if (room >= 2) {
    out[0] = static_cast<WCHAR>(0xD800 + ((c - 0x10000) >> 10));
    out[1] = static_cast<WCHAR>(0xDC00 + ((c - 0x10000) & 0x3FF));
  }
  return 2;
}

}  // namespace

std::unique_ptr<KeyboardLayout> MakeUsKeyboardLayout() {
  return std::make_unique<UsLayout>();
}

KeyboardLayout& ThreadKeyboardLayout() {
  std::shared_ptr<KeyboardLayout>& slot = ThreadLayoutSlot();
  if (!slot) slot = MakeUsKeyboardLayout();
  return *slot;
}

void SetThreadKeyboardLayout(std::shared_ptr<KeyboardLayout> layout) {
  ThreadLayoutSlot() = std::move(layout);
}

int ControlCharacter(BYTE vk, char32_t plain) {
  if (vk >= 'A' && vk <= 'Z') return vk - 'A' + 1;
  switch (vk) {
    case VK_RETURN:
      return 0x0A;
    case VK_BACK:
      return 0x7F;
    case VK_SPACE:
      return 0x20;
    case VK_ESCAPE:
      return 0x1B;
    default:
      break;
  }
  switch (plain) {
    case U'[':
      return 0x1B;
    case U'\\':
      return 0x1C;
    case U']':
      return 0x1D;
    case U'@':
      return 0x00;
    case U'^':
      return 0x1E;
    case U'_':
      return 0x1F;
    default:
      return -1;
  }
}

int TypeKey(KeyboardLayout& layout, UINT vk, UINT scanCode, const BYTE* state, WCHAR* buffer,
            int bufferSize, UINT flags) {
  if (state == nullptr || vk == 0 || vk > 0xFF || (scanCode & kKeyUp) != 0) return 0;
  if (buffer == nullptr) bufferSize = 0;
  // Callers pass the scan code alone or HIWORD(lParam), whose KF_EXTENDED tells keypad keys
  // from the navigation keys.
  const unsigned evdev = EvdevKeyForScan(scanCode & 0xFF, (scanCode & KF_EXTENDED) != 0);
  const BYTE key = static_cast<BYTE>(vk);
  const bool ctrl = (state[VK_CONTROL] & kDown) != 0;
  const bool alt = (state[VK_MENU] & kDown) != 0;
  TypedKey typed;
  if (ctrl && !alt) {
    // Ctrl characters come from the key without Ctrl, with no dead keys involved.
    const TypedKey plain = layout.Type(evdev, key, state, false);
    const int c = ControlCharacter(key, plain.chars.size() == 1 ? plain.chars[0] : 0);
    if (c >= 0) typed.chars.push_back(static_cast<char32_t>(c));
  } else {
    typed = layout.Type(evdev, key, state, (flags & kKeepKeyboardState) == 0);
  }
  int written = 0;
  for (char32_t c : typed.chars) {
    const int units = PutUtf16(c, buffer + written, bufferSize - written);
    if (written + units > bufferSize) break;
    written += units;
  }
  if (typed.dead) return written > 0 ? -1 : 0;
  return written;
}

}  // namespace kwz_platform
