// What the streamer decides to send: the blocks that changed, the slow refresh of the rest, a
// new size, frames it must refuse, the cursor field, and key frames in the video modes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>
#include <set>
#include <tuple>

#include "presenter/SyntheticDesktop.h"
#include "tests/presenter/BitstreamChecks.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

// 330 × 250 pads to 400 × 300: a grid of 4 × 3 blocks, numbered from the bottom-left.
constexpr int kWidth = 330;
constexpr int kHeight = 250;
constexpr int kBlocks = 12;

presenter::ScreenStreamSettings BlockSettings(int refreshFrames, int bytesPerPixel = 4) {
  presenter::ScreenStreamSettings s;
  s.streamMode = 1;
  s.bytesPerPixel = bytesPerPixel;
  s.refreshFrames = refreshFrames;
  return s;
}

std::vector<std::uint8_t> Flat(int width, int height, std::uint8_t value) {
  return std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height * 4, value);
}

void Paint(std::vector<std::uint8_t>& screen, int width, int x, int y, std::uint8_t value) {
  std::fill_n(screen.begin() + (static_cast<std::ptrdiff_t>(y) * width + x) * 4, 3, value);
}

std::vector<int> Indices(const std::vector<SentMessage>& messages) {
  std::vector<int> out;
  for (const SentMessage& m : messages) out.push_back(m.blockIndex);
  return out;
}

// A pixel that changes, in upright screen coordinates, and the one block it lies in.
struct ChangeCase {
  int x, y;
  int block;
};

class ChangedBlock : public ::testing::TestWithParam<ChangeCase> {};

TEST_P(ChangedBlock, OnlyTheBlockHoldingTheChangeIsSentAndTheViewerCatchesUp) {
  const ChangeCase& c = GetParam();
  presenter::CScreenStreamer streamer(BlockSettings(0));
  ViewerHarness viewer;
  std::vector<std::uint8_t> screen = Flat(kWidth, kHeight, 0x40);
  viewer.TakeAll(StreamFrame(streamer, FrameOf(screen, kWidth, kHeight)));
  Paint(screen, kWidth, c.x, c.y, 0xC0);
  const auto changed = StreamFrame(streamer, FrameOf(screen, kWidth, kHeight));
  EXPECT_EQ(Indices(changed), std::vector<int>{c.block});
  viewer.TakeAll(changed);
  EXPECT_TRUE(std::isinf(PsnrBgr(screen, viewer.VisibleBgr(kWidth, kHeight), kWidth, kHeight)));
}

INSTANTIATE_TEST_SUITE_P(
    Presenter, ChangedBlock,
    ::testing::Values(ChangeCase{0, 249, 0},      // bottom-left pixel: block 0
                      ChangeCase{329, 0, 11},     // top-right, beside the padding columns
                      ChangeCase{150, 99, 9},     // rows 0-99 lie in the top grid row
                      ChangeCase{199, 199, 5},    // last pixel of block 5
                      ChangeCase{200, 200, 2}));  // the bottom grid row starts at row 200

TEST(BlockRefresh, EveryBlockIsSentOnceInEachPeriodOfAStillScreen) {
  constexpr int kPeriod = 5;
  presenter::CScreenStreamer streamer(BlockSettings(kPeriod));
  const std::vector<std::uint8_t> screen = Flat(kWidth, kHeight, 0x33);
  EXPECT_EQ(StreamFrame(streamer, FrameOf(screen, kWidth, kHeight)).size(),
            static_cast<std::size_t>(kBlocks));
  // Over the frames of two whole periods each block goes out exactly twice, spread over the
  // frames rather than in one burst.
  std::map<int, int> sends;
  for (int frame = 1; frame <= 2 * kPeriod; ++frame) {
    const auto messages = StreamFrame(streamer, FrameOf(screen, kWidth, kHeight));
    EXPECT_LE(messages.size(), static_cast<std::size_t>((kBlocks + kPeriod - 1) / kPeriod));
    for (int index : Indices(messages)) ++sends[index];
  }
  ASSERT_EQ(sends.size(), static_cast<std::size_t>(kBlocks));
  for (const auto& [index, count] : sends) EXPECT_EQ(count, 2) << "block " << index;
}

TEST(BlockRefresh, ZeroPeriodSendsNothingForAStillScreenAndARequestSendsEverything) {
  presenter::CScreenStreamer streamer(BlockSettings(0));
  const std::vector<std::uint8_t> screen = Flat(kWidth, kHeight, 0x33);
  StreamFrame(streamer, FrameOf(screen, kWidth, kHeight));
  for (int frame = 0; frame < 20; ++frame)
    ASSERT_TRUE(StreamFrame(streamer, FrameOf(screen, kWidth, kHeight)).empty());
  streamer.RequestRefresh();
  EXPECT_EQ(StreamFrame(streamer, FrameOf(screen, kWidth, kHeight)).size(),
            static_cast<std::size_t>(kBlocks));
  EXPECT_TRUE(StreamFrame(streamer, FrameOf(screen, kWidth, kHeight)).empty());
}

// A new size sends the whole new grid, and the viewer's bitmap follows it.
struct ResizeCase {
  int mode;
  int bytesPerPixel;
  int width, height;
  int paddedWidth, paddedHeight;
  std::size_t messages;
  double minPsnr;  // small screens, coarse palettes: the picture, not its fine detail
};

