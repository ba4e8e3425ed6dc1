// The painting calls pixel for pixel on every backend and present path: headless, and X11 under
// a private Xvfb over MIT-SHM, over plain XPutImage, and with 32-bit bitmaps in the platform's
// own buffers, which the server composites where they lie. What only X11 does is in
// x11/x11_paint_test.cpp.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <list>
#include <string>
#include <thread>

#include "platform/ipp.h"
#include "tests/platform/GdiTestSupport.h"
#include "tests/support/XvfbServer.h"

namespace {

using kwz_platform::GdiBackendKind;
using kwz_test::MakeDib;
using kwz_test::PaletteColour;
using kwz_test::Read;
using kwz_test::TestDib;

constexpr int kBackground = 200;

int Pattern(int x, int y) {
  return (x * 13 + y * 29 + 1) & 255;
}

struct Backend {
  const char* name;
  GdiBackendKind kind;
  bool forcePutImage;
  bool platformBuffers;  // bits in w7_ippsMalloc_8u buffers, as the receiver's bitmaps are
};

class GdiPaintTest : public ::testing::TestWithParam<Backend> {
 protected:
  // The server outlives the test and the thread's display connection, which closes when the main
  // thread ends; a static object is destroyed after that.
  static void SetUpTestSuite() {
    static kwz_test::XvfbServer server;
    server_ = &server;
  }
  void SetUp() override {
    const Backend& b = GetParam();
    if (b.kind == GdiBackendKind::kX11 && !server_->Running()) {
      GTEST_SKIP() << "X11 suite skipped: " << server_->Error();
    }
    kwz_platform::ForceXPutImageForTesting(b.forcePutImage);
    ASSERT_TRUE(kwz_platform::SelectGdiBackend(
        b.kind, b.kind == GdiBackendKind::kX11 ? server_->Display().c_str() : nullptr));
  }
  void TearDown() override {
    kwz_platform::ForceXPutImageForTesting(false);
    for (Ipp8u* p : buffers_) w7_ippsFree(p);
  }

  // The bits to paint from: the vector itself, or a copy in a platform buffer.
  const void* Bits(const std::vector<std::uint8_t>& bits) {
    if (!GetParam().platformBuffers) return bits.data();
    Ipp8u* copy = w7_ippsMalloc_8u(static_cast<int>(std::max<size_t>(bits.size(), 1)));
    if (!bits.empty()) std::memcpy(copy, bits.data(), bits.size());  // data() may be null
    buffers_.push_back(copy);
    return copy;
  }
  static void Fill(HWND window, int width, int height) {
    kwz_test::Fill(window, width, height, kBackground);
  }

