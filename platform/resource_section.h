// Compile-time layout of one resource entry of a module's ".kwz_rsrc" section:
//
//   offset  size  field
//   0       8     magic "KWZRSRC" + NUL
//   8       24    type: an ASCII name ("REGISTRY") or, for a numeric type, "#" and its decimal
//   32      4     id (little-endian, as the build machine stores it)
//   36      4     size of the data in bytes
//   40      size  data, then zero padding to a multiple of 8
//
// Entries are aligned to 8, so the linker lays the entries of all files end to end (any gap is
// zero bytes, which a reader skips).
//
//   KWZ_RESOURCE(kScript101, "REGISTRY", 101, "HKCR { ... }");
//
// Text is stored without its terminating NUL; binary data (a std::array of bytes) as it is, for
// instance a 16-colour bitmap drawn as rows of hex digits:
//
//   constexpr char kPicture[2][4] = {"F00", "0CF"};
//   KWZ_RESOURCE(kBitmap110, "#2", 110, kwz_platform::MakeBitmap16(kPicture));
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#pragma GCC visibility push(default)

namespace kwz_platform {

inline constexpr char kResourceMagic[8] = {'K', 'W', 'Z', 'R', 'S', 'R', 'C', '\0'};
inline constexpr std::size_t kResourceHeader = 40;

template <std::size_t N>
struct alignas(8) ResourceEntry {
  char magic[8];
  char type[24];
  std::uint32_t id;
  std::uint32_t size;
  char data[(N + 7) / 8 * 8];
};

// An entry of N bytes, data left zero.
template <std::size_t N, std::size_t T>
constexpr ResourceEntry<N> MakeResourceHeader(const char (&type)[T], std::uint32_t id) {
  static_assert(T <= 24, "resource type names are at most 23 characters");
  ResourceEntry<N> entry{};
  for (std::size_t i = 0; i < 8; ++i) entry.magic[i] = kResourceMagic[i];
  for (std::size_t i = 0; i < T; ++i) entry.type[i] = type[i];
  entry.id = id;
  entry.size = static_cast<std::uint32_t>(N);
  return entry;
}

template <std::size_t T, std::size_t N>
constexpr ResourceEntry<N - 1> MakeResource(const char (&type)[T], std::uint32_t id,
                                            const char (&text)[N]) {
  auto entry = MakeResourceHeader<N - 1>(type, id);
  for (std::size_t i = 0; i + 1 < N; ++i) entry.data[i] = text[i];
  return entry;
}

template <std::size_t T, std::size_t N>
constexpr ResourceEntry<N> MakeResource(const char (&type)[T], std::uint32_t id,
                                        const std::array<std::uint8_t, N>& bytes) {
  auto entry = MakeResourceHeader<N>(type, id);
  for (std::size_t i = 0; i < N; ++i) entry.data[i] = static_cast<char>(bytes[i]);
  return entry;
}

// The colours of a 16-colour bitmap (0xRRGGBB), in the order of the VGA's palette that 4-bit
// bitmaps have always used: black, the eight dark colours, grey, then the bright ones.
inline constexpr std::uint32_t kVgaColours[16] = {
    0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
    0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF};

constexpr std::size_t Bitmap16Bytes(std::size_t width, std::size_t height) {
  return 40 + 16 * 4 + (width * 4 + 31) / 32 * 4 * height;
}

constexpr std::uint8_t HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
  if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
  if (c >= 'a' && c <= 'f') return static_cast<std::uint8_t>(c - 'a' + 10);
  throw "a bitmap row holds a character that is not a hex digit";  // stops the build
}

// A bitmap resource as Windows stores one (BITMAPINFOHEADER, 16 RGBQUADs of kVgaColours, rows
// bottom-up padded to 4 bytes) from rows of text, top row first, one hex digit per pixel naming
// its colour. Rows of unequal length do not build: a short row ends in a NUL, no hex digit.
template <std::size_t H, std::size_t N>
constexpr std::array<std::uint8_t, Bitmap16Bytes(N - 1, H)> MakeBitmap16(const char (&rows)[H][N]) {
  constexpr std::size_t width = N - 1;
  constexpr std::size_t stride = (width * 4 + 31) / 32 * 4;
  std::array<std::uint8_t, Bitmap16Bytes(width, H)> dib{};
  std::size_t at = 0;
  auto put = [&](std::uint32_t value, std::size_t bytes) {
    for (std::size_t i = 0; i < bytes; ++i) dib[at++] = static_cast<std::uint8_t>(value >> 8 * i);
  };
  // BITMAPINFOHEADER: its size, width, height (positive: bottom-up), planes, bit count, BI_RGB,
  // image size, no resolution, the colours used and the colours important (all).
  put(40, 4);
  put(static_cast<std::uint32_t>(width), 4);
  put(static_cast<std::uint32_t>(H), 4);
  put(1, 2);
  put(4, 2);
  put(0, 4);
  put(static_cast<std::uint32_t>(stride * H), 4);
  put(0, 4);
  put(0, 4);
  put(16, 4);
  put(0, 4);
  for (std::uint32_t colour : kVgaColours) put(colour, 4);  // RGBQUAD: blue, green, red, 0
  for (std::size_t row = 0; row < H; ++row) {
    const char* text = rows[H - 1 - row];
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t index = HexDigitValue(text[x]);
      dib[at + x / 2] |= static_cast<std::uint8_t>(x % 2 == 0 ? index << 4 : index);
    }
    at += stride;
  }
  return dib;
}

}  // namespace kwz_platform

#define KWZ_RESOURCE(variable, type, id, data)                             \
  [[gnu::section(".kwz_rsrc"), gnu::used]] constinit const auto variable = \
      kwz_platform::MakeResource(type, id, data)

#pragma GCC visibility pop
