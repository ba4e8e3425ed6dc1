// The 3:2 area reduction. Along each axis, source pixels p0 p1 p2 become (2 p0 + p1) / 3 and
// (p1 + 2 p2) / 3: the first destination pixel covers p0 and half of p1, the second the other
// half and p2. Both axes together give weights 4, 2, 2, 1 of 9, rounded to the nearest level.
#include "gdi/area_rows.h"
#include "gdi/area_scale.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#define KWZ_HAVE_X86 1
#endif

namespace kwz_platform {
namespace {

#if KWZ_HAVE_X86

// Two destination rows from three source rows, count groups of three source pixels, in plain
// code: the columns the vector loop leaves over.
void ThreeToTwoScalar(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c,
                      std::uint8_t* out0, std::uint8_t* out1, int groups) {
  for (int g = 0; g < groups; ++g, a += 12, b += 12, c += 12, out0 += 8, out1 += 8) {
    for (int ch = 0; ch < 4; ++ch) {
      // Horizontal first: each row's two outputs, at three times their value.
      const unsigned a0 = 2u * a[ch] + a[4 + ch], a1 = a[4 + ch] + 2u * a[8 + ch];
      const unsigned b0 = 2u * b[ch] + b[4 + ch], b1 = b[4 + ch] + 2u * b[8 + ch];
      const unsigned c0 = 2u * c[ch] + c[4 + ch], c1 = c[4 + ch] + 2u * c[8 + ch];
      out0[ch] = static_cast<std::uint8_t>((2 * a0 + b0 + 4) / 9);
      out0[4 + ch] = static_cast<std::uint8_t>((2 * a1 + b1 + 4) / 9);
      out1[ch] = static_cast<std::uint8_t>((b0 + 2 * c0 + 4) / 9);
      out1[4 + ch] = static_cast<std::uint8_t>((b1 + 2 * c1 + 4) / 9);
    }
  }
}

// Each 128-bit lane turns three source pixels into two: the shuffle pairs every channel of p0
// with p1 and of p1 with p2, and one multiply-add applies the weights (2, 1) and (1, 2). The
// low lane reads pixels 0-2 of a 16-byte load at the group's start, the high lane pixels 3-5 of
// a load 8 bytes on (bytes 4-15), so no load passes the group's end.
__attribute__((target("avx2"))) __m256i Horizontal6(const std::uint8_t* p) {
  const __m256i pairs = _mm256_setr_epi8(0, 4, 1, 5, 2, 6, 3, 7, 4, 8, 5, 9, 6, 10, 7, 11,  //
                                         4, 8, 5, 9, 6, 10, 7, 11, 8, 12, 9, 13, 10, 14, 11, 15);
  const __m256i weights = _mm256_setr_epi8(2, 1, 2, 1, 2, 1, 2, 1, 1, 2, 1, 2, 1, 2, 1, 2,  //
                                           2, 1, 2, 1, 2, 1, 2, 1, 1, 2, 1, 2, 1, 2, 1, 2);
  const __m256i both = _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)), 1);
  return _mm256_maddubs_epi16(_mm256_shuffle_epi8(both, pairs), weights);
}

// groups counts six source pixels of each row; four destination pixels of each output row.
__attribute__((target("avx2"))) void ThreeToTwoAvx2(const std::uint8_t* a, const std::uint8_t* b,
                                                    const std::uint8_t* c, std::uint8_t* out0,
                                                    std::uint8_t* out1, int groups) {
  // floor((s + 4) * 7282 / 65536) equals round(s / 9) for every s up to 9 * 255.
  const __m256i four = _mm256_set1_epi16(4);
  const __m256i ninth = _mm256_set1_epi16(7282);
  for (int g = 0; g < groups; ++g, a += 24, b += 24, c += 24, out0 += 16, out1 += 16) {
    const __m256i ha = Horizontal6(a);
    const __m256i hb = _mm256_add_epi16(Horizontal6(b), four);
    const __m256i hc = Horizontal6(c);
    const __m256i top = _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(ha, ha), hb), ninth);
    const __m256i bottom =
        _mm256_mulhi_epu16(_mm256_add_epi16(_mm256_add_epi16(hc, hc), hb), ninth);
    // The pack interleaves the lanes; put each output row's 16 bytes together again.
    const __m256i packed =
        _mm256_permute4x64_epi64(_mm256_packus_epi16(top, bottom), _MM_SHUFFLE(3, 1, 2, 0));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out0), _mm256_castsi256_si128(packed));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out1), _mm256_extracti128_si256(packed, 1));
  }
}

#endif

}  // namespace

bool AreaScaleThreeToTwo(const BgrxSource& src, const ScaleTarget& target, PixelImage& image) {
#if KWZ_HAVE_X86
  const RECT& clip = target.clip;
  if (!area::HaveAvx2() || std::int64_t{src.width} * 2 != std::int64_t{target.width} * 3 ||
      std::int64_t{src.height} * 2 != std::int64_t{target.height} * 3 || clip.left != target.x ||
      clip.top != target.y || clip.right - clip.left != target.width ||
      clip.bottom - clip.top != target.height) {
    return false;
  }
  const int vectorGroups = src.width / 6;
  const int leftOver = (src.width - vectorGroups * 6) / 3;
  for (int band = 0; band < src.height / 3; ++band) {
    const std::uint8_t* a = src.bits + static_cast<std::ptrdiff_t>(band) * 3 * src.stride;
    const std::uint8_t* b = a + src.stride;
    const std::uint8_t* c = b + src.stride;
    std::uint8_t* out0 = image.bits +
                         (target.y + static_cast<std::ptrdiff_t>(band) * 2) * image.stride +
                         static_cast<std::ptrdiff_t>(target.x) * 4;
    std::uint8_t* out1 = out0 + image.stride;
    ThreeToTwoAvx2(a, b, c, out0, out1, vectorGroups);
    const std::ptrdiff_t done = static_cast<std::ptrdiff_t>(vectorGroups) * 24;
    ThreeToTwoScalar(a + done, b + done, c + done, out0 + done * 2 / 3, out1 + done * 2 / 3,
                     leftOver);
  }
  return true;
#else
  (void)src;
  (void)target;
  (void)image;
  return false;
#endif
}

}  // namespace kwz_platform
