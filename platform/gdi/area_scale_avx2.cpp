// The area scaler's row passes in AVX2.
#include <algorithm>
#include <atomic>
#include <cstring>

#include "gdi/area_rows.h"
#include "gdi/area_scale.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

namespace kwz_platform::area {

// Set by tests to reach the plain loops on any CPU.
std::atomic<bool> portableOnly{false};

#if defined(__x86_64__) || defined(__i386__)

bool HaveAvx2() {
  static const bool have = __builtin_cpu_supports("avx2");
  return have && !portableOnly.load(std::memory_order_relaxed);
}

namespace {

__attribute__((target("avx2"))) inline __m256i Widen(const std::uint8_t* p) {
  return _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
}

int MulRound(int d, int f) {
  return (d * f + (1 << 14)) >> 15;  // as _mm256_mulhrs_epi16 rounds
}

}  // namespace

// The differences times 128 fit 16 bits, and the rounding multiply by a 15-bit weight keeps
// 7 fractional bits: one pass over 16 bytes at a time, no 32-bit sums.
__attribute__((target("avx2"))) void VerticalAvx2(const std::uint8_t* r0, const std::uint8_t* r1,
                                                  const std::uint8_t* r2, std::int16_t w0,
                                                  std::int16_t w2, std::uint16_t* mid,
                                                  std::size_t n) {
  const __m256i f0 = _mm256_set1_epi16(w0), f2 = _mm256_set1_epi16(w2);
  std::size_t i = 0;
  for (; i + 16 <= n; i += 16) {
    const __m256i a = Widen(r0 + i), b = Widen(r1 + i), c = Widen(r2 + i);
    const __m256i d0 = _mm256_slli_epi16(_mm256_sub_epi16(a, b), kMidShift);
    const __m256i d2 = _mm256_slli_epi16(_mm256_sub_epi16(c, b), kMidShift);
    const __m256i sum = _mm256_add_epi16(
        _mm256_slli_epi16(b, kMidShift),
        _mm256_add_epi16(_mm256_mulhrs_epi16(d0, f0), _mm256_mulhrs_epi16(d2, f2)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(mid + i), sum);
  }
  for (; i < n; ++i) {
    mid[i] = static_cast<std::uint16_t>((r1[i] << kMidShift) +
                                        MulRound((r0[i] - r1[i]) << kMidShift, w0) +
                                        MulRound((r2[i] - r1[i]) << kMidShift, w2));
  }
}

PairedColumns PairColumns(const AxisWeights& cols) {
  PairedColumns paired;
  paired.pairs = (cols.maxCount + 1) / 2;
  const std::size_t n = cols.first.size();
  const std::size_t twos = (n + 1) / 2;
  paired.offset.resize(twos * 2);
  paired.lanes.assign(twos * static_cast<std::size_t>(paired.pairs) * 8, 0);
  const int lowest = cols.Lowest();
  for (std::size_t c = 0; c < twos * 2; ++c) {
    // An odd count's last two has a second pixel that reads the first's and is not stored.
    const std::size_t real = std::min(c, n - 1);
    paired.offset[c] = static_cast<std::ptrdiff_t>(cols.first[real] - lowest) * 4;
    if (c >= n) continue;
    std::int32_t* lanes = &paired.lanes[(c / 2) * paired.pairs * 8 + (c % 2) * 4];
    for (int k = 0; k < cols.count[c]; ++k) {
      const std::uint32_t w = cols.weights[cols.start[c] + k] << (16 * (k % 2));
      for (int ch = 0; ch < 4; ++ch) lanes[(k / 2) * 8 + ch] |= static_cast<std::int32_t>(w);
    }
  }
  return paired;
}

namespace {

// Each 128-bit lane holds one destination pixel; per pair of source pixels one shuffle lines up
// each channel of the two, and one multiply-add weighs them. kPairs > 0 fixes the pair count at
// compile time so the common reductions and enlargements run without an inner loop.
template <int kPairs>
__attribute__((target("avx2"))) void HorizontalPairs(const std::uint16_t* mid,
                                                     const PairedColumns& paired, std::size_t count,
                                                     std::uint8_t* out) {
  const __m256i byChannel = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15,
                                             0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
  const __m256i half = _mm256_set1_epi32(1 << (kColumnShift + kMidShift - 1));
  const __m256i gather = _mm256_setr_epi32(0, 4, 0, 0, 0, 0, 0, 0);
  const int pairs = kPairs > 0 ? kPairs : paired.pairs;
  const std::int32_t* lanes = paired.lanes.data();
  const std::ptrdiff_t* offset = paired.offset.data();
  for (std::size_t c = 0; c < count; c += 2, lanes += pairs * 8) {
    const std::uint16_t* a = mid + offset[c];
    const std::uint16_t* b = mid + offset[c + 1];
    __m256i sum = half;
    for (int j = 0; j < pairs; ++j) {
      const __m256i two = _mm256_inserti128_si256(
          _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(a + j * 8))),
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j * 8)), 1);
      const __m256i w = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(lanes + j * 8));
      sum = _mm256_add_epi32(sum, _mm256_madd_epi16(_mm256_shuffle_epi8(two, byChannel), w));
    }
    const __m256i words = _mm256_packs_epi32(_mm256_srai_epi32(sum, kColumnShift + kMidShift),
                                             _mm256_setzero_si256());
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_packus_epi16(words, _mm256_setzero_si256()), gather);
    if (c + 1 < count) {
      _mm_storel_epi64(reinterpret_cast<__m128i*>(out + c * 4), _mm256_castsi256_si128(bytes));
    } else {
      const auto pixel = static_cast<std::uint32_t>(_mm256_cvtsi256_si32(bytes));
      std::memcpy(out + c * 4, &pixel, 4);
    }
  }
}

}  // namespace

void HorizontalAvx2(const std::uint16_t* mid, const PairedColumns& paired, std::size_t count,
                    std::uint8_t* out) {
  switch (paired.pairs) {
    case 1:
      return HorizontalPairs<1>(mid, paired, count, out);
    case 2:
      return HorizontalPairs<2>(mid, paired, count, out);
    case 3:
      return HorizontalPairs<3>(mid, paired, count, out);
    default:
      return HorizontalPairs<0>(mid, paired, count, out);
  }
}

#else

bool HaveAvx2() {
  return false;
}

#endif

}  // namespace kwz_platform::area

namespace kwz_platform {

void UsePortableAreaScaleForTesting(bool portable) {
  area::portableOnly.store(portable, std::memory_order_relaxed);
}

}  // namespace kwz_platform
