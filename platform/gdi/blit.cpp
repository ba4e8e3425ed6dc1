#include "gdi/blit.h"

#include <emmintrin.h>
#include <libyuv/convert_argb.h>
#include <libyuv/scale_argb.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "gdi/area_scale.h"

namespace kwz_platform {
namespace {

constexpr std::int64_t kMaxDibSide = 1 << 16;

std::uint32_t QuadToPixel(const RGBQUAD& q) {
  return static_cast<std::uint32_t>(q.rgbBlue) | static_cast<std::uint32_t>(q.rgbGreen) << 8 |
         static_cast<std::uint32_t>(q.rgbRed) << 16;
}

// Rows at least this long go to the image with non-temporal stores: a frame is written once per
// paint and not read back by this thread, so reading each line of the image into the cache
// before overwriting it would double the memory traffic of a cold image.
constexpr std::size_t kStreamedRowBytes = 4096;

void StreamCopy(std::uint8_t* dst, const std::uint8_t* src, std::size_t bytes) {
  const std::size_t head = (16 - reinterpret_cast<std::uintptr_t>(dst) % 16) % 16;
  std::memcpy(dst, src, head);
  dst += head;
  src += head;
  bytes -= head;
  for (; bytes >= 64; bytes -= 64, dst += 64, src += 64) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 16));
    const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 32));
    const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 48));
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst), a);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 16), b);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 32), c);
    _mm_stream_si128(reinterpret_cast<__m128i*>(dst + 48), d);
  }
  std::memcpy(dst, src, bytes);
}

// Converts count pixels of a DIB row (starting at pixel x) to BGRX.
void ConvertRow(const DibView& dib, const std::uint8_t* row, int x, int count, std::uint8_t* dst) {
  switch (dib.bitCount) {
    case 32: {
      const std::size_t bytes = static_cast<std::size_t>(count) * 4;
      if (bytes >= kStreamedRowBytes) {
        StreamCopy(dst, row + static_cast<std::ptrdiff_t>(x) * 4, bytes);
      } else {
        std::memcpy(dst, row + static_cast<std::ptrdiff_t>(x) * 4, bytes);
      }
      break;
    }
    case 24:
      // libyuv's RGB24 is B, G, R in memory, as a 24-bit DIB stores it.
      libyuv::RGB24ToARGB(row + static_cast<std::ptrdiff_t>(x) * 3, 0, dst, 0, count, 1);
      break;
    default: {
      const std::uint8_t* src = row + x;
      auto* out = reinterpret_cast<std::uint32_t*>(dst);
      int i = 0;
      if (static_cast<std::size_t>(count) * 4 >= kStreamedRowBytes) {
        // Four looked-up pixels make one streamed store; the lookups stay in registers.
        for (; i < count && reinterpret_cast<std::uintptr_t>(out + i) % 16 != 0; ++i) {
          out[i] = dib.palette[src[i]];
        }
        for (; i + 4 <= count; i += 4) {
          const __m128i pixels = _mm_setr_epi32(
              static_cast<int>(dib.palette[src[i]]), static_cast<int>(dib.palette[src[i + 1]]),
              static_cast<int>(dib.palette[src[i + 2]]), static_cast<int>(dib.palette[src[i + 3]]));
          _mm_stream_si128(reinterpret_cast<__m128i*>(out + i), pixels);
        }
      }
      for (; i < count; ++i) out[i] = dib.palette[src[i]];
      break;
    }
  }
}

// The memory row of scan s, which the caller has checked the view holds.
const std::uint8_t* ScanRow(const DibView& dib, std::int64_t scan) {
  return dib.bits + (scan - dib.firstScan) * dib.stride;
}

bool HoldsScan(const DibView& dib, std::int64_t scan) {
  return scan >= dib.firstScan && scan < static_cast<std::int64_t>(dib.firstScan) + dib.scanCount;
}

