// The surface decodes and paints on the engine's thread while the container's thread looks at
// the window, as in the running control.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/engine/PaintTestSupport.h"
#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

TEST(EngineThreadPainting, BlocksPaintedFromTheEngineThreadReachTheWindow) {
  UseHeadlessGdi();
  TestWindow window(300, 200);
  SizeLog sink;
  std::atomic<bool> done{false};
  std::size_t wrongSizes = 0;
  std::jthread engine([&] {
    CBMPManager surface(100, 100);
    surface.SetSizeSink(&sink);
    const BITMAPINFOHEADER header = MessageHeader(300, 200, 1);
    for (std::uint32_t n = 0; n < 60; ++n) {
      // Block 5 (the top-right corner) ends up black; the others keep changing.
      const std::uint8_t value = n % 6 == 5 ? 0x00 : static_cast<std::uint8_t>(n);
      SendBlock(surface, 1, header, n % 6, Zlib(std::vector<std::uint8_t>(10000, value)));
      surface.Draw(header, window.Get(), 0xFFE0, 0xFFE0);
    }
    done.store(true);
  });
  while (!done.load()) wrongSizes += window.Pixels().size() != 300u * 200u;
  engine.join();
  EXPECT_EQ(wrongSizes, 0u);
  const auto pixels = window.Pixels();
  EXPECT_EQ(window.At(pixels, 250, 50), 0xFF000000u);
  EXPECT_EQ(sink.Sizes().size(), 1u);
}

}  // namespace
}  // namespace kwz_test
