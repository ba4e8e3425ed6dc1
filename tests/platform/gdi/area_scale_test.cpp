// HALFTONE's area averaging against the plain floating-point average, on each path the scaler
// has: reductions and enlargements, odd sizes, one-pixel targets, clipped targets, rows read
// upwards, and the 3:2 reduction with and without columns left over for the plain code.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tests/platform/AreaAverage.h"

#include "gdi/area_scale.h"

namespace {

using kwz_platform::AreaScale;
using kwz_platform::AreaScaleSeparable;
using kwz_platform::BgrxSource;
using kwz_platform::PixelImage;
using kwz_platform::ScaleTarget;

constexpr std::uint8_t kSentinel = 0xC3;
constexpr int kMarginX = 3, kMarginY = 2;  // around the target inside the image

// A BGRX picture in a buffer with padded rows, stored top-down or bottom-up.
struct Picture {
  int width, height;
  bool bottomUp;
  std::ptrdiff_t stride;
  std::vector<std::uint8_t> bytes;

  Picture(int w, int h, bool up, std::uint32_t seed, bool stripes)
      : width(w), height(h), bottomUp(up), stride(static_cast<std::ptrdiff_t>(w) * 4 + 8) {
    std::mt19937 random(seed);
    bytes.assign(static_cast<std::size_t>(stride) * h, 0xEE);  // padding shows if read
    for (int y = 0; y < h; ++y) {
      for (int x = 0; x < w; ++x) {
        for (int ch = 0; ch < 4; ++ch) {
          // Stripes of 0 and 255 are the worst case for weights that are off.
          const int v = stripes ? ((x + y + ch) % 2) * 255 : static_cast<int>(random() & 255);
          bytes[Offset(x, y) + ch] = static_cast<std::uint8_t>(v);
        }
      }
    }
  }
  std::size_t Offset(int x, int y) const {
    const int row = bottomUp ? height - 1 - y : y;
    return static_cast<std::size_t>(row * stride + x * 4);
  }
  int Channel(int x, int y, int ch) const { return bytes[Offset(x, y) + ch]; }
  BgrxSource Source() const {
    const std::uint8_t* top = bytes.data() + Offset(0, 0);
    return BgrxSource{top, bottomUp ? -stride : stride, width, height};
  }
};

// An image with a margin of sentinel bytes around the target rectangle.
struct Canvas {
  std::vector<std::uint8_t> bytes;
  PixelImage image;
  Canvas(int targetWidth, int targetHeight) {
    image.width = targetWidth + 2 * kMarginX;
    image.height = targetHeight + 2 * kMarginY;
    image.stride = static_cast<std::ptrdiff_t>(image.width) * 4;
    bytes.assign(static_cast<std::size_t>(image.stride) * image.height, kSentinel);
    image.bits = bytes.data();
  }
  std::uint8_t At(int x, int y, int ch) const {
    return bytes[static_cast<std::size_t>(y * image.stride + x * 4 + ch)];
  }
};

struct Ratio {
  int sw, sh, dw, dh;
};

std::string Name(const Ratio& r) {
  return std::to_string(r.sw) + "x" + std::to_string(r.sh) + "_to_" + std::to_string(r.dw) + "x" +
         std::to_string(r.dh);
}

class AreaScaleRatios : public ::testing::TestWithParam<Ratio> {
 protected:
  void TearDown() override { kwz_platform::UsePortableAreaScaleForTesting(false); }
};

// Each path: the 3:2 kernel where it applies, the separable one with vector rows, and the
// plain loops that CPUs without AVX2 take, within one level of the exact average and nothing
// written outside the target. A clipped target (always the separable path) shows exactly the
// pixels of the whole one in its part.
TEST_P(AreaScaleRatios, EveryPathMatchesTheExactAverage) {
  const Ratio r = GetParam();
  for (int combination = 0; combination < 8; ++combination) {
    const bool stripes = combination & 1, bottomUp = combination & 2, portable = combination & 4;
    SCOPED_TRACE(std::string(stripes ? "stripes" : "noise") + (bottomUp ? " bottom-up" : "") +
                 (portable ? " portable" : ""));
    kwz_platform::UsePortableAreaScaleForTesting(portable);
    const Picture picture(r.sw, r.sh, bottomUp, static_cast<std::uint32_t>(r.sw * 31 + r.dh),
                          stripes);
    const ScaleTarget target{kMarginX, kMarginY, r.dw, r.dh,
                             RECT{kMarginX, kMarginY, kMarginX + r.dw, kMarginY + r.dh}};
    ScaleTarget part = target;
    part.clip =
        RECT{kMarginX + r.dw / 3, kMarginY + r.dh / 2, kMarginX + r.dw - r.dw / 4, kMarginY + r.dh};
    if (part.clip.left >= part.clip.right) part.clip.right = part.clip.left + 1;
    Canvas chosen(r.dw, r.dh), separable(r.dw, r.dh), clipped(r.dw, r.dh);
    AreaScale(picture.Source(), target, chosen.image);
    AreaScaleSeparable(picture.Source(), target, separable.image);
    AreaScale(picture.Source(), part, clipped.image);
    const auto reference = kwz_test::ReferenceAreaAverage(
        [&](int x, int y, int ch) { return picture.Channel(x, y, ch); }, r.sw, r.sh, r.dw, r.dh);
    auto in = [](const RECT& c, int x, int y) {
      return x >= c.left && x < c.right && y >= c.top && y < c.bottom;
    };
    for (int y = 0; y < chosen.image.height; ++y) {
      for (int x = 0; x < chosen.image.width; ++x) {
        for (int ch = 0; ch < 4; ++ch) {
          ASSERT_EQ(clipped.At(x, y, ch), in(part.clip, x, y) ? separable.At(x, y, ch) : kSentinel)
              << "clipped " << x << "," << y << " channel " << ch;
          const double want =
              in(target.clip, x, y) ? reference.At(x - kMarginX, y - kMarginY)[ch] : kSentinel;
          ASSERT_LE(std::fabs(chosen.At(x, y, ch) - want), in(target.clip, x, y) ? 1.0 : 0.0)
              << x << "," << y << " channel " << ch;
          ASSERT_LE(std::fabs(separable.At(x, y, ch) - want), in(target.clip, x, y) ? 1.0 : 0.0)
              << "separable " << x << "," << y << " channel " << ch;
        }
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Ratios, AreaScaleRatios,
                         ::testing::Values(
                             // 3:2 (whole vector groups are the engine's): one group and the plain
                             // code's, only the plain code's.
                             Ratio{15, 6, 10, 4}, Ratio{3, 3, 2, 2},
                             // Other reductions: odd sizes, one pixel in all, a long thin strip.
                             Ratio{37, 23, 11, 7}, Ratio{50, 40, 1, 1}, Ratio{1000, 4, 7, 1},
                             // Enlargements, alone and mixed with a reduction on the other axis.
                             Ratio{7, 5, 19, 13}, Ratio{1, 17, 5, 6}, Ratio{2, 2, 640, 3}),
                         [](const ::testing::TestParamInfo<Ratio>& info) {
                           return Name(info.param);
                         });

}  // namespace
