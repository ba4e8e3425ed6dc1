// Internal to platform/: HALFTONE stretching as an area average. Each destination pixel is the
// mean of the source area it covers, every source pixel weighted by the part of it that lies
// inside; so a reduction never skips a source pixel, and an enlargement shows each source pixel
// as a block whose edge pixels blend with their neighbours.
//
// Stateless apart from thread-local scratch rows; callable on any thread. The CPU's vector
// instructions are found at run time.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <cstddef>
#include <cstdint>

#include "gdi/backend.h"

namespace kwz_platform {

// A BGRX picture: row r (from the top) starts at bits + r * stride. A negative stride reads a
// bottom-up DIB upwards in place, so the flip costs no pass of its own.
struct BgrxSource {
  const std::uint8_t* bits = nullptr;
  std::ptrdiff_t stride = 0;
  int width = 0;
  int height = 0;
};

// The destination rectangle in image coordinates and the part of it to write. clip lies inside
// both the rectangle and the image; the rectangle itself may hang over the image's edges.
struct ScaleTarget {
  int x = 0;
  int y = 0;
  int width = 0;
  int height = 0;
  RECT clip{0, 0, 0, 0};
};

// Scales src onto the target by area averaging, taking the fastest path that the ratio and the
// CPU allow. All paths agree with the exact average to within one level per channel, except
// that reductions beyond about 100:1 may drift by a level or two more.
void AreaScale(const BgrxSource& src, const ScaleTarget& target, PixelImage& image);

// The separable path that takes any ratio, whatever the CPU: a vertical pass into a 16-bit row
// with 7 fractional bits, then a horizontal pass, both with fixed-point weights that sum to
// exactly 1 for each destination pixel (AVX2 row passes where the CPU has them).
void AreaScaleSeparable(const BgrxSource& src, const ScaleTarget& target, PixelImage& image);

// The 3:2 reduction on both axes (the usual 1920 x 1080 onto 1280 x 720): every 3 x 3 source
// block becomes 2 x 2 pixels with weights 4, 2, 2, 1 of 9. False, writing nothing, when the
// sizes are not exactly 3:2, the target is clipped, or the CPU lacks the instructions.
bool AreaScaleThreeToTwo(const BgrxSource& src, const ScaleTarget& target, PixelImage& image);

// Makes every call from now on take the plain loops, as on a CPU without AVX2.
void UsePortableAreaScaleForTesting(bool portable);

}  // namespace kwz_platform
