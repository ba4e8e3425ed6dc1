// In-place mirroring of the IPP subset. libyuv mirrors only from one buffer into another, so
// these swap rows and pixels themselves.
#include <algorithm>
#include <cstring>

#include "platform/ipp.h"

namespace {

void SwapRows(Ipp8u* a, Ipp8u* b, size_t bytes) {
  // Through a small stack buffer, so no allocation can fail half-way.
  Ipp8u chunk[1024];
  while (bytes > 0) {
    const size_t n = std::min(bytes, sizeof(chunk));
    std::memcpy(chunk, a, n);
    std::memcpy(a, b, n);
    std::memcpy(b, chunk, n);
    a += n;
    b += n;
    bytes -= n;
  }
}

template <int kChannels>
void ReverseRow(Ipp8u* row, int width) {
  for (int left = 0, right = width - 1; left < right; ++left, --right) {
    for (int c = 0; c < kChannels; ++c)
      std::swap(row[left * kChannels + c], row[right * kChannels + c]);
  }
}

template <int kChannels>
IppStatus Mirror(Ipp8u* image, int step, IppiSize roi, IppiAxis flip) {
  if (image == nullptr) return ippStsNullPtrErr;
  if (roi.width <= 0 || roi.height <= 0) return ippStsSizeErr;
  const long long rowBytes = static_cast<long long>(roi.width) * kChannels;
  if (step < rowBytes) return ippStsStepErr;
  if (flip != ippAxsHorizontal && flip != ippAxsVertical && flip != ippAxsBoth) {
    return ippStsMirrorFlipErr;
  }
  auto row = [&](int r) { return image + static_cast<long long>(r) * step; };
  if (flip != ippAxsVertical) {
    for (int top = 0, bottom = roi.height - 1; top < bottom; ++top, --bottom) {
      SwapRows(row(top), row(bottom), static_cast<size_t>(rowBytes));
    }
  }
  if (flip != ippAxsHorizontal) {
    for (int r = 0; r < roi.height; ++r) ReverseRow<kChannels>(row(r), roi.width);
  }
  return ippStsNoErr;
}

}  // namespace

IppStatus w7_ippiMirror_8u_C4IR(Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, IppiAxis flip) {
  return Mirror<4>(pSrcDst, srcDstStep, roiSize, flip);
}

IppStatus w7_ippiMirror_8u_C3IR(Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, IppiAxis flip) {
  return Mirror<3>(pSrcDst, srcDstStep, roiSize, flip);
}