class SizeChange : public ::testing::TestWithParam<ResizeCase> {};

TEST_P(SizeChange, NewSizeSendsEverythingAndTheViewerRebuildsIt) {
  const ResizeCase& c = GetParam();
  presenter::ScreenStreamSettings settings = BlockSettings(0, c.bytesPerPixel);
  settings.streamMode = c.mode;
  presenter::CScreenStreamer streamer(settings);
  ViewerHarness viewer;
  SyntheticDesktop before(kWidth, kHeight);
  const std::vector<std::uint8_t> first = before.Render(0);
  viewer.TakeAll(StreamFrame(streamer, FrameOf(first, kWidth, kHeight)));

  SyntheticDesktop after(c.width, c.height);
  const std::vector<std::uint8_t> second = after.Render(0);
  const auto messages = StreamFrame(streamer, FrameOf(second, c.width, c.height));
  ASSERT_EQ(messages.size(), c.messages);
  for (const SentMessage& m : messages) {
    EXPECT_EQ(m.width, c.width);
    EXPECT_EQ(m.height, c.height);
  }
  viewer.TakeAll(messages);
  EXPECT_EQ(viewer.Surface().SurfaceHeader().biWidth, c.paddedWidth);
  EXPECT_EQ(viewer.Surface().SurfaceHeader().biHeight, c.paddedHeight);
  EXPECT_GE(PsnrBgr(second, viewer.VisibleBgr(c.width, c.height), c.width, c.height), c.minPsnr);
}

INSTANTIATE_TEST_SUITE_P(Presenter, SizeChange,
                         ::testing::Values(ResizeCase{1, 4, 120, 90, 200, 100, 2, INFINITY},
                                           ResizeCase{1, 1, 401, 199, 500, 200, 10, 20},
                                           ResizeCase{2, 4, 100, 100, 100, 100, 1, 25},
                                           ResizeCase{4, 4, 120, 90, 128, 96, 1, 25},
                                           ResizeCase{5, 3, 200, 130, 208, 144, 1, 25}));

TEST(RefusedFrame, BadFramesSendNothingAndLeaveTheStreamAsItWas) {
  presenter::CScreenStreamer streamer(BlockSettings(0));
  std::vector<std::uint8_t> screen = Flat(kWidth, kHeight, 0x20);
  StreamFrame(streamer, FrameOf(screen, kWidth, kHeight));
  std::vector<std::uint8_t> huge(4, 0);

  std::vector<presenter::ScreenFrame> bad(5, FrameOf(screen, kWidth, kHeight));
  bad[0].screen.pixels = nullptr;
  bad[1].screen.width = 0;
  bad[2].screen.height = -3;
  bad[3].screen.strideBytes = kWidth * 4 - 1;
  bad[4].screen.width = presenter::kMaxScreenSide + 1;
  for (std::size_t i = 0; i < bad.size(); ++i) {
    presenter::FrameOutcome outcome;
    EXPECT_TRUE(StreamFrame(streamer, bad[i], &outcome).empty()) << i;
    EXPECT_FALSE(outcome.accepted) << i;
  }
  // The stream still knows what the viewers hold: one changed pixel is one block.
  Paint(screen, kWidth, 0, 0, 0x90);
  EXPECT_EQ(Indices(StreamFrame(streamer, FrameOf(screen, kWidth, kHeight))), std::vector<int>{8});
}

// Every message carries the cursor's position, or the no-cursor value when there is none or it
// lies off the screen.
TEST(CursorField, PositionOrTheNoCursorValue) {
  using Position = std::optional<presenter::CursorPosition>;
  constexpr std::uint16_t kNone = 0xFFE0;
  const std::tuple<Position, std::uint16_t, std::uint16_t> cases[] = {
      {std::nullopt, kNone, kNone},
      {presenter::CursorPosition{0, 0}, 0, 0},
      {presenter::CursorPosition{329, 249}, 329, 249},
      {presenter::CursorPosition{330, 10}, kNone, kNone},
      {presenter::CursorPosition{10, 250}, kNone, kNone},
      {presenter::CursorPosition{-1, 10}, kNone, kNone}};
  const std::vector<std::uint8_t> screen = Flat(kWidth, kHeight, 0x20);
  for (const auto& [cursor, x, y] : cases) {
    presenter::CScreenStreamer streamer(BlockSettings(0));
    presenter::ScreenFrame frame = FrameOf(screen, kWidth, kHeight);
    frame.cursor = cursor;
    const auto messages = StreamFrame(streamer, frame);
    ASSERT_EQ(messages.size(), static_cast<std::size_t>(kBlocks));
    for (const SentMessage& m : messages) {
      EXPECT_EQ(m.cursorX, x);
      EXPECT_EQ(m.cursorY, y);
    }
  }
}

// In the video modes the refresh period is the longest distance between key frames, so a
// viewer that joins late shows the screen from the next key frame on.
TEST(VideoRefresh, KeyFramesAtLeastEveryPeriodLetALateViewerJoin) {
  constexpr int kPeriod = 4;
  constexpr std::uint32_t kJoinAt = 5;
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
    const std::vector<std::uint8_t> body(messages[0].bytes.begin() + 29, messages[0].bytes.end());
    const std::vector<int> nals = AnnexBNalTypes(body);
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
