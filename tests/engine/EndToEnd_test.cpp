// The presenter's library into the engine over loopback, for every stream mode: frames of a
// synthetic desktop coded by the streamer, sent as RTP by the sender, received, decoded and
// painted 1:1 into a headless window, which must then show the presenter's last frame upright.
// A size change in mid-stream reaches the size sink once.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "engine/CScreenSharing.h"
#include "engine/IScreenSharing.h"
#include "presenter/CScreenSender.h"
#include "presenter/CScreenStreamer.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/PaintTestSupport.h"
#include "tests/presenter/ViewerHarness.h"

namespace kwz_test {
namespace {

// Fills neither whole blocks nor whole macroblocks, and the encoders reach their quality at it.
constexpr int kWidth = 1010;
constexpr int kHeight = 570;
constexpr int kFrames = 8;
// The size the stream changes to in mid-stream.
constexpr int kSecondWidth = 804;
constexpr int kSecondHeight = 452;
constexpr int kSettleMs = 30000;
constexpr double kExact = INFINITY;

// The width x height area at the top left of the window, as B, G, R bytes.
std::vector<std::uint8_t> WindowBgr(const TestWindow& window, int width, int height) {
  std::vector<std::uint32_t> shown;
  int shownWidth = 0, shownHeight = 0;
  if (!kwz_platform::ReadWindowPixels(window.Get(), &shown, &shownWidth, &shownHeight) ||
      shownWidth < width || shownHeight < height) {
    return {};
  }
  std::vector<std::uint8_t> bgr(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const std::uint32_t p = shown[static_cast<std::size_t>(y) * shownWidth + x];
      std::uint8_t* out = &bgr[(static_cast<std::size_t>(y) * width + x) * 3];
      out[0] = static_cast<std::uint8_t>(p);
      out[1] = static_cast<std::uint8_t>(p >> 8);
      out[2] = static_cast<std::uint8_t>(p >> 16);
    }
  }
  return bgr;
}

// The first pixel channel (index into bgr) that is not the 3-3-2 palette level nearest to the
// captured value, or -1 when every one is.
long long FirstOffPalette(const std::vector<std::uint8_t>& bgra,
                          const std::vector<std::uint8_t>& bgr) {
  const int levels[3] = {4, 8, 8};  // blue, green, red
  for (std::size_t p = 0; p < bgr.size() / 3; ++p) {
    for (int ch = 0; ch < 3; ++ch) {
      const int captured = bgra[p * 4 + ch];
      int nearest = 255;
      for (int level = 0; level < levels[ch]; ++level)
        nearest = std::min(nearest, std::abs(level * 255 / (levels[ch] - 1) - captured));
      if (std::abs(int{bgr[p * 3 + ch]} - captured) != nearest)
        return static_cast<long long>(p * 3 + ch);
    }
  }
  return -1;
}

struct ModeCase {
  const char* name;
  int mode;
  int bytesPerPixel;
  double minPsnr;  // kExact: every pixel; 0: to the nearest 3-3-2 palette colour
};

// An engine painting a kWidth x kHeight headless window, and a presenter's streamer and sender
// aimed at it.
class PresenterIntoEngine : public ::testing::Test {
 protected:
  void SetUp() override {
    UseHeadlessGdi();
    port_ = FreeEvenPort();
    ASSERT_NE(port_, 0);
    window_ = std::make_unique<TestWindow>(kWidth, kHeight);
    engine_ = std::make_unique<CScreenSharing>();
    engine_->m_dwPort = port_;
    engine_->m_pSizeSink = &sizes_;
    engine_->SetLocalAddress("127.0.0.1");
    engine_->SetWindow(window_->Get());
  }
  void TearDown() override {
    engine_.reset();  // stops the thread before the window goes
    window_.reset();
  }

  void Open(const ModeCase& c, const char* destination) {
    presenter::ScreenStreamSettings stream;
    stream.streamMode = c.mode;
    stream.bytesPerPixel = c.bytesPerPixel;
    stream.frameRate = 10;
    streamer_ = std::make_unique<presenter::CScreenStreamer>(stream);
    presenter::ScreenSenderSettings send;
    send.address = destination;
    send.port = port_;
    sender_ = std::make_unique<presenter::CScreenSender>(send);
    ASSERT_EQ(engine_->Setup(), S_OK);
    ASSERT_TRUE(engine_->Start());
  }

