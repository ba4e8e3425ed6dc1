#include "platform/widestring.h"

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string>
#include <type_traits>

#include "platform/kernel.h"
#include "platform/winerror.h"

namespace kwz_platform {
namespace {

constexpr char32_t kInvalid = 0xFFFFFFFFu;
// Length argument for a source that ends at its first NUL.
constexpr size_t kToNul = SIZE_MAX;

// Decodes one code point of s, of which avail units may be read (s[0] always). An ill-formed
// sequence yields kInvalid and consumes only its maximal valid prefix, so each bad sequence
// becomes exactly one replacement, as Unicode recommends and Windows does. The checks on each
// continuation byte stop at a NUL, so a NUL-terminated source is never over-read.
size_t Decode(const char* s, size_t avail, char32_t* cp) {
  const auto lead = static_cast<unsigned char>(s[0]);
  if (lead < 0x80) {
    *cp = lead;
    return 1;
  }
  size_t trail = 0;
  char32_t value = 0;
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    trail = 1;
    value = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    trail = 2;
    value = lead & 0x0Fu;
    if (lead == 0xE0) lo = 0xA0;  // overlong
    if (lead == 0xED) hi = 0x9F;  // UTF-16 surrogates
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    trail = 3;
    value = lead & 0x07u;
    if (lead == 0xF0) lo = 0x90;  // overlong
    if (lead == 0xF4) hi = 0x8F;  // beyond U+10FFFF
  } else {
    *cp = kInvalid;
    return 1;
  }
  for (size_t i = 1; i <= trail; ++i) {
    if (i >= avail) {
      *cp = kInvalid;
      return i;
    }
    const auto byte = static_cast<unsigned char>(s[i]);
    if (byte < lo || byte > hi) {
      *cp = kInvalid;
      return i;
    }
    value = (value << 6) | (byte & 0x3Fu);
    lo = 0x80;
    hi = 0xBF;
  }
  *cp = value;
  return trail + 1;
}

size_t Decode(const char16_t* s, size_t avail, char32_t* cp) {
  const char16_t first = s[0];
  if (first < 0xD800 || first > 0xDFFF) {
    *cp = first;
    return 1;
  }
  if (first <= 0xDBFF && avail > 1 && s[1] >= 0xDC00 && s[1] <= 0xDFFF) {
    *cp = 0x10000 + ((static_cast<char32_t>(first) - 0xD800) << 10) + (s[1] - 0xDC00);
    return 2;
  }
  *cp = kInvalid;
  return 1;
}

size_t Encode(char32_t cp, char* out) {
  if (cp < 0x80) {
    out[0] = static_cast<char>(cp);
    return 1;
  }
  if (cp < 0x800) {
    out[0] = static_cast<char>(0xC0 | (cp >> 6));
    out[1] = static_cast<char>(0x80 | (cp & 0x3F));
    return 2;
  }
  if (cp < 0x10000) {
    out[0] = static_cast<char>(0xE0 | (cp >> 12));
    out[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out[2] = static_cast<char>(0x80 | (cp & 0x3F));
    return 3;
  }
  out[0] = static_cast<char>(0xF0 | (cp >> 18));
  out[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
  out[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
  out[3] = static_cast<char>(0x80 | (cp & 0x3F));
  return 4;
}

size_t Encode(char32_t cp, char16_t* out) {
  if (cp < 0x10000) {
    out[0] = static_cast<char16_t>(cp);
    return 1;
  }
  cp -= 0x10000;
  out[0] = static_cast<char16_t>(0xD800 + (cp >> 10));
  out[1] = static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  return 2;
}

// Ill-formed UTF-8 becomes U+FFFD in UTF-16; a lone surrogate has no UTF-8 form and becomes the
// code page's default character.
template <class Out>
constexpr Out kReplacement = std::is_same_v<Out, char16_t> ? Out(0xFFFD) : Out('?');

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

template <class C>
size_t StringLength(const C* s) {
  size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

bool ValidCodePage(UINT codePage) {
  return codePage == CP_ACP || codePage == CP_UTF8;
}

// Shared by both directions: validates as Windows does, converts, and either measures
// (capacity 0) or writes into the caller's buffer.
template <class Out, class In, class Replace>
int Convert(UINT codePage, const In* source, int sourceLength, Out* target, int capacity,
            Replace&& replace) {
  if (!ValidCodePage(codePage) || source == nullptr || sourceLength == 0 || sourceLength < -1 ||
      capacity < 0 || (target == nullptr && capacity != 0) ||
      static_cast<const void*>(source) == static_cast<const void*>(target)) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const size_t length =
      sourceLength == -1 ? StringLength(source) + 1 : static_cast<size_t>(sourceLength);
  size_t produced = 0;
  bool tooSmall = false;
  Transcode<Out>(source, length, [&](const Out* units, size_t n, bool replaced) {
    Out substitute[1];
    if (replaced) {
      substitute[0] = replace();
      units = substitute;
      n = 1;
    }
    if (capacity != 0) {
      if (produced + n > static_cast<size_t>(capacity)) {
        tooSmall = true;
        return false;
      }
      std::copy_n(units, n, target + produced);
    }
    produced += n;
    if (produced > static_cast<size_t>(INT_MAX)) {
      tooSmall = true;
      return false;
    }
    return true;
  });
  if (tooSmall) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return static_cast<int>(produced);
}

}  // namespace
}  // namespace kwz_platform

using kwz_platform::Convert;
using kwz_platform::kReplacement;
using kwz_platform::kToNul;
using kwz_platform::StringLength;
using kwz_platform::Transcode;

int MultiByteToWideChar(UINT codePage, DWORD /*flags*/, const char* multiByte, int cbMultiByte,
                        WCHAR* wideChar, int cchWideChar) {
  return Convert(codePage, multiByte, cbMultiByte, wideChar, cchWideChar,
                 [] { return kReplacement<char16_t>; });
}

int WideCharToMultiByte(UINT codePage, DWORD /*flags*/, const WCHAR* wideChar, int cchWideChar,
                        char* multiByte, int cbMultiByte, const char* defaultChar,
                        BOOL* usedDefaultChar) {
  if (usedDefaultChar != nullptr) *usedDefaultChar = FALSE;
  const char fallback =
      defaultChar != nullptr && *defaultChar != 0 ? *defaultChar : kReplacement<char>;
  return Convert(codePage, wideChar, cchWideChar, multiByte, cbMultiByte, [&] {
    if (usedDefaultChar != nullptr) *usedDefaultChar = TRUE;
    return fallback;
  });
}

std::u16string Widen(const char* utf8) {
  std::u16string text;
  if (utf8 == nullptr) return text;
  Transcode<char16_t>(utf8, kToNul, [&](const char16_t* units, size_t n, bool) {
    text.append(units, n);
    return true;
  });
  return text;
}

std::string Narrow(const WCHAR* utf16) {
  std::string text;
  if (utf16 == nullptr) return text;
  Transcode<char>(utf16, kToNul, [&](const char* units, size_t n, bool) {
    text.append(units, n);
    return true;
  });
  return text;
}

size_t WideLength(const WCHAR* text) {
  return text == nullptr ? 0 : StringLength(text);
}
