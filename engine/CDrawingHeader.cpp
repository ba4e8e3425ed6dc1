#include "engine/CDrawingHeader.h"

#include <cstring>

#include "engine/SurfaceGeometry.h"
#include "platform/ipp.h"

namespace {

constexpr int kPaletteEntries = 256;
constexpr int kPalettedBytes =
    static_cast<int>(sizeof(BITMAPINFOHEADER) + kPaletteEntries * sizeof(RGBQUAD));

}  // namespace

CDrawingHeader& CDrawingHeader::operator=(CDrawingHeader&& other) noexcept {
  if (this != &other) {
    Reset();
    m_info = other.m_info;
    other.m_info = nullptr;
  }
  return *this;
}

void CDrawingHeader::Reset() {
  w7_ippsFree(m_info);
  m_info = nullptr;
}

RGBQUAD CDrawingHeader::Rgb332(std::uint8_t index) {
  RGBQUAD entry{};
  entry.rgbRed = static_cast<BYTE>((index >> 5) * 255 / 7);
  entry.rgbGreen = static_cast<BYTE>(((index >> 2) & 7) * 255 / 7);
  entry.rgbBlue = static_cast<BYTE>((index & 3) * 255 / 3);
  return entry;
}

CDrawingHeader CDrawingHeader::Make(std::int32_t width, std::int32_t height, int bytesPerPixel) {
  int bytes = 0;
  if (bytesPerPixel == 1) {
    bytes = kPalettedBytes;
  } else if (bytesPerPixel == 3 || bytesPerPixel == 4) {
    bytes = static_cast<int>(sizeof(BITMAPINFO));
  } else {
    return CDrawingHeader();
  }
  const std::uint32_t bitCount = 8u * static_cast<std::uint32_t>(bytesPerPixel);
  if (width < 1 || height < 1) return CDrawingHeader();
  const std::uint64_t imageSize = kwz_engine::DibImageSize(
      bitCount, static_cast<std::uint64_t>(width), static_cast<std::uint64_t>(height));
  if (imageSize > 0xFFFFFFFFu) return CDrawingHeader();

  auto* info = reinterpret_cast<BITMAPINFO*>(w7_ippsMalloc_8u(bytes));
  if (info == nullptr) return CDrawingHeader();
  std::memset(info, 0, static_cast<size_t>(bytes));
  BITMAPINFOHEADER& header = info->bmiHeader;
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = height;  // positive: rows run bottom-up, as the surface keeps them
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bitCount);
  header.biCompression = BI_RGB;
  header.biSizeImage = static_cast<DWORD>(imageSize);
  if (bytesPerPixel == 1) {
    // The palette runs past the one entry that BITMAPINFO declares; index through the bytes.
    auto* palette = reinterpret_cast<BYTE*>(info) + sizeof(BITMAPINFOHEADER);
    for (int i = 0; i < kPaletteEntries; ++i) {
      const RGBQUAD entry = Rgb332(static_cast<std::uint8_t>(i));
      std::memcpy(palette + i * sizeof(RGBQUAD), &entry, sizeof(RGBQUAD));
    }
  }
  return CDrawingHeader(info);
}
