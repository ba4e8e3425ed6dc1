// DIBs and windows for the GDI tests.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstring>
#include <functional>
#include <thread>
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
  TestDib dib;
  dib.width = width;
  dib.height = height;
  dib.index = index;
  const size_t paletteBytes = bitCount == 8 ? 256 * 4 : 4;
  dib.info.assign(sizeof(BITMAPINFOHEADER) + paletteBytes, 0);
  BITMAPINFOHEADER header{};
  header.biSize = sizeof(BITMAPINFOHEADER);
  header.biWidth = width;
  header.biHeight = bottomUp ? height : -height;
  header.biPlanes = 1;
  header.biBitCount = static_cast<WORD>(bitCount);
  header.biCompression = BI_RGB;
  const size_t stride = (static_cast<size_t>(bitCount) * width + 31) / 32 * 4;
  header.biSizeImage = static_cast<DWORD>(stride * height);
  std::memcpy(dib.info.data(), &header, sizeof(header));
  if (bitCount == 8) {
    for (int i = 0; i < 256; ++i) {
      const std::uint32_t c = PaletteColour(i) & 0x00FFFFFFu;  // RGBQUAD: B, G, R, 0
      std::memcpy(&dib.info[sizeof(header) + static_cast<size_t>(i) * 4], &c, 4);
    }
  }
  dib.bits.assign(stride * height, 0xA5);
  for (int y = 0; y < height; ++y) {
    std::uint8_t* row = &dib.bits[(bottomUp ? height - 1 - y : y) * stride];
    for (int x = 0; x < width; ++x) {
      const std::uint32_t c = PaletteColour(index(x, y));
      switch (bitCount) {
        case 8:
          row[x] = static_cast<std::uint8_t>(index(x, y));
          break;
        case 24:
          std::memcpy(row + x * 3, &c, 3);
          break;
        default: {
          const std::uint32_t junk = (c & 0x00FFFFFFu) | 0x5A000000u;
          std::memcpy(row + x * 4, &junk, 4);
        }
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

// Dispatches (with TranslateMessage) until done(); a watchdog wakes the loop through window and
// ends the wait should the messages never come.
inline void PumpUntil(HWND window, const std::function<bool()>& done) {
  HANDLE stop = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> expired{false};
  std::jthread watchdog([&] {
    if (WaitForSingleObject(stop, 10000) == WAIT_TIMEOUT) {
      expired = true;
      PostMessageW(window, WM_NULL, 0, 0);
    }
  });
  MSG message;
  while (!done() && !expired && GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  SetEvent(stop);
  watchdog.join();
  CloseHandle(stop);
}

}  // namespace kwz_test
