// YCbCr 4:2:0 to BGR of the IPP subset, through libyuv's matrix-parameterised row functions.
// libyuv's own BT.601 table rounds the blue coefficient down to 2.0, which puts blue up to 3
// off IPP's documented result; its SIMD rows multiply an unsigned coefficient byte by the
// signed chroma, so the documented 2.017 (129/64) fits, and this table carries the documented
// equations in libyuv's 6-bit fixed point instead.
#include <libyuv/convert_argb.h>
#include <libyuv/convert_from_argb.h>
#include <libyuv/row.h>

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "platform/ipp.h"

#if !defined(__x86_64__) && !defined(__i386__)
#error "the conversion table below has libyuv's x86 layout"
#endif

namespace {

// The studio-range equations: chroma coefficients × 64, luma gain × 64 × 65536 / 257 (libyuv
// scales luma by 0x0101), and the luma offset 1.164 × 64 × -16 with half a step for rounding.
constexpr int kUb = 129;    // 2.017
constexpr int kUg = 25;     // 0.392
constexpr int kVg = 52;     // 0.813
constexpr int kVr = 102;    // 1.596
constexpr int kYg = 18997;  // 1.164
constexpr int kYb = -1160;

constexpr libyuv::YuvConstants MakeStudioBt601() {
  libyuv::YuvConstants c{};
  for (int i = 0; i < 32; i += 2) {
    c.kUVToB[i] = kUb;
    c.kUVToB[i + 1] = 0;
    c.kUVToG[i] = kUg;
    c.kUVToG[i + 1] = kVg;
    c.kUVToR[i] = 0;
    c.kUVToR[i + 1] = kVr;
  }
  for (int i = 0; i < 16; ++i) {
    c.kYToRgb[i] = kYg;
    c.kYBiasToRgb[i] = kYb;
  }
  return c;
}

// libyuv's SIMD rows load the table with aligned moves.
alignas(64) constexpr libyuv::YuvConstants kStudioBt601 = MakeStudioBt601();

enum class Layout { kBgra, kBgr, kBgr555 };

constexpr int BytesPerPixel(Layout layout) {
  return layout == Layout::kBgra ? 4 : layout == Layout::kBgr ? 3 : 2;
}

// Columns go to libyuv this many pixels at a time (an even count, so chroma stays in step):
// the width of the constant alpha row, and of the BGRA row on the stack that BGR555 is packed
// from. Screens are narrower, so a whole row is one call.
constexpr int kChunk = 4096;

bool ConvertPlanes(Layout layout, const Ipp8u* y, int yStep, const Ipp8u* cb, int cbStep,
                   const Ipp8u* cr, int crStep, Ipp8u* dst, int dstStep, int width, int height,
                   Ipp8u alpha) {
  if (layout == Layout::kBgr) {
    // libyuv's "RGB24" is B, G, R in memory.
    return libyuv::I420ToRGB24Matrix(y, yStep, cb, cbStep, cr, crStep, dst, dstStep, &kStudioBt601,
                                     width, height) == 0;
  }
  // libyuv's "ARGB" is the little-endian word A:R:G:B, i.e. the bytes B, G, R, A in memory. It
  // writes alpha 255 unless given an alpha plane: a constant row repeated with step 0 puts the
  // caller's alpha in the same pass. BGR555 takes bit 15 from alpha, which must stay clear.
  Ipp8u alphaRow[kChunk];
  std::memset(alphaRow, layout == Layout::kBgra ? alpha : 0, sizeof(alphaRow));
  for (int x = 0; x < width; x += kChunk) {
    const int n = std::min(kChunk, width - x);
    if (layout == Layout::kBgra) {
      if (libyuv::I420AlphaToARGBMatrix(y + x, yStep, cb + x / 2, cbStep, cr + x / 2, crStep,
                                        alphaRow, 0, dst + static_cast<long long>(x) * 4, dstStep,
                                        &kStudioBt601, n, height, 0) != 0)
        return false;
      continue;
    }
    alignas(64) Ipp8u chunk[kChunk * 4];
    for (int row = 0; row < height; ++row) {
      const long long chromaRow = row / 2;
      if (libyuv::I420AlphaToARGBMatrix(y + static_cast<long long>(row) * yStep + x, 0,
                                        cb + chromaRow * cbStep + x / 2, 0,
                                        cr + chromaRow * crStep + x / 2, 0, alphaRow, 0, chunk, 0,
                                        &kStudioBt601, n, 1, 0) != 0)
        return false;
      Ipp8u* out = dst + static_cast<long long>(row) * dstStep + static_cast<long long>(x) * 2;
      if (libyuv::ARGBToARGB1555(chunk, 0, out, 0, n, 1) != 0) return false;
    }
  }
  return true;
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
  // libyuv refuses only what is checked above.
  return ConvertPlanes(layout, src[0], srcStep[0], src[1], srcStep[1], src[2], srcStep[2], dst,
                       dstStep, roi.width, roi.height, aval)
             ? ippStsNoErr
             : ippStsSizeErr;
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
