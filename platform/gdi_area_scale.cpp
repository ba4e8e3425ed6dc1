#include "platform/gdi_area_scale.h"

#include <algorithm>
#include <vector>

namespace kwz_platform {
namespace {

// Weights of one destination pixel sum to kOne. 16 bits keep the per-weight rounding far below
// a level for any reduction up to about 100:1, while the sums still fit in 32 bits.
constexpr std::uint32_t kOneShift = 16;
constexpr std::int64_t kOne = std::int64_t{1} << kOneShift;

// The source pixels and weights of each destination pixel in [from, to) along one axis.
struct AxisWeights {
  std::vector<int> first;              // first source pixel
  std::vector<int> count;              // source pixels, from first on
  std::vector<std::size_t> start;      // index of the first weight in weights
  std::vector<std::uint32_t> weights;  // per destination pixel, summing to kOne

  int Lowest() const { return first.front(); }
  int Highest() const { return first.back() + count.back(); }  // one past
};

// Destination pixel d covers [d * S, (d + 1) * S) in units where a source pixel is D wide, so
// every overlap is a whole number. Rounding the running sum of overlaps (not each overlap) makes
// the weights sum to exactly kOne and keeps each within half a unit of its true value.
AxisWeights Weigh(std::int64_t sourceLength, std::int64_t destLength, int from, int to) {
  AxisWeights axis;
  const auto n = static_cast<std::size_t>(to - from);
  axis.first.reserve(n);
  axis.count.reserve(n);
  axis.start.reserve(n);
  for (std::int64_t d = from; d < to; ++d) {
    const std::int64_t lo = d * sourceLength;
    const std::int64_t hi = lo + sourceLength;
    const std::int64_t i0 = lo / destLength;
    const std::int64_t i1 = (hi + destLength - 1) / destLength;
    axis.first.push_back(static_cast<int>(i0));
    axis.count.push_back(static_cast<int>(i1 - i0));
    axis.start.push_back(axis.weights.size());
    std::int64_t covered = 0;
    std::int64_t given = 0;
    for (std::int64_t i = i0; i < i1; ++i) {
      covered += std::min((i + 1) * destLength, hi) - std::max(i * destLength, lo);
      const std::int64_t due = (covered * kOne + sourceLength / 2) / sourceLength;
      axis.weights.push_back(static_cast<std::uint32_t>(due - given));
      given = due;
    }
  }
  return axis;
}

// The row loops below only vectorise at -O3 (set for this file); AVX2 doubles their width where
// the CPU has it.
__attribute__((target_clones("avx2", "default"))) void FirstTap(const std::uint8_t* row,
                                                                std::uint32_t weight,
                                                                std::uint32_t* acc, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) acc[i] = weight * row[i];
}

__attribute__((target_clones("avx2", "default"))) void NextTap(const std::uint8_t* row,
                                                               std::uint32_t weight,
                                                               std::uint32_t* acc, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) acc[i] += weight * row[i];
}

// Keeps 8 fractional bits: at most 255 << 8, so the horizontal sums stay within 32 bits.
__attribute__((target_clones("avx2", "default"))) void Narrow(const std::uint32_t* acc,
                                                              std::uint16_t* mid, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    mid[i] = static_cast<std::uint16_t>((acc[i] + (1u << 7)) >> 8);
  }
}

// One destination row from the vertically averaged row mid, whose pixel 0 is source column
// `lowest`.
void Horizontal(const std::uint16_t* mid, int lowest, const AxisWeights& cols, std::uint8_t* out) {
  constexpr std::uint32_t kShift = kOneShift + 8;
  const std::size_t n = cols.first.size();
  for (std::size_t c = 0; c < n; ++c) {
    const std::uint16_t* p = mid + static_cast<std::size_t>(cols.first[c] - lowest) * 4;
    const std::uint32_t* w = &cols.weights[cols.start[c]];
    std::uint32_t sum[4] = {1u << (kShift - 1), 1u << (kShift - 1), 1u << (kShift - 1),
                            1u << (kShift - 1)};
    for (int k = 0; k < cols.count[c]; ++k, p += 4) {
      for (int ch = 0; ch < 4; ++ch) sum[ch] += w[k] * p[ch];
    }
    for (int ch = 0; ch < 4; ++ch) out[c * 4 + ch] = static_cast<std::uint8_t>(sum[ch] >> kShift);
  }
}

}  // namespace

void AreaScaleSeparable(const BgrxSource& src, const ScaleTarget& target, PixelImage& image) {
  const RECT& clip = target.clip;
  if (clip.left >= clip.right || clip.top >= clip.bottom) return;
  const AxisWeights cols =
      Weigh(src.width, target.width, clip.left - target.x, clip.right - target.x);
  const AxisWeights rows =
      Weigh(src.height, target.height, clip.top - target.y, clip.bottom - target.y);
  // Only the source columns that the clipped destination reads.
  const int lowest = cols.Lowest();
  const auto n = static_cast<std::size_t>(cols.Highest() - lowest) * 4;
  thread_local std::vector<std::uint32_t> acc;
  thread_local std::vector<std::uint16_t> mid;
  acc.resize(n);
  mid.resize(n);
  for (std::size_t r = 0; r < rows.first.size(); ++r) {
    const std::uint32_t* w = &rows.weights[rows.start[r]];
    for (int k = 0; k < rows.count[r]; ++k) {
      const std::uint8_t* row = src.bits + (rows.first[r] + k) * src.stride + lowest * 4;
      if (k == 0) {
        FirstTap(row, w[k], acc.data(), n);
      } else if (w[k] != 0) {
        NextTap(row, w[k], acc.data(), n);
      }
    }
    Narrow(acc.data(), mid.data(), n);
    Horizontal(mid.data(), lowest, cols,
               image.bits + (clip.top + static_cast<std::ptrdiff_t>(r)) * image.stride +
                   static_cast<std::ptrdiff_t>(clip.left) * 4);
  }
}

void AreaScale(const BgrxSource& src, const ScaleTarget& target, PixelImage& image) {
  if (AreaScaleThreeToTwo(src, target, image)) return;
  AreaScaleSeparable(src, target, image);
}

}  // namespace kwz_platform