// The scan that holds the row `fromTop` rows below the DIB's top edge.
std::int64_t ScanOfTopRow(const DibView& dib, std::int64_t fromTop) {
  return dib.bottomUp ? dib.height - 1 - fromTop : fromTop;
}

// Columns [dx0, dx1) and rows [dy0, dy1) of a 1:1 source rectangle that lie inside the DIB's
// width and, put at (xDest, yDest), inside the image.
struct DibClip {
  std::int64_t dx0, dx1, dy0, dy1;
};

DibClip ClipDib(const DibView& dib, int xDest, int yDest, std::int64_t width, std::int64_t height,
                int xSrc, const PixelImage& image) {
  return {std::max<std::int64_t>({0, -std::int64_t{xSrc}, -std::int64_t{xDest}}),
          std::min<std::int64_t>(
              {width, std::int64_t{dib.width} - xSrc, std::int64_t{image.width} - xDest}),
          std::max<std::int64_t>(0, -std::int64_t{yDest}),
          std::min<std::int64_t>(height, std::int64_t{image.height} - yDest)};
}

// The scan on row dy of a source rectangle: its top row is its highest scan in a bottom-up DIB.
std::int64_t ScanAt(const DibView& dib, int ySrc, std::int64_t height, std::int64_t dy) {
  return dib.bottomUp ? std::int64_t{ySrc} + height - 1 - dy : ySrc + dy;
}

bool HoldsRow(const DibView& dib, std::int64_t scan) {
  return scan >= 0 && scan < dib.height && HoldsScan(dib, scan);
}

}  // namespace

bool DescribeDib(const BITMAPINFO* bmi, const void* bits, UINT colorUse, UINT startScan,
                 UINT scanLines, DibView* view) {
  if (bmi == nullptr || bits == nullptr || colorUse != DIB_RGB_COLORS) return false;
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  if (h.biSize < sizeof(BITMAPINFOHEADER) || h.biCompression != BI_RGB || h.biPlanes != 1) {
    return false;
  }
  if (h.biBitCount != 8 && h.biBitCount != 24 && h.biBitCount != 32) return false;
  const std::int64_t height = h.biHeight < 0 ? -static_cast<std::int64_t>(h.biHeight) : h.biHeight;
  if (h.biWidth <= 0 || h.biWidth > kMaxDibSide || height == 0 || height > kMaxDibSide) {
    return false;
  }
  if (startScan >= height) return false;
  view->width = h.biWidth;
  view->height = static_cast<int>(height);
  view->bottomUp = h.biHeight > 0;
  view->bitCount = h.biBitCount;
  view->stride = (static_cast<std::int64_t>(h.biBitCount) * h.biWidth + 31) / 32 * 4;
  view->bits = static_cast<const std::uint8_t*>(bits);
  view->firstScan = static_cast<int>(startScan);
  view->scanCount = static_cast<int>(std::min<std::int64_t>(scanLines, height - startScan));
  if (h.biBitCount == 8) {
    const UINT entries = h.biClrUsed == 0 || h.biClrUsed > 256 ? 256 : h.biClrUsed;
    // The palette follows the header, wherever biSize says the header ends.
    const auto* quads =
        reinterpret_cast<const RGBQUAD*>(reinterpret_cast<const std::uint8_t*>(bmi) + h.biSize);
    for (UINT i = 0; i < 256; ++i) view->palette[i] = i < entries ? QuadToPixel(quads[i]) : 0;
  }
  return true;
}

void UniteDirty(RECT* dirty, const RECT& r) {
  if (IsRectEmpty(&r)) return;
  if (IsRectEmpty(dirty)) {
    *dirty = r;
    return;
  }
  dirty->left = std::min(dirty->left, r.left);
  dirty->top = std::min(dirty->top, r.top);
  dirty->right = std::max(dirty->right, r.right);
  dirty->bottom = std::max(dirty->bottom, r.bottom);
}

