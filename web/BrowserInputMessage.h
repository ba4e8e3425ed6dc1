// The binary WebSocket messages a browser page sends the web gateway, little-endian:
//
//   CAPS     [1][codecs: 1 H.264, 2 VP8, 4 VP9]                             2 bytes
//   CONTROL  [2][1 take, 0 release]                                         2 bytes
//   POINTER  [3][action][button][0][int32 x][int32 y]                       12 bytes
//   KEY      [4][phase][modifiers][n][n bytes code][m][m UTF-16 units]      5 + n + 2m bytes
//
// POINTER: action 0 move, 1 down, 2 up, 3 double-click (a press whose MouseEvent.detail is 2);
// button as MouseEvent.button (0 left, 1 middle, 2 right); x, y in shared-screen pixels, possibly
// outside the screen. KEY: phase 0 down, 1 up; modifiers below; code is KeyboardEvent.code (1 to
// 32 printable ASCII bytes); m is 1 or 2 when KeyboardEvent.key is one character (2: a surrogate
// pair), 0 when it is none, 0xFF for a dead key (no units follow).
//
// Anything else, including bytes after the end, is junk: the parser refuses it and the gateway
// drops that browser.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace kwz_web {

constexpr std::uint8_t kCodecH264 = 1;
constexpr std::uint8_t kCodecVp8 = 2;
constexpr std::uint8_t kCodecVp9 = 4;

constexpr std::uint8_t kModifierCtrl = 1;
constexpr std::uint8_t kModifierAlt = 2;
constexpr std::uint8_t kModifierShift = 4;
constexpr std::uint8_t kModifierRepeat = 8;
constexpr std::uint8_t kModifierAltGraph = 16;

struct BrowserCaps {
  std::uint8_t codecs = 0;
};

struct BrowserControl {
  bool take = false;
};

enum class PointerAction : std::uint8_t { kMove, kDown, kUp, kDoubleClick };
enum class PointerButton : std::uint8_t { kLeft, kMiddle, kRight };

struct BrowserPointer {
  PointerAction action = PointerAction::kMove;
  PointerButton button = PointerButton::kLeft;
  std::int32_t x = 0;
  std::int32_t y = 0;
};

struct BrowserKey {
  bool down = true;
  std::uint8_t modifiers = 0;
  std::string code;
  bool dead = false;
  int unitCount = 0;  // 0, 1 or 2 (a surrogate pair)
  char16_t units[2] = {};
};

using BrowserInputMessage = std::variant<BrowserCaps, BrowserControl, BrowserPointer, BrowserKey>;

// nullopt for junk.
std::optional<BrowserInputMessage> ParseBrowserInputMessage(const std::uint8_t* data,
                                                            std::size_t size);

}  // namespace kwz_web
