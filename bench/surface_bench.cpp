// The drawing surface's paint: CBMPManager::Draw of a 1920 x 1080 32-bit screen, rebuilt from
// zlib blocks, at 1:1 and stretched to a 1280 x 720 window (and 1366 x 768), with the cursor, on
// the headless backend and on X11 (a private Xvfb, MIT-SHM; at 1:1 the server composites the
// bitmap from where it lies). Each line reports the median ms per paint, the median of a memcpy of
// the whole bitmap timed beside it (baseline_ms), their ratio and the painting thread's CPU ratio.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "bench/PaintTiming.h"
#include "engine/CBMPManager.h"
#include "platform/gdi_testing.h"
#include "tests/support/XvfbServer.h"

namespace {

constexpr LONG kWidth = 1920;
constexpr LONG kHeight = 1080;
// 120-pixel blocks tile the screen exactly, so the bitmap is the screen and nothing more.
constexpr std::uint32_t kBlock = 120;

BITMAPINFOHEADER ScreenHeader() {
  BITMAPINFOHEADER h{};
  h.biWidth = kWidth;
  h.biHeight = kHeight;
  h.biBitCount = 32;
  h.biCompression = 4;  // bytes per pixel, as the engine hands it on
  h.biSizeImage = static_cast<DWORD>(kWidth * kHeight * 4);
  return h;
}

// A surface holding a screen of smooth gradients with some noise, like a desktop.
std::unique_ptr<CBMPManager> MakeSurface() {
  auto surface = std::make_unique<CBMPManager>(kBlock, kBlock);
  surface->SetStreamMode(1);
  const BITMAPINFOHEADER header = ScreenHeader();
  const std::uint32_t blocks = (kWidth / kBlock) * (kHeight / kBlock);
  std::vector<std::uint8_t> raw(kBlock * kBlock * 4);
  std::vector<std::uint8_t> packed(compressBound(static_cast<uLong>(raw.size())));
  std::uint32_t noise = 12345;
  for (std::uint32_t index = 0; index < blocks; ++index) {
    for (std::size_t i = 0; i < raw.size(); ++i) {
      noise = noise * 1103515245u + 12345u;
      raw[i] = static_cast<std::uint8_t>(index * 3 + i / 480 + ((noise >> 16) & 15));
    }
    uLongf size = static_cast<uLongf>(packed.size());
    compress2(packed.data(), &size, raw.data(), static_cast<uLong>(raw.size()), 1);
    surface->DecodeMessage(header, index, packed.data(), static_cast<std::uint32_t>(size));
  }
  return surface;
}

bool Choose(kwz_platform::GdiBackendKind kind) {
  if (kind == kwz_platform::GdiBackendKind::kHeadless) {
    return kwz_platform::SelectGdiBackend(kind);
  }
  static kwz_test::XvfbServer server;  // outlives the benchmark's display connections
  return server.Running() && kwz_platform::SelectGdiBackend(kind, server.Display().c_str());
}

void BM_Draw(benchmark::State& state, kwz_platform::GdiBackendKind kind, bool stretch,
             int stretchWidth = 1280, int stretchHeight = 720) {
  if (!Choose(kind)) {
    state.SkipWithError("backend unavailable (no Xvfb?)");
    return;
  }
  static const std::unique_ptr<CBMPManager> surface = MakeSurface();
  if (surface->Pixels() == nullptr) {
    state.SkipWithError("the surface refused the screen");
    return;
  }
  surface->SetStretch(stretch);
  const int width = stretch ? stretchWidth : kWidth, height = stretch ? stretchHeight : kHeight;
  HWND window = CreateWindowExW(0, u"STATIC", u"", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                nullptr, nullptr, nullptr, nullptr);
  const BITMAPINFOHEADER header = ScreenHeader();
  kwz_bench::TimeAgainstMemcpy(state, surface->Pixels(), surface->PixelsSize(),
                               [&] { surface->Draw(header, window, 900, 500); });
  DestroyWindow(window);
}

using kwz_platform::GdiBackendKind;
BENCHMARK_CAPTURE(BM_Draw, Headless_1to1, GdiBackendKind::kHeadless, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Draw, Headless_Stretch1280x720, GdiBackendKind::kHeadless, true)
    ->Unit(benchmark::kMillisecond);
// A window size of no special ratio, for the separable path.
BENCHMARK_CAPTURE(BM_Draw, Headless_Stretch1366x768, GdiBackendKind::kHeadless, true, 1366, 768)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Draw, X11_1to1, GdiBackendKind::kX11, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Draw, X11_Stretch1280x720, GdiBackendKind::kX11, true)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
