// kwz-present -> kwz-relay -> kwz-viewer, all as processes on loopback, the relay losing
// datagrams in bursts. The presenter shows one still picture and resends every block each
// second, so the viewer's snapshot must end exactly the presenter's picture however many blocks
// the relay cost it; the viewer's loss counter must be nonzero and no larger than what the relay
// dropped (each loss it counts is a gap the relay made).
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/gdi_testing.h"
#include "presenter/SyntheticDesktop.h"
#include "tests/apps/PresenterPicture.h"
#include "tests/apps/ProgramRun.h"
#include "tests/platform/RegistryTestSupport.h"
#include "tests/support/ChildProcess.h"

namespace {

using kwz_test::ProgramResult;
using kwz_test::RunProgram;

constexpr int kWidth = 320;
constexpr int kHeight = 240;
constexpr std::uint32_t kFrame = 40;
constexpr int kTimeoutMs = 60000;

TEST(RelayEndToEnd, PictureRecoversFromBurstyLossAtThePresentersRefresh) {
  kwz_test::ScopedRegistry registry;
  kwz_test::ScopedEnv display("DISPLAY", nullptr);
  kwz_test::ScopedNoLeakCheck noLeakCheck;
  kwz_test::TempDir dir;
  const std::string picture = std::string(dir.path()) + "/presented.png";
  const std::vector<std::uint8_t> bgra = SyntheticDesktop(kWidth, kHeight).Render(kFrame);
  ASSERT_TRUE(kwz_platform::WritePixelsPng(
      picture.c_str(), reinterpret_cast<const std::uint32_t*>(bgra.data()), kWidth, kHeight));
  const ProgramResult registered =
      RunProgram(KWZ_REGSVR_PATH, {"--user", KWZ_MODULE_PATH}, kTimeoutMs);
  ASSERT_EQ(registered.exitCode, 0) << registered.err;

  const std::uint16_t viewerPort = kwz_test::FreeUdpPort(true);
  const std::string relayPort = std::to_string(kwz_test::FreeUdpPort());
  const std::string snapshot = std::string(dir.path()) + "/shown.png";
  const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);

  kwz_test::RunningProgram relay(
      KWZ_RELAY_PATH, {"--listen", relayPort, "--to", std::to_string(viewerPort), "--loss", "5",
                       "--burst", "3", "--seed", "11"});
  ASSERT_TRUE(relay.WaitForOut("-> 127.0.0.1:", kTimeoutMs)) << relay.OutSoFar();
  // The snapshot is taken when the viewer's run ends on its own limit, well after the
  // presenter's six seconds.
  kwz_test::RunningProgram viewing(
      KWZ_VIEWER_PATH,
      {"--headless", "--source-address", "127.0.0.1", "--source-port", std::to_string(viewerPort),
       "--size", size, "--seconds", "9", "--snapshot", snapshot, "--get", "video_pck_lost"});
  ASSERT_TRUE(kwz_test::WaitForUdpPort(viewerPort, kTimeoutMs));
  // Small datagrams, so that every block is several of them and losses cost whole blocks.
  const ProgramResult presenter = RunProgram(
      KWZ_PRESENT_PATH,
      {"--mode", "zlib", "--dest", "127.0.0.1:" + relayPort, "--source", "png:" + picture, "--fps",
       "10", "--seconds", "6", "--refresh-seconds", "1", "--payload-size", "600"},
      kTimeoutMs);
  const ProgramResult viewer = viewing.Wait(kTimeoutMs);
  relay.Interrupt();
  const ProgramResult relayed = relay.Wait(kTimeoutMs);
  ASSERT_EQ(presenter.exitCode, 0) << presenter.err;
  ASSERT_EQ(viewer.exitCode, 0) << viewer.err;
  ASSERT_EQ(relayed.exitCode, 0) << relayed.err;

  // "received R sent S dropped D ..." and "video_pck_lost=L/N".
  long relayReceived = -1, relaySent = -1, relayDropped = -1, lost = -1, received = -1;
  const std::size_t statsAt = relayed.out.find("received ");
  ASSERT_NE(statsAt, std::string::npos) << relayed.out;
  ASSERT_EQ(std::sscanf(relayed.out.c_str() + statsAt, "received %ld sent %ld dropped %ld",
                        &relayReceived, &relaySent, &relayDropped),
            3)
      << relayed.out;
  EXPECT_NE(viewer.out.find("SizeUpdated 320 240\n"), std::string::npos) << viewer.out;
  const std::size_t lossAt = viewer.out.find("video_pck_lost=");
  ASSERT_NE(lossAt, std::string::npos) << viewer.out;
  ASSERT_EQ(std::sscanf(viewer.out.c_str() + lossAt, "video_pck_lost=%ld/%ld", &lost, &received), 2)
      << viewer.out;
  EXPECT_GT(relayDropped, 0);
  EXPECT_GT(lost, 0);
  EXPECT_LE(lost, relayDropped);
  EXPECT_LE(received, relaySent);
  EXPECT_GT(received, relaySent / 2);

  const kwz_test::Snapshot shown = kwz_test::CompareWithPresenter(snapshot, kFrame);
  EXPECT_EQ(shown.width, kWidth);
  EXPECT_EQ(shown.height, kHeight);
  EXPECT_EQ(shown.mismatched, 0);
}

}  // namespace