void PaintDib(const DibView& dib, int xDest, int yDest, std::int64_t width, std::int64_t height,
              int xSrc, int ySrc, PixelImage& image, RECT* dirty) {
  const auto [dx0, dx1, dy0, dy1] = ClipDib(dib, xDest, yDest, width, height, xSrc, image);
  if (dx0 >= dx1) return;
  const int count = static_cast<int>(dx1 - dx0);
  RECT painted{0, 0, 0, 0};
  for (std::int64_t dy = dy0; dy < dy1; ++dy) {
    const std::int64_t scan = ScanAt(dib, ySrc, height, dy);
    if (!HoldsRow(dib, scan)) continue;
    const std::int64_t y = yDest + dy;
    ConvertRow(dib, ScanRow(dib, scan), static_cast<int>(xSrc + dx0), count,
               image.bits + y * image.stride + (xDest + dx0) * 4);
    UniteDirty(&painted, RECT{static_cast<LONG>(xDest + dx0), static_cast<LONG>(y),
                              static_cast<LONG>(xDest + dx1), static_cast<LONG>(y + 1)});
  }
  _mm_sfence();  // the streamed rows are in the image before anyone reads it
  UniteDirty(dirty, painted);
}

bool PlaceDib(const DibView& dib, int xDest, int yDest, std::int64_t width, std::int64_t height,
              int xSrc, int ySrc, const PixelImage& image, DibPlacement* placement) {
  const auto [dx0, dx1, dy0, dy1] = ClipDib(dib, xDest, yDest, width, height, xSrc, image);
  if (dx0 >= dx1 || dy0 >= dy1) return false;
  // Scans run monotonically with dy, so the two ends bound them all.
  const std::int64_t top = ScanAt(dib, ySrc, height, dy0);
  if (!HoldsRow(dib, top) || !HoldsRow(dib, ScanAt(dib, ySrc, height, dy1 - 1))) return false;
  placement->dest = RECT{static_cast<LONG>(xDest + dx0), static_cast<LONG>(yDest + dy0),
                         static_cast<LONG>(xDest + dx1), static_cast<LONG>(yDest + dy1)};
  placement->srcLeft = static_cast<int>(xSrc + dx0);
  placement->rowAtTop = static_cast<int>(top - dib.firstScan);
  placement->rowStep = dib.bottomUp ? -1 : 1;
  return true;
}

