#include "gdi/area_scale.h"

#include "gdi/area_rows.h"

#include <algorithm>
#include <vector>

namespace kwz_platform {
namespace area {

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

}  // namespace area

namespace {

using namespace area;

// The vertical pass, one loop per destination row: the one, two or three rows of a reduction
// up to 2:1 or of an enlargement are summed and narrowed in a single pass, wider reductions
// through a 32-bit row. The loops only vectorise at -O3 (set for this file). They serve CPUs
// without AVX2 and the rare rows the AVX2 pass does not take, so they stay single versions:
// ifunc clones crash under the sanitizers' runtimes.
constexpr int kDrop = kRowShift - kMidShift;
constexpr std::uint32_t kHalfDrop = 1u << (kDrop - 1);

void VerticalTwo(const std::uint8_t* r0, const std::uint8_t* r1, std::uint32_t w0, std::uint32_t w1,
                 std::uint16_t* mid, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    mid[i] = static_cast<std::uint16_t>((w0 * r0[i] + w1 * r1[i] + kHalfDrop) >> kDrop);
  }
}

void VerticalThree(const std::uint8_t* r0, const std::uint8_t* r1, const std::uint8_t* r2,
                   std::uint32_t w0, std::uint32_t w1, std::uint32_t w2, std::uint16_t* mid,
                   std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    mid[i] =
        static_cast<std::uint16_t>((w0 * r0[i] + w1 * r1[i] + w2 * r2[i] + kHalfDrop) >> kDrop);
  }
}

void FirstTap(const std::uint8_t* row, std::uint32_t weight, std::uint32_t* acc, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) acc[i] = weight * row[i];
}

void NextTap(const std::uint8_t* row, std::uint32_t weight, std::uint32_t* acc, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) acc[i] += weight * row[i];
}

void Narrow(const std::uint32_t* acc, std::uint16_t* mid, std::size_t n) {
  for (std::size_t i = 0; i < n; ++i) {
    mid[i] = static_cast<std::uint16_t>((acc[i] + kHalfDrop) >> kDrop);
  }
}

// Sums rows[0..count) with the weights w into mid.
void Vertical(const std::uint8_t* const* rows, const std::uint32_t* w, int count,
              std::vector<std::uint32_t>& acc, std::uint16_t* mid, std::size_t n) {
#if defined(__x86_64__) || defined(__i386__)
  // Weights of 15 bits: a weight of a whole row (the other row's rounded to nothing) is one row.
  if (HaveAvx2() && count == 2 && w[0] != 0 && w[1] != 0) {
    VerticalAvx2(rows[1], rows[0], rows[0], static_cast<std::int16_t>(w[1] >> 1), 0, mid, n);
    return;
  }
  if (HaveAvx2() && count == 3) {
    VerticalAvx2(rows[0], rows[1], rows[2], static_cast<std::int16_t>(w[0] >> 1),
                 static_cast<std::int16_t>(w[2] >> 1), mid, n);
    return;
  }
#endif
  switch (count) {
    case 1:  // all of one row: its weight is exactly 1
      for (std::size_t i = 0; i < n; ++i)
        mid[i] = static_cast<std::uint16_t>(rows[0][i] << kMidShift);
      return;
    case 2:
      VerticalTwo(rows[0], rows[1], w[0], w[1], mid, n);
      return;
    case 3:
      VerticalThree(rows[0], rows[1], rows[2], w[0], w[1], w[2], mid, n);
      return;
    default:
      acc.resize(n);
      FirstTap(rows[0], w[0], acc.data(), n);
      for (int k = 1; k < count; ++k) {
        if (w[k] != 0) NextTap(rows[k], w[k], acc.data(), n);
      }
      Narrow(acc.data(), mid, n);
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

}  // namespace

void AreaScaleSeparable(const BgrxSource& src, const ScaleTarget& target, PixelImage& image) {
  const RECT& clip = target.clip;
  if (IsRectEmpty(&clip)) return;
  const AxisWeights rows =
      Weigh(src.height, target.height, clip.top - target.y, clip.bottom - target.y, kRowShift);
  AxisWeights cols =
      Weigh(src.width, target.width, clip.left - target.x, clip.right - target.x, kRowShift);
#if defined(__x86_64__) || defined(__i386__)
  const bool vector = HaveAvx2() && cols.maxCount <= kMaxVectorTaps;
  PairedColumns paired;
  if (vector) {
    cols =
        Weigh(src.width, target.width, clip.left - target.x, clip.right - target.x, kColumnShift);
    paired = PairColumns(cols);
  }
  const std::size_t spare = paired.SparePixels();
#else
  const std::size_t spare = 0;
#endif
  // Only the source columns that the clipped destination reads, then zeros for the vector
  // pass's padding pairs to read.
  const int lowest = cols.Lowest();
  const auto n = static_cast<std::size_t>(cols.Highest() - lowest) * 4;
  thread_local std::vector<std::uint32_t> acc;
  thread_local std::vector<std::uint16_t> mid;
  thread_local std::vector<const std::uint8_t*> sourceRows;
  mid.assign(n + spare * 4, 0);
  for (std::size_t r = 0; r < rows.first.size(); ++r) {
    sourceRows.clear();
    for (int k = 0; k < rows.count[r]; ++k) {
      sourceRows.push_back(src.bits + (rows.first[r] + k) * src.stride + lowest * 4);
    }
    Vertical(sourceRows.data(), &rows.weights[rows.start[r]], rows.count[r], acc, mid.data(), n);
    std::uint8_t* out = image.bits + (clip.top + static_cast<std::ptrdiff_t>(r)) * image.stride +
                        static_cast<std::ptrdiff_t>(clip.left) * 4;
#if defined(__x86_64__) || defined(__i386__)
    if (vector) {
      HorizontalAvx2(mid.data(), paired, cols.first.size(), out);
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
