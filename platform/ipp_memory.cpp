// Allocation, zeroing and region copies of the IPP subset.
#include <stdlib.h>

#include <cstring>

#include <libyuv/planar_functions.h>

#include "platform/ipp.h"

namespace {

constexpr size_t kAlignment = 64;  // a cache line, and enough for any SIMD load

IppStatus CopyRegion(const Ipp8u* src, int srcStep, Ipp8u* dst, int dstStep, IppiSize roi,
                     int channels) {
  if (src == nullptr || dst == nullptr) return ippStsNullPtrErr;
  if (roi.width <= 0 || roi.height <= 0) return ippStsSizeErr;
  const long long rowBytes = static_cast<long long>(roi.width) * channels;
  if (rowBytes > 0x7FFFFFFF || srcStep < rowBytes || dstStep < rowBytes) return ippStsStepErr;
  libyuv::CopyPlane(src, srcStep, dst, dstStep, static_cast<int>(rowBytes), roi.height);
  return ippStsNoErr;
}

}  // namespace

Ipp8u* w7_ippsMalloc_8u(int len) {
  if (len < 1) return nullptr;
  // aligned_alloc wants a multiple of the alignment; the slack is never handed out.
  const size_t rounded = (static_cast<size_t>(len) + kAlignment - 1) / kAlignment * kAlignment;
  return static_cast<Ipp8u*>(aligned_alloc(kAlignment, rounded));
}

void w7_ippsFree(void* ptr) {
  free(ptr);
}

IppStatus w7_ippsZero_8u(Ipp8u* pDst, int len) {
  if (pDst == nullptr) return ippStsNullPtrErr;
  if (len < 1) return ippStsSizeErr;
  std::memset(pDst, 0, static_cast<size_t>(len));
  return ippStsNoErr;
}

IppStatus w7_ippiCopy_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                             IppiSize roiSize) {
  return CopyRegion(pSrc, srcStep, pDst, dstStep, roiSize, 1);
}

IppStatus w7_ippiCopy_8u_C4R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                             IppiSize roiSize) {
  return CopyRegion(pSrc, srcStep, pDst, dstStep, roiSize, 4);
}
