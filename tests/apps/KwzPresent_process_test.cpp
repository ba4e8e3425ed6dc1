// kwz-present as a user runs it: a few frames of each mode sent to a UDP socket on 127.0.0.1,
// the datagrams checked as a viewer reads them, the summary line against what arrived, and the
// exit status for bad arguments.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "tests/apps/ProgramRun.h"
#include "tests/support/RtpStreamCheck.h"
#include "tests/support/UdpCollector.h"
#include "tests/support/XvfbServer.h"

namespace kwz_test {
namespace {

constexpr int kTimeoutMs = 60000;

struct RunCase {
  const char* mode;
  const char* bpp;
  int modeNumber;
};

class EveryModeOnTheWire : public ::testing::TestWithParam<RunCase> {};

TEST_P(EveryModeOnTheWire, FewFramesArriveAsAWellFormedScreenStream) {
  UdpCollector collector;
  ASSERT_TRUE(collector.ok());
  const std::string dest = "127.0.0.1:" + std::to_string(collector.port());
  const ProgramResult run = RunProgram(
      KWZ_PRESENT_PATH,
      {"--mode", GetParam().mode, "--bpp", GetParam().bpp, "--dest", dest, "--frames", "4", "--fps",
       "20", "--size", "320x200", "--payload-size", "1000", "--ssrc", "0x01020304"},
      kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;

  const auto datagrams = collector.Drain(300);
  ASSERT_FALSE(datagrams.empty());
  for (const auto& d : datagrams) {
    ASSERT_LE(d.size(), 12u + 1000u);
    ASSERT_EQ((d[8] << 24 | d[9] << 16 | d[10] << 8 | d[11]), 0x01020304);
  }
  const auto messages = CheckScreenStream(datagrams);
  for (const auto& m : messages) {
    ASSERT_GE(m.size(), 29u);
    EXPECT_EQ(m[2], GetParam().modeNumber);
    EXPECT_EQ(m[6] | m[7] << 8, 320);
    EXPECT_EQ(m[8] | m[9] << 8, 200);
  }

  unsigned long long frames = 0, skipped = 0, sentMessages = 0, sentDatagrams = 0, bytes = 0;
  ASSERT_EQ(std::sscanf(run.out.c_str(),
                        "kwz-present: %llu frames (%llu skipped), %llu messages, %llu datagrams, "
                        "%llu bytes",
                        &frames, &skipped, &sentMessages, &sentDatagrams, &bytes),
            5)
      << run.out;
  EXPECT_EQ(frames, 4u);
  EXPECT_EQ(sentMessages, messages.size());
  EXPECT_EQ(sentDatagrams, datagrams.size());
  std::size_t arrived = 0;
  for (const auto& d : datagrams) arrived += d.size();
  EXPECT_EQ(bytes, arrived);
}

INSTANTIATE_TEST_SUITE_P(Apps, EveryModeOnTheWire,
                         ::testing::Values(RunCase{"geometry", "32", 0}, RunCase{"zlib", "8", 1},
                                           RunCase{"jpeg", "32", 2}, RunCase{"mpeg4", "24", 3},
                                           RunCase{"h264", "32", 4}, RunCase{"vp8", "32", 5},
                                           RunCase{"vp9", "24", 6}));

TEST(KwzPresent, BadArgumentsExitWithStatusTwoAndSayWhy) {
  const ProgramResult run = RunProgram(KWZ_PRESENT_PATH, {"--mode", "h265"}, kTimeoutMs);
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.err.find("--mode h265"), std::string::npos) << run.err;
  EXPECT_TRUE(run.out.empty());
}

TEST(KwzPresent, HelpExitsWithStatusZero) {
  const ProgramResult run = RunProgram(KWZ_PRESENT_PATH, {"--help"}, kTimeoutMs);
  EXPECT_EQ(run.exitCode, 0);
  EXPECT_NE(run.out.find("--refresh-seconds"), std::string::npos);
}

TEST(KwzPresent, UnreadableImageIsAFailureNotABadArgument) {
  const ProgramResult run =
      RunProgram(KWZ_PRESENT_PATH, {"--source", "png:/nonexistent/screen.png"}, kTimeoutMs);
  EXPECT_EQ(run.exitCode, 1);
  EXPECT_NE(run.err.find("/nonexistent/screen.png"), std::string::npos) << run.err;
}

// MPEG-4 cannot code a whole 1080p desktop within one message: every frame is skipped, and the
// user must learn why once rather than watch a viewer that never shows anything. A screen that
// fits is sent from the first frame, with no such word.
struct FitCase {
  const char* name;
  const char* mode;
  const char* size;
  bool fits;
};

class ScreenFit : public ::testing::TestWithParam<FitCase> {};

TEST_P(ScreenFit, UnsentScreenIsExplainedOnce) {
  UdpCollector collector;
  ASSERT_TRUE(collector.ok());
  const std::string dest = "127.0.0.1:" + std::to_string(collector.port());
  const ProgramResult run = RunProgram(KWZ_PRESENT_PATH,
                                       {"--mode", GetParam().mode, "--dest", dest, "--frames", "12",
                                        "--fps", "50", "--size", GetParam().size},
                                       kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string warning = std::string(" frames was sent: the encoder cannot fit a ") +
                              GetParam().size +
                              " screen into one message in this mode; try a smaller --size or "
                              "another --mode";
  const std::size_t at = run.err.find(warning);
  if (GetParam().fits) {
    EXPECT_EQ(at, std::string::npos) << run.err;
    EXPECT_FALSE(collector.Drain(300).empty());
    return;
  }
  ASSERT_NE(at, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(warning, at + 1), std::string::npos) << run.err;
  // Said once ten frame slots have passed; slow encoding may overrun that by a slot or two.
  const std::size_t line = run.err.rfind("kwz-present: none of the first ", at);
  ASSERT_NE(line, std::string::npos) << run.err;
  unsigned long long first = 0;
  ASSERT_EQ(std::sscanf(run.err.c_str() + line, "kwz-present: none of the first %llu", &first), 1);
  EXPECT_GE(first, 10u);
  EXPECT_LE(first, 12u);
  EXPECT_NE(run.out.find("kwz-present: 12 frames (12 skipped), 0 messages"), std::string::npos)
      << run.out;
  EXPECT_TRUE(collector.Drain(100).empty());
}

INSTANTIATE_TEST_SUITE_P(Apps, ScreenFit,
                         ::testing::Values(FitCase{"mpeg4_1080p", "mpeg4", "1920x1080", false},
                                           FitCase{"h264_small", "h264", "320x200", true}),
                         [](const ::testing::TestParamInfo<FitCase>& info) {
                           return std::string(info.param.name);
                         });

TEST(KwzPresent, LiveXScreenIsSentAtTheDisplaysSizeWithThePointerAsCursor) {
  XvfbServer server("320x240x24");
  if (!server.Running()) GTEST_SKIP() << "no Xvfb: " << server.Error();
  UdpCollector collector;
  ASSERT_TRUE(collector.ok());
  const ProgramResult run =
      RunProgram(KWZ_PRESENT_PATH,
                 {"--source", "x11:" + server.Display(), "--mode", "zlib", "--frames", "2",
                  "--dest", "127.0.0.1:" + std::to_string(collector.port())},
                 kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const auto messages = CheckScreenStream(collector.Drain(300));
  // The whole 4 x 3 grid of the first frame at least.
  ASSERT_GE(messages.size(), 12u);
  for (const auto& m : messages) {
    EXPECT_EQ(m[6] | m[7] << 8, 320);
    EXPECT_EQ(m[8] | m[9] << 8, 240);
    // Xvfb starts with the pointer in the middle of the screen.
    EXPECT_EQ(m[20] | m[21] << 8, 160);
    EXPECT_EQ(m[22] | m[23] << 8, 120);
  }
}

}  // namespace
}  // namespace kwz_test
