// Video modes (3 to 6): decoder configuration, frames from the presenter's own frame encoders,
// and switching between block and video coding.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "presenter/IFrameEncoder.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/engine/SurfaceTestSupport.h"

namespace kwz_test {
namespace {

// Mean absolute difference of the colour bytes of a decoded bitmap against the BGRA source,
// memory row r of the bitmap against source row rowOf(r).
template <typename RowOf>
double MeanDifference(const CBMPManager& surface, const std::vector<std::uint8_t>& bgra, int width,
                      int height, int bytesPerPixel, RowOf rowOf) {
  double sum = 0;
  for (int r = 0; r < height; ++r) {
    const std::uint8_t* decoded = Row(surface, static_cast<std::uint32_t>(r));
    const std::uint8_t* source = &bgra[static_cast<std::size_t>(rowOf(r)) * width * 4];
    for (int x = 0; x < width; ++x) {
      for (int c = 0; c < 3; ++c)
        sum += std::abs(decoded[x * bytesPerPixel + c] - source[x * 4 + c]);
    }
  }
  return sum / (3.0 * width * height);
}

std::vector<std::vector<std::uint8_t>> EncodeFrames(int mode, const SyntheticDesktop& desktop,
                                                    int frames) {
  FrameEncoderSettings settings;
  settings.width = desktop.Width();
  settings.height = desktop.Height();
  auto encoder = CreateFrameEncoder(mode, settings);
  std::vector<std::vector<std::uint8_t>> bodies;
  for (int n = 0; n < frames; ++n) {
    std::vector<std::uint8_t> body;
    EXPECT_TRUE(encoder->Encode(desktop.Render(n).data(), desktop.StrideBytes(), false, &body));
    bodies.push_back(std::move(body));
  }
  return bodies;
}

std::int32_t SendFrame(CBMPManager& surface, std::uint32_t mode, const BITMAPINFOHEADER& header,
                       const std::vector<std::uint8_t>& body) {
  surface.SetStreamMode(mode);
  return surface.DecodeMessage(header, 0, body.empty() ? nullptr : body.data(),
                               static_cast<std::uint32_t>(body.size()));
}

// The decoder stores 24-bit pictures bottom row first.
TEST(VideoFrames, TwentyFourBitPicturesLandBottomRowFirst) {
  const SyntheticDesktop desktop(304, 208);
  const auto bodies = EncodeFrames(5, desktop, 1);
  CBMPManager surface(100, 100);
  surface.SetFrameRate(10);
  ASSERT_EQ(SendFrame(surface, 5, MessageHeader(304, 208, 3), bodies[0]), 304 * 3 * 208);
  EXPECT_LT(MeanDifference(surface, desktop.Render(0), 304, 208, 3, [](int r) { return 207 - r; }),
            6.0);
}

TEST(VideoFrames, FramesThatGiveNoPictureKeepThePreviousOne) {
  const SyntheticDesktop desktop(304, 208);
  const auto bodies = EncodeFrames(5, desktop, 2);
  CBMPManager surface(100, 100);
  surface.SetFrameRate(10);
  const BITMAPINFOHEADER header = MessageHeader(304, 208, 4);
  ASSERT_EQ(SendFrame(surface, 5, header, bodies[0]), 304 * 4 * 208);
  const auto before = Snapshot(surface);

  std::vector<std::uint8_t> damaged = bodies[1];
  for (std::size_t i = 8; i < damaged.size(); i += 3) damaged[i] ^= 0xA5;
  // A frame coded for a larger screen than the header announces.
  const auto larger = EncodeFrames(5, SyntheticDesktop(320, 240), 1)[0];
  for (const auto& body : {damaged, larger, std::vector<std::uint8_t>{}}) {
    EXPECT_EQ(SendFrame(surface, 5, header, body), -1);
    EXPECT_TRUE(Snapshot(surface) == before);
  }
  // Descriptions the decoder cannot be set up for answer -1 every time, never decoding with
  // the set-up of an earlier size, and the original description still works afterwards.
  for (const BITMAPINFOHEADER& bad : {MessageHeader(304, 208, 1), MessageHeader(10000, 16, 4)}) {
    EXPECT_EQ(SendFrame(surface, 5, bad, bodies[0]), -1);
    EXPECT_EQ(SendFrame(surface, 5, bad, bodies[0]), -1);
  }
  EXPECT_EQ(SendFrame(surface, 5, header, bodies[0]), 304 * 4 * 208);
}

// A viewer that joins in mid-stream meets inter frames first. H.264, VP8 and VP9 show nothing
// for them; FFmpeg's MPEG-4 decoder conceals the missing reference and hands over a picture,
// which the surface takes as it takes any (MPEG-4 is not held back until a key frame). Either
// way the first key frame after them shows its own picture.
struct JoinCase {
  const char* name;
  std::uint32_t mode;
  bool interFramesShowNothing;
};

class JoinedMidStream : public ::testing::TestWithParam<JoinCase> {};

// A 300 x 200 screen is coded at 304 x 208, the size the surface decodes at; at 32 bits rows
// land in coded order. Bodies are passed in buffers of exactly their length, so an H.264 start
// code written behind them would be caught, and the caller's body stays as it was.
TEST_P(JoinedMidStream, KeyFrameAfterInterFramesShowsItsPictureAndTheRestFollow) {
  const JoinCase& c = GetParam();
  const SyntheticDesktop desktop(304, 208);
  const auto bodies = EncodeFrames(static_cast<int>(c.mode), desktop, 3);
  CBMPManager surface(100, 100);
  surface.SetFrameRate(10);
  const BITMAPINFOHEADER header = MessageHeader(300, 200, 4);
  for (int n : {2, 1}) {
    const std::int32_t result = SendFrame(surface, c.mode, header, bodies[n]);
    if (c.interFramesShowNothing) {
      EXPECT_EQ(result, -1) << n;
    } else {
      EXPECT_TRUE(result == -1 || result == 304 * 4 * 208) << result;
    }
  }
  for (std::size_t n = 0; n < bodies.size(); ++n) {
    const std::vector<std::uint8_t> body = bodies[n];
    ASSERT_EQ(SendFrame(surface, c.mode, header, body), 304 * 4 * 208) << n;
    EXPECT_TRUE(body == bodies[n]) << "the caller's body was written";
    EXPECT_LT(MeanDifference(surface, desktop.Render(static_cast<std::uint32_t>(n)), 304, 208, 4,
                             [](int r) { return r; }),
              6.0)
        << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Codecs, JoinedMidStream,
                         ::testing::Values(JoinCase{"Mpeg4", 3, false}, JoinCase{"H264", 4, true},
                                           JoinCase{"Vp8", 5, true}, JoinCase{"Vp9", 6, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// Block and video coding pad the screen differently and keep different buffers; switching
// either way must leave a consistent surface.
TEST(ModeSwitch, BlockAndVideoModesEachRebuildTheSurface) {
  const SyntheticDesktop desktop(1600, 800);
  const auto bodies = EncodeFrames(3, desktop, 1);
  CBMPManager surface(100, 100);
  std::vector<std::uint8_t> gray(10000, 0x80);
  ASSERT_EQ(SendBlock(surface, 1, MessageHeader(1600, 800, 1), 3, Zlib(gray)), 10000);
  EXPECT_EQ(surface.BlockCount(), 128u);

  // 1600 x 800 is a whole number of blocks and of macroblocks: only the bit count and the
  // codec differ, and the video frame gets its own bitmap.
  ASSERT_EQ(SendFrame(surface, 3, MessageHeader(1600, 800, 4), bodies[0]), 1600 * 4 * 800);
  EXPECT_EQ(surface.SurfaceHeader().biBitCount, 32);
  EXPECT_EQ(surface.BlockCount(), 0u);

  // Back to 32-bit blocks of the same size: a fresh grid sized for 32-bit blocks.
  ASSERT_EQ(SendBlock(surface, 0, MessageHeader(1600, 800, 4), 0, {}), 0);
  EXPECT_EQ(surface.BlockCount(), 128u);
  EXPECT_EQ(surface.BlockBytes(), 40000u);

  // And to video again, this time a different padding: 1366 is coded at 1376.
  const auto wxga = EncodeFrames(3, SyntheticDesktop(1376, 768), 1);
  ASSERT_EQ(SendFrame(surface, 3, MessageHeader(1366, 768, 4), wxga[0]), 1376 * 4 * 768);
  EXPECT_EQ(surface.SurfaceHeader().biWidth, 1376);
  // A block message of that screen pads it to 1400 x 800.
  EXPECT_EQ(SendBlock(surface, 0, MessageHeader(1366, 768, 4), 0, {}), 0);
  EXPECT_EQ(surface.SurfaceHeader().biWidth, 1400);
  EXPECT_EQ(surface.BlockCount(), 112u);
}

// A video frame of the same padded size decodes into a block grid's bitmap and leaves the grid in
// place; a short block after it still shows its own last block behind it, not the video.
TEST(ModeSwitch, ShortBlockAfterAVideoFrameShowsItsOwnLastBlock) {
  const SyntheticDesktop desktop(1600, 800);
  const auto bodies = EncodeFrames(3, desktop, 2);
  const BITMAPINFOHEADER blocks = MessageHeader(1600, 800, 4);
  CBMPManager surface(100, 100);
  ASSERT_EQ(SendFrame(surface, 3, MessageHeader(1600, 800, 4), bodies[0]), 1600 * 4 * 800);
  std::vector<std::uint8_t> whole(40000);
  for (std::size_t i = 0; i < whole.size(); ++i) whole[i] = static_cast<std::uint8_t>(i * 13);
  ASSERT_EQ(SendBlock(surface, 1, blocks, 0, Zlib(whole)), 40000);
  ASSERT_EQ(SendFrame(surface, 3, MessageHeader(1600, 800, 4), bodies[1]), 1600 * 4 * 800);
  ASSERT_EQ(surface.BlockCount(), 128u);

  const std::vector<std::uint8_t> head(16000, 0x42);  // 40 of the block's 100 rows
  ASSERT_EQ(SendBlock(surface, 1, blocks, 0, Zlib(head)), 16000);
  for (std::uint32_t row = 0; row < 100; ++row) {
    const std::uint8_t* expected = row < 40 ? &head[row * 400] : &whole[row * 400];
    ASSERT_TRUE(std::equal(expected, expected + 400, Row(surface, row))) << "row " << row;
  }
}

}  // namespace
}  // namespace kwz_test
