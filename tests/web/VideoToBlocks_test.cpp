// Video that a browser cannot decode reaches it as zlib blocks: fed to a viewer's surface, the
// blocks rebuild exactly the picture the video decodes to, frame by frame, and a picture that
// did not change sends nothing.
#include "web/VideoToBlocks.h"

#include <gtest/gtest.h>

#include <utility>

#include "presenter/SyntheticDesktop.h"
#include "tests/presenter/ViewerHarness.h"
#include "web/BrowserFrame.h"
#include "web/KeyFrame.h"

namespace kwz_test {
namespace {

// A screen message as the gateway frames it for browsers.
kwz_web::BrowserFramePtr BrowserFrameOf(const SentMessage& m) {
  kwz_web::ScreenFields fields;
  fields.streamMode = static_cast<std::uint8_t>(m.mode);
  fields.bytesPerPixel = static_cast<std::uint8_t>(m.bytesPerPixel);
  fields.width = static_cast<std::uint16_t>(m.width);
  fields.height = static_cast<std::uint16_t>(m.height);
  fields.cursorX = m.cursorX;
  fields.cursorY = m.cursorY;
  fields.blockIndex = static_cast<std::uint16_t>(m.blockIndex);
  const std::uint8_t* body = m.bytes.data() + 29;
  return kwz_web::MakeScreenFrame(fields, body, m.bodyLength,
                                  kwz_web::IsKeyFrame(fields.streamMode, body, m.bodyLength));
}

constexpr int kWidth = 330;  // neither whole blocks nor whole macroblocks
constexpr int kHeight = 250;

// Video modes with their bytes per pixel.
class VideoToBlocksTest : public ::testing::TestWithParam<std::pair<int, int>> {};

TEST_P(VideoToBlocksTest, BlocksRebuildTheVideoPicture) {
  presenter::ScreenStreamSettings settings;
  settings.streamMode = GetParam().first;
  settings.bytesPerPixel = GetParam().second;
  settings.frameRate = 10;
  presenter::CScreenStreamer streamer(settings);
  SyntheticDesktop desktop(kWidth, kHeight);
  kwz_web::VideoToBlocks recoder;
  ViewerHarness viewer;   // the video itself
  ViewerHarness browser;  // what a browser rebuilds from the blocks
  std::vector<kwz_web::BrowserFramePtr> blocks;
  std::vector<std::uint8_t> last;
  for (std::uint32_t n = 0; n < 6; ++n) {
    last = desktop.Render(n);
    for (const SentMessage& m : StreamFrame(streamer, FrameOf(last, kWidth, kHeight))) {
      blocks.clear();
      recoder.Decode(*BrowserFrameOf(m), &blocks);
      ASSERT_GT(viewer.Take(m), 0);
      for (const auto& block : blocks) {
        EXPECT_EQ(block->fields.cursorX, m.cursorX);
        SentMessage asSent;  // a viewer reads the message's own bytes
        asSent.bytes.assign(block->wire.begin() + kwz_web::kFrameFlagsSize, block->wire.end());
        EXPECT_EQ(browser.Take(asSent), 100 * 100 * 4);
      }
      ASSERT_EQ(browser.VisibleBgr(kWidth, kHeight), viewer.VisibleBgr(kWidth, kHeight))
          << "frame " << n;
    }
  }

  // The same picture again: once the decoded pixels stop changing, nothing is sent. Only MPEG-4
  // decodes a repeated picture to the same pixels.
  if (GetParam().first != 3) return;
  std::size_t sent = 0;
  for (int repeat = 0; repeat < 4; ++repeat) {
    for (const SentMessage& m : StreamFrame(streamer, FrameOf(last, kWidth, kHeight))) {
      blocks.clear();
      recoder.Decode(*BrowserFrameOf(m), &blocks);
      sent = blocks.size();
    }
  }
  EXPECT_EQ(sent, 0u);
}

INSTANTIATE_TEST_SUITE_P(Codecs, VideoToBlocksTest,
                         ::testing::Values(std::pair{3, 4}, std::pair{4, 4}, std::pair{5, 4},
                                           std::pair{6, 3}));

}  // namespace
}  // namespace kwz_test
