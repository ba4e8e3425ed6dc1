// Internal to platform/: the code-point helpers behind widestring.h's conversions.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

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

}  // namespace kwz_platform