  // Streams the given frames of a desktop at the presenter's pace (a frame every 50 ms, so the
  // receiver's socket buffer never has to hold more than a frame or two) and returns the last.
  std::vector<std::uint8_t> Stream(const SyntheticDesktop& desktop,
                                   const std::vector<std::uint32_t>& numbers) {
    std::vector<std::uint8_t> screen;
    for (const std::uint32_t n : numbers) {
      screen = desktop.Render(n);
      const std::uint32_t timestamp = ++sent_ * 9000;
      const presenter::FrameOutcome outcome =
          streamer_->AddFrame(FrameOf(screen, desktop.Width(), desktop.Height()),
                              [&](const std::uint8_t* message, std::size_t length) {
                                EXPECT_TRUE(sender_->Send(message, length, timestamp));
                              });
      EXPECT_TRUE(outcome.accepted);
      // Paces the sender: the receiver's socket buffer, which reports nothing, holds a frame or
      // two.
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return screen;
  }

  // Whether seen (B, G, R) shows screen as closely as c asks; *psnr gets the quality.
  static bool Meets(const ModeCase& c, const std::vector<std::uint8_t>& screen,
                    const std::vector<std::uint8_t>& seen, int width, int height, double* psnr) {
    if (c.minPsnr == 0) return FirstOffPalette(screen, seen) < 0;
    *psnr = PsnrBgr(screen, seen, width, height);
    return *psnr >= c.minPsnr;
  }

  // Waits until the window's top-left width x height shows screen as closely as c asks (and
  // the right way up), and checks it; prints the quality reached.
  void ExpectWindowShows(const ModeCase& c, const std::vector<std::uint8_t>& screen, int width,
                         int height) {
    double psnr = 0;
    std::vector<std::uint8_t> seen;
    const bool reached = WaitUntil(
        [&] {
          seen = WindowBgr(*window_, width, height);
          return !seen.empty() && Meets(c, screen, seen, width, height, &psnr);
        },
        kSettleMs);
    if (c.minPsnr == 0) {
      EXPECT_TRUE(reached) << "channel " << FirstOffPalette(screen, seen)
                           << " is not the nearest palette level";
      return;
    }
    std::printf("%s %dx%d: %.2f dB\n", c.name, width, height, psnr);
    EXPECT_TRUE(reached) << psnr << " dB, wanted " << c.minPsnr;
    if (!std::isinf(psnr)) {
      EXPECT_LT(PsnrBgr(FlipRows(screen, width * 4), seen, width, height), psnr - 10);
    }
  }

  USHORT port_ = 0;
  SizeLog sizes_;
  std::unique_ptr<TestWindow> window_;
  std::unique_ptr<CScreenSharing> engine_;
  std::unique_ptr<presenter::CScreenStreamer> streamer_;
  std::unique_ptr<presenter::CScreenSender> sender_;
  std::uint32_t sent_ = 0;
};

class EveryModeEndToEnd : public PresenterIntoEngine,
                          public ::testing::WithParamInterface<ModeCase> {};

// Frames first to first+kFrames-2 of one scene, then one of the next scene: a window that
// still shows any earlier frame fails the comparison with the last.
std::vector<std::uint32_t> FrameNumbers(std::uint32_t first) {
  std::vector<std::uint32_t> numbers;
  for (std::uint32_t n = first; n + 1 < first + kFrames; ++n) numbers.push_back(n);
  numbers.push_back(first + SyntheticDesktop::kFramesPerScene);
  return numbers;
}

// The B, G, R bytes of an upright BGRA picture.
std::vector<std::uint8_t> Bgr(const std::vector<std::uint8_t>& bgra) {
  std::vector<std::uint8_t> bgr;
  bgr.reserve(bgra.size() / 4 * 3);
  for (std::size_t i = 0; i < bgra.size(); i += 4) bgr.insert(bgr.end(), &bgra[i], &bgra[i + 3]);
  return bgr;
}

TEST_P(EveryModeEndToEnd, WindowShowsThePresentersScreenAndFollowsASizeChange) {
  const ModeCase& c = GetParam();
  ASSERT_NO_FATAL_FAILURE(Open(c, "127.0.0.1"));
  const SyntheticDesktop desktop(kWidth, kHeight);
  const std::vector<std::uint32_t> numbers = FrameNumbers(0);
  double psnr = 0;
  ASSERT_FALSE(Meets(c, desktop.Render(numbers.back()), Bgr(desktop.Render(numbers.end()[-2])),
                     kWidth, kHeight, &psnr))
      << "the last frame is too close to the one before it to tell them apart";

  const auto last = Stream(desktop, numbers);
  ExpectWindowShows(c, last, kWidth, kHeight);
  EXPECT_EQ(engine_->StreamMode(), static_cast<DWORD>(c.mode));
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> first{{kWidth, kHeight}};
  EXPECT_EQ(sizes_.Sizes(), first);

  const SyntheticDesktop smaller(kSecondWidth, kSecondHeight);
  const auto after = Stream(smaller, FrameNumbers(2 * SyntheticDesktop::kFramesPerScene));
  ExpectWindowShows(c, after, kSecondWidth, kSecondHeight);
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> both{{kWidth, kHeight},
                                                                  {kSecondWidth, kSecondHeight}};
  EXPECT_EQ(sizes_.Sizes(), both);
  EXPECT_TRUE(engine_->Stop());
  EXPECT_EQ(engine_->GetPacketLossReport().substr(0, 2), u"0/");
}

INSTANTIATE_TEST_SUITE_P(Loopback, EveryModeEndToEnd,
                         ::testing::Values(ModeCase{"Zlib32", 1, 4, kExact},
                                           ModeCase{"Zlib8", 1, 1, 0}, ModeCase{"Jpeg", 2, 4, 30},
                                           ModeCase{"Mpeg4", 3, 4, 35}, ModeCase{"H264", 4, 4, 35},
                                           ModeCase{"Vp8", 5, 4, 35}, ModeCase{"Vp9", 6, 4, 35}),
                         [](const ::testing::TestParamInfo<ModeCase>& info) {
                           return info.param.name;
                         });

}  // namespace
}  // namespace kwz_test
