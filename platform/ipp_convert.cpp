// YCbCr 4:2:0 to BGR of the IPP subset. libyuv has these conversions, but its BT.601 blue
// coefficient is 2.0 (it must fit a signed byte for its SIMD paths), which puts blue up to 3
// off IPP's documented result. So each row is converted here to 32-bit BGRA with the
// documented equations in 32-bit fixed point (built with -O3 and an AVX2 clone so the loop
// vectorises), and libyuv packs that into 24-bit BGR or BGR555 where those are asked for.
#include <libyuv/convert_from_argb.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "platform/ipp.h"

namespace {

static_assert(std::endian::native == std::endian::little, "pixels are stored as 32-bit words");

// The studio-range equations in 16.16 fixed point.
constexpr int kY = 76284;     // 1.164
constexpr int kCrR = 104595;  // 1.596
constexpr int kCrG = -53281;  // -0.813
constexpr int kCbG = -25690;  // -0.392
constexpr int kCbB = 132186;  // 2.017
constexpr int kRound = 1 << 15;

inline std::uint32_t Saturate(int fixed) {
  return static_cast<std::uint32_t>(std::clamp(fixed >> 16, 0, 255));
}

inline std::uint32_t Pixel(int y, int b, int g, int r, std::uint32_t alpha) {
  const int luma = kY * (y - 16);
  return Saturate(luma + b) | Saturate(luma + g) << 8 | Saturate(luma + r) << 16 | alpha;
}

// An AVX2 clone picked at load time by an ifunc resolver. Sanitizer runtimes are not ready when
// resolvers run (ThreadSanitizer crashes there), so sanitizer builds keep the one plain version.
#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define KWZ_VECTOR_CLONES
#else
#define KWZ_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#endif

// One row (or part of one) of width pixels as BGRA words; alpha is already shifted into place.
KWZ_VECTOR_CLONES void RowToBgra(const Ipp8u* __restrict y, const Ipp8u* __restrict cb,
                                 const Ipp8u* __restrict cr, std::uint32_t* __restrict out,
                                 int width, std::uint32_t alpha) {
  const int pairs = width / 2;
  for (int i = 0; i < pairs; ++i) {
    const int u = cb[i] - 128;
    const int v = cr[i] - 128;
    const int b = kCbB * u + kRound;
    const int g = kCbG * u + kCrG * v + kRound;
    const int r = kCrR * v + kRound;
    out[2 * i] = Pixel(y[2 * i], b, g, r, alpha);
    out[2 * i + 1] = Pixel(y[2 * i + 1], b, g, r, alpha);
  }
  if (width & 1) {
    const int u = cb[pairs] - 128;
    const int v = cr[pairs] - 128;
    out[width - 1] = Pixel(y[width - 1], kCbB * u + kRound, kCbG * u + kCrG * v + kRound,
                           kCrR * v + kRound, alpha);
  }
}

enum class Layout { kBgra, kBgr, kBgr555 };

constexpr int BytesPerPixel(Layout layout) {
  return layout == Layout::kBgra ? 4 : layout == Layout::kBgr ? 3 : 2;
}

// Rows that are not 4-byte aligned, and packed layouts, go through this many pixels at a time
// on the stack (an even count, so chroma stays in step).
constexpr int kChunk = 512;

void ConvertRow(Layout layout, const Ipp8u* y, const Ipp8u* cb, const Ipp8u* cr, Ipp8u* dst,
                int width, std::uint32_t alpha) {
  if (layout == Layout::kBgra && reinterpret_cast<std::uintptr_t>(dst) % 4 == 0) {
    RowToBgra(y, cb, cr, reinterpret_cast<std::uint32_t*>(dst), width, alpha);
    return;
  }
  alignas(64) std::uint32_t chunk[kChunk];
  for (int x = 0; x < width; x += kChunk) {
    const int n = std::min(kChunk, width - x);
    RowToBgra(y + x, cb + x / 2, cr + x / 2, chunk, n, alpha);
    const auto* bgra = reinterpret_cast<const Ipp8u*>(chunk);
    Ipp8u* out = dst + static_cast<long long>(x) * BytesPerPixel(layout);
    switch (layout) {
      case Layout::kBgra:
        std::memcpy(out, chunk, static_cast<size_t>(n) * 4);
        break;
      // libyuv's "RGB24" is B, G, R in memory; its ARGB1555 takes bit 15 from alpha (0 here).
      case Layout::kBgr:
        libyuv::ARGBToRGB24(bgra, 0, out, 0, n, 1);
        break;
      case Layout::kBgr555:
        libyuv::ARGBToARGB1555(bgra, 0, out, 0, n, 1);
        break;
    }
  }
}

IppStatus Convert(Layout layout, const Ipp8u* const src[3], const int srcStep[3], Ipp8u* dst,
                  int dstStep, IppiSize roi, Ipp8u aval) {
  if (src == nullptr || srcStep == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (src[0] == nullptr || src[1] == nullptr || src[2] == nullptr) return ippStsNullPtrErr;
  if (roi.width <= 0 || roi.height <= 0) return ippStsSizeErr;
  const long long chromaWidth = (static_cast<long long>(roi.width) + 1) / 2;
  if (srcStep[0] < roi.width || srcStep[1] < chromaWidth || srcStep[2] < chromaWidth ||
      dstStep < static_cast<long long>(roi.width) * BytesPerPixel(layout)) {
    return ippStsStepErr;
  }
  const std::uint32_t alpha = layout == Layout::kBgra ? static_cast<std::uint32_t>(aval) << 24 : 0;
  for (int row = 0; row < roi.height; ++row) {
    const long long chromaRow = row / 2;
    ConvertRow(layout, src[0] + static_cast<long long>(row) * srcStep[0],
               src[1] + chromaRow * srcStep[1], src[2] + chromaRow * srcStep[2],
               dst + static_cast<long long>(row) * dstStep, roi.width, alpha);
  }
  return ippStsNoErr;
}

}  // namespace

IppStatus w7_ippiYCbCr420ToBGR_8u_P3C4R(const Ipp8u* pSrc[3], int srcStep[3], Ipp8u* pDst,
                                        int dstStep, IppiSize roiSize, Ipp8u aval) {
  return Convert(Layout::kBgra, pSrc, srcStep, pDst, dstStep, roiSize, aval);
}

IppStatus w7_ippiYCbCr420ToBGR_8u_P3C3R(const Ipp8u* pSrc[3], int srcStep[3], Ipp8u* pDst,
                                        int dstStep, IppiSize roiSize) {
  return Convert(Layout::kBgr, pSrc, srcStep, pDst, dstStep, roiSize, 0);
}

IppStatus w7_ippiYCbCr420ToBGR555_8u16u_P3C3R(const Ipp8u* pSrc[3], int srcStep[3], Ipp16u* pDst,
                                              int dstStep, IppiSize roiSize) {
  return Convert(Layout::kBgr555, pSrc, srcStep, reinterpret_cast<Ipp8u*>(pDst), dstStep, roiSize,
                 0);
}
