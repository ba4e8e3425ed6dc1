#include "web/BrowserInputMessage.h"

namespace kwz_web {
namespace {

constexpr std::uint8_t kKindCaps = 1;
constexpr std::uint8_t kKindControl = 2;
constexpr std::uint8_t kKindPointer = 3;
constexpr std::uint8_t kKindKey = 4;

constexpr std::size_t kPointerSize = 12;
constexpr std::size_t kMaxCodeLength = 32;
constexpr std::uint8_t kDeadKey = 0xFF;

std::int32_t ReadInt32(const std::uint8_t* p) {
  return static_cast<std::int32_t>(
      static_cast<std::uint32_t>(p[0]) | static_cast<std::uint32_t>(p[1]) << 8 |
      static_cast<std::uint32_t>(p[2]) << 16 | static_cast<std::uint32_t>(p[3]) << 24);
}

bool IsHighSurrogate(char16_t u) {
  return u >= 0xD800 && u <= 0xDBFF;
}
bool IsLowSurrogate(char16_t u) {
  return u >= 0xDC00 && u <= 0xDFFF;
}

std::optional<BrowserInputMessage> ParsePointer(const std::uint8_t* data, std::size_t size) {
  if (size != kPointerSize || data[1] > 3 || data[2] > 2 || data[3] != 0) return std::nullopt;
  return BrowserPointer{static_cast<PointerAction>(data[1]), static_cast<PointerButton>(data[2]),
                        ReadInt32(data + 4), ReadInt32(data + 8)};
}

std::optional<BrowserInputMessage> ParseKey(const std::uint8_t* data, std::size_t size) {
  // Kind, phase, modifiers, code length, at least one code byte, character count.
  if (size < 6 || data[1] > 1 || (data[2] & ~0x1F) != 0) return std::nullopt;
  const std::size_t codeLength = data[3];
  if (codeLength == 0 || codeLength > kMaxCodeLength || size < 5 + codeLength) return std::nullopt;
  BrowserKey key;
  key.down = data[1] == 0;
  key.modifiers = data[2];
  for (std::size_t i = 0; i < codeLength; ++i) {
    const std::uint8_t c = data[4 + i];
    if (c < 0x20 || c > 0x7E) return std::nullopt;
    key.code.push_back(static_cast<char>(c));
  }
  const std::uint8_t m = data[4 + codeLength];
  const std::size_t units = m == kDeadKey ? 0 : m;
  if (units > 2 || size != 5 + codeLength + 2 * units) return std::nullopt;
  key.dead = m == kDeadKey;
  key.unitCount = static_cast<int>(units);
  const std::uint8_t* p = data + 5 + codeLength;
  for (std::size_t i = 0; i < units; ++i) {
    key.units[i] = static_cast<char16_t>(p[2 * i] | p[2 * i + 1] << 8);
  }
  // One character: a lone unit outside the surrogates, or a high surrogate and then a low one.
  if (units == 1 && (IsHighSurrogate(key.units[0]) || IsLowSurrogate(key.units[0]))) {
    return std::nullopt;
  }
  if (units == 2 && !(IsHighSurrogate(key.units[0]) && IsLowSurrogate(key.units[1]))) {
    return std::nullopt;
  }
  return key;
}

}  // namespace

std::optional<BrowserInputMessage> ParseBrowserInputMessage(const std::uint8_t* data,
                                                            std::size_t size) {
  if (data == nullptr || size == 0) return std::nullopt;
  switch (data[0]) {
    case kKindCaps:
      if (size != 2 || (data[1] & ~(kCodecH264 | kCodecVp8 | kCodecVp9)) != 0) return std::nullopt;
      return BrowserCaps{data[1]};
    case kKindControl:
      if (size != 2 || data[1] > 1) return std::nullopt;
      return BrowserControl{data[1] == 1};
    case kKindPointer:
      return ParsePointer(data, size);
    case kKindKey:
      return ParseKey(data, size);
    default:
      return std::nullopt;
  }
}

}  // namespace kwz_web
