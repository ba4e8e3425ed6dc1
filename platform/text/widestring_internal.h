// Internal to platform/: what the conversion, printf and scanf parts of widestring.h share.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

namespace kwz_platform {

// ---------------------------------------------------------------------------------------------
// UTF-8 / UTF-16 code points

inline constexpr char32_t kInvalid = 0xFFFFFFFFu;
// Length argument for a source that ends at its first NUL.
inline constexpr size_t kToNul = SIZE_MAX;

// Decodes one code point of s, of which avail units may be read (s[0] always). An ill-formed
// sequence yields kInvalid and consumes only its maximal valid prefix, so each bad sequence
// becomes exactly one replacement, as Unicode recommends and Windows does. The checks on each
// continuation byte stop at a NUL, so a NUL-terminated source is never over-read.
size_t Decode(const char* s, size_t avail, char32_t* cp);
size_t Decode(const char16_t* s, size_t avail, char32_t* cp);
size_t Encode(char32_t cp, char* out);
size_t Encode(char32_t cp, char16_t* out);

// Ill-formed UTF-8 becomes U+FFFD in UTF-16; a lone surrogate has no UTF-8 form and becomes the
// code page's default character.
template <class Out>
inline constexpr Out kReplacement = std::is_same_v<Out, char16_t> ? Out(0xFFFD) : Out('?');

// Converts source units s[0..length) (or up to the first NUL with kToNul) to Out units, handing
// each code point's units to put(units, count, replaced); put returns false to stop early.
template <class Out, class In, class Put>
void Transcode(const In* s, size_t length, Put&& put) {
  size_t i = 0;
  while (i < length) {
    if (length == kToNul && s[i] == 0) return;
    char32_t cp = 0;
    i += Decode(s + i, length == kToNul ? kToNul : length - i, &cp);
    Out units[4];
    size_t count = 1;
    const bool replaced = cp == kInvalid;
    if (replaced) {
      units[0] = kReplacement<Out>;
    } else {
      count = Encode(cp, units);
    }
    if (!put(static_cast<const Out*>(units), count, replaced)) return;
  }
}

// ---------------------------------------------------------------------------------------------
// Length modifiers, read by both the printf and the scanf directives

enum class Length { kNone, kChar, kShort, kLong, kLongLong, kSize, kMax, kPtrDiff, kWide };

// ---------------------------------------------------------------------------------------------
// printf output, shared by the directive driver and the field emitters

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
  size_t room() const { return capacity_ - length_; }

  void Put(C c) { Fill(c, 1); }
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
    if (n > room()) {
      cut_ = true;
      return room();
    }
    return n;
  }

  C* buffer_ = nullptr;
  std::basic_string<C>* text_ = nullptr;
  size_t capacity_;
  size_t length_ = 0;
  bool cut_ = false;
};

struct Field {
  bool left = false;
  bool plus = false;
  bool space = false;
  bool zero = false;
  bool alt = false;
  size_t width = 0;
  bool hasPrecision = false;
  size_t precision = 0;
  Length length = Length::kNone;
};

enum class Status { kOk, kCut, kInvalid };

// Defined in widestring_emit.cpp and instantiated there for each output and argument width the
// driver uses, so a new combination needs its instantiation there too.
template <class C>
void EmitInteger(Sink<C>& out, const Field& field, char conversion, unsigned long long magnitude,
                 bool negative);
template <class C>
Status EmitFloat(Sink<C>& out, const Field& field, char conversion, double value);
template <class C, class S>
void EmitString(Sink<C>& out, const Field& field, const S* s);
template <class C, class S>
void EmitChar(Sink<C>& out, const Field& field, S c);

}  // namespace kwz_platform
