// Internal to platform/: the pixel work of the DIB painting calls, on BGRX back images.
#pragma once

#ifndef KWZ_PLATFORM_INTERNAL
#error "a header internal to platform/: include the Win32 headers at platform/'s root instead"
#endif

#include <cstdint>

#include "platform/gdi.h"

#include "gdi/backend.h"

namespace kwz_platform {

// A checked view of a BI_RGB DIB. Scan s is the s-th row from the bottom of a bottom-up DIB and
// from the top of a top-down one, as GDI counts them.
struct DibView {
  int width = 0;
  int height = 0;  // rows, always positive
  bool bottomUp = true;
  int bitCount = 0;
  std::int64_t stride = 0;  // bytes per row, padded to 4
  const std::uint8_t* bits = nullptr;
  int firstScan = 0;                // the scan that bits starts with
  int scanCount = 0;                // scans that bits holds, within the DIB
  std::uint32_t palette[256] = {};  // 8-bit DIBs: BGRX of each index
};

// False for anything but an 8, 24 or 32-bit BI_RGB DIB of positive width with DIB_RGB_COLORS,
// or when startScan lies beyond the DIB.
bool DescribeDib(const BITMAPINFO* bmi, const void* bits, UINT colorUse, UINT startScan,
                 UINT scanLines, DibView* view);

// Grows dirty to cover r (an empty dirty rectangle is replaced).
void UniteDirty(RECT* dirty, const RECT& r);

// Copies the source rectangle (DIB coordinates) to (xDest, yDest) 1:1, clipped to the scans
// that the view holds and to the image.
void PaintDib(const DibView& dib, int xDest, int yDest, std::int64_t width, std::int64_t height,
              int xSrc, int ySrc, PixelImage& image, RECT* dirty);

// Where PaintDib would put the source rectangle, when that is a non-empty rectangle of the image
// whose every row the view holds; false otherwise.
bool PlaceDib(const DibView& dib, int xDest, int yDest, std::int64_t width, std::int64_t height,
              int xSrc, int ySrc, const PixelImage& image, DibPlacement* placement);

// Scales the source rectangle (DIB coordinates) onto the destination rectangle. halftone picks
// the area average, otherwise the nearest pixel. Sizes are positive.
void StretchDib(const DibView& dib, int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                int ySrc, int srcWidth, int srcHeight, bool halftone, PixelImage& image,
                RECT* dirty);

// Puts the pixels of an ARGB picture whose alpha is 255 at (x, y), clipped to the image.
void BlendMasked(const std::uint32_t* argb, int width, int height, int x, int y, PixelImage& image,
                 RECT* dirty);

}  // namespace kwz_platform
