// DIBs and windows for the GDI tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <functional>
#include <vector>

#include "platform/gdi_testing.h"
#include "platform/kernel.h"

namespace kwz_test {

// The colour of palette index i in every test picture: distinct for every index.
inline std::uint32_t PaletteColour(int i) {
  return 0xFF000000u | static_cast<std::uint32_t>(i) << 16 |
         static_cast<std::uint32_t>(255 - i) << 8 | static_cast<std::uint32_t>((i * 7) & 255);
}

// A DIB whose pixel (x, y), y counted from the top, has palette index index(x, y), stored at any
// of the bit depths the painting calls take. Unused bytes (row padding, the fourth byte) are
// filled with junk so that reading them shows.
struct TestDib {
  std::vector<std::uint8_t> info;  // BITMAPINFOHEADER, then the palette for 8 bits
  std::vector<std::uint8_t> bits;
  int width = 0;
  int height = 0;
  std::function<int(int, int)> index;

  const BITMAPINFO* bmi() const { return reinterpret_cast<const BITMAPINFO*>(info.data()); }
  std::uint32_t Colour(int x, int yFromTop) const { return PaletteColour(index(x, yFromTop)); }
};

inline TestDib MakeDib(int width, int height, int bitCount, bool bottomUp,
                       std::function<int(int, int)> index) {
  TestDib dib{{}, {}, width, height, index};
  const size_t paletteBytes = bitCount == 8 ? 256 * 4 : 4;
  dib.info.assign(sizeof(BITMAPINFOHEADER) + paletteBytes, 0);
  const size_t stride = (static_cast<size_t>(bitCount) * width + 31) / 32 * 4;
  const BITMAPINFOHEADER header{sizeof(BITMAPINFOHEADER),
                                width,
                                bottomUp ? height : -height,
                                1,
                                static_cast<WORD>(bitCount),
                                BI_RGB,
                                static_cast<DWORD>(stride * height),
                                0,
                                0,
                                0,
                                0};
  std::memcpy(dib.info.data(), &header, sizeof(header));
  for (int i = 0; bitCount == 8 && i < 256; ++i) {
    const std::uint32_t c = PaletteColour(i) & 0x00FFFFFFu;  // RGBQUAD: B, G, R, 0
    std::memcpy(&dib.info[sizeof(header) + static_cast<size_t>(i) * 4], &c, 4);
  }
  dib.bits.assign(stride * height, 0xA5);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = &dib.bits[(bottomUp ? height - 1 - y : y) * stride];
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = (PaletteColour(index(x, y)) & 0x00FFFFFFu) | 0x5A000000u;
      if (bitCount == 8) {
        row[x] = static_cast<std::uint8_t>(index(x, y));
      } else {
        std::memcpy(row + x * bitCount / 8, &c, bitCount / 8);
      }
    }
  }
  return dib;
}

// A visible top-level window of the given client size.
inline HWND MakeWindow(int width, int height) {
  return CreateWindowExW(0, u"STATIC", u"test", WS_POPUP | WS_VISIBLE, 0, 0, width, height, nullptr,
                         nullptr, nullptr, nullptr);
}

struct WindowPixels {
  std::vector<std::uint32_t> pixels;
  int width = 0;
  int height = 0;
  std::uint32_t At(int x, int y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

inline WindowPixels Read(HWND window) {
  WindowPixels read;
  kwz_platform::ReadWindowPixels(window, &read.pixels, &read.width, &read.height);
  return read;
}

// Fills the whole window with one colour through the painting calls.
inline void Fill(HWND window, int width, int height, int paletteIndex) {
  TestDib solid = MakeDib(width, height, 32, true, [=](int, int) { return paletteIndex; });
  HDC dc = GetDC(window);
  SetDIBitsToDevice(dc, 0, 0, width, height, 0, 0, 0, height, solid.bits.data(), solid.bmi(),
                    DIB_RGB_COLORS);
  ReleaseDC(window, dc);
}

}  // namespace kwz_test
