// Video modes (3 to 6) on the surface: frames from the presenter's own frame encoders that give
// no picture, and switching between block and video coding. (The decoders' own cases are the
// codec tests'; every mode end to end is the engine's end-to-end test's.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// Mean absolute difference of the colour bytes of a decoded bitmap against the BGRA source.
double MeanDifference(const CBMPManager& surface, const Bytes& bgra, int width, int height,
                      int bytesPerPixel, bool bottomUp) {
  double sum = 0;
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* decoded = Row(surface, static_cast<std::uint32_t>(r));
    const std::uint8_t* source =
        &bgra[static_cast<std::size_t>(bottomUp ? height - 1 - r : r) * width * 4];
    for (int x = 0; x < width * 3; ++x) {
      sum += std::abs(decoded[x / 3 * bytesPerPixel + x % 3] - source[x / 3 * 4 + x % 3]);
    }
  }
  return sum / (3.0 * width * height);
}

std::vector<Bytes> EncodeFrames(int mode, const SyntheticDesktop& desktop, int frames) {
  FrameEncoderSettings settings;
  settings.width = desktop.Width();
  settings.height = desktop.Height();
  auto encoder = CreateFrameEncoder(mode, settings);
  std::vector<Bytes> bodies(static_cast<std::size_t>(frames));
  for (int n = 0; n < frames; ++n) {
    EXPECT_TRUE(
        encoder->Encode(desktop.Render(n).data(), desktop.StrideBytes(), false, &bodies[n]));
  }
  return bodies;
}

// The decoder stores 24-bit pictures bottom row first. Frames that give no picture keep the
// previous one; descriptions the decoder cannot be set up for answer -1 every time, never
// decoding with the set-up of an earlier size.
TEST(VideoFrames, FramesThatGiveNoPictureKeepThePreviousOne) {
  const SyntheticDesktop desktop(304, 208);
  const auto bodies = EncodeFrames(5, desktop, 2);
  CBMPManager surface(100, 100);
  surface.SetFrameRate(10);
  const BITMAPINFOHEADER header = MessageHeader(304, 208, 3);
  ASSERT_EQ(SendBlock(surface, 5, header, 0, bodies[0]), 304 * 3 * 208);
  EXPECT_LT(MeanDifference(surface, desktop.Render(0), 304, 208, 3, true), 6.0);
  const auto before = Snapshot(surface);

  Bytes damaged = bodies[1];
  for (std::size_t i = 8; i < damaged.size(); i += 3) damaged[i] ^= 0xA5;
  // A frame coded for a larger screen than the header announces.
  const auto larger = EncodeFrames(5, SyntheticDesktop(320, 240), 1)[0];
  for (const auto& body : {damaged, larger, Bytes{}}) {
    EXPECT_EQ(SendBlock(surface, 5, header, 0, body), -1);
    EXPECT_TRUE(Snapshot(surface) == before);
  }
  for (const BITMAPINFOHEADER& bad : {MessageHeader(304, 208, 1), MessageHeader(10000, 16, 4)}) {
    EXPECT_EQ(SendBlock(surface, 5, bad, 0, bodies[0]), -1);
    EXPECT_EQ(SendBlock(surface, 5, bad, 0, bodies[0]), -1);
  }
  EXPECT_EQ(SendBlock(surface, 5, header, 0, bodies[0]), 304 * 3 * 208);
}

// Block and video coding pad the screen differently and keep different buffers; switching
// either way must leave a consistent surface. A video frame of the same padded size decodes
// into a 32-bit grid's bitmap and leaves the grid in place: a short block after it still shows
// its own last block behind it, not the video.
TEST(ModeSwitch, BlockAndVideoModesEachRebuildTheSurface) {
  const auto bodies = EncodeFrames(3, SyntheticDesktop(1600, 800), 2);
  const BITMAPINFOHEADER video = MessageHeader(1600, 800, 4);
  CBMPManager surface(100, 100);
  ASSERT_EQ(SendBlock(surface, 1, MessageHeader(1600, 800, 1), 3, Zlib(Bytes(10000, 0x80))), 10000);
  EXPECT_EQ(surface.BlockCount(), 128u);
  // 1600 x 800 is a whole number of blocks and of macroblocks: only the bit count and the
  // codec differ, and the video frame gets its own bitmap.
  ASSERT_EQ(SendBlock(surface, 3, video, 0, bodies[0]), 1600 * 4 * 800);
  EXPECT_EQ(surface.SurfaceHeader().biBitCount, 32);
  EXPECT_EQ(surface.BlockCount(), 0u);

  Bytes whole(40000);
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(i * 13);
  ASSERT_EQ(SendBlock(surface, 1, video, 0, Zlib(whole)), 40000);
  EXPECT_EQ(surface.BlockBytes(), 40000u);
  ASSERT_EQ(SendBlock(surface, 3, video, 0, bodies[1]), 1600 * 4 * 800);
  ASSERT_EQ(surface.BlockCount(), 128u);
  const Bytes head(16000, 0x42);  // 40 of the block's 100 rows
  ASSERT_EQ(SendBlock(surface, 1, video, 0, Zlib(head)), 16000);
  for (std::uint32_t row = 0; row < 100; ++row) {
    const std::uint8_t* expected = row < 40 ? &head[row * 400] : &whole[row * 400];
    ASSERT_TRUE(std::equal(expected, expected + 400, Row(surface, row))) << "row " << row;
  }

  // And to video again, this time a different padding: 1366 is coded at 1376.
  const auto wxga = EncodeFrames(3, SyntheticDesktop(1376, 768), 1);
  ASSERT_EQ(SendBlock(surface, 3, MessageHeader(1366, 768, 4), 0, wxga[0]), 1376 * 4 * 768);
  EXPECT_EQ(surface.SurfaceHeader().biWidth, 1376);
  // A block message of that screen pads it to 1400 x 800.
  EXPECT_EQ(SendBlock(surface, 0, MessageHeader(1366, 768, 4), 0, {}), 0);
  EXPECT_EQ(surface.SurfaceHeader().biWidth, 1400);
  EXPECT_EQ(surface.BlockCount(), 112u);
}

}  // namespace
}  // namespace kwz_test
