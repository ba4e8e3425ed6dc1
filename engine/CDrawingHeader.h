// The description under which the surface's bitmap is handed to GDI: a BITMAPINFO allocated
// with the IPP allocator, followed for 8-bit pictures by the 256-entry RGB 3-3-2 palette in
// which the presenter codes 8-bit blocks. Owned by the surface, replaced on each size change,
// used only on the engine's thread.
#pragma once

#include <cstdint>

#include "platform/wingdi.h"

class CDrawingHeader {
 public:
  CDrawingHeader() = default;
  ~CDrawingHeader() { Reset(); }
  CDrawingHeader(CDrawingHeader&& other) noexcept : m_info(other.m_info) { other.m_info = nullptr; }
  CDrawingHeader& operator=(CDrawingHeader&& other) noexcept;
  CDrawingHeader(const CDrawingHeader&) = delete;
  CDrawingHeader& operator=(const CDrawingHeader&) = delete;

  // A bottom-up, uncompressed description of width × height pixels: 1064 bytes with the
  // palette for 1 byte per pixel, 44 bytes for 3 or 4. Empty for any other byte count, a size
  // below 1 or an image size beyond 32 bits, and when memory is short.
  static CDrawingHeader Make(std::int32_t width, std::int32_t height, int bytesPerPixel);

  // Palette entry i of an 8-bit picture: red in bits 7-5, green in 4-2, blue in 1-0.
  static RGBQUAD Rgb332(std::uint8_t index);

  explicit operator bool() const { return m_info != nullptr; }
  const BITMAPINFO* Info() const { return m_info; }
  const BITMAPINFOHEADER& Header() const { return m_info->bmiHeader; }
  void Reset();

 private:
  explicit CDrawingHeader(BITMAPINFO* info) : m_info(info) {}

  BITMAPINFO* m_info = nullptr;  // IPP allocation
};
