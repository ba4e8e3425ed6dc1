// kwz-present run as a user runs it, into the engine in this process: for a couple of seconds
// of a video and a block mode the engine must paint a picture of the presenter's size and have
// lost none of the datagrams the program says it sent.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "engine/CScreenSharing.h"
#include "engine/IScreenSharing.h"
#include "platform/widestring.h"
#include "tests/apps/ProgramRun.h"
#include "tests/engine/EngineTestSupport.h"
#include "tests/engine/PaintTestSupport.h"

namespace kwz_test {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 360;
constexpr int kTimeoutMs = 60000;

struct RunCase {
  const char* mode;
  int modeNumber;
};

class KwzPresentIntoEngine : public ::testing::TestWithParam<RunCase> {};

TEST_P(KwzPresentIntoEngine, EnginePaintsThePresentersSizeAndLosesNothing) {
  UseHeadlessGdi();
  const USHORT port = FreeEvenPort();
  ASSERT_NE(port, 0);
  // Larger than the picture, so what lies beyond it shows as well.
  TestWindow window(kWidth + 40, kHeight + 40);
  SizeLog sizes;
  CScreenSharing engine;
  engine.m_dwPort = port;
  engine.m_pSizeSink = &sizes;
  engine.SetLocalAddress("127.0.0.1");
  engine.SetWindow(window.Get());
  ASSERT_EQ(engine.Setup(), S_OK);
  PaintLog paints(window.Get());
  ASSERT_TRUE(engine.Start());

  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  const std::string dest = "127.0.0.1:" + std::to_string(port);
  const ProgramResult run = RunProgram(KWZ_PRESENT_PATH,
                                       {"--mode", GetParam().mode, "--bpp", "32", "--dest", dest,
                                        "--fps", "20", "--frames", "40", "--size", size},
                                       kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  unsigned long long frames = 0, skipped = 0, messages = 0, datagrams = 0;
  ASSERT_EQ(std::sscanf(run.out.c_str(),
                        "kwz-present: %llu frames (%llu skipped), %llu messages, %llu datagrams",
                        &frames, &skipped, &messages, &datagrams),
            4)
      << run.out;
  ASSERT_GT(datagrams, 0u);

  // Everything sent has been taken off the socket once the engine reports it all received.
  std::u16string report;
  unsigned long long lost = 0, received = 0;
  EXPECT_TRUE(WaitUntil([&] {
    report = engine.GetPacketLossReport();
    unsigned long long l = 0, r = 0;
    if (std::sscanf(Narrow(report.c_str()).c_str(), "%llu/%llu", &l, &r) != 2) return false;
    lost += l;
    received += r;
    return received >= datagrams;
  })) << received
      << " of " << datagrams << " datagrams";
  EXPECT_EQ(lost, 0u);
  EXPECT_EQ(received, datagrams);

  RECT rect{};
  engine.GetScreenRect(&rect);
  EXPECT_EQ(rect.right, kWidth);
  EXPECT_EQ(rect.bottom, kHeight);
  EXPECT_EQ(engine.StreamMode(), static_cast<DWORD>(GetParam().modeNumber));
  const std::vector<std::pair<std::uint32_t, std::uint32_t>> expected{{kWidth, kHeight}};
  EXPECT_EQ(sizes.Sizes(), expected);

  // The picture covers exactly the presenter's area of the window: inside it many colours,
  // beyond it the window's own untouched background.
  ASSERT_TRUE(WaitUntil([&] { return paints.PaintCount() > 0; }));
  ASSERT_TRUE(engine.Stop());
  const std::vector<std::uint32_t> shown = window.Pixels();
  std::vector<std::uint32_t> inside;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; x += 7) inside.push_back(window.At(shown, x, y));
  }
  std::sort(inside.begin(), inside.end());
  EXPECT_GT(std::unique(inside.begin(), inside.end()) - inside.begin(), 50);
  const std::uint32_t beyond = window.At(shown, kWidth + 39, kHeight + 39);
  for (int x = 0; x < kWidth + 40; ++x) EXPECT_EQ(window.At(shown, x, kHeight + 20), beyond);
  for (int y = 0; y < kHeight + 40; ++y) EXPECT_EQ(window.At(shown, kWidth + 20, y), beyond);
}

INSTANTIATE_TEST_SUITE_P(Apps, KwzPresentIntoEngine,
                         ::testing::Values(RunCase{"h264", 4}, RunCase{"zlib", 1}),
                         [](const ::testing::TestParamInfo<RunCase>& info) {
                           return info.param.mode;
                         });

}  // namespace
}  // namespace kwz_test
