// Screen capture (platform/gdi.h): memory DCs, 32-bit DIB sections, BitBlt from the screen's
// DC, and the pointer's position.
#include <algorithm>
#include <cstring>

#include "platform/kernel.h"
#include "platform/winerror.h"

#include "gdi/objects.h"

namespace kwz_platform {
namespace {

// Sections larger than this are refused before anything is allocated.
constexpr int kMaxSectionSide = 16384;

// What a new memory DC has selected, as Windows' stock 1 x 1 bitmap.
HGDIOBJ StockBitmap() {
  static const HGDIOBJ stock = reinterpret_cast<HGDIOBJ>(
      Bitmaps().Insert(std::make_shared<BitmapObject>(BitmapObject{1, 1, 1, false, {}})));
  return stock;
}

}  // namespace
}  // namespace kwz_platform

using namespace kwz_platform;

HDC CreateCompatibleDC(HDC) {
  auto context = std::make_shared<DeviceContext>();
  context->memory = true;
  context->selected = StockBitmap();
  return reinterpret_cast<HDC>(DeviceContexts().Insert(std::move(context)));
}

HBITMAP CreateDIBSection(HDC, const BITMAPINFO* bmi, UINT usage, void** bits, HANDLE section,
                         DWORD) {
  if (bits != nullptr) *bits = nullptr;
  if (bmi == nullptr || bits == nullptr || section != nullptr || usage != DIB_RGB_COLORS) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  const BITMAPINFOHEADER& h = bmi->bmiHeader;
  const long long height = h.biHeight < 0 ? -static_cast<long long>(h.biHeight) : h.biHeight;
  if (h.biBitCount != 32 || h.biCompression != BI_RGB || h.biWidth < 1 ||
      h.biWidth > kMaxSectionSide || height < 1 || height > kMaxSectionSide) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return nullptr;
  }
  auto bitmap = std::make_shared<BitmapObject>();
  bitmap->width = h.biWidth;
  bitmap->height = static_cast<int>(height);
  bitmap->bitCount = 32;
  bitmap->topDown = h.biHeight < 0;
  bitmap->bits.assign(static_cast<std::size_t>(bitmap->width) * bitmap->height * 4, 0);
  *bits = bitmap->bits.data();
  return reinterpret_cast<HBITMAP>(Bitmaps().Insert(std::move(bitmap)));
}

HGDIOBJ SelectObject(HDC dc, HGDIOBJ object) {
  auto context = DeviceContexts().Find(dc);
  auto bitmap = Bitmaps().Find(object);
  if (!context || !context->memory || !bitmap ||
      (bitmap->bits.empty() && object != StockBitmap())) {
    SetLastError(ERROR_INVALID_HANDLE);
    return nullptr;
  }
  const HGDIOBJ previous = context->selected;
  context->selected = object;
  context->selectedBitmap = object == StockBitmap() ? nullptr : std::move(bitmap);
  return previous;
}

BOOL BitBlt(HDC dest, int xDest, int yDest, int width, int height, HDC source, int xSrc, int ySrc,
            DWORD rop) {
  auto to = DeviceContexts().Find(dest);
  auto from = DeviceContexts().Find(source);
  if (!to || !from) {
    SetLastError(ERROR_INVALID_HANDLE);
    return FALSE;
  }
  if (rop != SRCCOPY || !from->screen || !to->memory || !to->selectedBitmap || width < 0 ||
      height < 0) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  BitmapObject& section = *to->selectedBitmap;
  // Clip the destination rectangle to the section, moving the source with it.
  const int left = std::max(xDest, 0);
  const int top = std::max(yDest, 0);
  const int right =
      std::min(static_cast<long long>(xDest) + width, static_cast<long long>(section.width));
  const int bottom =
      std::min(static_cast<long long>(yDest) + height, static_cast<long long>(section.height));
  if (right <= left || bottom <= top) return TRUE;

  const int w = right - left;
  const int h = bottom - top;
  std::vector<std::uint8_t> rows(static_cast<std::size_t>(w) * h * 4, 0);
  PixelImage image{rows.data(), w, h, static_cast<std::ptrdiff_t>(w) * 4};
  if (!ActiveGdiBackend().ReadScreen(xSrc + (left - xDest), ySrc + (top - yDest), image)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  const std::size_t sectionStride = static_cast<std::size_t>(section.width) * 4;
  for (int y = 0; y < h; ++y) {
    // A bottom-up section holds the picture's top row last.
    const int row = section.topDown ? top + y : section.height - 1 - (top + y);
    std::memcpy(section.bits.data() + row * sectionStride + static_cast<std::size_t>(left) * 4,
                rows.data() + static_cast<std::size_t>(y) * w * 4, static_cast<std::size_t>(w) * 4);
  }
  return TRUE;
}

BOOL GetCursorPos(POINT* point) {
  if (point == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return FALSE;
  }
  if (!ActiveGdiBackend().CursorPosition(point)) {
    SetLastError(ERROR_GEN_FAILURE);
    return FALSE;
  }
  return TRUE;
}
