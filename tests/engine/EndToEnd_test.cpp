// The presenter's library into the engine over loopback, for every stream mode: frames of a
// synthetic desktop coded by the streamer, sent as RTP by the sender, received, decoded and
// painted 1:1 into a headless window, which must then show the presenter's last frame upright.
// A size change in mid-stream reaches the size sink once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <thread>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/CScreenSharing.h"
#include "presenter/CScreenSender.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

struct ModeCase {
  const char* name;
  int mode;
  int bytesPerPixel;
  double minPsnr;  // INFINITY: every pixel; 0: to the nearest 3-3-2 palette colour
};

// Whether the window's top-left width x height shows the BGRA screen as closely as c asks.
bool Shows(const TestWindow& window, const ModeCase& c, const std::vector<std::uint8_t>& screen,
           int width, int height) {
  std::vector<std::uint32_t> shown;
  int shownWidth = 0, shownHeight = 0;
  if (!kwz_platform::ReadWindowPixels(window.Get(), &shown, &shownWidth, &shownHeight) ||
      shownWidth < width || shownHeight < height) {
    return false;
  }
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
  for (std::size_t p = 0; p < bgr.size() / 3; ++p) {
    const std::uint32_t pixel = shown[p / width * shownWidth + p % width];
    for (int ch = 0; ch < 3; ++ch) {
      bgr[p * 3 + ch] = static_cast<std::uint8_t>(pixel >> (8 * ch));
      if (c.minPsnr != 0) continue;
      // Eight bits: each channel is the 3-3-2 palette level nearest to the captured value.
      const int levels = ch == 0 ? 4 : 8, captured = screen[p * 4 + ch];
      int nearest = 255;
      for (int level = 0; level < levels; ++level)
        nearest = std::min(nearest, std::abs(level * 255 / (levels - 1) - captured));
      if (std::abs(int{bgr[p * 3 + ch]} - captured) != nearest) return false;
    }
  }
  return c.minPsnr == 0 || PsnrBgr(screen, bgr, width, height) >= c.minPsnr;
}

class EveryModeEndToEnd : public ::testing::TestWithParam<ModeCase> {};

// Frames 0 to 6 of one scene, then one of the next, of a 1010 x 570 screen (neither whole blocks
// nor whole macroblocks), then the same for an 804 x 452 one: a window that still shows any
// earlier frame fails the comparison with the last.
TEST_P(EveryModeEndToEnd, WindowShowsThePresentersScreenAndFollowsASizeChange) {
  const ModeCase& c = GetParam();
  UseHeadlessGdi();
  const USHORT port = FreeEvenPort();
  ASSERT_NE(port, 0);
  SizeLog sizes;
  TestWindow window(1010, 570);
  CScreenSharing engine;
  engine.m_dwPort = port;
  engine.m_pSizeSink = &sizes;
  engine.SetLocalAddress("127.0.0.1");
  engine.SetWindow(window.Get());
  presenter::ScreenStreamSettings stream;
  stream.streamMode = c.mode;
  stream.bytesPerPixel = c.bytesPerPixel;
  stream.frameRate = 10;
  presenter::CScreenStreamer streamer(stream);
  presenter::ScreenSenderSettings send;
  send.address = "127.0.0.1";
  send.port = port;
  presenter::CScreenSender sender(send);
  ASSERT_EQ(engine.Setup(), S_OK);
  ASSERT_TRUE(engine.Start());

  std::vector<std::pair<std::uint32_t, std::uint32_t>> expectedSizes;
  std::uint32_t timestamp = 0;
  for (const auto& [width, height, scene] : {std::tuple{1010, 570, 0}, std::tuple{804, 452, 2}}) {
    SCOPED_TRACE(width);
    const SyntheticDesktop desktop(width, height);
    const std::uint32_t first = scene * SyntheticDesktop::kFramesPerScene;
    std::vector<std::uint8_t> screen;
    for (std::uint32_t n = first; n < first + 8; ++n) {
      screen = desktop.Render(n + 1 == first + 8 ? first + SyntheticDesktop::kFramesPerScene : n);
      timestamp += 9000;
      EXPECT_TRUE(streamer
                      .AddFrame(FrameOf(screen, width, height),
                                [&](const std::uint8_t* message, std::size_t length) {
                                  EXPECT_TRUE(sender.Send(message, length, timestamp));
                                })
                      .accepted);
      // Paces the sender: the receiver's socket buffer, which reports nothing, holds a frame or
      // two.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    EXPECT_TRUE(WaitUntil([&] { return Shows(window, c, screen, width, height); }, 30000));
    expectedSizes.emplace_back(width, height);
    EXPECT_EQ(sizes.Sizes(), expectedSizes);
  }
  EXPECT_TRUE(engine.Stop());
  EXPECT_EQ(engine.GetPacketLossReport().substr(0, 2), u"0/");
}

INSTANTIATE_TEST_SUITE_P(Loopback, EveryModeEndToEnd,
                         ::testing::Values(ModeCase{"Zlib32", 1, 4, INFINITY},
                                           ModeCase{"Zlib8", 1, 1, 0}, ModeCase{"Jpeg", 2, 4, 30},
                                           ModeCase{"Mpeg4", 3, 4, 35}, ModeCase{"H264", 4, 4, 35},
                                           ModeCase{"Vp8", 5, 4, 35}, ModeCase{"Vp9", 6, 4, 35}),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace kwz_test
