// YCbCr 4:2:0 to BGR of the IPP subset. libyuv has these conversions, but its BT.601 blue
// coefficient is 2.0 (it must fit a signed byte for its SIMD paths), which puts blue up to 3
// off IPP's documented result; these loops keep the documented equations to within rounding.
// The file is built with -O3 so the compiler vectorises the row loops.
#include <algorithm>

#include "platform/ipp.h"

namespace {

// The studio-range equations in 16.16 fixed point.
constexpr int kY = 76284;     // 1.164
constexpr int kCrR = 104595;  // 1.596
constexpr int kCrG = -53281;  // -0.813
constexpr int kCbG = -25690;  // -0.392
constexpr int kCbB = 132186;  // 2.017
constexpr int kRound = 1 << 15;

inline Ipp8u Saturate(int fixed) {
  return static_cast<Ipp8u>(std::clamp(fixed >> 16, 0, 255));
}

struct Bgr {
  Ipp8u b, g, r;
};

inline Bgr ToBgr(int y, int cbB, int cG, int crR) {
  const int luma = kY * (y - 16) + kRound;
  return {Saturate(luma + cbB), Saturate(luma + cG), Saturate(luma + crR)};
}

struct Bgra {
  static constexpr int kBytes = 4;
  Ipp8u alpha;
  void Put(Ipp8u* p, int x, Bgr c) const {
    p[4 * x] = c.b;
    p[4 * x + 1] = c.g;
    p[4 * x + 2] = c.r;
    p[4 * x + 3] = alpha;
  }
};

struct Bgr24 {
  static constexpr int kBytes = 3;
  void Put(Ipp8u* p, int x, Bgr c) const {
    p[3 * x] = c.b;
    p[3 * x + 1] = c.g;
    p[3 * x + 2] = c.r;
  }
};

struct Bgr555 {
  static constexpr int kBytes = 2;
  void Put(Ipp8u* p, int x, Bgr c) const {
    const Ipp16u v = static_cast<Ipp16u>((c.b >> 3) | ((c.g >> 3) << 5) | ((c.r >> 3) << 10));
    p[2 * x] = static_cast<Ipp8u>(v);  // little-endian 16-bit words
    p[2 * x + 1] = static_cast<Ipp8u>(v >> 8);
  }
};

template <typename Writer>
void ConvertRow(const Ipp8u* y, const Ipp8u* cb, const Ipp8u* cr, Ipp8u* dst, int width,
                Writer writer) {
  for (int x = 0; x < width; ++x) {
    const int u = cb[x >> 1] - 128;
    const int v = cr[x >> 1] - 128;
    writer.Put(dst, x, ToBgr(y[x], kCbB * u, kCbG * u + kCrG * v, kCrR * v));
  }
}

template <typename Writer>
IppStatus Convert(const Ipp8u* const src[3], const int srcStep[3], Ipp8u* dst, int dstStep,
                  IppiSize roi, Writer writer) {
  if (src == nullptr || srcStep == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (src[0] == nullptr || src[1] == nullptr || src[2] == nullptr) return ippStsNullPtrErr;
  if (roi.width <= 0 || roi.height <= 0) return ippStsSizeErr;
  const long long chromaWidth = (static_cast<long long>(roi.width) + 1) / 2;
  if (srcStep[0] < roi.width || srcStep[1] < chromaWidth || srcStep[2] < chromaWidth ||
      dstStep < static_cast<long long>(roi.width) * Writer::kBytes) {
    return ippStsStepErr;
  }
  for (int row = 0; row < roi.height; ++row) {
    const int chromaRow = row >> 1;
    ConvertRow(src[0] + static_cast<long long>(row) * srcStep[0],
               src[1] + static_cast<long long>(chromaRow) * srcStep[1],
               src[2] + static_cast<long long>(chromaRow) * srcStep[2],
               dst + static_cast<long long>(row) * dstStep, roi.width, writer);
  }
  return ippStsNoErr;
}

}  // namespace

IppStatus w7_ippiYCbCr420ToBGR_8u_P3C4R(const Ipp8u* pSrc[3], int srcStep[3], Ipp8u* pDst,
                                        int dstStep, IppiSize roiSize, Ipp8u aval) {
  return Convert(pSrc, srcStep, pDst, dstStep, roiSize, Bgra{aval});
}

IppStatus w7_ippiYCbCr420ToBGR_8u_P3C3R(const Ipp8u* pSrc[3], int srcStep[3], Ipp8u* pDst,
                                        int dstStep, IppiSize roiSize) {
  return Convert(pSrc, srcStep, pDst, dstStep, roiSize, Bgr24{});
}

IppStatus w7_ippiYCbCr420ToBGR555_8u16u_P3C3R(const Ipp8u* pSrc[3], int srcStep[3], Ipp16u* pDst,
                                              int dstStep, IppiSize roiSize) {
  return Convert(pSrc, srcStep, reinterpret_cast<Ipp8u*>(pDst), dstStep, roiSize, Bgr555{});
}
