// Browser key and pointer events as the page reports them, and records as failures show them.
#pragma once

#include <ostream>
#include <string>

#include "network/InputRecord.h"
#include "web/BrowserInputMessage.h"

// Records in a failure message by their fields rather than their bytes.
inline void PrintTo(const InputRecord& r, std::ostream* os) {
  *os << std::hex << "{x 0x" << r.x << " y 0x" << r.y << " buttons 0x" << r.buttons << " type "
      << int{r.type} << " message 0x" << r.message << " wParam 0x" << r.wParam << " lParam 0x"
      << r.lParam << std::dec << "}";
}

namespace kwz_test {

// typed: KeyboardEvent.key when it is one character (one or two UTF-16 units), else empty.
inline kwz_web::BrowserKey BrowserKeyEvent(const char* code, bool down, std::uint8_t modifiers = 0,
                                           std::u16string typed = u"", bool dead = false) {
  kwz_web::BrowserKey key;
  key.down = down;
  key.modifiers = modifiers;
  key.code = code;
  key.dead = dead;
  key.unitCount = static_cast<int>(typed.size());
  for (std::size_t i = 0; i < typed.size() && i < 2; ++i) key.units[i] = typed[i];
  return key;
}

inline kwz_web::BrowserPointer BrowserPointerEvent(kwz_web::PointerAction action,
                                                   kwz_web::PointerButton button, int x, int y) {
  return kwz_web::BrowserPointer{action, button, x, y};
}

}  // namespace kwz_test
