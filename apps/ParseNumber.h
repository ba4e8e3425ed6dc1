// Whole numbers on the programs' command lines: decimal, or hexadecimal after 0x, within the
// option's range; anything else (signs, spaces, trailing text, overflow) is refused.
#pragma once

#include <charconv>
#include <string_view>
#include <system_error>

namespace kwz_apps {

template <typename T>
bool ParseNumber(std::string_view text, T* value, T low, T high) {
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    text.remove_prefix(2);
    base = 16;
  }
  T parsed{};
  const char* end = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(text.data(), end, parsed, base);
  if (text.empty() || ec != std::errc() || ptr != end || parsed < low || parsed > high) {
    return false;
  }
  *value = parsed;
  return true;
}

}  // namespace kwz_apps
