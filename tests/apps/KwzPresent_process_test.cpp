// kwz-present as a user runs it: a few frames of each mode sent to a UDP socket on 127.0.0.1 or
// to a multicast group joined there, the datagrams checked as a viewer reads them, the summary
// line against what arrived, and the exit status for bad arguments.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdio>
#include <string>

#include "tests/apps/ProgramRun.h"
#include "tests/support/RtpStreamCheck.h"
#include "tests/support/UdpCollector.h"

namespace kwz_test {
namespace {

constexpr int kTimeoutMs = 60000;

struct RunCase {
  const char* mode;
  const char* bpp;
  int modeNumber;
  const char* group;  // null: unicast to 127.0.0.1
};

class EveryModeOnTheWire : public ::testing::TestWithParam<RunCase> {};

TEST_P(EveryModeOnTheWire, FewFramesArriveAsAWellFormedScreenStream) {
  UdpCollector collector(GetParam().group);
  ASSERT_TRUE(collector.ok());
  const std::string dest = std::string(GetParam().group ? GetParam().group : "127.0.0.1") + ":" +
                           std::to_string(collector.port());
  const ProgramResult run = RunProgram(
      KWZ_PRESENT_PATH,
      {"--mode", GetParam().mode, "--bpp", GetParam().bpp, "--dest", dest, "--frames", "4", "--fps",
       "20", "--size", "320x200", "--payload-size", "1000", "--ssrc", "0x01020304"},
      kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  EXPECT_EQ(run.err.find("none of the first"), std::string::npos) << run.err;

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
                         ::testing::Values(RunCase{"geometry", "32", 0, nullptr},
                                           RunCase{"zlib", "8", 1, nullptr},
                                           RunCase{"vp9", "24", 6, "239.255.76.12"}));

// Bad arguments (2), a help request (0) and a source that cannot be read (1): each its exit
// status, and a word of why on the stream it belongs to.
TEST(KwzPresent, ExitStatusAndMessage) {
  const struct {
    std::vector<std::string> args;
    int exitCode;
    const char* says;
  } cases[] = {{{"--mode", "h265"}, 2, "--mode h265"},
               {{"--help"}, 0, "--refresh-seconds"},
               {{"--source", "png:/nonexistent/screen.png"}, 1, "/nonexistent/screen.png"}};
  for (const auto& c : cases) {
    const ProgramResult run = RunProgram(KWZ_PRESENT_PATH, c.args, kTimeoutMs);
    EXPECT_EQ(run.exitCode, c.exitCode) << c.says;
    EXPECT_NE((c.exitCode == 0 ? run.out : run.err).find(c.says), std::string::npos) << run.err;
    if (c.exitCode == 2) {
      EXPECT_TRUE(run.out.empty());
    }
  }
}

// MPEG-4 cannot code a whole 1080p desktop within one message: every frame is skipped, and the
// user must learn why once rather than watch a viewer that never shows anything. (A screen that
// fits draws no such word: checked with every mode on the wire.)
TEST(KwzPresent, UnsentScreenIsExplainedOnce) {
  UdpCollector collector;
  ASSERT_TRUE(collector.ok());
  const std::string dest = "127.0.0.1:" + std::to_string(collector.port());
  const ProgramResult run = RunProgram(
      KWZ_PRESENT_PATH,
      {"--mode", "mpeg4", "--dest", dest, "--frames", "12", "--fps", "50", "--size", "1920x1080"},
      kTimeoutMs);
  ASSERT_EQ(run.exitCode, 0) << run.err;
  const std::string warning =
      " frames was sent: the encoder cannot fit a 1920x1080 screen into one message in this mode; "
      "try a smaller --size or another --mode";
  const std::size_t at = run.err.find(warning);
  ASSERT_NE(at, std::string::npos) << run.err;
  EXPECT_EQ(run.err.find(warning, at + 1), std::string::npos) << run.err;
  EXPECT_NE(run.err.rfind("kwz-present: none of the first ", at), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("kwz-present: 12 frames (12 skipped), 0 messages"), std::string::npos)
      << run.out;
  EXPECT_TRUE(collector.Drain(100).empty());
}

}  // namespace
}  // namespace kwz_test
