#include "platform/widestring.h"

#include <algorithm>
#include <climits>
#include <cstdarg>
#include <cstddef>
#include <iterator>
#include <string>
#include <type_traits>

namespace kwz_platform {
namespace {

// FormatWide has no caller-sized buffer, so this bounds what a hostile width or a runaway
// argument can make it allocate.
constexpr size_t kMaxFormatWide = size_t{1} << 24;

// Output that stores at most `capacity` units, either into a caller's buffer or a string, and
// remembers whether anything was cut. Fill never loops past the capacity, so a huge width costs
// nothing.
template <class C>
class Sink {
 public:
  Sink(C* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}
  Sink(std::basic_string<C>* text, size_t capacity) : text_(text), capacity_(capacity) {}

  bool full() const { return cut_; }
  size_t length() const { return length_; }

  void Fill(C c, size_t n) {
    n = Clip(n);
    if (text_ != nullptr) {
      text_->append(n, c);
    } else {
      std::fill_n(buffer_ + length_, n, c);
    }
    length_ += n;
  }
  void Write(const C* s, size_t n) {
    n = Clip(n);
    if (text_ != nullptr) {
      text_->append(s, n);
    } else {
      std::copy_n(s, n, buffer_ + length_);
    }
    length_ += n;
  }

 private:
  size_t Clip(size_t n) {
    const size_t room = capacity_ - length_;
    if (n > room) {
      cut_ = true;
      return room;
    }
    return n;
  }

  C* buffer_ = nullptr;
  std::basic_string<C>* text_ = nullptr;
  size_t capacity_;
  size_t length_ = 0;
  bool cut_ = false;
};

// Lets helpers take arguments from one va_list without the indeterminate-state rule that
// applies when a va_list itself is passed down.
struct ArgList {
  va_list ap;
};

enum class Status { kOk, kCut, kInvalid };

// The parts of a directive the system's formats use: %[0][width][h|l] and a conversion.
struct Field {
  bool zero = false;
  size_t width = 0;
  char length = 0;
};

// Widths beyond INT_MAX are rejected, as the C run-time rejects them.
template <class C>
bool ParseField(const C*& f, Field* field) {
  if (*f == '0') {
    field->zero = true;
    ++f;
  }
  for (; *f >= '0' && *f <= '9'; ++f) {
    field->width = field->width * 10 + static_cast<size_t>(*f - '0');
    if (field->width > static_cast<size_t>(INT_MAX)) return false;
  }
  if (*f == 'h' || *f == 'l') field->length = static_cast<char>(*f++);
  return true;
}

// Right-aligns body in the field's width; zero padding goes after the sign.
template <class C>
void Emit(Sink<C>& out, const Field& field, bool negative, const C* body, size_t n) {
  const size_t used = n + (negative ? 1 : 0);
  const size_t padding = field.width > used ? field.width - used : 0;
  if (!field.zero) out.Fill(C(' '), padding);
  if (negative) out.Fill(C('-'), 1);
  if (field.zero) out.Fill(C('0'), padding);
  out.Write(body, n);
}

template <class C>
void EmitInteger(Sink<C>& out, const Field& field, C conversion, unsigned magnitude,
                 bool negative) {
  const unsigned base = conversion == 'x' || conversion == 'X' ? 16 : 10;
  const char* digitSet = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";
  C digits[16];
  size_t count = 0;
  do {
    digits[std::size(digits) - ++count] = C(digitSet[magnitude % base]);
    magnitude /= base;
  } while (magnitude != 0);
  Emit(out, field, negative, digits + std::size(digits) - count, count);
}

// 'h' cuts an argument back to the short it was before promotion. 'l' reads 32 bits, as code
// written for Windows (LLP64) expects of a LONG or DWORD. A string is always of the format's own
// width: "%ls" in a narrow format and "%hs" in a wide one are refused.
template <class C>
Status Format(Sink<C>& out, const C* f, ArgList& args) {
  constexpr char kOtherWidth = std::is_same_v<C, char> ? 'l' : 'h';
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
    if (!ParseField(f, &field)) return Status::kInvalid;
    const C conversion = *f;
    if (conversion == 0) return Status::kInvalid;
    ++f;
    switch (conversion) {
      case 'd': {
        int value = va_arg(args.ap, int);
        if (field.length == 'h') value = static_cast<short>(value);
        const unsigned magnitude = static_cast<unsigned>(value);
        EmitInteger(out, field, conversion, value < 0 ? 0u - magnitude : magnitude, value < 0);
        break;
      }
      case 'u':
      case 'x':
      case 'X': {
        unsigned value = va_arg(args.ap, unsigned);
        if (field.length == 'h') value = static_cast<unsigned short>(value);
        EmitInteger(out, field, conversion, value, false);
        break;
      }
      case 's': {
        if (field.length == kOtherWidth) return Status::kInvalid;
        static constexpr C kNull[] = {C('('), C('n'), C('u'), C('l'), C('l'), C(')'), C(0)};
        const C* s = va_arg(args.ap, const C*);
        if (s == nullptr) s = kNull;
        Emit(out, field, false, s, std::char_traits<C>::length(s));
        break;
      }
      default:
        // Anything else, %n included, is refused before its argument is read.
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

int _snprintf_s(char* buffer, size_t sizeInBytes, size_t count, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const int result = BoundedFormat(buffer, sizeInBytes, count, format, args);
  va_end(args);
  return result;
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
