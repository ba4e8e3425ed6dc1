// Painting a 1920 x 1080 32-bit frame into a window the way the drawing surface does (GetDC,
// picture, cursor, ReleaseDC), at 1:1 and stretched to 1280 x 720, on the headless backend and on
// X11 (a private Xvfb, MIT-SHM), and an 8-bit frame 1:1 on the headless backend. The X11 1:1 paint
// runs twice: from an ordinary buffer, copied into the back image, and from a buffer of the
// surface's allocator, which the server composites where it lies. Each line reports the median ms
// per paint, the median of a plain memcpy of the whole frame timed beside it (baseline_ms) and
// their ratio. BM_IppFree reports what stays resident after a bitmap buffer is freed.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench/PaintTiming.h"
#include "platform/gdi_testing.h"
#include "platform/ipp.h"
#include "tests/support/ResidentMemory.h"
#include "tests/support/XvfbServer.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

struct Frame {
  // The header and, for 8-bit frames, the palette that follows it.
  struct {
    BITMAPINFOHEADER bmiHeader{};
    RGBQUAD bmiColors[256]{};
  } info;
  std::vector<std::uint8_t> bits;
  explicit Frame(int bitCount) : bits(static_cast<size_t>(kWidth) * kHeight * bitCount / 8) {
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = kWidth;
    info.bmiHeader.biHeight = kHeight;  // bottom-up, as the surface keeps it
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = static_cast<WORD>(bitCount);
    for (int i = 0; i < 256; ++i) {
      info.bmiColors[i] =
          RGBQUAD{static_cast<BYTE>(i), static_cast<BYTE>(255 - i), static_cast<BYTE>(i * 7), 0};
    }
    for (size_t i = 0; i < bits.size(); ++i)
      bits[i] = static_cast<std::uint8_t>(i * 2654435761u >> 24);
  }
  const BITMAPINFO* bmi() const { return reinterpret_cast<const BITMAPINFO*>(&info); }
};

bool Choose(kwz_platform::GdiBackendKind kind) {
  if (kind == kwz_platform::GdiBackendKind::kHeadless) {
    return kwz_platform::SelectGdiBackend(kind);
  }
  static kwz_test::XvfbServer server;  // outlives the benchmark's display connections
  return server.Running() && kwz_platform::SelectGdiBackend(kind, server.Display().c_str());
}

// The frame's bits where the surface keeps its bitmap.
struct IppCopy {
  Ipp8u* bits;
  explicit IppCopy(const std::vector<std::uint8_t>& from)
      : bits(w7_ippsMalloc_8u(static_cast<int>(from.size()))) {
    std::memcpy(bits, from.data(), from.size());
  }
  ~IppCopy() { w7_ippsFree(bits); }
};

void BM_Paint(benchmark::State& state, kwz_platform::GdiBackendKind kind, bool stretch,
              int bitCount = 32, bool ippBits = false) {
  if (!Choose(kind)) {
    state.SkipWithError("backend unavailable (no Xvfb?)");
    return;
  }
  static const Frame frame32(32), frame8(8);
  const Frame& frame = bitCount == 8 ? frame8 : frame32;
  const IppCopy ipp(frame.bits);
  const void* bits = ippBits ? static_cast<const void*>(ipp.bits) : frame.bits.data();
  const int width = stretch ? 1280 : kWidth, height = stretch ? 720 : kHeight;
  HWND window = CreateWindowExW(0, u"STATIC", u"", WS_POPUP | WS_VISIBLE, 0, 0, width, height,
                                nullptr, nullptr, nullptr, nullptr);
  HCURSOR hand = LoadCursorW(nullptr, IDC_HAND);
  auto paint = [&] {
    HDC dc = GetDC(window);
    if (stretch) {
      SetStretchBltMode(dc, HALFTONE);
      StretchDIBits(dc, 0, 0, width, height, 0, 0, kWidth, kHeight, bits, frame.bmi(),
                    DIB_RGB_COLORS, SRCCOPY);
    } else {
      SetDIBitsToDevice(dc, 0, 0, kWidth, kHeight, 0, 0, 0, kHeight, bits, frame.bmi(),
                        DIB_RGB_COLORS);
    }
    DrawIcon(dc, 500, 400, hand);
    ReleaseDC(window, dc);
  };
  // The baseline copies what the window receives: the frame at 32 bits.
  kwz_bench::TimeAgainstMemcpy(state, frame32.bits.data(), frame32.bits.size(), paint);
  DestroyWindow(window);
}

using kwz_platform::GdiBackendKind;
BENCHMARK_CAPTURE(BM_Paint, Headless_1to1, GdiBackendKind::kHeadless, false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Paint, Headless_Stretch1280x720, GdiBackendKind::kHeadless, true)
    ->Unit(benchmark::kMillisecond);
// 8-bit screens go through the palette on the way to the window.
BENCHMARK_CAPTURE(BM_Paint, Headless_8bit_1to1, GdiBackendKind::kHeadless, false, 8)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Paint, X11_1to1, GdiBackendKind::kX11, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Paint, X11_1to1_InPlace, GdiBackendKind::kX11, false, 32, true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Paint, X11_Stretch1280x720, GdiBackendKind::kX11, true)
    ->Unit(benchmark::kMillisecond);

// A bitmap freed must leave the process, whatever the C heap has seen before: once a codec
// library has freed a large block, the heap keeps smaller large blocks in its arenas unless the
// allocator maps them itself. resident_growth_bytes should stay well under a MiB.
void BM_IppFree(benchmark::State& state) {
  constexpr std::size_t kMiB = 1 << 20;
  auto touch = [](void* p, std::size_t bytes) {
    volatile auto* bytesOf = static_cast<volatile std::uint8_t*>(p);
    for (std::size_t i = 0; i < bytes; i += 4096) bytesOf[i] = 1;
  };
  void* library = std::malloc(24 * kMiB);
  touch(library, 24 * kMiB);
  std::free(library);
  const int bytes = static_cast<int>(state.range(0));
  double growth = 0;
  for (auto _ : state) {
    const std::size_t before = kwz_test::ResidentBytes();
    Ipp8u* bitmap = w7_ippsMalloc_8u(bytes);
    touch(bitmap, static_cast<std::size_t>(bytes));
    Ipp8u* small = w7_ippsMalloc_8u(64);  // keeps the heap's top from being trimmed
    w7_ippsFree(bitmap);
    const std::size_t after = kwz_test::ResidentBytes();
    growth = std::max(growth, after > before ? static_cast<double>(after - before) : 0.0);
    w7_ippsFree(small);
  }
  state.counters["resident_growth_bytes"] = growth;
  if (!kwz_test::kMeasuresResidentMemory) state.SetLabel("sanitizers keep freed memory");
}
BENCHMARK(BM_IppFree)->Arg(16 << 20)->Arg(9 << 20)->Arg(300 << 10)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
