#include "platform/widestring.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "text/widestring_internal.h"

namespace kwz_platform {
namespace {

// FormatWide has no caller-sized buffer, so this bounds what a hostile width or a runaway
// argument can make it allocate.
constexpr size_t kMaxFormatWide = size_t{1} << 24;

// Lets helpers take arguments from one va_list without the indeterminate-state rule that
// applies when a va_list itself is passed down.
struct ArgList {
  va_list ap;
};

// Widths and precisions beyond INT_MAX are rejected, as the C run-time rejects them.
template <class C>
bool ParseCount(const C*& f, size_t* value) {
  size_t v = 0;
  while (*f >= '0' && *f <= '9') {
    v = v * 10 + static_cast<size_t>(*f - '0');
    if (v > static_cast<size_t>(INT_MAX)) return false;
    ++f;
  }
  *value = v;
  return true;
}

template <class C>
bool ParseField(const C*& f, ArgList& args, Field* field) {
  for (;; ++f) {
    if (*f == '-') {
      field->left = true;
    } else if (*f == '+') {
      field->plus = true;
    } else if (*f == ' ') {
      field->space = true;
    } else if (*f == '0') {
      field->zero = true;
    } else if (*f == '#') {
      field->alt = true;
    } else {
      break;
    }
  }
  if (*f == '*') {
    ++f;
    const int width = va_arg(args.ap, int);
    if (width < 0) {
      field->left = true;
      field->width = static_cast<size_t>(-static_cast<long long>(width));
    } else {
      field->width = static_cast<size_t>(width);
    }
  } else if (!ParseCount(f, &field->width)) {
    return false;
  }
  if (*f == '.') {
    ++f;
    field->hasPrecision = true;
    if (*f == '*') {
      ++f;
      const int precision = va_arg(args.ap, int);
      field->hasPrecision = precision >= 0;
      field->precision = precision >= 0 ? static_cast<size_t>(precision) : 0;
    } else if (!ParseCount(f, &field->precision)) {
      return false;
    }
  }
  switch (*f) {
    case 'h':
      ++f;
      field->length = Length::kShort;
      if (*f == 'h') {
        ++f;
        field->length = Length::kChar;
      }
      break;
    case 'l':
      ++f;
      field->length = Length::kLong;
      if (*f == 'l') {
        ++f;
        field->length = Length::kLongLong;
      }
      break;
    case 'w':
      ++f;
      field->length = Length::kWide;
      break;
    case 'z':
      ++f;
      field->length = Length::kSize;
      break;
    case 'j':
      ++f;
      field->length = Length::kMax;
      break;
    case 't':
      ++f;
      field->length = Length::kPtrDiff;
      break;
    case 'I':
      ++f;
      if (f[0] == '6' && f[1] == '4') {
        f += 2;
        field->length = Length::kLongLong;
      } else if (f[0] == '3' && f[1] == '2') {
        f += 2;
        field->length = Length::kNone;
      } else {
        field->length = Length::kSize;
      }
      break;
    default:
      break;
  }
  return true;
}

// Code written for Windows expects long to be 32 bits (LLP64), so 'l' reads an int here: a
// LONG or DWORD argument is an int-sized value on Linux too.
long long FetchSigned(ArgList& args, Length length) {
  switch (length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(args.ap, int));
    case Length::kShort:
      return static_cast<short>(va_arg(args.ap, int));
    case Length::kLongLong:
      return va_arg(args.ap, long long);
    case Length::kSize:
    case Length::kPtrDiff:
      return va_arg(args.ap, std::ptrdiff_t);
    case Length::kMax:
      return va_arg(args.ap, std::intmax_t);
    default:
      return va_arg(args.ap, int);
  }
}

unsigned long long FetchUnsigned(ArgList& args, Length length) {
  switch (length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(args.ap, unsigned));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(args.ap, unsigned));
    case Length::kLongLong:
      return va_arg(args.ap, unsigned long long);
    case Length::kSize:
    case Length::kPtrDiff:
      return va_arg(args.ap, size_t);
    case Length::kMax:
      return va_arg(args.ap, std::uintmax_t);
    default:
      return va_arg(args.ap, unsigned);
  }
}

// Microsoft's rule for %s and %c: 'h' means narrow, 'l' or 'w' wide; without one, lower case
// is the format's own width and upper case the other one.
template <class C>
bool TakesWide(C conversion, Length length) {
  if (length == Length::kShort) return false;
  if (length == Length::kLong || length == Length::kWide || length == Length::kLongLong) {
    return true;
  }
  const bool own = conversion == 's' || conversion == 'c';
  return own == std::is_same_v<C, char16_t>;
}

