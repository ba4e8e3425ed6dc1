// Bitmaps from RT_BITMAP resources of the test program itself that are refused rather than read.
// Loading the control's own bitmap is the module's test.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>

#include "platform/gdi.h"
#include "platform/kernel.h"
#include "platform/libloaderapi.h"
#include "platform/resource_section.h"
#include "platform/winerror.h"

namespace {

// Odd in width, so each row ends in half a byte and a padded word.
constexpr char kPicture[2][4] = {"9AC", "F07"};
constexpr auto kDib = kwz_platform::MakeBitmap16(kPicture);
using Dib = std::array<std::uint8_t, kDib.size()>;

// dib with the little-endian field of size bytes at offset set to value.
constexpr Dib Patched(std::size_t offset, std::uint32_t value, std::size_t size, Dib dib = kDib) {
  for (std::size_t i = 0; i < size; ++i)
    dib[offset + i] = static_cast<std::uint8_t>(value >> 8 * i);
  return dib;
}

template <std::size_t N>
constexpr std::array<std::uint8_t, N> FirstBytes() {
  std::array<std::uint8_t, N> dib{};
  for (std::size_t i = 0; i < N; ++i) dib[i] = kDib[i];
  return dib;
}

// Offsets in BITMAPINFOHEADER.
constexpr std::size_t kSize = 0, kWidth = 4, kHeight = 8, kPlanes = 12, kBitCount = 14,
                      kCompression = 16, kClrUsed = 32;

KWZ_RESOURCE(kGood, "#2", 300, kDib);
KWZ_RESOURCE(kCoreHeader, "#2", 301, Patched(kSize, 12, 4));
KWZ_RESOURCE(kNoWidth, "#2", 302, Patched(kWidth, 0, 4));
KWZ_RESOURCE(kHugeWidth, "#2", 304, Patched(kWidth, 4097, 4));
KWZ_RESOURCE(kNoHeight, "#2", 305, Patched(kHeight, 0, 4));
KWZ_RESOURCE(kHugeHeight, "#2", 307, Patched(kHeight, 0x7FFFFFFF, 4));
KWZ_RESOURCE(kTwoPlanes, "#2", 308, Patched(kPlanes, 2, 2));
KWZ_RESOURCE(kSixteenBits, "#2", 309, Patched(kBitCount, 16, 2));
KWZ_RESOURCE(kRunLength, "#2", 310, Patched(kCompression, 2, 4));
KWZ_RESOURCE(kSeventeenColours, "#2", 311, Patched(kClrUsed, 17, 4));
KWZ_RESOURCE(kWrappingTable, "#2", 312,
             Patched(kClrUsed, 0x40000000, 4, Patched(kBitCount, 24, 2)));
KWZ_RESOURCE(kRowsCut, "#2", 313, FirstBytes<kDib.size() - 1>());
KWZ_RESOURCE(kHeaderCut, "#2", 314, FirstBytes<39>());

TEST(BitmapResource, RefusesWhatIsNoBitmapItCanRead) {
  struct Refused {
    WORD id;
    DWORD error;
    const char* what;
  };
  const Refused cases[] = {
      {301, ERROR_INVALID_DATA, "a header of another size"},
      {302, ERROR_INVALID_DATA, "no width"},
      {304, ERROR_INVALID_DATA, "wider than resources are"},
      {305, ERROR_INVALID_DATA, "no height"},
      {307, ERROR_INVALID_DATA, "taller than resources are"},
      {308, ERROR_INVALID_DATA, "two planes"},
      {309, ERROR_INVALID_DATA, "16 bits per pixel"},
      {310, ERROR_INVALID_DATA, "run-length coded"},
      {311, ERROR_INVALID_DATA, "more colours than 4 bits name"},
      {312, ERROR_INVALID_DATA, "a colour table whose size wraps 32 bits"},
      {313, ERROR_INVALID_DATA, "rows one byte short"},
      {314, ERROR_INVALID_DATA, "shorter than its header"},
      {399, ERROR_RESOURCE_NAME_NOT_FOUND, "no such resource"},
  };
  HBITMAP good = LoadBitmapW(nullptr, MAKEINTRESOURCEW(300));  // the resource they are made from
  EXPECT_NE(good, nullptr);
  EXPECT_TRUE(DeleteObject(good));
  for (const Refused& c : cases) {
    SetLastError(ERROR_SUCCESS);
    EXPECT_EQ(LoadBitmapW(nullptr, MAKEINTRESOURCEW(c.id)), nullptr) << c.what;
    EXPECT_EQ(GetLastError(), c.error) << c.what;
  }
}

}  // namespace
