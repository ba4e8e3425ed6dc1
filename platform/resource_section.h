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
#pragma once

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

// data is the text without its terminating NUL.
template <std::size_t T, std::size_t N>
constexpr ResourceEntry<N - 1> MakeResource(const char (&type)[T], std::uint32_t id,
                                            const char (&text)[N]) {
  static_assert(T <= 24, "resource type names are at most 23 characters");
  ResourceEntry<N - 1> entry{};
  for (std::size_t i = 0; i < 8; ++i) entry.magic[i] = kResourceMagic[i];
  for (std::size_t i = 0; i < T; ++i) entry.type[i] = type[i];
  entry.id = id;
  entry.size = static_cast<std::uint32_t>(N - 1);
  for (std::size_t i = 0; i + 1 < N; ++i) entry.data[i] = text[i];
  return entry;
}

}  // namespace kwz_platform

#define KWZ_RESOURCE(variable, type, id, text)                             \
  [[gnu::section(".kwz_rsrc"), gnu::used]] constinit const auto variable = \
      kwz_platform::MakeResource(type, id, text)

#pragma GCC visibility pop
