#include "platform/widestring.h"

#include <algorithm>
#include <cstdarg>
#include <cstdint>

namespace kwz_platform {
namespace {

bool IsSpace(char16_t c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

void SkipSpace(const char16_t*& p) {
  while (IsSpace(*p)) ++p;
}

unsigned DigitValue(char16_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return 16;
}

// Reads a decimal int (with an optional sign) or hex digits into an unsigned, saturating at the
// target's range. Fails, consuming nothing, when there is no digit.
bool ScanInteger(const char16_t*& in, bool hex, void* target) {
  const char16_t* p = in;
  const bool negative = !hex && *p == '-';
  if (!hex && (*p == '+' || *p == '-')) ++p;
  const unsigned base = hex ? 16 : 10;
  const std::uint64_t limit = hex ? UINT32_MAX : negative ? 0x80000000u : INT32_MAX;
  std::uint64_t magnitude = 0;
  const char16_t* digits = p;
  for (; DigitValue(*p) < base; ++p) magnitude = std::min(magnitude * base + DigitValue(*p), limit);
  if (p == digits) return false;
  in = p;
  if (hex) {
    *static_cast<std::uint32_t*>(target) = static_cast<std::uint32_t>(magnitude);
  } else {
    const auto value = static_cast<std::int64_t>(magnitude);
    *static_cast<std::int32_t*>(target) = static_cast<std::int32_t>(negative ? -value : value);
  }
  return true;
}

int Scan(const char16_t* in, const char16_t* f, va_list args) {
  int assigned = 0;
  // An input failure is reported as EOF only before any field has been assigned.
  auto inputFailure = [&] { return assigned == 0 ? -1 : assigned; };

  while (*f != 0) {
    if (IsSpace(*f)) {
      SkipSpace(f);
      SkipSpace(in);
      continue;
    }
    if (*f != '%') {
      if (*in == 0) return inputFailure();
      if (*in != *f) return assigned;
      ++in;
      ++f;
      continue;
    }
    // Any directive but these ends the scan before its argument is read.
    const char16_t conversion = f[1];
    if (conversion != 'd' && conversion != 'x' && conversion != 's') return assigned;
    f += 2;
    SkipSpace(in);
    if (*in == 0) return inputFailure();
    if (conversion == 's') {
      size_t n = 0;
      while (in[n] != 0 && !IsSpace(in[n])) ++n;
      auto* target = va_arg(args, char16_t*);
      const size_t size = va_arg(args, unsigned);
      if (target == nullptr) return assigned;
      if (n >= size) {
        if (size != 0) target[0] = 0;
        return assigned;
      }
      std::copy_n(in, n, target);
      target[n] = 0;
      in += n;
    } else {
      void* target = va_arg(args, void*);
      if (target == nullptr || !ScanInteger(in, conversion == 'x', target)) return assigned;
    }
    ++assigned;
  }
  return assigned;
}

}  // namespace
}  // namespace kwz_platform

using kwz_platform::Scan;

int swscanf_s(const WCHAR* input, const WCHAR* format, ...) {
  if (input == nullptr || format == nullptr) return -1;
  va_list args;
  va_start(args, format);
  const int result = Scan(input, format, args);
  va_end(args);
  return result;
}
