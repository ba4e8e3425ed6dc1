// Internal to the area scaler's sources: the weights of one axis, and the row passes that have
// vector forms. Stateless; any thread.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kwz_platform::area {

// The vertical pass weighs rows to 16 bits: the per-weight rounding stays far below a level for
// any reduction up to about 100:1, and the sums still fit in 32 bits.
constexpr int kRowShift = 16;
// The row between the passes keeps 7 fractional bits (at most 255 << 7), so that it and
// 14-bit weights fit the signed 16-bit multiply-adds of the vector horizontal pass.
constexpr int kMidShift = 7;
constexpr int kColumnShift = 14;
// Wider reductions take the plain horizontal pass with 16-bit weights, where 14-bit weights
// could drift by a level.
constexpr int kMaxVectorTaps = 16;

// The source pixels and weights of each destination pixel of a range along one axis.
struct AxisWeights {
  std::vector<int> first;              // first source pixel
  std::vector<int> count;              // source pixels, from first on
  std::vector<std::size_t> start;      // index of the first weight in weights
  std::vector<std::uint32_t> weights;  // per destination pixel, summing to 1 << shift
  int maxCount = 0;

  int Lowest() const { return first.front(); }
  int Highest() const { return first.back() + count.back(); }  // one past
};

// Destination pixels [from, to) of destLength over sourceLength source pixels.
AxisWeights Weigh(std::int64_t sourceLength, std::int64_t destLength, int from, int to, int shift);

bool HaveAvx2();

#if defined(__x86_64__) || defined(__i386__)

// mid[i] = r1 + w0 (r0 - r1) + w2 (r2 - r1) with 7 fractional bits, the weights to 15 bits
// (w0 + w2 below 1).
void VerticalAvx2(const std::uint8_t* r0, const std::uint8_t* r1, const std::uint8_t* r2,
                  std::int16_t w0, std::int16_t w2, std::uint16_t* mid, std::size_t n);

// Column weights (to kColumnShift) laid out for two destination pixels at a time, each padded
// to the same number of source-pixel pairs with zero weights.
struct PairedColumns {
  int pairs = 0;                       // pairs of source pixels per destination pixel
  std::vector<std::ptrdiff_t> offset;  // per destination pixel (rounded up to even): in mid
  std::vector<std::int32_t> lanes;     // per two pixels and pair: 4 x first's, 4 x second's
  // Pixels of zeros that mid needs past its last source pixel for the padding pairs.
  std::size_t SparePixels() const { return 2 * static_cast<std::size_t>(pairs); }
};
PairedColumns PairColumns(const AxisWeights& cols);

// count destination pixels (BGRX) from mid, whose pixel 0 is source column cols.Lowest().
void HorizontalAvx2(const std::uint16_t* mid, const PairedColumns& paired, std::size_t count,
                    std::uint8_t* out);

#endif

}  // namespace kwz_platform::area