  static kwz_test::XvfbServer* server_;
  std::list<Ipp8u*> buffers_;
};

kwz_test::XvfbServer* GdiPaintTest::server_ = nullptr;

const Backend kBackends[] = {{"Headless", GdiBackendKind::kHeadless, false, false},
                             {"X11SharedMemory", GdiBackendKind::kX11, false, false},
                             {"X11PutImage", GdiBackendKind::kX11, true, false},
                             {"X11InPlace", GdiBackendKind::kX11, false, true}};

// Every 1:1 paint against a per-pixel model of GDI's rules, shown only when the DC is released.
struct ClipCase {
  const char* name;
  int bitCount;
  bool bottomUp;
  int dibWidth;  // 8 rows; the window is one column wider and 7 rows high
  int xDest, yDest, width, height, xSrc, ySrc;
  UINT startScan, scanLines;
  int expectedResult;
  DWORD clrUsed = 0;
};

const ClipCase kClipCases[] = {
    // The engine's call at every depth: the top rows of a padded bottom-up bitmap.
    {"TopRows8", 8, true, 9, 0, 0, 9, 6, 0, 2, 0, 8, 8},
    {"TopRows24", 24, true, 9, 0, 0, 9, 6, 0, 2, 0, 8, 8},
    {"Inner", 32, true, 9, 2, 1, 4, 3, 3, 2, 0, 8, 8},
    // The destination hangs over the window's edges, or lies far outside it.
    {"NegativeDest", 32, true, 9, -3, -2, 9, 8, 0, 0, 0, 8, 8},
    {"PastRightBottom", 32, false, 9, 6, 5, 9, 8, 0, 0, 0, 8, 8},
    {"FarOutside", 32, true, 9, 5000, -5000, 9, 8, 0, 0, 0, 8, 8},
    // The source rectangle reaches past the DIB.
    {"SourcePastDib", 32, true, 9, 0, 0, 10, 7, 4, 3, 0, 8, 8},
    {"NegativeSource", 32, true, 9, 0, 0, 10, 7, -2, -3, 0, 8, 8},
    {"HugeSize", 32, true, 9, 0, 0, 0xFFFFFFF, 0xFFFFFFF, 0, 0, 0, 8, 8},
    // Only a band of scans is handed over; the result counts the scans the DIB has.
    {"Band", 32, true, 9, 0, 0, 9, 8, 0, 0, 2, 3, 3},
    {"BandPastTop", 32, true, 9, 0, 0, 9, 8, 0, 0, 6, 10, 2},
    {"TopDown", 32, false, 9, 1, 1, 5, 4, 2, 3, 0, 8, 8},
    {"TopDownBand", 32, false, 9, 0, 0, 9, 8, 0, 0, 3, 2, 2},
    // Nothing to paint from.
    {"StartBeyondDib", 32, true, 9, 0, 0, 9, 8, 0, 0, 8, 4, 0},
    {"NoScans", 32, true, 9, 0, 0, 9, 8, 0, 0, 0, 0, 0},
    // Palette entries beyond biClrUsed are black.
    {"BeyondClrUsed", 8, true, 9, 0, 0, 9, 7, 0, 0, 0, 8, 8, 40},
    // Rows of a kilo-pixel and more take another copy loop than short ones: source and
    // destination columns at other alignments, the DIB's last column left out.
    {"WideRows8", 8, true, 1100, 3, 0, 1094, 7, 5, 0, 0, 8, 8},
    {"WideRows32", 32, true, 1100, 1, 0, 1098, 7, 1, 0, 0, 8, 8},
    {"WideRowsAligned32", 32, true, 1100, 0, 0, 1099, 7, 0, 0, 0, 8, 8},
};

TEST_P(GdiPaintTest, PaintsExactlyTheVisiblePartOfTheSourceRectangle) {
  for (const ClipCase& c : kClipCases) {
    SCOPED_TRACE(c.name);
    const int dibHeight = 8, windowWidth = c.dibWidth + 1, windowHeight = 7;
    TestDib full = MakeDib(c.dibWidth, dibHeight, c.bitCount, c.bottomUp, Pattern);
    if (c.clrUsed != 0)
      reinterpret_cast<BITMAPINFOHEADER*>(full.info.data())->biClrUsed = c.clrUsed;
    // The caller hands over only the scans [startScan, startScan + scanLines).
    const size_t stride = full.bits.size() / dibHeight;
    const UINT available =
        std::min<UINT>(c.scanLines, dibHeight - std::min<UINT>(c.startScan, dibHeight));
    std::vector<std::uint8_t> band(full.bits.begin() + c.startScan * stride,
                                   full.bits.begin() + (c.startScan + available) * stride);
    HWND window = kwz_test::MakeWindow(windowWidth, windowHeight);
    Fill(window, windowWidth, windowHeight);
    HDC dc = GetDC(window);
    EXPECT_EQ(SetDIBitsToDevice(dc, c.xDest, c.yDest, c.width, c.height, c.xSrc, c.ySrc,
                                c.startScan, c.scanLines, Bits(band), full.bmi(), DIB_RGB_COLORS),
              c.expectedResult);
    EXPECT_EQ(Read(window).At(c.xDest & 7, 1), PaletteColour(kBackground)) << "before ReleaseDC";
    EXPECT_EQ(ReleaseDC(window, dc), 1);
    auto shown = Read(window);
    for (int y = 0; y < windowHeight; ++y) {
      for (int x = 0; x < windowWidth; ++x) {
        // Destination (x, y) takes source column xSrc + dx and, for a bottom-up DIB, the scan
        // ySrc + height - 1 - dy (counted from the bottom), if the DIB and the band have it.
        std::uint32_t expected = PaletteColour(kBackground);
        const int dx = x - c.xDest, dy = y - c.yDest;
        if (dx >= 0 && dx < c.width && dy >= 0 && dy < c.height) {
          const int sx = c.xSrc + dx;
          const int scan = c.bottomUp ? c.ySrc + c.height - 1 - dy : c.ySrc + dy;
          const bool inBand = scan >= static_cast<int>(c.startScan) &&
                              scan < static_cast<int>(c.startScan + available);
          if (c.expectedResult > 0 && sx >= 0 && sx < c.dibWidth && scan >= 0 && scan < dibHeight &&
              inBand) {
            const int sy = c.bottomUp ? dibHeight - 1 - scan : scan;
            expected = c.clrUsed != 0 && static_cast<DWORD>(full.index(sx, sy)) >= c.clrUsed
                           ? 0xFF000000u
                           : full.Colour(sx, sy);
          }
        }
        ASSERT_EQ(shown.At(x, y), expected) << x << "," << y;
      }
    }
    DestroyWindow(window);
  }
}

// How HALFTONE averages 32-bit pictures is area_scale_test.cpp's and the engine's; here the
// surface's stretch call (the top 8 x 6 of a padded 8 x 10 bottom-up bitmap onto 4 x 3) from the
// other depths, converted on the way into the scaler, shows the same.
TEST_P(GdiPaintTest, HalftoneShowsTheSameAtEveryDepth) {
  const int depths[] = {8, 24, 32};
  std::vector<std::uint32_t> shown[3];
  for (int i = 0; i < 3; ++i) {
    TestDib dib = MakeDib(8, 10, depths[i], true, Pattern);
    HWND window = kwz_test::MakeWindow(4, 3);
    HDC dc = GetDC(window);
    EXPECT_NE(SetStretchBltMode(dc, HALFTONE), 0);
    EXPECT_EQ(StretchDIBits(dc, 0, 0, 4, 3, 0, 10 - 6, 8, 6, Bits(dib.bits), dib.bmi(),
                            DIB_RGB_COLORS, SRCCOPY),
              6);
    ReleaseDC(window, dc);
    shown[i] = Read(window).pixels;
    DestroyWindow(window);
  }
  EXPECT_EQ(shown[0], shown[2]) << "8 bits";
  EXPECT_EQ(shown[1], shown[2]) << "24 bits";
  EXPECT_NE(shown[2][0], shown[2][1]) << "a picture, not a plain square";
}

// The hand drawn with its top-left at every spot around the window's edges: the visible part is
// the cursor's, what its mask leaves out keeps the background, nothing else changes.
TEST_P(GdiPaintTest, DrawIconClipsAtEveryEdge) {
  const int side = 20;
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  HWND reference = kwz_test::MakeWindow(32, 32);
  Fill(reference, 32, 32);
  HDC rdc = GetDC(reference);
  ASSERT_TRUE(DrawIcon(rdc, 0, 0, hand));
  ReleaseDC(reference, rdc);
  auto cursor = Read(reference);
  EXPECT_EQ(cursor.At(5, 0), 0xFF000000u);                 // outline at the fingertip
  EXPECT_EQ(cursor.At(0, 0), PaletteColour(kBackground));  // transparent
  for (int x : {-31, -3, side - 1}) {
    for (int y : {-32, -5, side - 2, 1 << 30}) {
      HWND window = kwz_test::MakeWindow(side, side);
      Fill(window, side, side);
      HDC dc = GetDC(window);
      EXPECT_TRUE(DrawIcon(dc, x, y, hand));
      ReleaseDC(window, dc);
      auto shown = Read(window);
      for (int wy = 0; wy < side; ++wy) {
        for (int wx = 0; wx < side; ++wx) {
          const long cx = static_cast<long>(wx) - x, cy = static_cast<long>(wy) - y;
          const bool inside = cx >= 0 && cx < 32 && cy >= 0 && cy < 32;
          ASSERT_EQ(shown.At(wx, wy), inside ? cursor.At(static_cast<int>(cx), static_cast<int>(cy))
                                             : PaletteColour(kBackground))
              << "icon at " << x << "," << y << " pixel " << wx << "," << wy;
        }
      }
      DestroyWindow(window);
    }
  }
  DestroyWindow(reference);
}

// The engine's thread paints while the window's thread resizes and reads the window, then
// destroys its parent under a DC the worker may hold; the worker's last frame is what shows.
TEST_P(GdiPaintTest, WorkerPaintsWhileTheWindowIsResizedReadAndDestroyed) {
  TestDib dib = MakeDib(64, 48, 32, true, [](int x, int y) { return (x * 3 + y) & 255; });
  const void* bits = Bits(dib.bits);
  HWND parent = kwz_test::MakeWindow(200, 200);
  HWND window = CreateWindowExW(0, u"STATIC", u"", WS_CHILD | WS_VISIBLE, 0, 0, 64, 48, parent,
                                nullptr, nullptr, nullptr);
  std::atomic<bool> resizing{true}, stop{false};
  std::atomic<int> paints{0};
  std::atomic<int> badSizes{0};
  auto paint = [&](std::stop_token) {
    HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
    while (!stop.load()) {
      HDC dc = GetDC(window);
      if (dc == nullptr) break;  // destroyed
      RECT client{};
      if (resizing.load() && GetClientRect(window, &client)) {
        SetStretchBltMode(dc, HALFTONE);
        StretchDIBits(dc, 0, 0, client.right, client.bottom, 0, 0, 64, 48, bits, dib.bmi(),
                      DIB_RGB_COLORS, SRCCOPY);
        DrawIcon(dc, 10, 10, hand);
      }
      SetDIBitsToDevice(dc, 0, 0, 64, 48, 0, 0, 0, 48, bits, dib.bmi(), DIB_RGB_COLORS);
      ReleaseDC(window, dc);
      paints.fetch_add(1);
    }
  };
  {
    std::jthread worker(paint);
    for (int i = 0; i < 60; ++i) {
      SetWindowPos(window, nullptr, 0, 0, 40 + i % 30, 30 + i % 20, SWP_NOMOVE | SWP_NOZORDER);
      auto shown = Read(window);
      if (shown.pixels.size() != static_cast<size_t>(shown.width) * shown.height) ++badSizes;
    }
    SetWindowPos(window, nullptr, 0, 0, 64, 48, SWP_NOMOVE | SWP_NOZORDER);
    resizing = false;
    const int before = paints.load();
    while (paints.load() < before + 2) std::this_thread::yield();  // a whole plain frame since
    auto shown = Read(window);
    EXPECT_EQ(shown.At(63, 0), dib.Colour(63, 0));
    EXPECT_EQ(shown.At(0, 47), dib.Colour(0, 47));
    EXPECT_TRUE(DestroyWindow(parent));
    stop = true;
  }
  EXPECT_EQ(badSizes.load(), 0);
  EXPECT_FALSE(IsWindow(window));
}

INSTANTIATE_TEST_SUITE_P(Backends, GdiPaintTest, ::testing::ValuesIn(kBackends),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
