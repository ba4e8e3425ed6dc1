#include "platform/ipp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

constexpr Ipp8u kSentinel = 0xA5;

struct Bgr8 {
  int b, g, r;
};

// IPP's documented studio-range equations, in floating point.
Bgr8 Reference(int y, int cb, int cr) {
  auto sat = [](double v) { return std::clamp(static_cast<int>(std::lround(v)), 0, 255); };
  const double l = 1.164 * (y - 16);
  return {sat(l + 2.017 * (cb - 128)), sat(l - 0.813 * (cr - 128) - 0.392 * (cb - 128)),
          sat(l + 1.596 * (cr - 128))};
}

// A 4:2:0 picture with padded rows, random samples.
struct Planes {
  Planes(int width, int height, unsigned seed)
      : width(width), height(height), steps{width + 7, (width + 1) / 2 + 3, (width + 1) / 2 + 5} {
    std::mt19937 random(seed);
    const int chromaRows = (height + 1) / 2;
    for (int c = 0; c < 3; ++c) {
      data[c].resize(static_cast<size_t>(steps[c]) * (c == 0 ? height : chromaRows));
      for (auto& v : data[c]) v = static_cast<Ipp8u>(random());
    }
    for (int c = 0; c < 3; ++c) pointers[c] = data[c].data();
  }
  Bgr8 Expected(int x, int yRow) const {
    return Reference(data[0][yRow * steps[0] + x], data[1][(yRow / 2) * steps[1] + x / 2],
                     data[2][(yRow / 2) * steps[2] + x / 2]);
  }
  int width, height;
  int steps[3];
  std::vector<Ipp8u> data[3];
  const Ipp8u* pointers[3];
};

// Within rounding of the documented result, the fourth byte is alpha, bit 15 of BGR555 stays
// clear, and the row padding is never written: odd sizes, a single pixel, rows off 4-byte
// alignment, and rows wider than one pass of the converter's columns.
TEST(YCbCr420ToBgr, MatchesStudioRangeEquations) {
  struct Case {
    int bpp;  // 4: BGRA, 3: BGR, 2: BGR555
    int width, height;
    Ipp8u alpha;
    int offset;  // of the destination from a 4-byte boundary
  };
  for (const Case& c : {Case{4, 33, 17, 0x7F, 0}, Case{4, 1, 1, 0, 0}, Case{4, 1031, 2, 9, 2},
                        Case{3, 1031, 3, 0, 1}, Case{2, 1030, 3, 0, 2}}) {
    SCOPED_TRACE(testing::Message() << c.bpp << " bytes, " << c.width << "x" << c.height);
    Planes planes(c.width, c.height, 7u * c.width + c.height);
    const int bpp = c.bpp, dstStep = c.width * bpp + 6;
    std::vector<Ipp8u> buffer(static_cast<size_t>(dstStep) * c.height + 16 + c.offset, kSentinel);
    Ipp8u* const dst = buffer.data() + c.offset;
    const IppiSize size{c.width, c.height};
    ASSERT_EQ(
        bpp == 4 ? w7_ippiYCbCr420ToBGR_8u_P3C4R(planes.pointers, planes.steps, dst, dstStep, size,
                                                 c.alpha)
        : bpp == 3
            ? w7_ippiYCbCr420ToBGR_8u_P3C3R(planes.pointers, planes.steps, dst, dstStep, size)
            : w7_ippiYCbCr420ToBGR555_8u16u_P3C3R(planes.pointers, planes.steps,
                                                  reinterpret_cast<Ipp16u*>(dst), dstStep, size),
        ippStsNoErr);
    // Rounding may put the 8-bit value on either side of a 5-bit step.
    auto near5 = [](int got, int ref8) {
      return got == ref8 >> 3 || got == std::clamp(ref8 - 1, 0, 255) >> 3 ||
             got == std::clamp(ref8 + 1, 0, 255) >> 3;
    };
    for (int y = 0; y < c.height; ++y) {
      const Ipp8u* row = dst + y * dstStep;
      for (int x = 0; x < c.width; ++x) {
        const Bgr8 e = planes.Expected(x, y);
        SCOPED_TRACE(testing::Message() << "x=" << x << " y=" << y);
        if (bpp == 2) {
          const int v = row[2 * x] | row[2 * x + 1] << 8;
          ASSERT_EQ(v & 0x8000, 0);
          ASSERT_TRUE(near5(v & 31, e.b) && near5((v >> 5) & 31, e.g) &&
                      near5((v >> 10) & 31, e.r));
          continue;
        }
        ASSERT_NEAR(row[bpp * x], e.b, 1);
        ASSERT_NEAR(row[bpp * x + 1], e.g, 1);
        ASSERT_NEAR(row[bpp * x + 2], e.r, 1);
        if (bpp == 4) {
          ASSERT_EQ(row[4 * x + 3], c.alpha);
        }
      }
      for (int p = c.width * bpp; p < dstStep; ++p) ASSERT_EQ(row[p], kSentinel) << "padding";
    }
    for (size_t p = 0; p < buffer.size(); ++p) {
      if (p < static_cast<size_t>(c.offset) ||
          p >= c.offset + static_cast<size_t>(dstStep) * c.height) {
        ASSERT_EQ(buffer[p], kSentinel) << "outside the rows at " << p;
      }
    }
  }
}

