#include "presenter/SyntheticDesktop.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace {

// Share of pixels that differ between two pictures of one size.
double ChangedShare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  size_t changed = 0;
  for (size_t i = 0; i + 3 < a.size(); i += 4)
    if (a[i] != b[i] || a[i + 1] != b[i + 1] || a[i + 2] != b[i + 2]) ++changed;
  return static_cast<double>(changed) / static_cast<double>(a.size() / 4);
}

// Like a real screen, consecutive frames change a little, a scene change changes most of it.
TEST(SyntheticDesktop, FramesChangeLittleExceptAtSceneChange) {
  SyntheticDesktop desktop(640, 480);
  constexpr uint32_t kScene = SyntheticDesktop::kFramesPerScene;
  for (uint32_t n : {0u, 1u, 57u, kScene - 2}) {
    const double share = ChangedShare(desktop.Render(n), desktop.Render(n + 1));
    EXPECT_GT(share, 0.0) << n;
    EXPECT_LT(share, 0.35) << n;
  }
  EXPECT_GT(ChangedShare(desktop.Render(kScene - 1), desktop.Render(kScene)), 0.45);
  EXPECT_NE(desktop.Render(0), desktop.Render(2 * kScene));
}

TEST(SyntheticDesktop, KeepsToTheStrideAndWritesOpaquePixels) {
  constexpr int kWidth = 200, kHeight = 100, kStride = kWidth * 4 + 12;
  SyntheticDesktop desktop(kWidth, kHeight);
  std::vector<uint8_t> buffer(static_cast<size_t>(kStride) * kHeight, 0xAB);
  desktop.Render(3, buffer.data(), kStride);
  const std::vector<uint8_t> packed = desktop.Render(3);
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* row = buffer.data() + static_cast<size_t>(y) * kStride;
    ASSERT_TRUE(std::equal(row, row + kWidth * 4, packed.begin() + y * kWidth * 4)) << y;
    for (int i = kWidth * 4; i < kStride; ++i) ASSERT_EQ(row[i], 0xAB) << y;
    for (int x = 0; x < kWidth; ++x) ASSERT_EQ(row[x * 4 + 3], 255) << x << "," << y;
  }
}

TEST(SyntheticDesktop, CursorStaysOnScreenAndMovesEveryFrame) {
  for (auto [w, h] : {std::pair{64, 64}, std::pair{1920, 1088}}) {
    SyntheticDesktop desktop(w, h);
    for (uint32_t n = 0; n < 2000; ++n) {
      const SyntheticDesktop::Point p = desktop.CursorAt(n), q = desktop.CursorAt(n + 1);
      ASSERT_TRUE(p.x >= 0 && p.x < w && p.y >= 0 && p.y < h) << n;
      ASSERT_TRUE(p.x != q.x || p.y != q.y) << n;
    }
  }
}

}  // namespace
