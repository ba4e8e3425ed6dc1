// Browser key events as the page reports them.
#pragma once

#include <string>

#include "web/BrowserInputMessage.h"

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

}  // namespace kwz_test
