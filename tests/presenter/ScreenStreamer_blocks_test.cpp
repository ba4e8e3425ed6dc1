// What the streamer decides to send: the cursor field, the blocks that changed, the slow refresh
// of the rest, frames it must refuse, and key frames in the video modes. (That what it
// sends rebuilds the screen, in every mode and across a size change, is the engine's end-to-end
// test.)
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>

#include "presenter/SyntheticDesktop.h"
#include "tests/presenter/BitstreamChecks.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

// 330 × 250 pads to 400 × 300: a grid of 4 × 3 blocks, numbered from the bottom-left.
constexpr int kWidth = 330;
constexpr int kHeight = 250;
constexpr std::size_t kBlocks = 12;

presenter::ScreenStreamSettings BlockSettings(int refreshFrames) {
  presenter::ScreenStreamSettings s;
  s.streamMode = 1;
  s.refreshFrames = refreshFrames;
  return s;
}

std::vector<int> Indices(const std::vector<SentMessage>& messages) {
  std::vector<int> out;
  for (const SentMessage& m : messages) out.push_back(m.blockIndex);
  return out;
}

// The first frame sends every block, each with the cursor's position, or the no-cursor value
// when there is none or it lies off the screen; a bad frame is refused and sends nothing; then a
// pixel that changes, in upright screen coordinates, sends the one block it lies in, as the
// stream still knows what the viewers hold.
TEST(ChangedBlock, CursorFieldRefusedFrameThenOnlyTheBlockHoldingTheChange) {
  using Position = std::optional<presenter::CursorPosition>;
  constexpr std::uint16_t kNone = 0xFFE0;
  const struct {
    Position cursor;
    std::uint16_t cursorX, cursorY;
    int x, y, block;
  } cases[] = {
      {std::nullopt, kNone, kNone, 0, 249, 0},                      // bottom-left pixel: block 0
      {presenter::CursorPosition{0, 0}, 0, 0, 329, 0, 11},          // top-right, beside the padding
      {presenter::CursorPosition{329, 249}, 329, 249, 150, 99, 9},  // rows 0-99: top grid row
      {presenter::CursorPosition{330, 10}, kNone, kNone, 199, 199, 5},  // last pixel of block 5
      {presenter::CursorPosition{10, 250}, kNone, kNone, 200, 200, 2},  // bottom row from 200
      {presenter::CursorPosition{-1, 10}, kNone, kNone, 0, 0, 8}};
  const std::vector<std::uint8_t> flat(kWidth * kHeight * 4, 0);
  std::vector<presenter::ScreenFrame> bad(5, FrameOf(flat, kWidth, kHeight));
  bad[0].screen.pixels = nullptr;
  bad[1].screen.width = 0;
  bad[2].screen.height = -3;
  bad[3].screen.strideBytes = kWidth * 4 - 1;
  bad[4].screen.width = presenter::kMaxScreenSide + 1;
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    presenter::CScreenStreamer streamer(BlockSettings(0));
    std::vector<std::uint8_t> screen(kWidth * kHeight * 4, 0x40);
    presenter::ScreenFrame frame = FrameOf(screen, kWidth, kHeight);
    frame.cursor = c.cursor;
    const auto first = StreamFrame(streamer, frame);
    ASSERT_EQ(first.size(), kBlocks);
    for (const SentMessage& m : first) {
      EXPECT_EQ(m.cursorX, c.cursorX);
      EXPECT_EQ(m.cursorY, c.cursorY);
    }
    // A bad frame, of each kind in turn over the rows.
    presenter::FrameOutcome outcome;
    EXPECT_TRUE(StreamFrame(streamer, bad[(&c - cases) % bad.size()], &outcome).empty());
    EXPECT_FALSE(outcome.accepted);
    std::fill_n(screen.begin() + (c.y * kWidth + c.x) * 4, 3, 0xC0);
    EXPECT_EQ(Indices(StreamFrame(streamer, FrameOf(screen, kWidth, kHeight))),
              std::vector<int>{c.block});
  }
}

// A still screen: every block once in each refresh period, spread over its frames; with no
// period, nothing until a refresh is asked for.
TEST(BlockRefresh, StillScreenIsResentOncePerPeriodOrOnRequest) {
  constexpr int kPeriod = 5;
  const std::vector<std::uint8_t> screen(kWidth * kHeight * 4, 0x33);
  presenter::CScreenStreamer periodic(BlockSettings(kPeriod));
  EXPECT_EQ(StreamFrame(periodic, FrameOf(screen, kWidth, kHeight)).size(), kBlocks);
  std::map<int, int> sends;
  for (int frame = 1; frame <= 2 * kPeriod; ++frame) {
    const auto messages = StreamFrame(periodic, FrameOf(screen, kWidth, kHeight));
    EXPECT_LE(messages.size(), (kBlocks + kPeriod - 1) / kPeriod);
    for (int index : Indices(messages)) ++sends[index];
  }
  ASSERT_EQ(sends.size(), kBlocks);
  for (const auto& [index, count] : sends) EXPECT_EQ(count, 2) << "block " << index;

  presenter::CScreenStreamer still(BlockSettings(0));
  StreamFrame(still, FrameOf(screen, kWidth, kHeight));
  for (int frame = 0; frame < 20; ++frame)
    ASSERT_TRUE(StreamFrame(still, FrameOf(screen, kWidth, kHeight)).empty());
  still.RequestRefresh();
  EXPECT_EQ(StreamFrame(still, FrameOf(screen, kWidth, kHeight)).size(), kBlocks);
  EXPECT_TRUE(StreamFrame(still, FrameOf(screen, kWidth, kHeight)).empty());
}

// In the video modes the refresh period is the longest distance between key frames, so a
// viewer that joins late shows the screen from the next key frame on.
TEST(VideoRefresh, KeyFramesAtLeastEveryPeriodLetALateViewerJoin) {
  constexpr std::uint32_t kPeriod = 4, kJoinAt = 5;
  presenter::ScreenStreamSettings settings;
  settings.streamMode = 4;
  settings.refreshFrames = kPeriod;
  presenter::CScreenStreamer streamer(settings);
  SyntheticDesktop desktop(kWidth, kHeight);
  ViewerHarness late;
  std::vector<std::uint32_t> keys;
  std::optional<std::uint32_t> firstShown;
  std::vector<std::uint8_t> screen;
  for (std::uint32_t n = 0; n < 3 * kPeriod; ++n) {
    screen = desktop.Render(n);
    const auto messages = StreamFrame(streamer, FrameOf(screen, kWidth, kHeight));
    ASSERT_EQ(messages.size(), 1u);
    const std::vector<int> nals =
        AnnexBNalTypes({messages[0].bytes.begin() + 29, messages[0].bytes.end()});
    if (std::find(nals.begin(), nals.end(), 5) != nals.end()) keys.push_back(n);
    if (n >= kJoinAt && late.Take(messages[0]) > 0 && !firstShown) firstShown = n;
  }
  ASSERT_FALSE(keys.empty());
  EXPECT_EQ(keys.front(), 0u);
  for (std::size_t i = 1; i < keys.size(); ++i) EXPECT_LE(keys[i] - keys[i - 1], kPeriod);
  EXPECT_GE(keys.back() + kPeriod, 3u * kPeriod - 1);
  ASSERT_TRUE(firstShown.has_value());
  EXPECT_NE(std::find(keys.begin(), keys.end(), *firstShown), keys.end());
  EXPECT_GE(PsnrBgr(screen, late.VisibleBgr(kWidth, kHeight), kWidth, kHeight), 30.0);
}

}  // namespace
}  // namespace kwz_test
