#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <type_traits>

#include "text/widestring_internal.h"

namespace kwz_platform {
namespace {

template <class C>
void WriteAscii(Sink<C>& out, const char* s, size_t n) {
  for (size_t i = 0; i < n && !out.full(); ++i) out.Put(static_cast<C>(s[i]));
}

template <class C>
void PadBefore(Sink<C>& out, const Field& field, size_t body) {
  // The C run-time zero-pads strings and characters too when asked to.
  if (!field.left && field.width > body) out.Fill(field.zero ? C('0') : C(' '), field.width - body);
}

template <class C>
void PadAfter(Sink<C>& out, const Field& field, size_t body) {
  if (field.left && field.width > body) out.Fill(C(' '), field.width - body);
}

}  // namespace

template <class C>
void EmitInteger(Sink<C>& out, const Field& field, char conversion, unsigned long long magnitude,
                 bool negative) {
  const bool isSigned = conversion == 'd' || conversion == 'i';
  const unsigned base = conversion == 'o' ? 8 : (conversion == 'x' || conversion == 'X') ? 16 : 10;
  const char* digitSet = conversion == 'X' ? "0123456789ABCDEF" : "0123456789abcdef";

  char digits[24];
  size_t count = 0;
  if (!(field.hasPrecision && field.precision == 0 && magnitude == 0)) {
    do {
      digits[sizeof(digits) - 1 - count++] = digitSet[magnitude % base];
      magnitude /= base;
    } while (magnitude != 0);
  }
  const char* first = digits + sizeof(digits) - count;

  char prefix[3];
  size_t prefixLength = 0;
  if (negative) {
    prefix[prefixLength++] = '-';
  } else if (isSigned && field.plus) {
    prefix[prefixLength++] = '+';
  } else if (isSigned && field.space) {
    prefix[prefixLength++] = ' ';
  }
  if (field.alt && base == 16 && count != 0 && !(count == 1 && first[0] == '0')) {
    prefix[prefixLength++] = '0';
    prefix[prefixLength++] = conversion;
  }

  size_t zeros = field.hasPrecision && field.precision > count ? field.precision - count : 0;
  if (field.alt && base == 8 && zeros == 0 && (count == 0 || first[0] != '0')) zeros = 1;
  size_t body = prefixLength + zeros + count;
  if (field.zero && !field.left && !field.hasPrecision && field.width > body) {
    zeros += field.width - body;
    body = field.width;
  }

  if (!field.left && field.width > body) out.Fill(C(' '), field.width - body);
  WriteAscii(out, prefix, prefixLength);
  out.Fill(C('0'), zeros);
  WriteAscii(out, first, count);
  PadAfter(out, field, body);
}

// No double has more than 1074 exact decimals or 767 significant digits, so precision beyond
// this only appends zeros. Those are written here rather than by the C library, which would
// allocate a work buffer as large as the precision.
constexpr size_t kMaxFloatPrecision = 1100;

template <class C>
Status EmitFloat(Sink<C>& out, const Field& field, char conversion, double value) {
  char format[16];
  size_t n = 0;
  format[n++] = '%';
  if (field.plus) format[n++] = '+';
  if (field.space) format[n++] = ' ';
  if (field.alt) format[n++] = '#';
  if (field.hasPrecision) {
    format[n++] = '.';
    format[n++] = '*';
  }
  format[n++] = conversion;
  format[n] = '\0';
  const int precision = static_cast<int>(std::min(field.precision, kMaxFloatPrecision));
  auto print = [&](char* buffer, size_t size) {
    return field.hasPrecision ? std::snprintf(buffer, size, format, precision, value)
                              : std::snprintf(buffer, size, format, value);
  };
  const int needed = print(nullptr, 0);
  if (needed < 0) return Status::kInvalid;
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  print(text.data(), text.size());
  text.pop_back();

  const bool finite = std::isfinite(value);
  const bool general = conversion == 'g' || conversion == 'G';
  // %g drops trailing zeros unless '#' keeps them.
  const size_t extraZeros =
      finite && (!general || field.alt) && field.precision > kMaxFloatPrecision
          ? field.precision - kMaxFloatPrecision
          : 0;
  // Extra zeros belong before the exponent, if any.
  const size_t split = std::min(text.find_first_of("eEpP"), text.size());
  // Zero padding goes after the sign and any "0x", and never into "inf" or "nan".
  size_t head = 0;
  if (!text.empty() && (text[0] == '-' || text[0] == '+' || text[0] == ' ')) head = 1;
  if ((conversion == 'a' || conversion == 'A') && finite) head += 2;
  head = std::min(head, split);

  const size_t length = text.size() + extraZeros;
  const size_t padding = field.width > length ? field.width - length : 0;
  const bool zeroPad = !field.left && field.zero && finite;
  if (!field.left && !zeroPad) out.Fill(C(' '), padding);
  WriteAscii(out, text.data(), head);
  if (zeroPad) out.Fill(C('0'), padding);
  WriteAscii(out, text.data() + head, split - head);
  out.Fill(C('0'), extraZeros);
  WriteAscii(out, text.data() + split, text.size() - split);
  if (field.left) out.Fill(C(' '), padding);
  return Status::kOk;
}

template <class C, class S>
void EmitString(Sink<C>& out, const Field& field, const S* s) {
  static constexpr S kNull[] = {S('('), S('n'), S('u'), S('l'), S('l'), S(')'), S(0)};
  if (s == nullptr) s = kNull;
  // A precision bounds the output, and the source is not read past what it needs, so an
  // unterminated array with a precision is safe, as in C.
  const size_t limit = field.hasPrecision ? field.precision : SIZE_MAX;
  if constexpr (std::is_same_v<C, S>) {
    size_t n = 0;
    while (n < limit && s[n] != 0) ++n;
    PadBefore(out, field, n);
    out.Write(s, n);
    PadAfter(out, field, n);
  } else {
    // Precision and width count output units; a character whose units do not all fit under
    // the precision is left out rather than split.
    size_t n = 0;
    Transcode<C>(s, kToNul, [&](const C*, size_t k, bool) {
      if (n + k > limit) return false;
      n += k;
      return true;
    });
    PadBefore(out, field, n);
    size_t written = 0;
    Transcode<C>(s, kToNul, [&](const C* units, size_t k, bool) {
      if (written + k > n) return false;
      out.Write(units, k);
      written += k;
      return !out.full();
    });
    PadAfter(out, field, n);
  }
}

template <class C, class S>
void EmitChar(Sink<C>& out, const Field& field, S c) {
  C units[4];
  size_t n = 0;
  if constexpr (std::is_same_v<C, S>) {
    units[n++] = c;
  } else {
    Transcode<C>(&c, 1, [&](const C* u, size_t k, bool) {
      std::copy_n(u, k, units);
      n = k;
      return false;
    });
  }
  PadBefore(out, field, n);
  out.Write(units, n);
  PadAfter(out, field, n);
}

template void EmitInteger(Sink<char>&, const Field&, char, unsigned long long, bool);
template void EmitInteger(Sink<char16_t>&, const Field&, char, unsigned long long, bool);
template Status EmitFloat(Sink<char>&, const Field&, char, double);
template Status EmitFloat(Sink<char16_t>&, const Field&, char, double);
template void EmitString(Sink<char>&, const Field&, const char*);
template void EmitString(Sink<char>&, const Field&, const char16_t*);
template void EmitString(Sink<char16_t>&, const Field&, const char*);
template void EmitString(Sink<char16_t>&, const Field&, const char16_t*);
template void EmitChar(Sink<char>&, const Field&, char);
template void EmitChar(Sink<char>&, const Field&, char16_t);
template void EmitChar(Sink<char16_t>&, const Field&, char);
template void EmitChar(Sink<char16_t>&, const Field&, char16_t);

}  // namespace kwz_platform
