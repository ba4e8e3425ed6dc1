// The command line of kwz-present: options read into the settings they stand for, and every kind
// of bad argument refused with a message.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "apps/kwz-present/PresentOptions.h"
#include "tests/apps/CommandLine.h"

namespace kwz_present {
namespace {

ParseResult Parse(const std::string& line, PresentOptions* options, std::string* error) {
  kwz_test::CommandLine command("kwz-present", line);
  return ParsePresentOptions(command.argc(), command.argv(), options, error);
}

PresentOptions Accepted(const std::string& line) {
  PresentOptions o;
  std::string error;
  EXPECT_EQ(Parse(line, &o, &error), ParseResult::kRun) << error;
  return o;
}

// By default the stream stays on loopback with multicast going nowhere. Then the values the
// program's own runs do not reach: the upper limits, a list of images, and every mode by its
// number.
TEST(PresentOptions, DefaultsAndArgumentsSetWhatTheyName) {
  PresentOptions o = Accepted("");
  EXPECT_EQ(o.sender.address, "127.0.0.1");
  EXPECT_EQ(o.sender.multicastInterface, "127.0.0.1");
  EXPECT_EQ(o.sender.multicastTtl, 0);
  EXPECT_EQ(o.stream.refreshFrames, o.refreshSeconds * o.stream.frameRate);

  o = Accepted(
      "--multicast-if 127.0.0.2 --ttl 3 --fps 25 --refresh-seconds 2 --bitrate 800 "
      "--payload-size 65495 --remote-port 65535 --source png:a.png,dir/b.png");
  EXPECT_EQ(o.sender.multicastInterface, "127.0.0.2");
  EXPECT_EQ(o.sender.multicastTtl, 3);
  EXPECT_EQ(o.stream.refreshFrames, 50);
  EXPECT_EQ(o.stream.bitRateKbps, 800);
  EXPECT_EQ(o.sender.payloadSize, 65495u);
  EXPECT_EQ(o.remotePort, 65535);
  EXPECT_EQ(o.pngFiles, (std::vector<std::string>{"a.png", "dir/b.png"}));
  for (int mode = 0; mode < 7; ++mode) {
    const char* bpp = mode < 2 ? " --bpp 8" : mode == 2 ? " --bpp 32" : " --bpp 24";
    o = Accepted("--mode " + std::to_string(mode) + bpp);
    EXPECT_EQ(o.stream.streamMode, mode);
  }
}

// Bad command lines, each refused with a message naming the option, or after "=" what it says.
TEST(PresentOptions, BadArgumentsAreReportedAndNothingRuns) {
  std::istringstream refused(
      "--colour red; loose; --mode; --dest 127.0.0.1; --dest 127.0.0.1:0; --dest "
      "127.0.0.1:65536; --dest 300.0.0.1:5004; --dest 127.1:5004; --dest host.lan:5004; "
      "--multicast-if eth0; --ttl 256; --ttl -1; --mode 7; --mode av1; --bpp 16; --size 1280; "
      "--size 63x100; --size 4097x100; --size 100x100x3; --fps 0; --fps 61; --fps 10fps; "
      "--seconds 0; --frames -4; --bitrate 100001; --payload-size 0; --payload-size 65496; "
      "--ssrc 0x100000000; --refresh-seconds -1; --remote-port 0; --remote-port 65536; --source "
      "camera; --source png:; --source png:a.png,,b.png; --mode zlib --bpp 24 =block; --mode "
      "jpeg --bpp 8 =JPEG; --mode vp9 --bpp 8 =video");
  PresentOptions o;
  std::string error;
  for (std::string line; std::getline(refused, line, ';');) {
    const std::size_t says = line.find(" =");
    std::string mentions;
    std::istringstream(line) >> mentions;
    if (says != std::string::npos) mentions = line.substr(says + 2);
    EXPECT_EQ(Parse(line.substr(0, says), &o, &error), ParseResult::kBadArguments) << line;
    EXPECT_NE(error.find(mentions), std::string::npos) << error;
  }
  EXPECT_EQ(Parse("--mode h264 --help", &o, &error), ParseResult::kHelp);
}

}  // namespace
}  // namespace kwz_present
