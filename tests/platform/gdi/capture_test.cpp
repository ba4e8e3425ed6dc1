// Screen capture through the screen's DC on the headless backend, whose screen is its virtual
// display: BitBlt into top-down and bottom-up DIB sections, clipping at the display's and the
// section's edges, the pointer's position, and the calls the subset refuses.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gdi.h"
#include "platform/gdi_testing.h"
#include "platform/winuser.h"

namespace {

constexpr int kScreenW = 64;
constexpr int kScreenH = 48;

std::uint32_t ScreenPixel(int x, int y) {
  return static_cast<std::uint32_t>(x * 0x010203 + y * 0x100) & 0xFFFFFF;
}

class ScreenCapture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(kwz_platform::GdiBackendKind::kHeadless));
    kwz_platform::SetHeadlessDisplays({SIZE{kScreenW, kScreenH}});
    std::vector<std::uint32_t> screen(kScreenW * kScreenH);
    for (int y = 0; y < kScreenH; ++y)
      for (int x = 0; x < kScreenW; ++x) screen[y * kScreenW + x] = ScreenPixel(x, y);
    kwz_platform::SetHeadlessScreen(screen, kScreenW, kScreenH, POINT{17, 29});
    screen_ = GetDC(nullptr);
    memory_ = CreateCompatibleDC(screen_);
    ASSERT_NE(screen_, nullptr);
    ASSERT_NE(memory_, nullptr);
  }
  void TearDown() override {
    EXPECT_TRUE(DeleteDC(memory_));
    EXPECT_EQ(ReleaseDC(nullptr, screen_), 1);
    kwz_platform::SetHeadlessScreen({}, 0, 0, POINT{0, 0});
    kwz_platform::SetHeadlessDisplays({SIZE{1920, 1080}});
  }

  // A 32-bit section of width x height, top-down or bottom-up, selected into the memory DC.
  std::uint32_t* Section(int width, int height, bool topDown) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = topDown ? -height : height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    section_ = CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    EXPECT_NE(section_, nullptr);
    EXPECT_NE(SelectObject(memory_, section_), nullptr);
    return static_cast<std::uint32_t*>(bits);
  }

  HDC screen_ = nullptr;
  HDC memory_ = nullptr;
  HBITMAP section_ = nullptr;
};

// Where a section's picture row y lies in its memory.
int MemoryRow(int y, int height, bool topDown) {
  return topDown ? y : height - 1 - y;
}

class SectionOrder : public ScreenCapture, public ::testing::WithParamInterface<bool> {};

// The copy lands the right way up in either row order; what lies beyond the display comes out
// black and what lies beyond the section is cut.
TEST_P(SectionOrder, BitBltCopiesTheScreenRectangleClippedAtBothEnds) {
  const bool topDown = GetParam();
  constexpr int kW = 16, kH = 16;
  std::uint32_t* bits = Section(kW, kH, topDown);
  std::fill_n(bits, kW * kH, 0x00ABCDEFu);
  // From screen (56, 40): 8 x 8 pixels lie on the display. Drawn at (4, 4) and 20 wide, the
  // copy is cut at the section's right and bottom edges.
  ASSERT_TRUE(BitBlt(memory_, 4, 4, 20, 20, screen_, 56, 40, SRCCOPY));
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) {
      const std::uint32_t got = bits[MemoryRow(y, kH, topDown) * kW + x] & 0xFFFFFF;
      std::uint32_t want = 0xABCDEF;  // left and top of the copy: untouched
      if (x >= 4 && y >= 4) {
        const int sx = 56 + x - 4, sy = 40 + y - 4;
        want = sx < kScreenW && sy < kScreenH ? ScreenPixel(sx, sy) : 0;
      }
      ASSERT_EQ(got, want) << x << "," << y;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Gdi, SectionOrder, ::testing::Values(true, false));

TEST_F(ScreenCapture, CursorPositionAndScreenSizeAreThoseOfTheDisplay) {
  POINT p{};
  ASSERT_TRUE(GetCursorPos(&p));
  EXPECT_EQ(p.x, 17);
  EXPECT_EQ(p.y, 29);
  EXPECT_FALSE(GetCursorPos(nullptr));
  EXPECT_EQ(GetDeviceCaps(screen_, HORZRES), kScreenW);
  EXPECT_EQ(GetDeviceCaps(screen_, VERTRES), kScreenH);
}

TEST_F(ScreenCapture, RefusedCallsChangeNothing) {
  std::uint32_t* bits = Section(4, 4, true);
  std::fill_n(bits, 16, 0x123456u);
  HDC other = CreateCompatibleDC(nullptr);
  // Not SRCCOPY; not from the screen; not into a memory DC; a memory DC with no section.
  EXPECT_FALSE(BitBlt(memory_, 0, 0, 4, 4, screen_, 0, 0, 0x00EE0086u));
  EXPECT_FALSE(BitBlt(memory_, 0, 0, 4, 4, other, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(screen_, 0, 0, 4, 4, screen_, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(other, 0, 0, 4, 4, screen_, 0, 0, SRCCOPY));
  EXPECT_FALSE(BitBlt(memory_, 0, 0, -4, 4, screen_, 0, 0, SRCCOPY));
  for (int i = 0; i < 16; ++i) ASSERT_EQ(bits[i], 0x123456u);
  // The screen's DC goes back with ReleaseDC, not DeleteDC; a memory DC is no window's DC.
  EXPECT_FALSE(DeleteDC(screen_));
  EXPECT_EQ(ReleaseDC(nullptr, other), 0);
  EXPECT_TRUE(DeleteDC(other));

  // Sections other than 32-bit BI_RGB, or beyond 16384 pixels a side, are not made.
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
  info.bmiHeader.biWidth = 8;
  info.bmiHeader.biHeight = 8;
  info.bmiHeader.biPlanes = 1;
  void* out = reinterpret_cast<void*>(1);
  for (auto [bitCount, width, height] : {std::tuple{24, 8, 8}, std::tuple{32, 0, 8},
                                         std::tuple{32, 16385, 8}, std::tuple{32, 8, -16385}}) {
    info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    EXPECT_EQ(CreateDIBSection(memory_, &info, DIB_RGB_COLORS, &out, nullptr, 0), nullptr);
    EXPECT_EQ(out, nullptr);
  }
}

TEST_F(ScreenCapture, SelectedSectionOutlivesDeleteObjectUntilDeselected) {
  std::uint32_t* bits = Section(8, 8, true);
  HGDIOBJ stock = SelectObject(memory_, section_);  // selecting again returns the section itself
  EXPECT_EQ(stock, section_);
  EXPECT_TRUE(DeleteObject(section_));
  ASSERT_TRUE(BitBlt(memory_, 0, 0, 8, 8, screen_, 1, 2, SRCCOPY));
  EXPECT_EQ(bits[0] & 0xFFFFFF, ScreenPixel(1, 2));
}

}  // namespace