// Bad arguments: the documented negative status, and not a byte written.
TEST(YCbCr420ToBgrErrors, RejectedWithoutWriting) {
  Planes planes(16, 16, 1);
  std::vector<Ipp8u> dst(16 * 16 * 4, kSentinel);
  int steps[3] = {16, 8, 8};
  const Ipp8u* missingCr[3] = {planes.pointers[0], planes.pointers[1], nullptr};
  int shortChroma[3] = {16, 8, 7};
  struct Case {
    const char* what;
    const Ipp8u** src;
    int* steps;
    int dstStep;
    IppiSize size;
    IppStatus status;
  } cases[] = {
      {"null planes", nullptr, steps, 64, {16, 16}, ippStsNullPtrErr},
      {"null Cr", missingCr, steps, 64, {16, 16}, ippStsNullPtrErr},
      {"negative height", planes.pointers, steps, 64, {16, -1}, ippStsSizeErr},
      {"short chroma step", planes.pointers, shortChroma, 64, {16, 16}, ippStsStepErr},
      {"short destination step", planes.pointers, steps, 63, {16, 16}, ippStsStepErr},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(w7_ippiYCbCr420ToBGR_8u_P3C4R(c.src, c.steps, dst.data(), c.dstStep, c.size, 0),
              c.status)
        << c.what;
    EXPECT_EQ(w7_ippiYCbCr420ToBGR_8u_P3C3R(c.src, c.steps, dst.data(), c.dstStep * 3 / 4, c.size),
              c.status)
        << c.what;
  }
  EXPECT_TRUE(std::all_of(dst.begin(), dst.end(), [](Ipp8u v) { return v == kSentinel; }));
}

// In place, at 4 and 3 bytes a pixel: pixels reversed in odd and even rows, and both axes at
// once on a single pixel, the padding left alone; then bad arguments, with nothing written. The
// rows swapped (the decoder's flip) are the decoder's tests'.
TEST(Mirror, MovesEveryPixelToItsMirrorOrRefuses) {
  struct Case {
    int channels, width, height;
    IppiAxis axis;
  };
  for (const Case& c :
       {Case{4, 5, 3, ippAxsVertical}, Case{3, 6, 3, ippAxsVertical}, Case{3, 1, 1, ippAxsBoth}}) {
    SCOPED_TRACE(testing::Message() << c.channels << " channels, " << c.width << " wide");
    const int step = c.width * c.channels + 5;
    std::vector<Ipp8u> original(static_cast<size_t>(step) * c.height, kSentinel);
    for (int y = 0; y < c.height; ++y) {
      for (int p = 0; p < c.width * c.channels; ++p)
        original[y * step + p] = static_cast<Ipp8u>(y * 31 + p * 7);
    }
    std::vector<Ipp8u> image = original;
    const IppiSize size{c.width, c.height};
    ASSERT_EQ(c.channels == 4 ? w7_ippiMirror_8u_C4IR(image.data(), step, size, c.axis)
                              : w7_ippiMirror_8u_C3IR(image.data(), step, size, c.axis),
              ippStsNoErr);
    for (int y = 0; y < c.height; ++y) {
      for (int x = 0; x < c.width; ++x) {
        const int sy = c.axis != ippAxsVertical ? c.height - 1 - y : y;
        const int sx = c.axis != ippAxsHorizontal ? c.width - 1 - x : x;
        for (int ch = 0; ch < c.channels; ++ch) {
          ASSERT_EQ(image[y * step + x * c.channels + ch],
                    original[sy * step + sx * c.channels + ch])
              << x << "," << y;
        }
      }
      for (int p = c.width * c.channels; p < step; ++p) ASSERT_EQ(image[y * step + p], kSentinel);
    }
  }
  std::vector<Ipp8u> image(64, kSentinel);
  EXPECT_EQ(w7_ippiMirror_8u_C4IR(nullptr, 16, {4, 4}, ippAxsHorizontal), ippStsNullPtrErr);
  EXPECT_EQ(w7_ippiMirror_8u_C4IR(image.data(), 16, {0, 4}, ippAxsHorizontal), ippStsSizeErr);
  EXPECT_EQ(w7_ippiMirror_8u_C4IR(image.data(), 15, {4, 4}, ippAxsHorizontal), ippStsStepErr);
  EXPECT_EQ(w7_ippiMirror_8u_C3IR(image.data(), 16, {4, 4}, static_cast<IppiAxis>(7)),
            ippStsMirrorFlipErr);
  EXPECT_TRUE(std::all_of(image.begin(), image.end(), [](Ipp8u v) { return v == kSentinel; }));
}

TEST(CopyErrors, Rejected) {
  std::vector<Ipp8u> a(400), b(400, kSentinel);
  EXPECT_EQ(w7_ippiCopy_8u_C1R(nullptr, 10, b.data(), 10, {10, 10}), ippStsNullPtrErr);
  EXPECT_EQ(w7_ippiCopy_8u_C4R(a.data(), 40, b.data(), 40, {10, 0}), ippStsSizeErr);
  EXPECT_EQ(w7_ippiCopy_8u_C4R(a.data(), 39, b.data(), 40, {10, 10}), ippStsStepErr);
  EXPECT_EQ(w7_ippiCopy_8u_C1R(a.data(), 10, b.data(), 9, {10, 10}), ippStsStepErr);
  EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](Ipp8u v) { return v == kSentinel; }));
}

// Decoder buffers come from here (the engine's tests); what they cannot ask for is refused.
TEST(Memory, BadSizesAndPointersAreRefused) {
  Ipp8u byte = kSentinel;
  EXPECT_EQ(w7_ippsMalloc_8u(0), nullptr);
  EXPECT_EQ(w7_ippsMalloc_8u(-5), nullptr);
  w7_ippsFree(nullptr);
  EXPECT_EQ(w7_ippsZero_8u(nullptr, 4), ippStsNullPtrErr);
  EXPECT_EQ(w7_ippsZero_8u(&byte, 0), ippStsSizeErr);
  EXPECT_EQ(byte, kSentinel);
}

}  // namespace
