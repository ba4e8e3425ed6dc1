// Painting a 1920 x 1080 32-bit frame into a window the way the drawing surface does (GetDC,
// picture, cursor, ReleaseDC), at 1:1 and stretched to 1280 x 720, on the headless backend and on
// X11 (a private Xvfb, MIT-SHM). Each line reports the median ms per paint, the median of a plain
// memcpy of the whole frame timed beside it (baseline_ms) and their ratio.
#include <benchmark/benchmark.h>

#include <vector>

#include "bench/PaintTiming.h"
#include "platform/gdi_testing.h"
#include "tests/support/XvfbServer.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Frame {
  BITMAPINFO info{};
  std::vector<std::uint32_t> bits;
  Frame() : bits(static_cast<size_t>(kWidth) * kHeight) {
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = kHeight;  // bottom-up, as the surface keeps it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<std::uint32_t>(i * 2654435761u);
  }
};

bool Choose(kwz_platform::GdiBackendKind kind) {
  if (kind == kwz_platform::GdiBackendKind::kHeadless) {
    return kwz_platform::SelectGdiBackend(kind);
  }
  static kwz_test::XvfbServer server;  // outlives the benchmark's display connections
  return server.Running() && kwz_platform::SelectGdiBackend(kind, server.Display().c_str());
}

void BM_Paint(benchmark::State& state, kwz_platform::GdiBackendKind kind, bool stretch) {
  if (!Choose(kind)) {
    state.SkipWithError("backend unavailable (no Xvfb?)");
    return;
  }
  static const Frame frame;
  const int width = stretch ? 1280 : kWidth, height = stretch ? 720 : kHeight;
  HWND window = CreateWindowExW(0, u"STATIC", u"", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                nullptr, nullptr, nullptr, nullptr);
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  auto paint = [&] {
    HDC dc = GetDC(window);
    if (stretch) {
      SetStretchBltMode(dc, HALFTONE);
      StretchDIBits(dc, 0, 0, width, height, 0, 0, kWidth, kHeight, frame.bits.data(), &frame.info,
                    DIB_RGB_COLORS, SRCCOPY);
    } else {
      SetDIBitsToDevice(dc, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, frame.bits.data(), &frame.info,
                        DIB_RGB_COLORS);
    }
    DrawIcon(dc, 500, 400, hand);
    ReleaseDC(window, dc);
  };
  kwz_bench::TimeAgainstMemcpy(state, frame.bits.data(), frame.bits.size() * 4, paint);
  DestroyWindow(window);
}

using kwz_platform::GdiBackendKind;
BENCHMARK_CAPTURE(BM_Paint, Headless_1to1, GdiBackendKind::kHeadless, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Paint, Headless_Stretch1280x720, GdiBackendKind::kHeadless, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Paint, X11_1to1, GdiBackendKind::kX11, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Paint, X11_Stretch1280x720, GdiBackendKind::kX11, true)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
