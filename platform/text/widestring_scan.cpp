#include "platform/widestring.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstdint>
#include <limits>
#include <type_traits>

#include "text/widestring_internal.h"

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
  if (c >= 'a' && c <= 'z') return c - 'a' + 10;
  if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
  return 99;
}

struct ScannedNumber {
  bool negative = false;
  bool overflow = false;
  unsigned long long magnitude = 0;
};

// Reads an integer of at most `width` characters; base 0 picks it from the prefix as %i does.
// Fails, consuming nothing, when there is no digit.
bool ScanInteger(const char16_t*& in, size_t width, unsigned base, ScannedNumber* number) {
  const char16_t* p = in;
  size_t left = width;
  if (left != 0 && (*p == '+' || *p == '-')) {
    number->negative = *p == '-';
    ++p;
    --left;
  }
  // A "0x" counts as a prefix only when a hex digit follows; otherwise the 0 is the number.
  const bool hexPrefix =
      left >= 3 && p[0] == '0' && (p[1] == 'x' || p[1] == 'X') && DigitValue(p[2]) < 16;
  if (base == 0) {
    base = hexPrefix ? 16 : (left != 0 && *p == '0') ? 8 : 10;
  }
  if (base == 16 && hexPrefix) {
    p += 2;
    left -= 2;
  }
  size_t digits = 0;
  for (; left != 0; --left, ++p, ++digits) {
    const unsigned digit = DigitValue(*p);
    if (digit >= base) break;
    if (number->magnitude > (ULLONG_MAX - digit) / base) {
      number->overflow = true;
    } else {
      number->magnitude = number->magnitude * base + digit;
    }
  }
  if (digits == 0) return false;
  in = p;
  return true;
}

template <class T>
void StoreSigned(void* target, const ScannedNumber& n) {
  using U = std::make_unsigned_t<T>;
  const auto max = static_cast<unsigned long long>(std::numeric_limits<T>::max());
  T value;
  if (n.negative) {
    value = n.overflow || n.magnitude > max + 1
                ? std::numeric_limits<T>::min()
                : static_cast<T>(static_cast<U>(0ULL - n.magnitude));
  } else {
    value = n.overflow || n.magnitude > max ? std::numeric_limits<T>::max()
                                            : static_cast<T>(n.magnitude);
  }
  *static_cast<T*>(target) = value;
}

// A minus sign on an unsigned conversion negates modulo the type's range, as strtoul does, so
// "-1" reads as the maximum; magnitudes beyond the range saturate.
template <class T>
void StoreUnsigned(void* target, const ScannedNumber& n) {
  const auto max = static_cast<unsigned long long>(std::numeric_limits<T>::max());
  T value;
  if (n.overflow || n.magnitude > max) {
    value = std::numeric_limits<T>::max();
  } else {
    value = static_cast<T>(n.negative ? 0ULL - n.magnitude : n.magnitude);
  }
  *static_cast<T*>(target) = value;
}

void StoreInteger(void* target, bool isSigned, Length length, const ScannedNumber& n) {
  switch (length) {
    case Length::kChar:
      isSigned ? StoreSigned<signed char>(target, n) : StoreUnsigned<unsigned char>(target, n);
      break;
    case Length::kShort:
      isSigned ? StoreSigned<short>(target, n) : StoreUnsigned<unsigned short>(target, n);
      break;
    case Length::kLongLong:
      isSigned ? StoreSigned<long long>(target, n) : StoreUnsigned<unsigned long long>(target, n);
      break;
    default:
      // 'l' is 32 bits here for the same LLP64 reason as in formatting.
      isSigned ? StoreSigned<std::int32_t>(target, n) : StoreUnsigned<std::uint32_t>(target, n);
      break;
  }
}

int Scan(const char16_t* in, const char16_t* f, va_list args) {
  int assigned = 0;
  bool converted = false;
  // An input failure is reported as EOF only before any conversion has completed.
  auto inputFailure = [&] { return converted ? assigned : -1; };

  while (*f != 0) {
    if (IsSpace(*f)) {
      SkipSpace(f);
      SkipSpace(in);
      continue;
    }
    if (*f != '%' || f[1] == '%') {
      if (*f == '%') {
        ++f;
        SkipSpace(in);
      }
      if (*in == 0) return inputFailure();
      if (*in != *f) return assigned;
      ++in;
      ++f;
      continue;
    }
    ++f;
    const bool suppress = *f == '*';
    if (suppress) ++f;
    size_t width = 0;
    while (*f >= '0' && *f <= '9') {
      width = std::min<size_t>(width * 10 + (*f - '0'), INT_MAX);
      ++f;
    }
    Length length = Length::kNone;
    if (f[0] == 'h' && f[1] == 'h') {
      length = Length::kChar;
      f += 2;
    } else if (f[0] == 'h') {
      length = Length::kShort;
      ++f;
    } else if (f[0] == 'l' && f[1] == 'l') {
      length = Length::kLongLong;
      f += 2;
    } else if (f[0] == 'l' || f[0] == 'w') {
      length = Length::kLong;
      ++f;
    } else if (f[0] == 'I' && f[1] == '6' && f[2] == '4') {
      length = Length::kLongLong;
      f += 3;
    } else if (f[0] == 'I' && f[1] == '3' && f[2] == '2') {
      f += 3;
    }
    const char16_t conversion = *f;
    if (conversion == 0) return assigned;
    ++f;

    switch (conversion) {
      case 'd':
      case 'i':
      case 'u':
      case 'x':
      case 'X': {
        SkipSpace(in);
        if (*in == 0) return inputFailure();
        const unsigned base = conversion == 'd' || conversion == 'u' ? 10
                              : conversion == 'i'                    ? 0
                                                                     : 16;
        ScannedNumber number;
        if (!ScanInteger(in, width == 0 ? SIZE_MAX : width, base, &number)) return assigned;
        converted = true;
        if (!suppress) {
          void* target = va_arg(args, void*);
          if (target == nullptr) return assigned;
          StoreInteger(target, conversion == 'd' || conversion == 'i', length, number);
          ++assigned;
        }
        break;
      }
      case 'c':
      case 's': {
        if (length != Length::kNone && length != Length::kLong) return assigned;
        // %c takes the next characters as they are; %s a white-space-delimited word.
        if (conversion == 's') SkipSpace(in);
        if (*in == 0) return inputFailure();
        const size_t limit = width == 0 ? (conversion == 'c' ? 1 : SIZE_MAX) : width;
        size_t n = 0;
        if (conversion == 'c') {
          while (n < limit && in[n] != 0) ++n;
          if (n < limit) return inputFailure();
        } else {
          while (n < limit && in[n] != 0 && !IsSpace(in[n])) ++n;
        }
        const char16_t* word = in;
        in += n;
        converted = true;
        if (suppress) break;
        auto* target = va_arg(args, char16_t*);
        const size_t size = va_arg(args, unsigned);
        if (target == nullptr) return assigned;
        const size_t needed = conversion == 's' ? n + 1 : n;
        if (needed > size) {
          if (conversion == 's' && size != 0) target[0] = 0;
          return assigned;
        }
        std::copy_n(word, n, target);
        if (conversion == 's') target[n] = 0;
        ++assigned;
        break;
      }
      default:
        return assigned;
    }
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