template <class C>
Status Format(Sink<C>& out, const C* f, ArgList& args) {
  while (*f != 0) {
    if (out.full()) return Status::kCut;
    if (*f != '%') {
      const C* start = f;
      while (*f != 0 && *f != '%') ++f;
      out.Write(start, static_cast<size_t>(f - start));
      continue;
    }
    ++f;
    Field field;
    if (!ParseField(f, args, &field)) return Status::kInvalid;
    const C conversion = *f;
    if (conversion == 0) return Status::kInvalid;
    ++f;
    switch (conversion) {
      case '%':
        out.Put(C('%'));
        break;
      case 'd':
      case 'i': {
        const long long value = FetchSigned(args, field.length);
        const bool negative = value < 0;
        const unsigned long long magnitude = negative
                                                 ? 0ULL - static_cast<unsigned long long>(value)
                                                 : static_cast<unsigned long long>(value);
        EmitInteger(out, field, static_cast<char>(conversion), magnitude, negative);
        break;
      }
      case 'u':
      case 'o':
      case 'x':
      case 'X':
        EmitInteger(out, field, static_cast<char>(conversion), FetchUnsigned(args, field.length),
                    false);
        break;
      case 'p': {
        // As the Windows run-time prints pointers: upper-case hex, all digits, no "0x".
        const auto value = reinterpret_cast<std::uintptr_t>(va_arg(args.ap, void*));
        Field pointer;
        pointer.left = field.left;
        pointer.width = field.width;
        pointer.hasPrecision = true;
        pointer.precision = sizeof(void*) * 2;
        EmitInteger(out, pointer, 'X', value, false);
        break;
      }
      case 'c':
      case 'C': {
        const int value = va_arg(args.ap, int);
        if (TakesWide(conversion, field.length)) {
          EmitChar(out, field, static_cast<char16_t>(value));
        } else {
          EmitChar(out, field, static_cast<char>(value));
        }
        break;
      }
      case 's':
      case 'S':
        if (TakesWide(conversion, field.length)) {
          EmitString(out, field, va_arg(args.ap, const char16_t*));
        } else {
          EmitString(out, field, va_arg(args.ap, const char*));
        }
        break;
      case 'f':
      case 'F':
      case 'e':
      case 'E':
      case 'g':
      case 'G':
      case 'a':
      case 'A':
        if (EmitFloat(out, field, static_cast<char>(conversion), va_arg(args.ap, double)) !=
            Status::kOk) {
          return Status::kInvalid;
        }
        break;
      default:
        // Includes %n, which the Windows run-time refuses as well.
        return Status::kInvalid;
    }
  }
  return out.full() ? Status::kCut : Status::kOk;
}

template <class C>
int BoundedFormat(C* buffer, size_t size, size_t count, const C* format, va_list args) {
  if (buffer == nullptr || size == 0 || format == nullptr) return -1;
  const bool countLimits = count != _TRUNCATE && count < size;
  const size_t capacity = std::min(countLimits ? count : size - 1, static_cast<size_t>(INT_MAX));
  Sink<C> out(buffer, capacity);
  ArgList list;
  va_copy(list.ap, args);
  const Status status = Format(out, format, list);
  va_end(list.ap);
  if (status == Status::kOk) {
    buffer[out.length()] = 0;
    return static_cast<int>(out.length());
  }
  // A cut is kept when the caller asked for truncation or for fewer characters than the buffer
  // holds; otherwise the output did not fit the buffer, which leaves it empty.
  if (status == Status::kCut && (count == _TRUNCATE || countLimits)) {
    buffer[out.length()] = 0;
  } else {
    buffer[0] = 0;
  }
  return -1;
}

}  // namespace
}  // namespace kwz_platform

using kwz_platform::ArgList;
using kwz_platform::BoundedFormat;
using kwz_platform::Format;
using kwz_platform::kMaxFormatWide;
using kwz_platform::Sink;
using kwz_platform::Status;

int _snwprintf_s(WCHAR* buffer, size_t sizeInWords, size_t count, const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = BoundedFormat(buffer, sizeInWords, count, format, args);
  va_end(args);
  return result;
}

int _vsnwprintf_s(WCHAR* buffer, size_t sizeInWords, size_t count, const WCHAR* format,
                  va_list args) {
  return BoundedFormat(buffer, sizeInWords, count, format, args);
}

int _snprintf_s(char* buffer, size_t sizeInBytes, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = BoundedFormat(buffer, sizeInBytes, count, format, args);
  va_end(args);
  return result;
}

int _vsnprintf_s(char* buffer, size_t sizeInBytes, size_t count, const char* format, va_list args) {
  return BoundedFormat(buffer, sizeInBytes, count, format, args);
}

std::u16string FormatWide(const WCHAR* format, ...) {
  va_list args;
  va_start(args, format);
  std::u16string result = VFormatWide(format, args);
  va_end(args);
  return result;
}

std::u16string VFormatWide(const WCHAR* format, va_list args) {
  std::u16string text;
  if (format == nullptr) return text;
  Sink<char16_t> out(&text, kMaxFormatWide);
  ArgList list;
  va_copy(list.ap, args);
  const Status status = Format(out, format, list);
  va_end(list.ap);
  if (status == Status::kInvalid) text.clear();
  return text;
}