void StretchDib(const DibView& dib, int xDest, int yDest, int destWidth, int destHeight, int xSrc,
                int ySrc, int srcWidth, int srcHeight, bool halftone, PixelImage& image,
                RECT* dirty) {
  // The source rectangle in rows from the DIB's top, clipped to the DIB; the destination
  // rectangle shrinks in proportion.
  const std::int64_t top = dib.bottomUp ? std::int64_t{dib.height} - ySrc - srcHeight : ySrc;
  const std::int64_t sx0 = std::max<std::int64_t>(xSrc, 0);
  const std::int64_t sx1 = std::min<std::int64_t>(std::int64_t{xSrc} + srcWidth, dib.width);
  const std::int64_t sy0 = std::max<std::int64_t>(top, 0);
  const std::int64_t sy1 = std::min<std::int64_t>(top + srcHeight, dib.height);
  if (sx0 >= sx1 || sy0 >= sy1) return;
  const std::int64_t dx0 = xDest + (sx0 - xSrc) * destWidth / srcWidth;
  const std::int64_t dx1 = xDest + (sx1 - xSrc) * destWidth / srcWidth;
  const std::int64_t dy0 = yDest + (sy0 - top) * destHeight / srcHeight;
  const std::int64_t dy1 = yDest + (sy1 - top) * destHeight / srcHeight;
  const int sw = static_cast<int>(sx1 - sx0);
  const int sh = static_cast<int>(sy1 - sy0);
  const int dw = static_cast<int>(dx1 - dx0);
  const int dh = static_cast<int>(dy1 - dy0);
  if (dw <= 0 || dh <= 0) return;
  // Clip to the image.
  const std::int64_t cx0 = std::max<std::int64_t>(dx0, 0);
  const std::int64_t cy0 = std::max<std::int64_t>(dy0, 0);
  const std::int64_t cx1 = std::min<std::int64_t>(dx1, image.width);
  const std::int64_t cy1 = std::min<std::int64_t>(dy1, image.height);
  if (cx0 >= cx1 || cy0 >= cy1) return;

  if (sw == dw && sh == dh) {  // checked before any halving
    // No scaling left: the row copy, in DIB coordinates again.
    const std::int64_t bottom = dib.bottomUp ? dib.height - sy1 : sy0;
    PaintDib(dib, static_cast<int>(dx0), static_cast<int>(dy0), sw, sh, static_cast<int>(sx0),
             static_cast<int>(bottom), image, dirty);
    return;
  }

  // 32-bit DIBs are scaled in place (upwards through a bottom-up one); other depths are
  // converted first into a buffer the thread keeps between frames.
  BgrxSource source{nullptr, 0, sw, sh};
  thread_local std::vector<std::uint32_t> converted;
  if (dib.bitCount == 32) {
    source.bits = ScanRow(dib, ScanOfTopRow(dib, sy0)) + sx0 * 4;
    source.stride = dib.bottomUp ? -dib.stride : dib.stride;
  } else {
    converted.resize(static_cast<size_t>(sw) * static_cast<size_t>(sh));
    for (int y = 0; y < sh; ++y) {
      ConvertRow(dib, ScanRow(dib, ScanOfTopRow(dib, sy0 + y)), static_cast<int>(sx0), sw,
                 reinterpret_cast<std::uint8_t*>(converted.data() + static_cast<size_t>(y) * sw));
    }
    source.bits = reinterpret_cast<const std::uint8_t*>(converted.data());
    source.stride = static_cast<std::ptrdiff_t>(sw) * 4;
  }
  const RECT clip{static_cast<LONG>(cx0), static_cast<LONG>(cy0), static_cast<LONG>(cx1),
                  static_cast<LONG>(cy1)};
  if (halftone) {
    AreaScale(source, ScaleTarget{static_cast<int>(dx0), static_cast<int>(dy0), dw, dh, clip},
              image);
  } else {
    // The destination origin may lie outside the image; libyuv only writes inside the clip.
    std::uint8_t* dstOrigin =
        reinterpret_cast<std::uint8_t*>(reinterpret_cast<std::uintptr_t>(image.bits) +
                                        static_cast<std::uintptr_t>(dy0 * image.stride + dx0 * 4));
    libyuv::ARGBScaleClip(source.bits, static_cast<int>(source.stride), sw, sh, dstOrigin,
                          static_cast<int>(image.stride), dw, dh, static_cast<int>(cx0 - dx0),
                          static_cast<int>(cy0 - dy0), static_cast<int>(cx1 - cx0),
                          static_cast<int>(cy1 - cy0), libyuv::kFilterNone);
  }
  UniteDirty(dirty, clip);
}

void BlendMasked(const std::uint32_t* argb, int width, int height, int x, int y, PixelImage& image,
                 RECT* dirty) {
  const int x0 = std::max(0, -x);
  const int y0 = std::max(0, -y);
  const int x1 = static_cast<int>(std::min<std::int64_t>(width, std::int64_t{image.width} - x));
  const int y1 = static_cast<int>(std::min<std::int64_t>(height, std::int64_t{image.height} - y));
  if (x0 >= x1 || y0 >= y1) return;
  for (int row = y0; row < y1; ++row) {
    auto* dst =
        reinterpret_cast<std::uint32_t*>(image.bits + (std::int64_t{y} + row) * image.stride) +
        (x + x0);
    const std::uint32_t* src = argb + static_cast<std::ptrdiff_t>(row) * width + x0;
    for (int col = 0; col < x1 - x0; ++col) {
      if ((src[col] >> 24) != 0) dst[col] = src[col] & 0x00FFFFFFu;
    }
  }
  UniteDirty(dirty, RECT{x + x0, y + y0, x + x1, y + y1});
}

}  // namespace kwz_platform
