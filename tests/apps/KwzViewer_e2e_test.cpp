// kwz-present into kwz-viewer over loopback, both as a user runs them, the viewer finding the
// control through a private registry: the snapshot the viewer writes at exit must be the
// presenter's last picture (exactly for lossless modes, by PSNR for lossy ones), the SizeUpdated
// line must be printed, and a clean run loses no datagram.
#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/apps/PresenterPicture.h"
#include "tests/apps/ProgramRun.h"
#include "tests/platform/RegistryTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ProgramResult;
using kwz_test::ReadPngRgb;
using kwz_test::RunProgram;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr int kFrames = 30;
constexpr int kTimeoutMs = 60000;

struct E2eCase {
  const char* mode;
  bool lossless;
  double minPsnr;
};

class ViewerEndToEnd : public ::testing::TestWithParam<E2eCase> {};

TEST_P(ViewerEndToEnd, SnapshotIsThePresentersPicture) {
  kwz_test::ScopedRegistry registry;
  kwz_test::ScopedEnv display("DISPLAY", nullptr);
  kwz_test::ScopedNoLeakCheck noLeakCheck;
  kwz_test::TempDir dir;
  const ProgramResult registered =
      RunProgram(KWZ_REGSVR_PATH, {"--user", KWZ_MODULE_PATH}, kTimeoutMs);
  ASSERT_EQ(registered.exitCode, 0) << registered.err;

  const std::string port = std::to_string(47000 + 2 * (::getpid() % 500));
  const std::string snapshot = std::string(dir.path()) + "/shown.png";
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
  ProgramResult viewer;
  std::thread viewerThread([&] {
    viewer =
        RunProgram(KWZ_VIEWER_PATH,
                   {"--headless", "--source-address", "127.0.0.1", "--source-port", port, "--size",
                    size, "--seconds", "6", "--snapshot", snapshot, "--get", "video_pck_lost"},
                   kTimeoutMs);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  const ProgramResult presenter =
      RunProgram(KWZ_PRESENT_PATH,
                 {"--mode", GetParam().mode, "--dest", "127.0.0.1:" + port, "--size", size, "--fps",
                  "15", "--frames", std::to_string(kFrames)},
                 kTimeoutMs);
  viewerThread.join();
  ASSERT_EQ(presenter.exitCode, 0) << presenter.err;
  ASSERT_EQ(viewer.exitCode, 0) << viewer.err;
  EXPECT_NE(viewer.out.find("SizeUpdated " + std::to_string(kWidth) + " " +
                            std::to_string(kHeight) + "\n"),
            std::string::npos)
      << viewer.out;
  EXPECT_NE(viewer.out.find("video_pck_lost=0/"), std::string::npos) << viewer.out;

  int width = 0;
  int height = 0;
  const std::vector<std::uint8_t> shown = ReadPngRgb(snapshot, &width, &height);
  ASSERT_EQ(width, kWidth);
  ASSERT_EQ(height, kHeight);
  const kwz_test::Comparison c =
      kwz_test::ComparePresenterPicture(shown, kWidth, kHeight, kFrames - 1);
  if (GetParam().lossless) {
    EXPECT_EQ(c.mismatched, 0) << "PSNR " << c.psnr;
  } else {
    EXPECT_GE(c.psnr, GetParam().minPsnr);
  }
}

INSTANTIATE_TEST_SUITE_P(Modes, ViewerEndToEnd,
                         ::testing::Values(E2eCase{"zlib", true, 0}, E2eCase{"jpeg", false, 25},
                                           E2eCase{"mpeg4", false, 25}, E2eCase{"h264", false, 25},
                                           E2eCase{"vp8", false, 25}, E2eCase{"vp9", false, 25}),
                         [](const auto& info) { return std::string(info.param.mode); });

}  // namespace
