// The exact area average that HALFTONE stretching must approximate, computed the plain way in
// floating point: destination pixel (x, y) covers [x * sw / dw, (x + 1) * sw / dw) by the like
// range of rows, and every source pixel counts by the area of it inside.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

namespace kwz_test {

// One channel sample (0-255) of source pixel (x, y from the top) and channel ch (0 = blue).
using ChannelAt = std::function<int(int x, int y, int ch)>;

struct AveragedImage {
  int width = 0;
  int height = 0;
  std::vector<std::array<double, 4>> pixels;
  const std::array<double, 4>& At(int x, int y) const {
    return pixels[static_cast<std::size_t>(y) * width + x];
  }
};

inline AveragedImage ReferenceAreaAverage(const ChannelAt& source, int sw, int sh, int dw, int dh) {
  AveragedImage out{dw, dh, std::vector<std::array<double, 4>>(static_cast<std::size_t>(dw) * dh)};
  for (int y = 0; y < dh; ++y) {
    const double y0 = static_cast<double>(y) * sh / dh, y1 = static_cast<double>(y + 1) * sh / dh;
    for (int x = 0; x < dw; ++x) {
      const double x0 = static_cast<double>(x) * sw / dw, x1 = static_cast<double>(x + 1) * sw / dw;
      std::array<double, 4> sum{};
      for (int sy = static_cast<int>(std::floor(y0)); sy < std::min<double>(std::ceil(y1), sh);
           ++sy) {
        const double wy = std::min<double>(sy + 1, y1) - std::max<double>(sy, y0);
        for (int sx = static_cast<int>(std::floor(x0)); sx < std::min<double>(std::ceil(x1), sw);
             ++sx) {
          const double w = wy * (std::min<double>(sx + 1, x1) - std::max<double>(sx, x0));
          for (int ch = 0; ch < 4; ++ch) sum[ch] += w * source(sx, sy, ch);
        }
      }
      const double area = (x1 - x0) * (y1 - y0);
      for (int ch = 0; ch < 4; ++ch)
        out.pixels[static_cast<std::size_t>(y) * dw + x][ch] = sum[ch] / area;
    }
  }
  return out;
}

}  // namespace kwz_test
