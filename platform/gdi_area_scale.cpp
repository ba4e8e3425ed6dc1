#include "platform/gdi_area_scale.h"

#include <algorithm>
#include <cstring>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace kwz_platform {
namespace {

// The vertical pass weighs rows to 16 bits: the per-weight rounding stays far below a level for
// any reduction up to about 100:1, and the sums still fit in 32 bits.
constexpr int kRowShift = 16;
// The vector horizontal pass multiplies signed 16-bit pairs: weights to 14 bits, and the row
// between the passes keeps 7 fractional bits (at most 255 << 7).
constexpr int kColumnShift = 14;
constexpr int kMidShift = 7;
// Wider reductions take the plain horizontal pass with 16-bit weights instead, where 14-bit
// weights could drift by a level.
constexpr int kMaxVectorTaps = 16;

// The source pixels and weights of each destination pixel in [from, to) along one axis.
struct AxisWeights {
  std::vector<int> first;              // first source pixel
  std::vector<int> count;              // source pixels, from first on
  std::vector<std::size_t> start;      // index of the first weight in weights
  std::vector<std::uint32_t> weights;  // per destination pixel, summing to 1 << shift
  int maxCount = 0;

  int Lowest() const { return first.front(); }
  int Highest() const { return first.back() + count.back(); }  // one past
};

// Destination pixel d covers [d * S, (d + 1) * S) in units where a source pixel is D wide, so
// every overlap is a whole number. Rounding the running sum of overlaps (not each overlap) makes
// the weights sum to exactly 1 << shift and keeps each within half a unit of its true value.
AxisWeights Weigh(std::int64_t sourceLength, std::int64_t destLength, int from, int to, int shift) {
  AxisWeights axis;
  const auto n = static_cast<std::size_t>(to - from);
  axis.first.reserve(n);
  axis.count.reserve(n);
  axis.start.reserve(n);
  const std::int64_t one = std::int64_t{1} << shift;
  for (std::int64_t d = from; d < to; ++d) {
    const std::int64_t lo = d * sourceLength;
    const std::int64_t hi = lo + sourceLength;
    const std::int64_t i0 = lo / destLength;
    const std::int64_t i1 = (hi + destLength - 1) / destLength;
    axis.first.push_back(static_cast<int>(i0));
    axis.count.push_back(static_cast<int>(i1 - i0));
    axis.maxCount = std::max(axis.maxCount, static_cast<int>(i1 - i0));
    axis.start.push_back(axis.weights.size());
    std::int64_t covered = 0;
    std::int64_t given = 0;
    for (std::int64_t i = i0; i < i1; ++i) {
      covered += std::min((i + 1) * destLength, hi) - std::max(i * destLength, lo);
      const std::int64_t due = (covered * one + sourceLength / 2) / sourceLength;
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

__attribute__((target_clones("avx2", "default"))) void Narrow(const std::uint32_t* acc,
                                                              std::uint16_t* mid, std::size_t n) {
  constexpr int kDrop = kRowShift - kMidShift;
  for (std::size_t i = 0; i < n; ++i) {
    mid[i] = static_cast<std::uint16_t>((acc[i] + (1u << (kDrop - 1))) >> kDrop);
  }
}

// One destination row from the vertically averaged row mid (pixel 0 is source column lowest),
// with weights to 16 bits.
void HorizontalPlain(const std::uint16_t* mid, int lowest, const AxisWeights& cols,
                     std::uint8_t* out) {
  constexpr int kShift = kRowShift + kMidShift;
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

#if defined(__SSE2__)

// Weights of two neighbouring source pixels, low one first, as one multiply-add operand.
struct PairedWeights {
  std::vector<std::size_t> start;  // index of each destination pixel's first pair
  std::vector<int> pairs;          // pairs per destination pixel
  std::vector<std::int32_t> packed;
};

PairedWeights Pair(const AxisWeights& cols) {
  PairedWeights paired;
  for (std::size_t c = 0; c < cols.first.size(); ++c) {
    paired.start.push_back(paired.packed.size());
    paired.pairs.push_back((cols.count[c] + 1) / 2);
    for (int k = 0; k < cols.count[c]; k += 2) {
      const std::uint32_t low = cols.weights[cols.start[c] + k];
      const std::uint32_t high = k + 1 < cols.count[c] ? cols.weights[cols.start[c] + k + 1] : 0;
      paired.packed.push_back(static_cast<std::int32_t>(low | high << 16));
    }
  }
  return paired;
}

// The four channel sums of one destination pixel: each multiply-add weighs two source pixels.
// An odd last pair reads one pixel past the pixel's span, with weight 0.
inline __m128i PixelSums(const std::uint16_t* p, const std::int32_t* pair, int pairs) {
  __m128i sum = _mm_set1_epi32(1 << (kColumnShift + kMidShift - 1));
  for (int j = 0; j < pairs; ++j, p += 8) {
    const __m128i two = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i byChannel = _mm_unpacklo_epi16(two, _mm_srli_si128(two, 8));
    sum = _mm_add_epi32(sum, _mm_madd_epi16(byChannel, _mm_set1_epi32(pair[j])));
  }
  return _mm_srai_epi32(sum, kColumnShift + kMidShift);
}

void HorizontalVector(const std::uint16_t* mid, int lowest, const AxisWeights& cols,
                      const PairedWeights& paired, std::uint8_t* out) {
  const std::size_t n = cols.first.size();
  auto sums = [&](std::size_t c) {
    return PixelSums(mid + static_cast<std::size_t>(cols.first[c] - lowest) * 4,
                     &paired.packed[paired.start[c]], paired.pairs[c]);
  };
  std::size_t c = 0;
  for (; c + 1 < n; c += 2) {
    const __m128i words = _mm_packs_epi32(sums(c), sums(c + 1));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + c * 4), _mm_packus_epi16(words, words));
  }
  if (c < n) {
    const __m128i words = _mm_packs_epi32(sums(c), sums(c));
    const auto pixel =
        static_cast<std::uint32_t>(_mm_cvtsi128_si32(_mm_packus_epi16(words, words)));
    std::memcpy(out + c * 4, &pixel, 4);
  }
}

#endif

}  // namespace

void AreaScaleSeparable(const BgrxSource& src, const ScaleTarget& target, PixelImage& image) {
  const RECT& clip = target.clip;
  if (clip.left >= clip.right || clip.top >= clip.bottom) return;
  const AxisWeights rows =
      Weigh(src.height, target.height, clip.top - target.y, clip.bottom - target.y, kRowShift);
  AxisWeights cols =
      Weigh(src.width, target.width, clip.left - target.x, clip.right - target.x, kRowShift);
#if defined(__SSE2__)
  const bool vector = cols.maxCount <= kMaxVectorTaps;
  PairedWeights paired;
  if (vector) {
    cols =
        Weigh(src.width, target.width, clip.left - target.x, clip.right - target.x, kColumnShift);
    paired = Pair(cols);
  }
#endif
  // Only the source columns that the clipped destination reads, and a spare pixel of zeros for
  // an odd last pair to read.
  const int lowest = cols.Lowest();
  const auto n = static_cast<std::size_t>(cols.Highest() - lowest) * 4;
  thread_local std::vector<std::uint32_t> acc;
  thread_local std::vector<std::uint16_t> mid;
  acc.resize(n);
  mid.assign(n + 4, 0);
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
    std::uint8_t* out = image.bits + (clip.top + static_cast<std::ptrdiff_t>(r)) * image.stride +
                        static_cast<std::ptrdiff_t>(clip.left) * 4;
#if defined(__SSE2__)
    if (vector) {
      HorizontalVector(mid.data(), lowest, cols, paired, out);
      continue;
    }
#endif
    HorizontalPlain(mid.data(), lowest, cols, out);
  }
}

void AreaScale(const BgrxSource& src, const ScaleTarget& target, PixelImage& image) {
  if (AreaScaleThreeToTwo(src, target, image)) return;
  AreaScaleSeparable(src, target, image);
}

}  // namespace kwz_platform
