// The Intel IPP calls of the product family's IPP library module (imported with the w7_ prefix):
// allocation, region copies, YCbCr 4:2:0 to BGR conversion and mirroring.
//
// Results follow IPP's documentation: ippStsNoErr (0) on success, a negative status for null
// pointers (ippStsNullPtrErr), empty or negative sizes (ippStsSizeErr), row steps too small
// for the region (ippStsStepErr) and unknown mirror axes (ippStsMirrorFlipErr); nothing is
// written on failure. Every function may be called from any thread; none keeps state.
#pragma once

#include <cstdint>

#pragma GCC visibility push(default)

using Ipp8u = std::uint8_t;
using Ipp16u = std::uint16_t;
using Ipp32s = std::int32_t;
using IppStatus = int;

struct IppiSize {
  int width;
  int height;
};

enum IppiAxis { ippAxsHorizontal = 0, ippAxsVertical = 1, ippAxsBoth = 2 };

#define ippStsNoErr 0
#define ippStsSizeErr (-6)
#define ippStsNullPtrErr (-8)
#define ippStsStepErr (-14)
#define ippStsMirrorFlipErr (-21)

// A buffer of len bytes aligned to 64 bytes, or null when len < 1 or memory is short. Release
// it with w7_ippsFree (null is accepted).
Ipp8u* w7_ippsMalloc_8u(int len);
void w7_ippsFree(void* ptr);

IppStatus w7_ippsZero_8u(Ipp8u* pDst, int len);

// Copies a region of roiSize pixels of one (C1) or four (C4) bytes between images whose rows
// are srcStep and dstStep bytes apart.
IppStatus w7_ippiCopy_8u_C1R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                             IppiSize roiSize);
IppStatus w7_ippiCopy_8u_C4R(const Ipp8u* pSrc, int srcStep, Ipp8u* pDst, int dstStep,
                             IppiSize roiSize);

// Planar YCbCr 4:2:0 (Y, Cb, Cr; chroma planes of (width+1)/2 by (height+1)/2 samples) to
// interleaved BGR, top row first, with the BT.601 studio-range equations:
//   R = 1.164 (Y - 16) + 1.596 (Cr - 128)
//   G = 1.164 (Y - 16) - 0.813 (Cr - 128) - 0.392 (Cb - 128)
//   B = 1.164 (Y - 16) + 2.017 (Cb - 128)
// rounded to nearest and saturated. The C4 form writes aval as the fourth byte of each pixel;
// the BGR555 form packs the top 5 bits of each channel as blue in bits 0-4, green 5-9, red
// 10-14 and leaves bit 15 clear.
IppStatus w7_ippiYCbCr420ToBGR_8u_P3C4R(const Ipp8u* pSrc[3], int srcStep[3], Ipp8u* pDst,
                                        int dstStep, IppiSize roiSize, Ipp8u aval);
IppStatus w7_ippiYCbCr420ToBGR_8u_P3C3R(const Ipp8u* pSrc[3], int srcStep[3], Ipp8u* pDst,
                                        int dstStep, IppiSize roiSize);
IppStatus w7_ippiYCbCr420ToBGR555_8u16u_P3C3R(const Ipp8u* pSrc[3], int srcStep[3], Ipp16u* pDst,
                                              int dstStep, IppiSize roiSize);

// Mirrors a region in place: ippAxsHorizontal swaps the top and bottom rows (about the
// horizontal axis), ippAxsVertical the left and right columns, ippAxsBoth does both.
IppStatus w7_ippiMirror_8u_C4IR(Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, IppiAxis flip);
IppStatus w7_ippiMirror_8u_C3IR(Ipp8u* pSrcDst, int srcDstStep, IppiSize roiSize, IppiAxis flip);

#pragma GCC visibility pop
